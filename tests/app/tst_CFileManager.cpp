#include "support/TestMain.h"

#include "app/CFileManager.h"
#include "store/History.h"

#include <QCryptographicHash>
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

    // One at a time or as a batch written side by side: a hash that is not a digest
    // never becomes a path, and the good files of the batch are all written whole.
    void hashesThatAreNotDigestsNeverBecomePaths()
    {
        const QString outside = CFileManager::filesPath() + QStringLiteral("../../escaped");
        const int before = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        const QStringList hostile = {QStringLiteral("../../escaped"), QStringLiteral("/tmp/x"), QString(),
                                     QStringLiteral("ABCDEF0123456789ABCDEF0123456789")};
        QVector<QPair<QString, QByteArray>> batch;
        for (const QString &hash : hostile) {
            CFileManager::saveFile("payload", record(hash).file_hash());
            QVERIFY(CFileManager::entryPath(CFileManager::filesPath(), hash).isEmpty());
            batch.append({hash, "payload"});
        }
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), before);
        QSet<QString> good;
        for (int i = 0; i < 40; ++i) {
            const QByteArray bytes = "batch file " + QByteArray::number(i) + QByteArray(i * 100, 'b');
            const QString hash = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
            good.insert(hash);
            batch.insert(i % batch.size(), {hash, bytes}); // among the hostile ones
        }
        QCOMPARE(CFileManager::saveFiles(batch), good);
        QVERIFY(!QFile::exists(outside));
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), before + good.size());
        for (const auto &file : batch) {
            if (good.contains(file.first))
                QCOMPARE(CFileManager::readFile(file.first), file.second);
        }
    }
};

ZORVEL_TEST_MAIN(TestCFileManager)
#include "tst_CFileManager.moc"
