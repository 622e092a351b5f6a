#pragma once

// Qt side of the fuzzers: an application object and a fresh home with its own
// database, made once per fuzzing process.
#include "app/CFileManager.h"
#include "app/Constants.h"
#include "store/History.h"
#include "store/DBFetcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QSqlQuery>
#include <QVariant>

#include <cstdlib>
#include <string>

namespace FuzzApp {

inline void init()
{
    static char pattern[] = "/tmp/zorvel-fuzz-home-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    setenv("HOME", pattern, 1);
    setenv("XDG_CONFIG_HOME", (std::string(pattern) + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (std::string(pattern) + "/.local/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    if (!DBFetcher::openDatabase(CFileManager::rootPath() + QStringLiteral("/clipboard.db")))
        std::abort();
}

// Keeps three stored rows (the last one a favourite; with marks: favourites with ids
// and marks) so that messages and merges have rows to match, delete and update.
inline void keepRows(bool marked)
{
    QSqlQuery count(marked ? QStringLiteral("select count(*) from History where category = 'favourite'")
                           : QStringLiteral("select count(*) from History"));
    if (count.next() && count.value(0).toInt() >= 3)
        return;
    const char *hashes[] = {"5d41402abc4b2a76b9719d911017c592", "7d793037a0760186574b0282f2f435e7",
                            "0cc175b9c0f1b6a831c399e269772661"};
    for (int i = 0; i < 3; ++i) {
        History record;
        record.setCategory(QLatin1String(marked || i == 2 ? Zorvel::Category::Favourite : Zorvel::Category::History));
        record.setFileHash(QLatin1String(hashes[i]));
        record.setContent(QStringLiteral("text %1").arg(i));
        record.setType(QStringLiteral("text_txt"));
        if (marked) {
            record.setHistoryId(21 + i);
            record.setFavourite(i == 2 ? -5 : 5);
        }
        record.setTimeStamp(1700000000 + i);
        record.save();
    }
}

// Empties the table now and then so the database stays small during long runs.
inline void trim()
{
    static int calls = 0;
    if (++calls % 200 == 0)
        QSqlQuery(QStringLiteral("delete from History")).exec();
}

// Aborts when a stored row's file hash is not 32 lower-case hex digits.
inline void checkHashes()
{
    QSqlQuery bad(QStringLiteral(
        "select count(*) from History where length(file_hash) != 32 or file_hash glob '*[^0-9a-f]*'"));
    if (bad.next() && bad.value(0).toInt() != 0)
        std::abort();
}

// Aborts when anything was written in the fuzzing home outside the data folder and
// the settings folder.
inline void checkNothingOutside()
{
    static const QString home = QDir::homePath();
    static const QString data = CFileManager::rootPath();
    static const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.startsWith(data) || path.startsWith(config))
            continue;
        if (it.fileInfo().isDir() && (data.startsWith(path + QLatin1Char('/')) || config.startsWith(path + QLatin1Char('/'))))
            continue;
        qCritical("fuzz: written outside the data folder: %s", qPrintable(path));
        std::abort();
    }
}

} // namespace FuzzApp
