/* Another program that copies and then never delivers: it offers text through
 * data-control and ignores every request for it. Prints "ready" once its offer is
 * the selection and stays until killed. */
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

static struct wl_seat *seat;
static struct zwlr_data_control_manager_v1 *manager;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

/* The reader's pipe is kept open and never written: the reader waits in vain. */
static void on_send(void *data, struct zwlr_data_control_source_v1 *source, const char *mime_type, int32_t fd)
{
    (void)data;
    (void)source;
    (void)mime_type;
    (void)fd;
}

static void on_cancelled(void *data, struct zwlr_data_control_source_v1 *source)
{
    (void)data;
    (void)source;
}

static const struct zwlr_data_control_source_v1_listener source_listener = {on_send, on_cancelled};

int main(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        return 1;
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !manager)
        return 1;
    struct zwlr_data_control_device_v1 *device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
    struct zwlr_data_control_source_v1 *source = zwlr_data_control_manager_v1_create_data_source(manager);
    zwlr_data_control_source_v1_add_listener(source, &source_listener, NULL);
    zwlr_data_control_source_v1_offer(source, "text/plain;charset=utf-8");
    zwlr_data_control_source_v1_offer(source, "text/uri-list");
    zwlr_data_control_source_v1_offer(source, "image/png");
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
