#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// Writes one clipboard payload into the pipe a reading program handed over, a
// chunk whenever the pipe has room, so a large image never stalls the GUI thread.
// Closes the pipe and deletes itself when done, when the reader goes away, or when
// the reader stops reading for too long.
class PipeWriter final : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of fd.
    static void start(int fd, const QByteArray &bytes);

    static constexpr int kStallTimeoutMs = 30000;

private:
    PipeWriter(int fd, const QByteArray &bytes);
    ~PipeWriter() override;
    void writeSome();
    void finish();

    int m_fd;
    QByteArray m_bytes;
    qint64 m_written = 0;
    QSocketNotifier *m_notifier;
    QTimer m_stall;
};
