#pragma once

// Collects the program's log messages while it exists (they still reach the
// previous handler, so test output keeps them).

#include <QStringList>
#include <QtGlobal>

class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        previous() = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            lines().append(message);
            if (previous())
                previous()(type, context, message);
        });
    }
    ~LogCapture() { qInstallMessageHandler(previous()); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static QStringList &lines()
    {
        static QStringList all;
        return all;
    }
    static bool anyContains(const QString &text) { return !lines().filter(text).isEmpty(); }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
};
