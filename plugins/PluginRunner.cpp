#include "plugins/PluginRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>

namespace {
// Runner diagnostics reach the log only up to this much per process.
constexpr int MaxDiagnosticBytes = 4096;
} // namespace

PluginRunner::PluginRunner(const QString &program, QObject *parent)
    : QObject(parent)
    , m_program(program)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &PluginRunner::timedOut);
}

PluginRunner::~PluginRunner()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
        delete m_process;
    }
}

QString PluginRunner::defaultProgram()
{
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {dir + QStringLiteral("/zorvel-plugin-runner"),
                                    dir + QStringLiteral("/../lib/zorvel/zorvel-plugin-runner"),
                                    QStringLiteral(ZORVEL_PLUGIN_RUNNER)};
    for (const QString &path : candidates) {
        if (QFileInfo(path).isExecutable())
            return QFileInfo(path).absoluteFilePath();
    }
    return candidates.last();
}

qint64 PluginRunner::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QByteArray PluginRunner::encode(char kind, const QList<QByteArray> &fields)
{
    QByteArray payload(1, kind);
    for (const QByteArray &field : fields) {
        char size[4];
        qToBigEndian<quint32>(quint32(field.size()), size);
        payload.append(size, 4).append(field);
    }
    char size[4];
    qToBigEndian<quint32>(quint32(payload.size()), size);
    return QByteArray(size, 4) + payload;
}

bool PluginRunner::decode(const QByteArray &payload, char *kind, QList<QByteArray> *fields)
{
    if (payload.isEmpty())
        return false;
    *kind = payload.at(0);
    fields->clear();
    int at = 1;
    while (at < payload.size()) {
        if (payload.size() - at < 4)
            return false;
        const quint32 len = qFromBigEndian<quint32>(payload.constData() + at);
        if (len > quint32(payload.size() - at - 4))
            return false;
        fields->append(payload.mid(at + 4, int(len)));
        at += 4 + int(len);
    }
    return true;
}

void PluginRunner::request(char kind, const QList<QByteArray> &fields, int timeoutMs, Done done)
{
    Pending p;
    p.frame = encode(kind, fields);
    p.timeoutMs = timeoutMs;
    p.done = std::move(done);
    m_queue.enqueue(std::move(p));
    if (!m_current)
        sendNext();
}

void PluginRunner::startProcess()
{
    m_process = new QProcess;
    m_buffer.clear();
    m_diagnosticBytes = 0;
    ++m_generation;
    connect(m_process, &QProcess::readyReadStandardOutput, this, &PluginRunner::readReplies);
    connect(m_process, &QProcess::readyReadStandardError, this, &PluginRunner::readDiagnostics);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &PluginRunner::processEnded);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qWarning("cannot start the plugin runner %s", qPrintable(m_program));
        dropProcess();
        Reply reply;
        reply.outcome = Reply::Crashed;
        finish(reply);
    });
    m_process->start(m_program, QStringList());
}

void PluginRunner::sendNext()
{
    if (m_current || m_queue.isEmpty())
        return;
    m_current.reset(new Pending(m_queue.dequeue()));
    const Pending *current = m_current.get();
    if (!m_process)
        startProcess();
    // A start that failed at once has already ended this request (and maybe sent the next).
    if (m_current.get() != current || !m_process)
        return;
    m_process->write(m_current->frame);
    m_watchdog.start(m_current->timeoutMs);
}

void PluginRunner::readReplies()
{
    if (!m_process)
        return;
    m_buffer.append(m_process->readAllStandardOutput());
    while (m_buffer.size() >= 4) {
        const quint32 size = qFromBigEndian<quint32>(m_buffer.constData());
        Reply reply;
        if (size == 0 || size > quint32(MaxFrameBytes) || !m_current) {
            qWarning("plugin runner: unexpected output; it is restarted");
            dropProcess();
            finish(reply);
            return;
        }
        if (quint32(m_buffer.size() - 4) < size)
            return;
        const QByteArray payload = m_buffer.mid(4, int(size));
        m_buffer.remove(0, int(size) + 4);
        reply.generation = m_generation;
        if (!decode(payload, &reply.kind, &reply.fields)) {
            qWarning("plugin runner: malformed reply; it is restarted");
            dropProcess();
            finish(reply);
            return;
        }
        reply.outcome = Reply::Answered;
        finish(reply);
    }
}

void PluginRunner::readDiagnostics()
{
    if (!m_process)
        return;
    const QByteArray text = m_process->readAllStandardError();
    if (m_diagnosticBytes >= MaxDiagnosticBytes)
        return;
    const QByteArray shown = text.left(MaxDiagnosticBytes - m_diagnosticBytes);
    m_diagnosticBytes += shown.size();
    for (const QByteArray &line : shown.split('\n')) {
        if (!line.trimmed().isEmpty())
            qInfo("plugin runner: %s", line.constData());
    }
}

void PluginRunner::processEnded()
{
    if (!m_process)
        return;
    readReplies();
    if (!m_process)
        return;
    readDiagnostics();
    const bool crashed = m_process->exitStatus() == QProcess::CrashExit || m_process->exitCode() != 0;
    if (crashed && m_current)
        qWarning("plugin runner ended (exit code %d, %s)", m_process->exitCode(),
                 m_process->exitStatus() == QProcess::CrashExit ? "crashed" : "normal exit");
    dropProcess();
    if (m_current && !crashed) {
        // The runner left on its own (its CPU allowance) before reading this
        // request: it never ran, so it goes to the next runner.
        m_queue.prepend(std::move(*m_current));
        m_current.reset();
        m_watchdog.stop();
        sendNext();
    } else if (m_current) {
        Reply reply;
        reply.outcome = Reply::Crashed;
        reply.generation = m_generation;
        finish(reply);
    }
}

void PluginRunner::timedOut()
{
    if (!m_current)
        return;
    qWarning("plugin runner: no answer within %d ms; it is stopped", m_current->timeoutMs);
    Reply reply;
    reply.outcome = Reply::TimedOut;
    reply.generation = m_generation;
    dropProcess();
    finish(reply);
}

// Kills the process without waiting; it is reaped and deleted once it ends.
void PluginRunner::dropProcess()
{
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    m_buffer.clear();
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
            &QObject::deleteLater);
    process->kill();
}

void PluginRunner::finish(Reply reply)
{
    m_watchdog.stop();
    std::unique_ptr<Pending> done(m_current.release());
    if (done && done->done)
        done->done(reply);
    sendNext();
}
