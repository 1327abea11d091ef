// The desktop backend: the one window and its OpenGL context, over GLFW.
//
// window_init creates the window (3.3 core profile, debug context), registers
// the callbacks that turn window-system input into Window_Event records and
// window-state fields, and creates the pointer cursors. window_poll_events runs
// once per frame: it empties the event list, lets GLFW run the callbacks, and
// carries out a pending full-screen switch. All GLFW use in the system is here,
// on the main thread; the callbacks log with window.callback_context.
//
// GLFW 3.4 can choose between Wayland and X11 at run time; with 3.3 the back end
// is the one the library was built with (X11 for Debian's package). In both
// cases GLFW_USE_X11 set to a non-empty value other than "0" asks for X11; the
// decision is logged at the verbose level.
#pragma once

#include "base/string.h"
#include "base/types.h"

struct GLFWwindow;

namespace tessera {

using Gl_Proc = void (*)();
using Get_Proc_Address_Proc = Gl_Proc (*)(const char *name);

bool window_init(s32 w, s32 h, String title);
void window_deinit();
GLFWwindow *window_get_handle();
Get_Proc_Address_Proc get_get_proc_address_proc(); // glfwGetProcAddress (start-up uses GLX instead)

// Clears resized_last_frame and the event list, processes pending events (waits
// for one when `wait`; the frame loop never does), then switches full screen
// when wants_fullscreen differs from is_fullscreen.
void window_poll_events(bool wait);

void swap_buffers();
void toggle_fullscreen();             // takes effect in the next window_poll_events
void set_fullscreen(bool fullscreen); // takes effect now
void set_vsync(bool value);
void make_context_current(bool current);

// A view of GLFW's clipboard buffer, valid until the next clipboard call; empty
// when the clipboard holds no text.
String get_clipboard_text();
void set_clipboard_text(String text);

// Pointer cursors: one per Mouse_Pointer, created once; apply_mouse_pointer hands
// a changed window.mouse_pointer to GLFW.
void load_mouse_pointers();
void apply_mouse_pointer();

// Whether GLFW_USE_X11 (its value, or null when unset) asks for the X11 back end.
bool glfw_use_x11_requested(const char *value);

// The callbacks GLFW calls (the window argument is ignored: there is one window).
void error_callback(int error_code, const char *description);
void close_callback(GLFWwindow *);
void focus_callback(GLFWwindow *, int value);
void position_callback(GLFWwindow *, int pos_x, int pos_y);
void size_callback(GLFWwindow *, int size_w, int size_h);
void minimize_callback(GLFWwindow *, int value);
void maximize_callback(GLFWwindow *, int value);
void key_callback(GLFWwindow *, int key, int scancode, int action, int mods);
void char_callback(GLFWwindow *, unsigned int codepoint);
void mouse_button_callback(GLFWwindow *, int button, int action, int mods);
void cursor_position_callback(GLFWwindow *, double x, double y);
void scroll_callback(GLFWwindow *, double xoffset, double yoffset);
void damage_callback(GLFWwindow *);

inline constexpr char FULLSCREEN_NO_MODE_MESSAGE[] =
    "Cannot switch to full screen: the primary monitor reports no video mode.";

} // namespace tessera
