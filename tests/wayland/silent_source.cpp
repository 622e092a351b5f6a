// Another program that copies and then never delivers: it offers text through
// data-control and ignores every request for it (the reader's pipe is kept open and
// never written, so the reader waits in vain). Prints "ready" once its offer is the
// selection and stays until killed.
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <wayland-client.h>

namespace {

wl_seat *seat;
zwlr_data_control_manager_v1 *manager;

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_data_control_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}

const wl_registry_listener registryListener = {global, [](void *, wl_registry *, uint32_t) {}};
const zwlr_data_control_source_v1_listener sourceListener = {
    [](void *, zwlr_data_control_source_v1 *, const char *, int32_t) {},
    [](void *, zwlr_data_control_source_v1 *) {}};

} // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return 1;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !manager)
        return 1;
    auto *device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
    auto *source = zwlr_data_control_manager_v1_create_data_source(manager);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    for (const char *type : {"text/plain;charset=utf-8", "text/uri-list", "image/png"})
        zwlr_data_control_source_v1_offer(source, type);
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
