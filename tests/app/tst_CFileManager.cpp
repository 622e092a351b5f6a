#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "store/History.h"

#include <QDir>
#include <QFile>

class TestCFileManager : public QObject
{
    Q_OBJECT

    static History record(const QString &hash)
    {
        History h;
        h.setFileHash(hash);
        return h;
    }

private slots:
    void foldersAreCreatedOnDemand()
    {
        const QString root = QDir::homePath() + QStringLiteral("/Documents/ZClipboard");
        QVERIFY(!QDir(root).exists());
        const QString zip = CFileManager::zipPath();
        QCOMPARE(zip, root + QStringLiteral("/Library/zip/"));
        QVERIFY(QDir(zip).exists());
        QVERIFY(!QDir(root + QStringLiteral("/Library/files")).exists());
        QCOMPARE(CFileManager::encryptPath(), root + QStringLiteral("/Library/encrypt/"));
        QCOMPARE(CFileManager::pluginsPath(), root + QStringLiteral("/Library/plugins/"));
        QCOMPARE(CFileManager::tmpPath(), root + QStringLiteral("/Library/tmp/"));
    }

    void saveNeverOverwritesAndReadOfMissingIsEmpty()
    {
        const History h = record(QStringLiteral("0123456789abcdef0123456789abcdef"));
        QVERIFY(CFileManager::readFile(h.file_hash()).isEmpty());
        CFileManager::saveFile("first", h.file_hash());
        CFileManager::saveFile("second", h.file_hash());
        QCOMPARE(CFileManager::readFile(h.file_hash()), QByteArray("first"));
    }

    void hashesThatAreNotDigestsNeverBecomePaths()
    {
        const QString outside = CFileManager::filesPath() + QStringLiteral("../../escaped");
        const int before = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        for (const QString &hash : {QStringLiteral("../../escaped"), QStringLiteral("/tmp/x"), QString(),
                                    QStringLiteral("ABCDEF0123456789ABCDEF0123456789")}) {
            CFileManager::saveFile("payload", record(hash).file_hash());
            QVERIFY(CFileManager::entryPath(CFileManager::filesPath(), hash).isEmpty());
        }
        QVERIFY(!QFile::exists(outside));
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), before);
    }
};

ZORVEL_TEST_MAIN(TestCFileManager)
#include "tst_CFileManager.moc"
