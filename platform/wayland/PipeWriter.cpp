#include "platform/wayland/PipeWriter.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void PipeWriter::start(int fd, const QByteArray &bytes)
{
    new PipeWriter(fd, bytes);
}

PipeWriter::PipeWriter(int fd, const QByteArray &bytes)
    // Owned by the application, so a write still running at exit is cleaned up.
    : QObject(QCoreApplication::instance())
    , m_fd(fd)
    , m_bytes(bytes)
    , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Write, this))
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    connect(m_notifier, &QSocketNotifier::activated, this, &PipeWriter::writeSome);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        qWarning("wayland: a program stopped reading the clipboard after %lld of %d bytes", m_written,
                 m_bytes.size());
        finish();
    });
    m_stall.start(kStallTimeoutMs);
}

PipeWriter::~PipeWriter()
{
    ::close(m_fd);
}

void PipeWriter::writeSome()
{
    while (m_written < m_bytes.size()) {
        const ssize_t n = ::write(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
        if (n > 0) {
            m_written += n;
            m_stall.start(kStallTimeoutMs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return; // the pipe is full; the notifier calls again when it has room
        // EPIPE: the reader closed its end, it wanted no more.
        if (errno != EPIPE)
            qWarning("wayland: writing the clipboard to a reader failed: %s", std::strerror(errno));
        break;
    }
    finish();
}

void PipeWriter::finish()
{
    m_notifier->setEnabled(false);
    m_stall.stop();
    deleteLater();
}
