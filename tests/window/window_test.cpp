#include "capture.h"
#include "logger.h"
#include "window.h"

#include <gtest/gtest.h>

using namespace tessera;

namespace {

Window_Event key_event(Key key, Key_Action action) {
    Window_Event e = {};
    e.kind = Window_Event_Kind::KEY;
    e.key = key;
    e.action = action;
    return e;
}

Window_Event text_event(u32 codepoint) {
    Window_Event e = {};
    e.kind = Window_Event_Kind::TEXT;
    e.codepoint = codepoint;
    return e;
}

struct WindowEvents : testing::Test {
    void SetUp() override { window = Window{}; }
    void TearDown() override { window = Window{}; }
    void frame(std::initializer_list<Window_Event> events) {
        window.events.count = 0;
        for (const Window_Event &e : events) push_event(e);
    }
};

TEST_F(WindowEvents, The33rdEventIsDroppedSilentlyAtNormalVerbosity) {
    Context main = {};
    main.logger = logger_proc;
    window.callback_context = &main;
    test::Captured_Output capture;
    for (u32 i = 0; i < 40; i++) push_event(text_event(1000 + i));
    capture.restore();
    EXPECT_EQ(capture.out() + capture.err(), "");
    ASSERT_EQ(window.events.count, 32);
    EXPECT_EQ(window.events.data, events_buffer);
    for (s64 i = 0; i < 32; i++) EXPECT_EQ(window.events[i].codepoint, 1000 + i);
    arena_deinit(&main.temporary_storage);
}

TEST_F(WindowEvents, OverflowLogsVerboseOnlyErrorThroughTheCallbackContext) {
    test::Recording_Logger recorder; // installed in this thread's own context
    window.callback_context = &context();
    for (int i = 0; i < 33; i++) push_event(text_event('x'));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, EVENT_OVERFLOW_MESSAGE);
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR | Log_Flags::VERBOSE_ONLY);
}

TEST_F(WindowEvents, ConsumeAndUseConsumed) {
    frame({key_event(Key::A, Key_Action::PRESS)});
    struct Step {
        bool consume, use_consumed, expected;
    } steps[] = {
        {true, false, true},                        // found, and marked
        {false, false, false},                      // the only press is consumed
        {true, false, false},  {false, true, true}, // unless consumed events count
        {true, true, true},
    };
    for (const Step &s : steps) EXPECT_EQ(key_pressed(Key::A, s.consume, s.use_consumed), s.expected);
    EXPECT_TRUE(has_any(window.events[0].flags, Window_Event_Flags::CONSUMED));
    // The next poll starts a fresh list: the marks go with the events.
    frame({key_event(Key::A, Key_Action::PRESS)});
    EXPECT_TRUE(key_pressed(Key::A, false, false));
}

TEST_F(WindowEvents, TwoPressesInOneFrameAreFoundInTurn) {
    frame({key_event(Key::B, Key_Action::PRESS), key_event(Key::C, Key_Action::PRESS),
           key_event(Key::B, Key_Action::PRESS)});
    EXPECT_TRUE(key_pressed(Key::B, true, false));
    EXPECT_TRUE(has_any(window.events[0].flags, Window_Event_Flags::CONSUMED));
    EXPECT_FALSE(has_any(window.events[2].flags, Window_Event_Flags::CONSUMED));
    EXPECT_TRUE(key_pressed(Key::B, true, false));
    EXPECT_TRUE(has_any(window.events[2].flags, Window_Event_Flags::CONSUMED));
    EXPECT_FALSE(key_pressed(Key::B, true, false));
    EXPECT_TRUE(key_pressed(Key::C, false, false));
}

TEST_F(WindowEvents, QueriesByAction) {
    using Query = bool (*)(Key, bool, bool);
    struct Case {
        const char *name;
        Query query;
        Key_Action action;
        bool expected;
    } cases[] = {
        {"pressed/PRESS", key_pressed, Key_Action::PRESS, true},
        {"pressed/REPEAT", key_pressed, Key_Action::REPEAT, false},
        {"released/RELEASE", key_released, Key_Action::RELEASE, true},
        {"released/PRESS", key_released, Key_Action::PRESS, false},
        {"repeated/REPEAT", key_repeated, Key_Action::REPEAT, true},
        {"repeated/PRESS", key_repeated, Key_Action::PRESS, false},
        {"pressed_or_repeated/PRESS", key_pressed_or_repeated, Key_Action::PRESS, true},
        {"pressed_or_repeated/REPEAT", key_pressed_or_repeated, Key_Action::REPEAT, true},
        {"pressed_or_repeated/RELEASE", key_pressed_or_repeated, Key_Action::RELEASE, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        frame({key_event(Key::F11, c.action)});
        EXPECT_EQ(c.query(Key::F11, false, false), c.expected);
        EXPECT_FALSE(c.query(Key::F12, false, false));
    }
}

TEST_F(WindowEvents, PressedOrRepeatedMarksTheFirstOfEither) {
    frame({key_event(Key::UP, Key_Action::RELEASE), key_event(Key::UP, Key_Action::REPEAT),
           key_event(Key::UP, Key_Action::PRESS)});
    EXPECT_TRUE(key_pressed_or_repeated(Key::UP, true, false));
    EXPECT_FALSE(has_any(window.events[0].flags, Window_Event_Flags::CONSUMED));
    EXPECT_TRUE(has_any(window.events[1].flags, Window_Event_Flags::CONSUMED));
    EXPECT_FALSE(has_any(window.events[2].flags, Window_Event_Flags::CONSUMED));
}

TEST_F(WindowEvents, KeyActionGet) {
    frame({text_event('q'), key_event(Key::Q, Key_Action::REPEAT)});
    Key_Action_Result r = key_action_get(Key::Q, true, false);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.action, Key_Action::REPEAT);
    r = key_action_get(Key::Q, false, false);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.action, Key_Action::RELEASE);
    EXPECT_TRUE(key_action_get(Key::Q, false, true).found);
}

TEST_F(WindowEvents, MouseButtonsAreKeysFromMouseStart) {
    struct Case {
        Mouse_Button button;
        s32 code;
    } cases[] = {{Mouse_Button::LEFT, 349}, {Mouse_Button::RIGHT, 350}, {Mouse_Button::MIDDLE, 351}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        frame({key_event(static_cast<Key>(c.code), Key_Action::PRESS)});
        EXPECT_TRUE(mouse_button_pressed(c.button, false, false));
        EXPECT_FALSE(mouse_button_released(c.button, false, false));
        frame({key_event(static_cast<Key>(c.code), Key_Action::RELEASE)});
        EXPECT_TRUE(mouse_button_released(c.button, false, false));
    }
    static_assert(Key::M1 == Key::MOUSE_START && Key::MOUSE_LEFT == Key::MOUSE_START);
    static_assert(Mouse_Button::M1 == Mouse_Button::LEFT && static_cast<s32>(Key::MOUSE_MIDDLE) == 351);
    frame({key_event(Key::M1, Key_Action::PRESS)});
    EXPECT_TRUE(mouse_button_pressed(Mouse_Button::M1, false, false));
    EXPECT_TRUE(key_pressed(Key::MOUSE_LEFT, false, false));
}

TEST_F(WindowEvents, ModifiersFollowKeyEventsAcrossFrames) {
    struct Step {
        std::vector<Window_Event> events;
        Modifiers expected;
    } steps[] = {
        {{key_event(Key::CONTROL, Key_Action::PRESS), key_event(Key::A, Key_Action::PRESS)},
         Modifiers::CONTROL},
        {{}, Modifiers::CONTROL}, // held across frames
        {{key_event(Key::SHIFT, Key_Action::REPEAT)}, Modifiers::CONTROL | Modifiers::SHIFT},
        {{key_event(Key::ALT, Key_Action::PRESS), key_event(Key::ALT, Key_Action::RELEASE)},
         Modifiers::CONTROL | Modifiers::SHIFT},
        {{key_event(Key::SUPER, Key_Action::PRESS), key_event(Key::SHIFT, Key_Action::RELEASE)},
         Modifiers::CONTROL | Modifiers::SUPER},
        {{key_event(Key::CONTROL, Key_Action::RELEASE)}, Modifiers::SUPER},
    };
    for (size_t i = 0; i < std::size(steps); i++) {
        SCOPED_TRACE(i);
        window.events.count = 0;
        for (const Window_Event &e : steps[i].events) push_event(e);
        window_process_mod_keys();
        EXPECT_EQ(window.modifiers, steps[i].expected);
    }
}

TEST_F(WindowEvents, ConsumedModifierEventsStillCount) {
    frame({key_event(Key::SHIFT, Key_Action::PRESS)});
    EXPECT_TRUE(key_pressed(Key::SHIFT, true, false));
    window_process_mod_keys();
    EXPECT_TRUE(mod_key_down(Modifiers::SHIFT));
}

TEST_F(WindowEvents, ModKeyDownMeansAny) {
    struct Case {
        Modifiers held, asked;
        bool expected;
    } cases[] = {
        {Modifiers::SHIFT, Modifiers::SHIFT | Modifiers::CONTROL, true},
        {Modifiers::CONTROL, Modifiers::SHIFT | Modifiers::CONTROL, true},
        {Modifiers::ALT, Modifiers::SHIFT | Modifiers::CONTROL, false},
        {Modifiers::NONE, Modifiers::SHIFT, false},
        {Modifiers::SUPER | Modifiers::ALT, Modifiers::SUPER, true},
    };
    for (const Case &c : cases) {
        window.modifiers = c.held;
        EXPECT_EQ(mod_key_down(c.asked), c.expected);
    }
}

TEST_F(WindowEvents, EmptyFrameAnswersFalse) {
    frame({});
    EXPECT_FALSE(key_pressed(Key::A, true, true));
    EXPECT_FALSE(key_released(Key::A, true, true));
    EXPECT_FALSE(key_repeated(Key::A, true, true));
    EXPECT_FALSE(key_pressed_or_repeated(Key::A, true, true));
    EXPECT_FALSE(mouse_button_pressed(Mouse_Button::LEFT, true, true));
    EXPECT_FALSE(mouse_button_released(Mouse_Button::LEFT, true, true));
    Key_Action_Result r = key_action_get(Key::A, false, false);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.action, Key_Action::RELEASE);
    window_process_mod_keys();
    EXPECT_EQ(window.modifiers, Modifiers::NONE);
}

TEST(WindowRecord, InitialState) {
    Window w = {};
    EXPECT_TRUE(w.is_focused);
    EXPECT_FALSE(w.should_close || w.resized_last_frame || w.is_minimized || w.is_maximized ||
                 w.is_fullscreen || w.wants_fullscreen);
    EXPECT_EQ(w.mouse_pointer, Mouse_Pointer::ARROW);
    EXPECT_EQ(w.min_frame_time, 0);
    EXPECT_EQ(w.events.data, nullptr);
    EXPECT_EQ(w.callback_context, nullptr);
    set_mouse_pointer(Mouse_Pointer::MOVE);
    EXPECT_EQ(window.mouse_pointer, Mouse_Pointer::MOVE);
    window = Window{};
}

} // namespace
