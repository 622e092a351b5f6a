#pragma once

// Every test runs in a home of its own: HOME and the XDG folders point into a
// fresh temporary folder before the application object exists, so settings,
// ~/Documents/ZClipboard and the runtime folder are the test's alone.

// Qt's widgets and test modules whole: the tests need not list each class.
#include <QtTest>
#include <QtWidgets>

#include <cstdlib>
#include <string>

namespace TestEnv {

inline std::string makeHome()
{
    char pattern[] = "/tmp/zorvel-test-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir)
        std::abort();
    const std::string home(dir);
    const auto sub = [&](const char *name) {
        const std::string path = home + "/" + name;
        QDir().mkpath(QString::fromStdString(path));
        return path;
    };
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", sub(".config").c_str(), 1);
    setenv("XDG_DATA_HOME", sub(".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", sub(".cache").c_str(), 1);
    const std::string runtime = sub("runtime");
    QFile::setPermissions(QString::fromStdString(runtime), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                               | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return home;
}

} // namespace TestEnv

#define ZORVEL_TEST_MAIN(TestClass)                                             \
    int main(int argc, char *argv[])                                            \
    {                                                                           \
        const std::string home = TestEnv::makeHome();                           \
        int rc = 0;                                                             \
        {                                                                       \
            QApplication app(argc, argv);                                       \
            app.setQuitOnLastWindowClosed(false);                               \
            TestClass test;                                                     \
            QTEST_SET_MAIN_SOURCE_PATH                                          \
            rc = QTest::qExec(&test, argc, argv);                               \
        }                                                                       \
        if (!getenv("ZORVEL_KEEP_TEST_HOME"))                                   \
            QDir(QString::fromStdString(home)).removeRecursively();             \
        return rc;                                                              \
    }
