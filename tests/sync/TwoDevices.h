#pragma once

// Device A of the two-device tests: a new account and key, the core started as the
// program starts it, and device B (sync_peer) signed in to the same account.

#include "SyncPeer.h"
#include "net/NetFixture.h"

#include "app/CFileManager.h"
#include "app/Wiring.h"
#include "capture/Selvane.h"
#include "store/HistoryQueries.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

class TwoDevices : public QObject
{
protected:
    QString email = NetFixture::uniqueEmail();
    const QString password = "two devices";
    QTemporaryDir peerHome;
    QProcess peer;

    void bringUp(const QString &pin)
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        QCOMPARE(NetFixture::signUp(email, password).code(), 0);
        QCOMPARE(NetFixture::signIn(email, password).code(), 0); // as the user does after signing up
        const QString keyFile = SyncPeer::writeKeyFile(NetFixture::createKey(pin));
        QVERIFY(!keyFile.isEmpty());
        clipUtils::setFileAsSecret(false); // copied files are confidential unless the user says otherwise
        Wiring::startCore(*QCoreApplication::instance());
        QVERIFY(SyncPeer::start(peer, peerHome.path(), {ZORVEL_SYNC_PEER, email, password, keyFile, pin}));
    }

    void tearDown()
    {
        peer.closeWriteChannel();
        if (!peer.waitForFinished(10000))
            peer.kill();
        Selvane::instance()->stop();
    }

    QByteArray ask(const QByteArray &command) { return SyncPeer::ask(peer, command); }
    QJsonArray peerRows() { return QJsonDocument::fromJson(ask("rows")).array(); }
    // The newest history entries on this device.
    static QSet<QString> historyHashes()
    {
        QSet<QString> all;
        for (const History &h : HistoryQueries::listHistory())
            all.insert(h.file_hash());
        return all;
    }

    // The hash of the entry that a clipboard change made by copy added on this device.
    static QString captured(const std::function<void()> &copy)
    {
        const QSet<QString> before = historyHashes();
        copy();
        QString added;
        if (!QTest::qWaitFor([&] { return !(added = (historyHashes() - before).values().value(0)).isEmpty(); }, 10000))
            return QString();
        return added;
    }
    QString copyText(const QString &text) { return captured([&] { Selvane::putText(text); }); }

    // Copies the file at path as a file list, as a file manager does.
    QString copyFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return QString();
        file.close();
        return captured([&] {
            auto *data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(path)});
            QGuiApplication::clipboard()->setMimeData(data);
        });
    }

    // B holds the file of the entry, byte for byte.
    bool peerHasFile(const QString &hash)
    {
        const QString local = clipUtils::fileMd5(CFileManager::entryPath(CFileManager::filesPath(), hash));
        return !local.isEmpty() && ask("file " + hash.toLatin1()) == local.toLatin1();
    }
};
