#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class QSettings;

// Settings accessors and the small stateless helpers the whole program shares.
class clipUtils
{
public:
    // --- settings store ---
    static QSettings *settings();
    static QString documentsPath();

    static QString deviceToken();
    static QString userToken();
    static QString userEmail();
    static QString userId();
    static bool hasUserToken();
    static void removeUserToken();

    static void setCheckSecret(bool on);
    static bool checkSecret();
    static void setFileAsSecret(bool on);
    static bool fileAsSecret();
    static void setAutoSetClipboard(bool on);
    static bool isAutoSetClipboard();
    static void setMenuCleanup(bool on);
    static bool menuCleanup();

    static void setAutoStart(bool on);
    static bool isAutoStart();

    // Addresses read from settings (or built-in ones), with "?source=windows_client".
    static QString homePageUrl();
    static QString developerPageUrl();
    static QString e2eePageUrl();

    // --- utilities ---
    static QString appVersion();
    static QString newerVersion(const QString &a, const QString &b);
    static bool hasNewVersion();
    static quint32 currentTime();
    static QString deviceName();
    static QString platformName();
    static QString fileMd5(const QString &path);
    static QString md5Hex(const QByteArray &data);
    static QString previewText(const QString &text);
    static QString imageFileFormat(const QString &path);
    static QString imageToJpegBase64(const QImage &image);
    static QByteArray imageToTiff(const QImage &image);
    static QImage imageFromBase64(const QString &text);
    // The image in the bytes. PNG, JPEG and TIFF are recognised by their first bytes
    // and read by that one reader: letting Qt guess asks every image plugin, which
    // loads them all (and the libraries behind them) for the rest of the run.
    static QImage decodeImage(const QByteArray &bytes);

    // True for 32 lower-case hexadecimal digits: the only text accepted as a file hash.
    static bool isFileHash(const QString &text);

private:
    static bool flag(const char *key, bool defaultValue);
    static void setFlag(const char *key, bool on);
    static QString addressWithSource(const char *key, const QString &builtIn);
};
