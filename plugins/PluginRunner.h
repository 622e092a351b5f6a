#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QProcess;

// The program's end of the pipe to zorvel-plugin-runner (protocol in
// libs/marrowby/README.md). Requests queue and go out one at a time; each has a
// wall-clock deadline after which the runner is killed. The runner starts on
// the first request after it was killed or left. Nothing here ever blocks.
class PluginRunner : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        enum Outcome { Answered, TimedOut, Crashed };
        Outcome outcome = Crashed;
        char kind = 0; // 'K', 'T' or 'E' when Answered
        QList<QByteArray> fields;
        quint64 generation = 0; // which runner process answered
    };
    using Done = std::function<void(const Reply &)>;

    explicit PluginRunner(const QString &program, QObject *parent = nullptr);
    ~PluginRunner() override;

    // done runs later on this thread, exactly once.
    void request(char kind, const QList<QByteArray> &fields, int timeoutMs, Done done);
    // Which runner process is alive: 0 when none, else a number no earlier
    // process had. A plugin loaded in one is not loaded in the next.
    quint64 generation() const { return m_process ? m_generation : 0; }
    bool idle() const { return !m_current && m_queue.isEmpty(); }
    qint64 processId() const;

    static QByteArray encode(char kind, const QList<QByteArray> &fields);
    // One payload (without its length prefix); false when malformed.
    static bool decode(const QByteArray &payload, char *kind, QList<QByteArray> *fields);
    // The installed runner next to the program, else the one of the build tree.
    static QString defaultProgram();

    static constexpr int MaxFrameBytes = 32 * 1024 * 1024;

private:
    struct Pending
    {
        QByteArray frame;
        int timeoutMs = 0;
        Done done;
    };

    void sendNext();
    void startProcess();
    void readReplies();
    void readDiagnostics();
    void processEnded();
    void timedOut();
    void finish(Reply reply);
    void dropProcess();

    QString m_program;
    QProcess *m_process = nullptr;
    QTimer m_watchdog;
    QByteArray m_buffer;
    QQueue<Pending> m_queue;
    std::unique_ptr<Pending> m_current;
    quint64 m_generation = 0;
    int m_diagnosticBytes = 0;
};
