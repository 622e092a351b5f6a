#pragma once

// Shared set-up of the watcher tests: one store and one watcher per process, and
// short ways to look at what a capture left behind.

#include "ClipboardDriver.h"
#include "support/StoreHelper.h"

#include "app/CFileManager.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"
#include "capture/Selvane.h"
#include "store/HistoryStore.h"

#include <QtSql>
#include <QtTest>

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

using StoreHelper::stored;

inline History byText(const QString &text) { return stored(clipUtils::md5Hex(text.toUtf8())); }

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
