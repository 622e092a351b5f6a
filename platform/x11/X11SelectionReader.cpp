#include "platform/x11/X11SelectionReader.h"

#include <QDeadlineTimer>
#include <QVector>
#include <QX11Info>

#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <poll.h>

#include <X11/Xlib.h> // last: it defines macros such as None and Bool

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T *reply)
{
    return Reply<T>(reply, &std::free);
}

// The most one GetProperty asks for: whole properties up to the size limit, so a
// property is taken (and deleted) in one round trip.
constexpr uint32_t kPropertyWords = uint32_t(OfferedMimeData::kMaxReadBytes / 4 + 1);
// Real programs offer a few dozen formats; each unknown one costs a name lookup.
constexpr int kMaxTargets = 256;

bool isTextTarget(const QString &name)
{
    return name == QLatin1String("UTF8_STRING") || name == QLatin1String("STRING") || name == QLatin1String("TEXT")
        || name == QLatin1String("text/plain") || name == QLatin1String("text/plain;charset=utf-8");
}

} // namespace

X11SelectionReader::~X11SelectionReader()
{
    disconnect();
}

void X11SelectionReader::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_names.clear();
    m_atoms.clear();
    m_gone.clear();
}

bool X11SelectionReader::broken() const
{
    return !m_connection || xcb_connection_has_error(m_connection);
}

bool X11SelectionReader::connect()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    if (m_connection && !m_reportedBroken)
        qWarning("x11: the clipboard connection broke (error %d); connecting again",
                 xcb_connection_has_error(m_connection));
    disconnect();
    // The display Qt uses, which a -display argument may have chosen.
    Display *display = QX11Info::isPlatformX11() ? QX11Info::display() : nullptr;
    int screenNumber = 0;
    m_connection = xcb_connect(display ? XDisplayString(display) : nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        if (!m_reportedBroken)
            qWarning("x11: cannot connect to the display to read the clipboard; reading it through Qt");
        m_reportedBroken = true;
        disconnect();
        return false;
    }
    m_reportedBroken = false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    const xcb_screen_t *screen = screens.data;
    m_window = xcb_generate_id(m_connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, screen->root_visual, XCB_CW_EVENT_MASK, &events);
    // In one batch: the requests first, then the replies.
    QStringList names{QStringLiteral("CLIPBOARD"), QStringLiteral("TARGETS"), QStringLiteral("INCR"),
                      QStringLiteral("UTF8_STRING")};
    for (int i = 0; i < kProperties; ++i)
        names.append(QStringLiteral("_ZORVEL_SELECTION_%1").arg(i));
    QVector<xcb_intern_atom_cookie_t> cookies;
    for (const QString &name : qAsConst(names)) {
        const QByteArray bytes = name.toLatin1();
        cookies.append(xcb_intern_atom(m_connection, 0, uint16_t(bytes.size()), bytes.constData()));
    }
    for (int i = 0; i < names.size(); ++i) {
        const auto reply = own(xcb_intern_atom_reply(m_connection, cookies.at(i), nullptr));
        if (reply) {
            m_atoms.insert(names.at(i), reply->atom);
            m_names.insert(reply->atom, names.at(i));
        }
    }
    m_clipboard = m_atoms.value(names.at(0));
    m_targets = m_atoms.value(names.at(1));
    m_incr = m_atoms.value(names.at(2));
    m_utf8 = m_atoms.value(names.at(3));
    for (int i = 0; i < kProperties; ++i)
        m_properties[i] = m_atoms.value(names.at(4 + i));
    m_property = m_properties[0];
    return !broken();
}

xcb_atom_t X11SelectionReader::selectionAtom(bool primary) const
{
    return primary ? xcb_atom_t(XCB_ATOM_PRIMARY) : m_clipboard;
}

xcb_atom_t X11SelectionReader::atomFor(const QString &name)
{
    const auto known = m_atoms.constFind(name);
    if (known != m_atoms.constEnd())
        return *known;
    const QByteArray bytes = name.toUtf8();
    const auto reply = own(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(bytes.size()), bytes.constData()), nullptr));
    if (!reply)
        return XCB_NONE;
    m_atoms.insert(name, reply->atom);
    m_names.insert(reply->atom, name);
    return reply->atom;
}

// Names not seen before are asked in one batch: the requests first, then the replies.
QStringList X11SelectionReader::namesOf(const xcb_atom_t *atoms, int count)
{
    QVector<xcb_get_atom_name_cookie_t> cookies(count);
    for (int i = 0; i < count; ++i) {
        if (!m_names.contains(atoms[i]))
            cookies[i] = xcb_get_atom_name(m_connection, atoms[i]);
    }
    QStringList names;
    for (int i = 0; i < count; ++i) {
        if (!m_names.contains(atoms[i])) {
            const auto reply = own(xcb_get_atom_name_reply(m_connection, cookies[i], nullptr));
            if (!reply)
                continue;
            const QString name = QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                                                   xcb_get_atom_name_name_length(reply.get()));
            m_names.insert(atoms[i], name);
            m_atoms.insert(name, atoms[i]);
        }
        const QString name = m_names.value(atoms[i]);
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

void X11SelectionReader::note(const xcb_generic_event_t *event)
{
    if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY)
        m_gone.insert(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
    const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event);
    if (event->response_type == 0 && error->major_code == XCB_CHANGE_WINDOW_ATTRIBUTES)
        m_gone.insert(error->resource_id);
}

// Events of earlier reads (a late answer to one that timed out) go before a new one.
void X11SelectionReader::drain()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        note(event);
        std::free(event);
    }
}

// The next SelectionNotify, or PropertyNotify with a new value, for our window; or
// the event that tells the owner is gone. Null when the deadline passed or the
// connection broke.
xcb_generic_event_t *X11SelectionReader::waitFor(const QDeadlineTimer &deadline, xcb_window_t owner, uint8_t type)
{
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            note(event);
            const uint8_t kind = event->response_type & 0x7f;
            if (m_gone.contains(owner))
                return event;
            const auto *notify = reinterpret_cast<xcb_selection_notify_event_t *>(event);
            // A late answer to an earlier request names that request's property.
            if (kind == type && type == XCB_SELECTION_NOTIFY && notify->requestor == m_window
                && (notify->property == m_property || notify->property == XCB_NONE))
                return event;
            if (kind == type && type == XCB_PROPERTY_NOTIFY) {
                const auto *property = reinterpret_cast<xcb_property_notify_event_t *>(event);
                if (property->window == m_window && property->atom == m_property
                    && property->state == XCB_PROPERTY_NEW_VALUE)
                    return event;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection) || deadline.hasExpired())
            return nullptr;
        pollfd pfd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(qBound<qint64>(1, deadline.remainingTime(), OfferedMimeData::kReadTimeoutMs)));
        if (ready < 0 && errno != EINTR)
            return nullptr;
    }
}

void X11SelectionReader::request(xcb_atom_t selection, xcb_atom_t target)
{
    // Each request its own property, so that the answer to an earlier one that was
    // given up is told from this one's.
    m_property = m_properties[++m_requests % kProperties];
    xcb_delete_property(m_connection, m_window, m_property);
    xcb_convert_selection(m_connection, m_window, selection, target, m_property, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
}

X11SelectionReader::Content X11SelectionReader::content(bool primary)
{
    Content content;
    if (!connect())
        return content;
    drain();
    const xcb_atom_t selection = selectionAtom(primary);
    const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(m_connection, selection);
    request(selection, m_targets);
    const auto owner = own(xcb_get_selection_owner_reply(m_connection, ownerCookie, nullptr));
    if (!owner || owner->owner == XCB_NONE) {
        drain(); // the server's own refusal
        return content;
    }
    // Only owners being read matter (a later read from a vanished one is refused
    // by the server at once).
    m_gone.clear();
    // Watched so that an owner that goes away ends a wait at once; a window already
    // gone answers with an error, which counts the same.
    const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, owner->owner, XCB_CW_EVENT_MASK, &events);
    xcb_flush(m_connection);
    Outcome outcome = Outcome::Failed;
    const QByteArray atoms = receive(selection, owner->owner, m_targets, outcome);
    if (outcome != Outcome::Done)
        return content;
    int count = atoms.size() / int(sizeof(xcb_atom_t));
    if (count > kMaxTargets) {
        qWarning("x11: the clipboard owner offers %d formats; only the first %d are looked at", count, kMaxTargets);
        count = kMaxTargets;
    }
    // Names of atoms another program made up are kept only while they are few.
    if (m_names.size() > 4 * kMaxTargets) {
        const QHash<xcb_atom_t, QString> names = m_names;
        m_names.clear();
        m_atoms.clear();
        QVector<xcb_atom_t> kept{m_clipboard, m_targets, m_incr, m_utf8};
        kept.append(QVector<xcb_atom_t>(m_properties, m_properties + kProperties));
        for (const xcb_atom_t atom : qAsConst(kept)) {
            m_names.insert(atom, names.value(atom));
            m_atoms.insert(names.value(atom), atom);
        }
    }
    content.owner = owner->owner;
    content.targets = namesOf(reinterpret_cast<const xcb_atom_t *>(atoms.constData()), count);
    return content;
}

QByteArray X11SelectionReader::read(bool primary, xcb_window_t owner, const QString &target, Outcome &outcome)
{
    outcome = Outcome::Failed;
    if (broken())
        return QByteArray();
    drain();
    const xcb_atom_t atom = atomFor(target);
    if (atom == XCB_NONE)
        return QByteArray();
    request(selectionAtom(primary), atom);
    return receive(selectionAtom(primary), owner, atom, outcome);
}

QByteArray X11SelectionReader::receive(xcb_atom_t selection, xcb_window_t owner, xcb_atom_t target, Outcome &outcome)
{
    const QByteArray name = m_names.value(target).toUtf8();
    outcome = Outcome::Failed;
    if (m_gone.contains(owner)) {
        qWarning("x11: the program offering \"%s\" is gone; nothing read", name.constData());
        return QByteArray();
    }
    // The owner's next event of that type within the deadline; null, logged, when it
    // is late, the connection broke or the owner went away (during what it was doing).
    const auto awaitEvent = [&](uint8_t type, const char *during) {
        auto event = own(waitFor(QDeadlineTimer(OfferedMimeData::kReadTimeoutMs), owner, type));
        if (!event && broken()) {
            qWarning("x11: the clipboard connection broke while reading \"%s\"", name.constData());
        } else if (!event) {
            qWarning("x11: the program offering \"%s\" did not deliver it in time; ignored", name.constData());
            outcome = Outcome::Silent;
        } else if (m_gone.contains(owner)) {
            qWarning("x11: the program offering \"%s\" went away %s", name.constData(), during);
            event.reset();
        }
        return event;
    };
    const auto event = awaitEvent(XCB_SELECTION_NOTIFY, "before answering");
    if (!event)
        return QByteArray();
    const auto *notify = reinterpret_cast<const xcb_selection_notify_event_t *>(event.get());
    if (notify->property == XCB_NONE) {
        qWarning("x11: the program offering \"%s\" refused to deliver it", name.constData());
        return QByteArray();
    }
    if (notify->selection != selection || notify->target != target || notify->property != m_property) {
        qWarning("x11: the answer to the request for \"%s\" was for another request; ignored", name.constData());
        return QByteArray();
    }
    QByteArray out;
    bool incremental = false;
    if (!takeProperty(target, true, out, incremental))
        return QByteArray();
    // INCR: the owner writes chunks, each once the last was taken (deleted); an
    // empty one ends the transfer.
    while (incremental) {
        if (!awaitEvent(XCB_PROPERTY_NOTIFY, "in the middle of the transfer"))
            return QByteArray();
        const int before = out.size();
        if (!takeProperty(target, false, out, incremental))
            return QByteArray();
        if (out.size() == before)
            break;
    }
    outcome = Outcome::Done;
    return out;
}

// Takes (reads and deletes) the property the owner wrote, appending its bytes to out.
// On the first take an INCR type starts an incremental transfer. False, logged, for
// what cannot be used: a wrong type or format, or more than the size limit.
bool X11SelectionReader::takeProperty(xcb_atom_t target, bool first, QByteArray &out, bool &incremental)
{
    const QByteArray name = m_names.value(target).toUtf8();
    const auto reply = own(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 1, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, 0, kPropertyWords),
        nullptr));
    if (!reply) {
        qWarning("x11: the clipboard connection broke while reading \"%s\"", name.constData());
        return false;
    }
    const qint64 length = xcb_get_property_value_length(reply.get());
    if (reply->bytes_after > 0 || out.size() + length > OfferedMimeData::kMaxReadBytes) {
        xcb_delete_property(m_connection, m_window, m_property);
        xcb_flush(m_connection);
        qWarning("x11: the offered \"%s\" is larger than %lld bytes; ignored", name.constData(),
                 OfferedMimeData::kMaxReadBytes);
        return false;
    }
    if (first && reply->type == m_incr) {
        incremental = true;
        return true;
    }
    if (incremental && length == 0)
        return true;
    bool usable = false;
    if (target == m_targets)
        usable = reply->format == 32 && (reply->type == XCB_ATOM_ATOM || reply->type == m_targets);
    else if (isTextTarget(QString::fromUtf8(name)))
        usable = reply->format == 8 && (reply->type == target || reply->type == m_utf8 || reply->type == XCB_ATOM_STRING);
    else
        usable = reply->format == 8 && reply->type != XCB_NONE && reply->type != m_incr;
    if (!usable) {
        const QStringList type = namesOf(&reply->type, 1);
        qWarning("x11: the program offering \"%s\" delivered it as %s/%d, not usable; ignored", name.constData(),
                 qPrintable(type.value(0, QStringLiteral("nothing"))), reply->format);
        return false;
    }
    const auto *value = static_cast<const char *>(xcb_get_property_value(reply.get()));
    // Latin-1 for a target read as UTF-8.
    if (reply->type == XCB_ATOM_STRING && target != XCB_ATOM_STRING)
        out.append(QString::fromLatin1(value, int(length)).toUtf8());
    else
        out.append(value, int(length));
    return true;
}
