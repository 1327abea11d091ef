#include "x11_client.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <thread>

namespace tessera::x11 {

static void collect(Display *display, ::Window w, const std::string &title, std::vector<::Window> *out) {
    char *name = nullptr;
    if (XFetchName(display, w, &name) && name) {
        XWindowAttributes a;
        if (title == name && XGetWindowAttributes(display, w, &a) && a.map_state == IsViewable)
            out->push_back(w);
        XFree(name);
    }
    ::Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, w, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; i++) collect(display, children[i], title, out);
        if (children) XFree(children);
    }
}

std::vector<::Window> find_windows(Display *display, const std::string &title) {
    std::vector<::Window> found;
    collect(display, DefaultRootWindow(display), title, &found);
    return found;
}

::Window wait_for_window(Display *display, const std::string &title, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        std::vector<::Window> found = find_windows(display, title);
        if (found.size() == 1) return found[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

Geometry window_geometry(Display *display, ::Window w) {
    XWindowAttributes a = {};
    XGetWindowAttributes(display, w, &a);
    int x = 0, y = 0;
    ::Window child;
    XTranslateCoordinates(display, w, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height};
}

bool send_delete_window(Display *display, ::Window w) {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    Status s = XSendEvent(display, w, False, NoEventMask, &e);
    XFlush(display);
    return s != 0;
}

void key(Display *display, KeySym sym, bool press) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), press, CurrentTime);
    XFlush(display);
}

void tap_key(Display *display, KeySym sym) {
    key(display, sym, true);
    key(display, sym, false);
}

void button(Display *display, unsigned int number, bool press) {
    XTestFakeButtonEvent(display, number, press, CurrentTime);
    XFlush(display);
}

void move_pointer(Display *display, int root_x, int root_y) {
    XTestFakeMotionEvent(display, DefaultScreen(display), root_x, root_y, CurrentTime);
    XFlush(display);
}

std::vector<uint8_t> screenshot_rgb(Display *display, int *width, int *height) {
    ::Window root = DefaultRootWindow(display);
    XWindowAttributes a = {};
    XGetWindowAttributes(display, root, &a);
    *width = a.width;
    *height = a.height;
    std::vector<uint8_t> rgb(static_cast<size_t>(a.width) * a.height * 3);
    XImage *image = XGetImage(display, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) return {};
    for (int y = 0; y < a.height; y++) {
        for (int x = 0; x < a.width; x++) {
            unsigned long p = XGetPixel(image, x, y);
            uint8_t *out = &rgb[(static_cast<size_t>(y) * a.width + x) * 3];
            out[0] = static_cast<uint8_t>((p & image->red_mask) >> 16);
            out[1] = static_cast<uint8_t>((p & image->green_mask) >> 8);
            out[2] = static_cast<uint8_t>(p & image->blue_mask);
        }
    }
    XDestroyImage(image);
    return rgb;
}

} // namespace tessera::x11
