#pragma once

#include "platform/OfferedMimeData.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <xcb/xproto.h>

class QDeadlineTimer;

// Reads other programs' selections (CLIPBOARD, PRIMARY) through a connection of its
// own with a hidden window, as the ICCCM describes: ConvertSelection, wait for the
// owner's SelectionNotify, take the property (in chunks for INCR transfers). Each
// wait polls the connection with a deadline, so a program that never answers costs
// one wait, and nothing passes through Qt's event thread or its image plugins.
class X11SelectionReader
{
public:
    using Outcome = OfferedMimeData::Outcome;

    X11SelectionReader() = default;
    ~X11SelectionReader();
    X11SelectionReader(const X11SelectionReader &) = delete;
    X11SelectionReader &operator=(const X11SelectionReader &) = delete;

    // Connects, or connects again after the connection broke; false (logged once)
    // when the display cannot be reached.
    bool connect();
    bool broken() const;

    struct Content {
        xcb_window_t owner = XCB_NONE;
        QStringList targets;
    };
    // The owner of the selection and the names of the targets it offers; no owner
    // when the selection is empty or the owner could not tell.
    Content content(bool primary);
    // The bytes of one target of the content owner offers.
    QByteArray read(bool primary, xcb_window_t owner, const QString &target, Outcome &outcome);

private:
    xcb_atom_t selectionAtom(bool primary) const;
    xcb_atom_t atomFor(const QString &name);
    QStringList namesOf(const xcb_atom_t *atoms, int count);
    void request(xcb_atom_t selection, xcb_atom_t target);
    QByteArray receive(xcb_atom_t selection, xcb_window_t owner, xcb_atom_t target, Outcome &outcome);
    bool takeProperty(xcb_atom_t target, bool first, QByteArray &out, bool &incremental);
    xcb_generic_event_t *waitFor(const QDeadlineTimer &deadline, xcb_window_t owner, uint8_t type);
    void note(const xcb_generic_event_t *event);
    void drain();
    void disconnect();

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_clipboard = XCB_NONE;
    xcb_atom_t m_targets = XCB_NONE;
    xcb_atom_t m_incr = XCB_NONE;
    xcb_atom_t m_utf8 = XCB_NONE;
    static constexpr int kProperties = 4;
    xcb_atom_t m_properties[kProperties] = {};
    // The property of the current request.
    xcb_atom_t m_property = XCB_NONE;
    quint32 m_requests = 0;
    QHash<xcb_atom_t, QString> m_names;
    QHash<QString, xcb_atom_t> m_atoms;
    // Owners whose windows went away since the last content was fetched.
    QSet<xcb_window_t> m_gone;
    bool m_reportedBroken = false;
};
