// The backend's callbacks called directly, as GLFW would call them.
#include "capture.h"
#include "desktop/glfw_window.h"
#include "logger.h"
#include "window.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tessera;

namespace {

struct Callbacks : testing::Test {
    void SetUp() override { window = Window{}; }
    void TearDown() override { window = Window{}; }
};

constexpr int PRESS = 1, RELEASE = 0, REPEAT = 2;

TEST_F(Callbacks, KeyCodesFilteredAndFolded) {
    struct Case {
        int glfw_key;
        bool kept;
        s32 code;
    } cases[] = {
        {-1, false, 0},                    // unknown key
        {-2, false, 0},   {349, false, 0}, // above MENU: mouse codes come only from the button callback
        {1000, false, 0}, {0, true, 0},    // unnamed codes below 348 pass through
        {32, true, 32},   {300, true, 300}, {320, true, 320}, // keypad 0, unnamed
        {348, true, 348}, {340, true, 340}, {344, true, 340}, // right shift
        {345, true, 341},                                     // right control
        {346, true, 342},                                     // right alt
        {347, true, 343},                                     // right super
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.glfw_key);
        window.events.count = 0;
        key_callback(nullptr, c.glfw_key, 77, REPEAT, 0x3f);
        ASSERT_EQ(window.events.count, c.kept ? 1 : 0);
        if (!c.kept) continue;
        const Window_Event &e = window.events[0];
        EXPECT_EQ(e.kind, Window_Event_Kind::KEY);
        EXPECT_EQ(static_cast<s32>(e.key), c.code);
        EXPECT_EQ(e.action, Key_Action::REPEAT);
        EXPECT_EQ(e.flags, Window_Event_Flags::NONE);
    }
}

TEST_F(Callbacks, BothControlKeysShareOneModifier) {
    key_callback(nullptr, 341, 0, PRESS, 0);
    key_callback(nullptr, 345, 0, PRESS, 0);
    window_process_mod_keys();
    EXPECT_TRUE(mod_key_down(Modifiers::CONTROL));
    window.events.count = 0;
    key_callback(nullptr, 345, 0, RELEASE, 0); // only the right one goes up
    window_process_mod_keys();
    EXPECT_FALSE(mod_key_down(Modifiers::CONTROL));
}

TEST_F(Callbacks, MouseButtons) {
    struct Case {
        int button;
        bool kept;
        s32 code;
    } cases[] = {{0, true, 349}, {1, true, 350}, {2, true, 351},
                 {3, false, 0},  {7, false, 0},  {-1, false, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button);
        window.events.count = 0;
        mouse_button_callback(nullptr, c.button, PRESS, 0);
        ASSERT_EQ(window.events.count, c.kept ? 1 : 0);
        if (c.kept) {
            EXPECT_EQ(static_cast<s32>(window.events[0].key), c.code);
            EXPECT_EQ(window.events[0].action, Key_Action::PRESS);
        }
    }
    window.events.count = 0;
    mouse_button_callback(nullptr, 2, RELEASE, 0);
    EXPECT_TRUE(mouse_button_released(Mouse_Button::MIDDLE, false, false));
}

TEST_F(Callbacks, TextScrollAndPointer) {
    char_callback(nullptr, 0x416); // Cyrillic Zhe
    scroll_callback(nullptr, -1.5, 2.0);
    cursor_position_callback(nullptr, 12.75, 600.5);
    ASSERT_EQ(window.events.count, 2);
    EXPECT_EQ(window.events[0].kind, Window_Event_Kind::TEXT);
    EXPECT_EQ(window.events[0].codepoint, 0x416u);
    EXPECT_EQ(window.events[1].kind, Window_Event_Kind::SCROLL);
    EXPECT_EQ(window.events[1].scroll.x, -1.5f);
    EXPECT_EQ(window.events[1].scroll.y, 2.0f);
    EXPECT_EQ(window.mouse_position.x, 12.75f);
    EXPECT_EQ(window.mouse_position.y, 600.5f);
    // Doubles beyond float's range are clamped rather than converted (undefined).
    cursor_position_callback(nullptr, 1e300, NAN);
    EXPECT_TRUE(std::isfinite(window.mouse_position.x));
    EXPECT_EQ(window.mouse_position.y, 0.0f);
}

TEST_F(Callbacks, WindowStateCallbacks) {
    size_callback(nullptr, 1024, 700);
    EXPECT_EQ(window.rect.width, 1024);
    EXPECT_EQ(window.rect.height, 700);
    EXPECT_TRUE(window.resized_last_frame);
    position_callback(nullptr, -5, 33);
    EXPECT_EQ(window.rect.x, -5);
    EXPECT_EQ(window.rect.y, 33);
    struct Flag {
        void (*callback)(GLFWwindow *, int);
        bool Window::*field;
    } flags[] = {
        {focus_callback, &Window::is_focused},
        {minimize_callback, &Window::is_minimized},
        {maximize_callback, &Window::is_maximized},
    };
    for (const Flag &f : flags) {
        for (int value : {1, 0, 7, 0}) {
            f.callback(nullptr, value);
            EXPECT_EQ(window.*f.field, value != 0);
        }
    }
    EXPECT_FALSE(window.should_close);
    close_callback(nullptr);
    EXPECT_TRUE(window.should_close);
    damage_callback(nullptr);
    EXPECT_EQ(window.events.count, 0);
}

TEST_F(Callbacks, ErrorCallbackLogsThroughTheMainContext) {
    Context main = {};
    main.logger = logger_proc;
    window.callback_context = &main;
    test::Captured_Output capture;
    error_callback(65544, "X11: The DISPLAY environment variable is missing");
    error_callback(0, "no error");
    capture.restore();
    arena_deinit(&main.temporary_storage);
    EXPECT_EQ(capture.err(), std::string(LOG_PREFIXES[1]) +
                                 "GLFW (65544): X11: The DISPLAY environment variable is missing\n");
    EXPECT_EQ(capture.out(), std::string(LOG_PREFIXES[0]) + "GLFW (0): no error\n");
}

TEST(Backend, GlfwUseX11Decision) {
    struct Case {
        const char *value;
        bool x11;
    } cases[] = {{nullptr, false}, {"", false},   {"0", false},    {"1", true},
                 {"00", true},     {"yes", true}, {"false", true}, {" ", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        EXPECT_EQ(glfw_use_x11_requested(c.value), c.x11);
    }
}

TEST(Backend, FullscreenToggleOnlyRecordsTheWish) {
    window = Window{};
    toggle_fullscreen();
    EXPECT_TRUE(window.wants_fullscreen);
    EXPECT_FALSE(window.is_fullscreen);
    toggle_fullscreen();
    EXPECT_FALSE(window.wants_fullscreen);
    window = Window{};
}

} // namespace
