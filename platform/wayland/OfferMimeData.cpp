#include "platform/wayland/OfferMimeData.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

OfferMimeData::OfferMimeData(wl_display *display, zwlr_data_control_offer_v1 *offer, const QStringList &mimeTypes)
    : OfferedMimeData(mimeTypes)
    , m_display(display)
    , m_offer(offer)
{
}

OfferMimeData::~OfferMimeData()
{
    if (m_offer)
        zwlr_data_control_offer_v1_destroy(m_offer);
}

QByteArray OfferMimeData::transfer(const QString &mimeType, Outcome &outcome) const
{
    QByteArray out;
    int fds[2];
    if (!m_offer || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return out;
    zwlr_data_control_offer_v1_receive(m_offer, mimeType.toUtf8().constData(), fds[1]);
    ::close(fds[1]);
    wl_display_flush(m_display);

    // The offering program writes from its own event loop; waiting here (with a
    // deadline) is what every clipboard reader does, and only for this read.
    QDeadlineTimer deadline(kReadTimeoutMs);
    char buffer[65536];
    bool complete = false;
    while (!deadline.hasExpired()) {
        pollfd pfd{fds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n == 0) {
            complete = true;
            break;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            break;
        }
        if (out.size() + n > kMaxReadBytes) {
            qWarning("wayland: the offered \"%s\" is larger than %lld bytes; ignored", qPrintable(mimeType),
                     kMaxReadBytes);
            ::close(fds[0]);
            return QByteArray();
        }
        out.append(buffer, int(n));
    }
    ::close(fds[0]);
    if (!complete) {
        qWarning("wayland: the program offering \"%s\" did not deliver it in time; ignored", qPrintable(mimeType));
        outcome = Outcome::Silent;
        return QByteArray();
    }
    outcome = Outcome::Done;
    return out;
}
