#include "app/clipUtils.h"

#include "app/Constants.h"
#include "app/PrivateFile.h"
#include "platform/AutoStartEntry.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSettings>
#include <QSysInfo>
#include <QUuid>

using namespace Zorvel;

namespace {
// Host of the built-in web addresses used until the service sends its own.
const QString kSiteHost = QStringLiteral("https://zorvel.example.org");
} // namespace

QSettings *clipUtils::settings()
{
    static QSettings *s = [] {
        auto *settings = new QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(kOrganisation),
                                       QLatin1String(kApplication));
        PrivateFile::secure(settings->fileName());
        return settings;
    }();
    return s;
}

QString clipUtils::documentsPath()
{
    return QDir::homePath() + QStringLiteral("/Documents");
}

QString clipUtils::deviceToken()
{
    QString token = settings()->value(QLatin1String(Key::DeviceToken)).toString();
    if (!token.isEmpty())
        return token;
    const QByteArray uuid = QUuid::createUuid().toString().toUtf8();
    token = md5Hex(uuid);
    settings()->setValue(QLatin1String(Key::DeviceToken), token);
    return token;
}

QString clipUtils::userToken() { return settings()->value(QLatin1String(Key::UserToken)).toString(); }
QString clipUtils::userEmail() { return settings()->value(QLatin1String(Key::UserEmail)).toString(); }
QString clipUtils::userId() { return settings()->value(QLatin1String(Key::UserId)).toString(); }
bool clipUtils::hasUserToken() { return !userToken().isEmpty(); }
void clipUtils::removeUserToken()
{
    // The broker account ends with the token.
    for (const char *key : {Key::UserToken, Key::MqttUser, Key::MqttPassword, Key::MqttClientId})
        settings()->remove(QLatin1String(key));
}

bool clipUtils::flag(const char *key, bool defaultValue)
{
    const QString text = settings()->value(QLatin1String(key)).toString();
    if (text.isEmpty())
        return defaultValue;
    return text.toInt() != 0;
}

void clipUtils::setFlag(const char *key, bool on)
{
    settings()->setValue(QLatin1String(key), QString::number(on ? 1 : 0));
}

void clipUtils::setCheckSecret(bool on) { setFlag(Key::CheckSecret, on); }
bool clipUtils::checkSecret() { return flag(Key::CheckSecret, true); }
void clipUtils::setFileAsSecret(bool on) { setFlag(Key::FileAsSecret, on); }
bool clipUtils::fileAsSecret() { return flag(Key::FileAsSecret, true); }
void clipUtils::setAutoSetClipboard(bool on) { setFlag(Key::AutoSetClipboard, on); }
bool clipUtils::isAutoSetClipboard() { return flag(Key::AutoSetClipboard, false); }
void clipUtils::setMenuCleanup(bool on) { setFlag(Key::MenuCleanup, on); }
bool clipUtils::menuCleanup() { return flag(Key::MenuCleanup, false); }

void clipUtils::setAutoStart(bool on)
{
    const QString name = QCoreApplication::applicationName();
    if (on)
        AutoStartEntry::write(name, QCoreApplication::applicationFilePath());
    else
        AutoStartEntry::remove(name);
}

bool clipUtils::isAutoStart()
{
    const QString stored = AutoStartEntry::executable(QCoreApplication::applicationName());
    return !stored.isEmpty() && stored == QCoreApplication::applicationFilePath();
}

QString clipUtils::addressWithSource(const char *key, const QString &builtIn)
{
    QString address = settings()->value(QLatin1String(key)).toString();
    if (address.isEmpty())
        address = builtIn;
    return address + QStringLiteral("?source=windows_client");
}

QString clipUtils::homePageUrl() { return addressWithSource(Key::HomePage, kSiteHost + QStringLiteral("/")); }
QString clipUtils::developerPageUrl()
{
    return addressWithSource(Key::Developer, kSiteHost + QStringLiteral(":8888/vantor/developer.html"));
}
QString clipUtils::e2eePageUrl() { return addressWithSource(Key::E2eePage, kSiteHost + QStringLiteral("/help/e2ee.html")); }

QString clipUtils::appVersion() { return QLatin1String(kAppVersion); }

QString clipUtils::newerVersion(const QString &a, const QString &b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    const int common = qMin(pa.size(), pb.size());
    auto extraSum = [common](const QStringList &parts) {
        qulonglong sum = 0;
        for (int i = common; i < parts.size(); ++i)
            sum += parts.at(i).toUInt();
        return sum;
    };
    for (int i = 0; i < common; ++i) {
        const uint x = pa.at(i).toUInt();
        const uint y = pb.at(i).toUInt();
        if (x != y)
            return x > y ? a : b;
    }
    const qulonglong ea = extraSum(pa);
    const qulonglong eb = extraSum(pb);
    if (ea > eb)
        return a;
    if (eb > ea)
        return b;
    return QString();
}

bool clipUtils::hasNewVersion()
{
    const QString stored = settings()->value(QLatin1String(Key::NewVersion)).toString();
    if (stored.isEmpty())
        return false;
    const QString newer = newerVersion(stored, appVersion());
    return !newer.isEmpty() && newer != appVersion();
}

quint32 clipUtils::currentTime()
{
    return static_cast<quint32>(QDateTime::currentSecsSinceEpoch());
}

QString clipUtils::deviceName()
{
    return QHostInfo::localHostName();
}

QString clipUtils::platformName()
{
    return QStringLiteral("linux_") + QSysInfo::kernelVersion();
}

QString clipUtils::md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QString clipUtils::fileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QString clipUtils::previewText(const QString &text)
{
    QString result;
    for (const QChar c : text) {
        const bool space = c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
            || c == QLatin1Char('\r');
        if (space) {
            if (result.endsWith(QLatin1Char(' ')))
                continue;
            result += QLatin1Char(' ');
        } else {
            result += c;
        }
        if (result.size() > kPreviewLength)
            break;
    }
    return result;
}

QString clipUtils::imageFileFormat(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("png");
    char first = 0;
    if (file.read(&first, 1) != 1)
        return QStringLiteral("png");
    switch (static_cast<unsigned char>(first)) {
    case 0x47: return QStringLiteral("gif");
    case 0x49:
    case 0x4D: return QStringLiteral("tiff");
    case 0x89: return QStringLiteral("png");
    case 0xFF: return QStringLiteral("jpg");
    default: return QStringLiteral("png");
    }
}

QString clipUtils::imageToJpegBase64(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 70))
        return QString();
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray clipUtils::imageToTiff(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "TIF", 100))
        return QByteArray();
    return bytes;
}

QImage clipUtils::imageFromBase64(const QString &text)
{
    return decodeImage(QByteArray::fromBase64(text.toLatin1()));
}

QImage clipUtils::decodeImage(const QByteArray &bytes)
{
    static const QByteArray png("\x89PNG\r\n\x1a\n"), jpeg("\xff\xd8\xff"), tiffLittle("II*\0", 4),
        tiffBig("MM\0*", 4);
    const char *format = bytes.startsWith(png)                                       ? "png"
                         : bytes.startsWith(jpeg)                                    ? "jpeg"
                         : bytes.startsWith(tiffLittle) || bytes.startsWith(tiffBig) ? "tiff"
                                                                                     : nullptr;
    if (!format)
        return QImage::fromData(bytes);
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

bool clipUtils::isFileHash(const QString &text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}
