/* A Wayland display that offers no protocol beyond the core's own, like a
 * compositor without data-control (GNOME). Listens on $XDG_RUNTIME_DIR/<argv[1]>,
 * prints "ready" and serves until killed. */
#include <stdio.h>
#include <wayland-server.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    struct wl_display *display = wl_display_create();
    if (!display || wl_display_add_socket(display, argv[1]) != 0)
        return 1;
    printf("ready\n");
    fflush(stdout);
    wl_display_run(display);
    wl_display_destroy(display);
    return 0;
}
