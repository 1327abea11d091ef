#include "desktop/glfw_window.h"

#include "base/assert.h"
#include "base/log.h"
#include "desktop/mouse_pointers.h"
#include "window.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cstdlib>
#include <cstring>

// The platform hint and query arrived with GLFW 3.4.
#if GLFW_VERSION_MAJOR > 3 || (GLFW_VERSION_MAJOR == 3 && GLFW_VERSION_MINOR >= 4)
#define TESSERA_GLFW_HAS_PLATFORMS 1
#else
#define TESSERA_GLFW_HAS_PLATFORMS 0
#endif

namespace tessera {

static GLFWwindow *handle = nullptr;
static GLFWcursor *pointers[MOUSE_POINTER_COUNT];
static Mouse_Pointer old_mouse_pointer = Mouse_Pointer::ARROW;

// Window-system values are doubles; converting one outside float's range is undefined.
static f32 to_f32(double v) {
    if (!(v == v)) return 0;
    if (v > 3.4e38) return 3.4e38f;
    if (v < -3.4e38) return -3.4e38f;
    return static_cast<f32>(v);
}

// ---- Callbacks -------------------------------------------------------------------

void error_callback(int error_code, const char *description) {
    with_callback_context([&] {
        log("GLFW (%): %\n", error_code, description ? description : "",
            error_code ? Log_Flags::ERROR : Log_Flags::NONE);
    });
}

void close_callback(GLFWwindow *) {
    window.should_close = true;
}
void focus_callback(GLFWwindow *, int value) {
    window.is_focused = value != 0;
}

void position_callback(GLFWwindow *, int pos_x, int pos_y) {
    window.rect.x = pos_x;
    window.rect.y = pos_y;
}

void size_callback(GLFWwindow *, int size_w, int size_h) {
    window.rect.height = size_h;
    window.rect.width = size_w;
    window.resized_last_frame = true;
}

void minimize_callback(GLFWwindow *, int value) {
    window.is_minimized = value != 0;
}
void maximize_callback(GLFWwindow *, int value) {
    window.is_maximized = value != 0;
}

void key_callback(GLFWwindow *, int key, int, int action, int) {
    if (key < 0 || key > static_cast<int>(Key::MENU)) return;
    // Right-hand modifiers report as the left-hand ones.
    switch (key) {
    case GLFW_KEY_RIGHT_CONTROL:
        key = static_cast<int>(Key::CONTROL);
        break;
    case GLFW_KEY_RIGHT_SHIFT:
        key = static_cast<int>(Key::SHIFT);
        break;
    case GLFW_KEY_RIGHT_ALT:
        key = static_cast<int>(Key::ALT);
        break;
    case GLFW_KEY_RIGHT_SUPER:
        key = static_cast<int>(Key::SUPER);
        break;
    default:
        break;
    }
    Window_Event e = {};
    e.kind = Window_Event_Kind::KEY;
    e.key = static_cast<Key>(key);
    e.action = static_cast<Key_Action>(static_cast<u8>(action));
    with_callback_context([&] { push_event(e); });
}

void char_callback(GLFWwindow *, unsigned int codepoint) {
    Window_Event e = {};
    e.kind = Window_Event_Kind::TEXT;
    e.codepoint = codepoint;
    with_callback_context([&] { push_event(e); });
}

void mouse_button_callback(GLFWwindow *, int button, int action, int) {
    if (button < 0 || button > 2) return; // left, right and middle only
    Window_Event e = {};
    e.kind = Window_Event_Kind::KEY;
    e.key = static_cast<Key>(static_cast<int>(Key::MOUSE_START) + button);
    e.action = static_cast<Key_Action>(static_cast<u8>(action));
    with_callback_context([&] { push_event(e); });
}

void cursor_position_callback(GLFWwindow *, double x, double y) {
    window.mouse_position = {to_f32(x), to_f32(y)};
}

void scroll_callback(GLFWwindow *, double xoffset, double yoffset) {
    Window_Event e = {};
    e.kind = Window_Event_Kind::SCROLL;
    e.scroll = {to_f32(xoffset), to_f32(yoffset)};
    with_callback_context([&] { push_event(e); });
}

void damage_callback(GLFWwindow *) {}

// ---- Start-up and tear-down --------------------------------------------------------

bool glfw_use_x11_requested(const char *value) {
    return value && value[0] && strcmp(value, "0") != 0;
}

static void choose_platform() {
    const char *value = getenv("GLFW_USE_X11");
    bool x11 = glfw_use_x11_requested(value);
#if TESSERA_GLFW_HAS_PLATFORMS
    if (x11) glfwInitHint(GLFW_PLATFORM, GLFW_PLATFORM_X11);
    log("GLFW_USE_X11 is %: %.", value ? value : "unset",
        x11 ? "forcing the X11 back end" : "GLFW chooses the back end", Log_Flags::VERBOSE_ONLY);
#else
    log("GLFW_USE_X11 is %: %; this GLFW has only the back end it was built with.", value ? value : "unset",
        x11 ? "X11 requested" : "no back end requested", Log_Flags::VERBOSE_ONLY);
#endif
}

static bool platform_is_wayland() {
#if TESSERA_GLFW_HAS_PLATFORMS
    return glfwGetPlatform() == GLFW_PLATFORM_WAYLAND;
#else
    return false;
#endif
}

bool window_init(s32 w, s32 h, String title) {
    window.callback_context = &context();
    window.rect.width = w;
    window.rect.height = h;
    glfwSetErrorCallback(error_callback);
    choose_platform();

    if (!glfwInit()) {
        glfwTerminate();
        return false;
    }

    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, GLFW_TRUE);

    String z;
    {
        Temporary_Scope scratch;
        z = format("%\0"_s, title); // zero-terminated copy of the title
        handle = glfwCreateWindow(w, h, reinterpret_cast<const char *>(z.data), nullptr, nullptr);
    }
    if (!handle) return false;

    // Wayland gives windows no readable position.
    if (!platform_is_wayland()) glfwGetWindowPos(handle, &window.rect.x, &window.rect.y);
    glfwGetWindowSize(handle, &window.rect.width, &window.rect.height);

    glfwSetWindowCloseCallback(handle, close_callback);
    glfwSetWindowFocusCallback(handle, focus_callback);
    glfwSetWindowPosCallback(handle, position_callback);
    glfwSetWindowSizeCallback(handle, size_callback);
    glfwSetWindowIconifyCallback(handle, minimize_callback);
    glfwSetWindowMaximizeCallback(handle, maximize_callback);
    glfwSetKeyCallback(handle, key_callback);
    glfwSetCharCallback(handle, char_callback);
    glfwSetMouseButtonCallback(handle, mouse_button_callback);
    glfwSetCursorPosCallback(handle, cursor_position_callback);
    glfwSetScrollCallback(handle, scroll_callback);
    glfwSetWindowRefreshCallback(handle, damage_callback);

    window.last_update_time = os_monotonic_time();
    load_mouse_pointers();
    ASSERT(handle);
    glfwMakeContextCurrent(handle);
    glfwSwapInterval(1);
    return true;
}

void window_deinit() {
    if (handle) glfwDestroyWindow(handle);
    glfwTerminate();
    handle = nullptr;
}

GLFWwindow *window_get_handle() {
    return handle;
}

Get_Proc_Address_Proc get_get_proc_address_proc() {
    return glfwGetProcAddress;
}

// ---- Per frame -------------------------------------------------------------------

void window_poll_events(bool wait) {
    window.resized_last_frame = false;
    window.events.count = 0;
    if (wait) {
        glfwWaitEvents();
    } else {
        glfwPollEvents();
    }
    if (window.is_fullscreen != window.wants_fullscreen) set_fullscreen(window.wants_fullscreen);
}

void swap_buffers() {
    glfwSwapBuffers(handle);
}

void toggle_fullscreen() {
    window.wants_fullscreen = !window.wants_fullscreen;
}

void set_fullscreen(bool fullscreen) {
    if (fullscreen) {
        GLFWmonitor *monitor = glfwGetPrimaryMonitor();
        const GLFWvidmode *m = monitor ? glfwGetVideoMode(monitor) : nullptr;
        if (!m) {
            // Stay windowed, and stop asking every frame.
            log_error(FULLSCREEN_NO_MODE_MESSAGE);
            window.wants_fullscreen = window.is_fullscreen;
            return;
        }
        window.backed_up_rect = window.rect;
        glfwSetWindowMonitor(handle, monitor, 0, 0, m->width, m->height, m->refreshRate);
        window.rect = {0, 0, m->width, m->height};
    } else {
        const Window_Rect &r = window.backed_up_rect;
        glfwSetWindowMonitor(handle, nullptr, r.x, r.y, r.width, r.height, 60);
        window.rect = window.backed_up_rect;
    }
    window.resized_last_frame = true;
    window.is_fullscreen = fullscreen;
}

void set_vsync(bool value) {
    glfwSwapInterval(value ? 1 : 0);
}

void make_context_current(bool current) {
    glfwMakeContextCurrent(current ? handle : nullptr);
}

String get_clipboard_text() {
    return from_c_string(glfwGetClipboardString(handle));
}

void set_clipboard_text(String text) {
    Temporary_Scope scratch; // GLFW keeps its own copy
    String z = format("%\0"_s, text);
    glfwSetClipboardString(handle, reinterpret_cast<const char *>(z.data));
}

// ---- Pointers ----------------------------------------------------------------------

void load_mouse_pointers() {
    for (s32 i = 0; i < MOUSE_POINTER_COUNT; i++) {
        const Mouse_Pointer_Data &d = default_mouse_pointers[i];
        GLFWimage image = {d.width, d.height, d.pixels.data};
        // A cursor that cannot be created is null: GLFW then shows the default pointer.
        pointers[i] = glfwCreateCursor(&image, d.xhot, d.yhot);
    }
}

void apply_mouse_pointer() {
    if (window.mouse_pointer == old_mouse_pointer) return;
    old_mouse_pointer = window.mouse_pointer;
    u64 index = static_cast<u64>(window.mouse_pointer);
    glfwSetCursor(handle, index < MOUSE_POINTER_COUNT ? pointers[index] : nullptr);
}

} // namespace tessera
