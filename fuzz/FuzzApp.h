#pragma once

// Qt side of the fuzzers: an application object and a fresh home with its own
// database, made once per fuzzing process.
#include "app/CFileManager.h"
#include "store/DBFetcher.h"

#include <QCoreApplication>
#include <QSqlQuery>

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

// Empties the table now and then so the database stays small during long runs.
inline void trim()
{
    static int calls = 0;
    if (++calls % 200 == 0)
        QSqlQuery(QStringLiteral("delete from History")).exec();
}

} // namespace FuzzApp
