// The backend on a real (virtual) display: input sent through XTest, window
// changes made from outside as a window manager would, state read back both
// through the window record and through X11.
// GoogleTest before X11: Xlib defines macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "capture.h"
#include "desktop/glfw_window.h"
#include "logger.h"
#include "window.h"
#include "x11_client.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace tessera;

namespace {

Display *display = nullptr;
::Window x_window = 0;

struct Desktop : testing::Test {
    static void SetUpTestSuite() {
        context().logger = logger_proc;
        ASSERT_TRUE(window_init(800, 600, "output"_s));
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        x_window = x11::wait_for_window(display, "output", 5000);
        ASSERT_NE(x_window, 0u);
    }
    // The window stays until the process exits, as in the program: terminating
    // GLFW unloads the GL driver, whose last allocation then shows as a leak.
    static void TearDownTestSuite() {
        if (display) XCloseDisplay(display);
    }
    void SetUp() override {
        glfwFocusWindow(window_get_handle());
        x11::Geometry g = x11::window_geometry(display, x_window);
        x11::move_pointer(display, g.x + g.width / 2, g.y + g.height / 2);
        pump_until([] { return window.is_focused; }, 2000);
        events.clear();
    }

    // Polls like the frame loop, keeping every event, until `done` or the timeout.
    template <typename Done>
    bool pump_until(Done done, int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            XSync(display, False);
            window_poll_events(false);
            for (const Window_Event &e : window.events) events.push_back(e);
            if (done()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    bool pump_events(size_t count) {
        return pump_until([&] { return events.size() >= count; }, 3000);
    }

    std::vector<Window_Event> events;
};

struct Expected {
    Window_Event_Kind kind;
    s32 code; // key code, or text code point
    Key_Action action;
};

void expect_events(const std::vector<Window_Event> &got, std::initializer_list<Expected> expected) {
    ASSERT_EQ(got.size(), expected.size());
    size_t i = 0;
    for (const Expected &e : expected) {
        SCOPED_TRACE(i);
        const Window_Event &g = got[i++];
        EXPECT_EQ(g.kind, e.kind);
        if (e.kind == Window_Event_Kind::KEY) {
            EXPECT_EQ(static_cast<s32>(g.key), e.code);
            EXPECT_EQ(g.action, e.action);
        } else if (e.kind == Window_Event_Kind::TEXT) {
            EXPECT_EQ(g.codepoint, static_cast<u32>(e.code));
        }
    }
}

constexpr auto KEY = Window_Event_Kind::KEY;
constexpr auto TEXT = Window_Event_Kind::TEXT;
constexpr auto PRESS = Key_Action::PRESS;
constexpr auto RELEASE = Key_Action::RELEASE;

// Runs first: nothing has owned the clipboard on this display yet.
TEST_F(Desktop, EmptyClipboardIsAnEmptyString) {
    test::Recording_Logger quiet; // GLFW reports the missing selection as an error
    EXPECT_EQ(get_clipboard_text().count, 0);
}

TEST_F(Desktop, ClipboardRoundTrip) {
    for (String text : {"plain"_s, "two\nlines \xE2\x9C\x93"_s}) {
        set_clipboard_text(text);
        EXPECT_TRUE(equal(get_clipboard_text(), text)) << test::to_std(get_clipboard_text());
    }
}

TEST_F(Desktop, KeysAndTypedText) {
    x11::key(display, XK_Shift_L, true);
    x11::tap_key(display, XK_x);
    x11::key(display, XK_Shift_L, false);
    x11::tap_key(display, XK_Shift_R);
    x11::tap_key(display, XK_F11);
    x11::tap_key(display, XK_Control_R);
    ASSERT_TRUE(pump_events(11));
    expect_events(events, {
                              {KEY, 340, PRESS},
                              {KEY, 'X', PRESS},
                              {TEXT, 'X', PRESS},
                              {KEY, 'X', RELEASE},
                              {KEY, 340, RELEASE},
                              {KEY, 340, PRESS}, // right shift folds onto SHIFT
                              {KEY, 340, RELEASE},
                              {KEY, 300, PRESS}, // F11
                              {KEY, 300, RELEASE},
                              {KEY, 341, PRESS}, // right control folds onto CONTROL
                              {KEY, 341, RELEASE},
                          });
}

TEST_F(Desktop, MouseButtonsScrollAndPosition) {
    x11::Geometry g = x11::window_geometry(display, x_window);
    x11::move_pointer(display, g.x + 123, g.y + 45);
    ASSERT_TRUE(
        pump_until([] { return window.mouse_position.x == 123 && window.mouse_position.y == 45; }, 2000));
    for (unsigned b : {1u, 3u, 2u, 8u}) { // left, right, middle, and a "back" button that is not reported
        x11::button(display, b, true);
        x11::button(display, b, false);
    }
    x11::button(display, 4, true); // wheel up
    x11::button(display, 4, false);
    x11::button(display, 5, true); // wheel down
    x11::button(display, 5, false);
    ASSERT_TRUE(pump_events(8));
    std::vector<Window_Event> keys(events.begin(), events.begin() + 6);
    expect_events(keys, {{KEY, 349, PRESS},
                         {KEY, 349, RELEASE},
                         {KEY, 350, PRESS},
                         {KEY, 350, RELEASE},
                         {KEY, 351, PRESS},
                         {KEY, 351, RELEASE}});
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[6].kind, Window_Event_Kind::SCROLL);
    EXPECT_EQ(events[6].scroll.x, 0.0f);
    EXPECT_EQ(events[6].scroll.y, 1.0f);
    EXPECT_EQ(events[7].kind, Window_Event_Kind::SCROLL);
    EXPECT_EQ(events[7].scroll.y, -1.0f);
}

TEST_F(Desktop, ResizeMarksExactlyOneFrame) {
    XResizeWindow(display, x_window, 640, 480);
    ASSERT_TRUE(pump_until([] { return window.resized_last_frame; }, 3000));
    EXPECT_EQ(window.rect.width, 640);
    EXPECT_EQ(window.rect.height, 480);
    window_poll_events(false); // the next frame sees no resize
    EXPECT_FALSE(window.resized_last_frame);
    XResizeWindow(display, x_window, 800, 600);
    ASSERT_TRUE(pump_until([] { return window.rect.width == 800 && window.rect.height == 600; }, 3000));
}

TEST_F(Desktop, FullScreenAndBackRestoresTheWindowedRectangle) {
    XMoveWindow(display, x_window, 50, 60);
    ASSERT_TRUE(pump_until([] { return window.rect.x == 50 && window.rect.y == 60; }, 3000));
    Window_Rect windowed = window.rect;

    toggle_fullscreen();
    window_poll_events(false); // the switch happens at the end of the poll
    EXPECT_TRUE(window.is_fullscreen);
    EXPECT_TRUE(window.resized_last_frame);
    EXPECT_EQ(window.rect.x, 0);
    EXPECT_EQ(window.rect.y, 0);
    EXPECT_EQ(window.rect.width, 1920);
    EXPECT_EQ(window.rect.height, 1080);
    ASSERT_TRUE(pump_until(
        [] {
            x11::Geometry g = x11::window_geometry(display, x_window);
            return g.x == 0 && g.y == 0 && g.width == 1920 && g.height == 1080;
        },
        3000))
        << "the X window covers the screen";

    toggle_fullscreen();
    window_poll_events(false);
    EXPECT_FALSE(window.is_fullscreen);
    EXPECT_TRUE(window.resized_last_frame);
    EXPECT_EQ(window.rect.x, windowed.x);
    EXPECT_EQ(window.rect.y, windowed.y);
    EXPECT_EQ(window.rect.width, windowed.width);
    EXPECT_EQ(window.rect.height, windowed.height);
    ASSERT_TRUE(pump_until(
        [&] {
            x11::Geometry g = x11::window_geometry(display, x_window);
            return g.width == windowed.width && g.height == windowed.height;
        },
        3000));
    window_poll_events(false);
    EXPECT_FALSE(window.resized_last_frame);
}

TEST_F(Desktop, TogglingTwiceInOneFrameSwitchesNothing) {
    toggle_fullscreen();
    toggle_fullscreen();
    window_poll_events(false);
    EXPECT_FALSE(window.is_fullscreen);
    EXPECT_FALSE(window.resized_last_frame);
    x11::Geometry g = x11::window_geometry(display, x_window);
    EXPECT_EQ(g.width, window.rect.width);
}

TEST_F(Desktop, CloseRequestSetsShouldClose) {
    EXPECT_FALSE(window.should_close);
    x11::send_delete_window(display, x_window);
    ASSERT_TRUE(pump_until([] { return window.should_close; }, 3000));
    window.should_close = false;
}

} // namespace
