// tessera-x11: drives a window from the command line, for scripts.
//   tessera-x11 wait TITLE [TIMEOUT_MS]   waits for one viewable window titled TITLE
//   tessera-x11 close TITLE               sends it WM_DELETE_WINDOW
// Exit status 0 on success, 1 when the window is not there, 2 on wrong arguments.
#include "x11_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
    if (argc < 3 || (strcmp(argv[1], "wait") != 0 && strcmp(argv[1], "close") != 0)) {
        fprintf(stderr, "usage: tessera-x11 wait TITLE [TIMEOUT_MS] | tessera-x11 close TITLE\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "tessera-x11: cannot open the display\n");
        return 1;
    }
    int timeout = argc > 3 ? atoi(argv[3]) : 10000;
    Window w = tessera::x11::wait_for_window(display, argv[2], strcmp(argv[1], "wait") == 0 ? timeout : 2000);
    int status = w ? 0 : 1;
    if (!w) fprintf(stderr, "tessera-x11: no window titled \"%s\"\n", argv[2]);
    if (w && strcmp(argv[1], "close") == 0 && !tessera::x11::send_delete_window(display, w)) status = 1;
    XCloseDisplay(display);
    return status;
}
