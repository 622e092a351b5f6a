#pragma once

// Shared set-up of the watcher tests: one store and one watcher per process, and
// short ways to look at what a capture left behind.

#include "ClipboardDriver.h"

#include "app/CFileManager.h"
#include "capture/ConfigureManager.h"
#include "capture/Selvane.h"
#include "store/DBFetcher.h"
#include "store/HistoryStore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>

#include <memory>

namespace Capture {

inline HistoryList rows(const QString &category = QStringLiteral("history"))
{
    HistoryList list;
    QSqlQuery q;
    q.prepare(QStringLiteral("select * from History where category is ? order by timeStamp desc"));
    q.addBindValue(category);
    q.exec();
    while (q.next())
        list.append(History::fromRecord(q.record()));
    return list;
}

inline History byHash(const QString &hash, const QString &category = QStringLiteral("history"))
{
    History row;
    row.setFileHash(hash);
    row.setCategory(category);
    row.load();
    return row;
}

inline History byText(const QString &text)
{
    return byHash(QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex()));
}

inline QByteArray fileBytes(const QString &folder, const QString &hash)
{
    QFile file(folder + hash);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Selvane is created and started once; every test starts with an empty history.
struct Fixture {
    std::unique_ptr<ClipboardDriver> driver;
    std::unique_ptr<QSignalSpy> committed;

    void initTestCase()
    {
        DBFetcher::instance();
        Selvane::instance()->start();
        driver = std::make_unique<ClipboardDriver>();
        driver->setSettled([]() { return !Selvane::instance()->busy(); });
        committed = std::make_unique<QSignalSpy>(Selvane::instance(), &Selvane::historyChanged);
    }
    void init()
    {
        HistoryStore::clearAll();
        ConfigureManager::instance()->setPendingHash(QString());
        committed->clear();
    }
    void cleanupTestCase()
    {
        driver.reset();
        Selvane::instance()->stop();
    }
};

} // namespace Capture
