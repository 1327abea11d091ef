// A small X11 client for driving and inspecting the program from outside, as a
// user and a window manager would: find a top-level window by title, read its
// geometry, close it with WM_DELETE_WINDOW, send input through XTest, and read
// the screen. Used by scripts/run-demo (through tessera-x11) and by the tests.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::x11 {

struct Geometry {
    int x, y, width, height; // position relative to the root window, size in pixels
};

// Every window below the root (any depth) whose WM_NAME is `title` and that is
// viewable.
std::vector<::Window> find_windows(Display *display, const std::string &title);

// Polls until exactly one window has `title` or `timeout_ms` passes; 0 if none.
::Window wait_for_window(Display *display, const std::string &title, int timeout_ms);

Geometry window_geometry(Display *display, ::Window w);

// What a window manager sends when the user closes a window.
bool send_delete_window(Display *display, ::Window w);

// Input through XTest, as the X server would see it from a keyboard and mouse.
void key(Display *display, KeySym sym, bool press);
void tap_key(Display *display, KeySym sym);
void button(Display *display, unsigned int number, bool press); // 1 left, 2 middle, 3 right, 4/5 wheel
void move_pointer(Display *display, int root_x, int root_y);

// The root window's pixels as RGB bytes, rows top to bottom.
std::vector<uint8_t> screenshot_rgb(Display *display, int *width, int *height);

} // namespace tessera::x11
