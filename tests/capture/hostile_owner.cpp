// Test helper: an X11 clipboard owner that misbehaves, speaking the protocol itself.
//   hostile_owner MODE FILE
// It owns CLIPBOARD offering image/png (FILE's bytes) and answers TARGETS; the
// content it delivers as MODE says: silent never, badtype as INTEGER, other with an
// answer for another target, vanish starts an INCR transfer and exits after one
// chunk, huge sends chunks without end, incr sends FILE in 64 KiB chunks. It ends
// when another client takes the clipboard.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    std::ifstream file(argv[2], std::ios::binary);
    const std::string bytes = mode == "huge" ? std::string(1 << 20, 'x')
                                             : std::string(std::istreambuf_iterator<char>(file), {});
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    };
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      screen->root_visual, 0, nullptr);
    const xcb_atom_t clipboard = atom("CLIPBOARD"), targets = atom("TARGETS"), png = atom("image/png"),
                     incr = atom("INCR");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_flush(c);

    xcb_window_t requestor = XCB_NONE;
    xcb_atom_t property = XCB_NONE;
    size_t sent = 0;
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR)
            return 0;
        if (type == XCB_SELECTION_REQUEST) {
            const auto *request = reinterpret_cast<xcb_selection_request_event_t *>(event);
            xcb_selection_notify_event_t notify = {XCB_SELECTION_NOTIFY, 0, 0, request->time, request->requestor,
                                                   request->selection, request->target, request->property};
            if (request->target == targets) {
                const xcb_atom_t offered[] = {targets, png};
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, XCB_ATOM_ATOM,
                                    32, 2, offered);
            } else if (mode == "silent") {
                notify.response_type = 0;
            } else if (mode == "badtype") {
                const uint32_t number = 42;
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                                    XCB_ATOM_INTEGER, 32, 1, &number);
            } else if (mode == "other") {
                notify.target = targets;
            } else {
                const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
                xcb_change_window_attributes(c, request->requestor, XCB_CW_EVENT_MASK, &events);
                const uint32_t size = uint32_t(bytes.size());
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, incr, 32, 1,
                                    &size);
                requestor = request->requestor;
                property = request->property;
                sent = 0;
            }
            if (notify.response_type)
                xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&notify));
        } else if (type == XCB_PROPERTY_NOTIFY) {
            // The reader took the last chunk: the next one, an empty one at the end.
            const auto *change = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (mode == "vanish" && sent > 0)
                return 0;
            if (change->window == requestor && change->atom == property && change->state == XCB_PROPERTY_DELETE) {
                const size_t chunk = mode == "huge" ? bytes.size() : std::min<size_t>(65536, bytes.size() - sent);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, png, 8, uint32_t(chunk),
                                    bytes.data() + (mode == "huge" ? 0 : sent));
                sent += chunk;
                if (chunk == 0)
                    requestor = XCB_NONE;
            }
        }
        xcb_flush(c);
        std::free(event);
    }
    return 0;
}
