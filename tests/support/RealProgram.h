#pragma once

// Drives the real zorvel binary from outside, the way a user's desktop does: a tray
// (trayer) on the current display, texts copied by xclip, and the database read
// through a connection of our own. Used by the start-up benchmark and the fault tests.

#include <QtCore>
#include <QtSql>

#include <signal.h>

namespace RealProgram {

// A home of its own: separate settings, Documents, lock and runtime folders.
inline QProcessEnvironment environmentFor(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const auto sub = [&](const char *name) {
        const QString path = home + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(path);
        return path;
    };
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), sub(".config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), sub(".local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), sub(".cache"));
    const QString runtime = sub("runtime");
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

inline QString rootFor(const QString &home) { return home + QStringLiteral("/Documents/ZClipboard"); }
inline QString databaseFor(const QString &home) { return rootFor(home) + QStringLiteral("/clipboard.db"); }

// Mapped windows of the process (the tray icon is the only one a hidden program shows).
inline bool hasVisibleWindow(qint64 pid)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)});
    xdotool.waitForFinished(10000);
    return !xdotool.readAllStandardOutput().trimmed().isEmpty();
}

// Polls without pause: the time it returns is the measurement of start-up.
inline bool waitForWindow(qint64 pid, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (hasVisibleWindow(pid))
            return true;
    }
    return false;
}

// trayer docks tray icons on the display; ready once its panel window is mapped.
class Tray
{
public:
    bool start()
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                   QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                                   QStringLiteral("--width"), QStringLiteral("200")});
        return m_process.waitForStarted() && waitForWindow(m_process.processId(), 10000);
    }
    ~Tray()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
};

// The program under test, started in the given home.
class Program
{
public:
    explicit Program(const QString &home)
        : m_home(home)
    {
    }
    ~Program() { kill(); }

    // The benchmark starts another clipboard manager the same way.
    void start(const QString &program = QStringLiteral(ZORVEL_EXECUTABLE))
    {
        m_process.setProcessEnvironment(environmentFor(m_home));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, QStringList());
        m_process.waitForStarted();
    }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    bool waitForTray(int timeoutMs) { return waitForWindow(pid(), timeoutMs); }
    // Start-up is over once the database exists (also without a tray).
    bool waitForDatabase(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (QFile::exists(databaseFor(m_home)))
                return true;
            QThread::msleep(10);
        }
        return false;
    }

    // Resident memory in KiB, from /proc (-1 when unreadable).
    qint64 rssKiB() const
    {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid()));
        if (!rollup.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : rollup.readAll().split('\n'))
            if (line.startsWith("Rss:"))
                return line.mid(4).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

    void kill(int sig = SIGTERM)
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(pid()), sig);
        m_process.waitForFinished(10000);
    }
    QProcess &process() { return m_process; }

private:
    QString m_home;
    QProcess m_process;
};

// Puts text on the clipboard through xclip, which serves it until the next copy takes
// ownership. Returns once xclip owns the clipboard (it forks into the background).
inline bool copyText(const QByteArray &text)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")});
    p.write(text);
    p.closeWriteChannel();
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

// A read-only look at the program's database through a connection of our own.
class Reader
{
public:
    explicit Reader(const QString &home)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(databaseFor(home));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~Reader()
    {
        QSqlDatabase::database(m_name).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name); }

    // The first column of every row the query selects; empty on error.
    QStringList column(const QString &query) const
    {
        QSqlQuery q(db());
        QStringList out;
        if (q.exec(query)) {
            while (q.next())
                out.append(q.value(0).toString());
        }
        return out;
    }
    QStringList hashes() const { return column(QStringLiteral("select file_hash from History where category = 'history'")); }
    int count() const { return hashes().size(); }
    QStringList contents() const { return column(QStringLiteral("select content from History")); }
    QString integrity() const
    {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("pragma integrity_check")) || !q.next())
            return QStringLiteral("failed to run");
        return q.value(0).toString();
    }

private:
    QString m_name;
};

} // namespace RealProgram
