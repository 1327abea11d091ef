// The window record, the per-frame event list and the input queries, and frame
// pacing.
//
// The desktop backend fills `window` and the event list from window-system
// callbacks during its poll; the next frame queries them. Input is queried, not
// dispatched: every query scans this frame's events (at most 32) in arrival
// order. Nothing here allocates, and nothing is locked: only the main thread
// touches the window record.
//
// Frame pacing: window_end_frame measures the frame and, when a frame-rate limit
// is set, sleeps away the rest of the budget in whole milliseconds, correcting
// later frames by the sleep's measured error.
#pragma once

#include "base/array.h"
#include "base/context.h"
#include "base/enum.h"
#include "base/types.h"

namespace tessera {

// ---- Keys, buttons, modifiers, pointers ------------------------------------------

// Key codes are the window system's (GLFW) codes. Codes without a name here
// (keypad, caps lock, ...) still arrive in events.
#define TESSERA_KEY_LIST(X)                                                                                  \
    X(SPACE, 32)                                                                                             \
    X(APOSTROPHE, 39)                                                                                        \
    X(COMMA, 44) X(MINUS, 45) X(PERIOD, 46) X(SLASH, 47) X(N0, 48) X(N1, 49) X(N2, 50) X(N3, 51) X(N4, 52)   \
        X(N5, 53) X(N6, 54) X(N7, 55) X(N8, 56) X(N9, 57) X(SEMICOLON, 59) X(EQUAL, 61) X(A, 65) X(B, 66)    \
            X(C, 67) X(D, 68) X(E, 69) X(F, 70) X(G, 71) X(H, 72) X(I, 73) X(J, 74) X(K, 75) X(L, 76)        \
                X(M, 77) X(N, 78) X(O, 79) X(P, 80) X(Q, 81) X(R, 82) X(S, 83) X(T, 84) X(U, 85) X(V, 86)    \
                    X(W, 87) X(X, 88) X(Y, 89) X(Z, 90) X(LEFT_BRACKET, 91) X(BACKSLASH, 92)                 \
                        X(RIGHT_BRACKET, 93) X(GRAVE_ACCENT, 96) X(ESCAPE, 256) X(ENTER, 257) X(TAB, 258)    \
                            X(BACKSPACE, 259) X(INSERT, 260) X(DELETE, 261) X(RIGHT, 262) X(LEFT, 263)       \
                                X(DOWN, 264) X(UP, 265) X(PAGE_UP, 266) X(PAGE_DOWN, 267) X(HOME, 268)       \
                                    X(END, 269) X(SCROLL_LOCK, 281) X(PRINT_SCREEN, 283) X(PAUSE, 284)       \
                                        X(F1, 290) X(F2, 291) X(F3, 292) X(F4, 293) X(F5, 294) X(F6, 295)    \
                                            X(F7, 296) X(F8, 297) X(F9, 298) X(F10, 299) X(F11, 300)         \
                                                X(F12, 301) X(F13, 302) X(F14, 303) X(F15, 304) X(F16, 305)  \
                                                    X(F17, 306) X(F18, 307) X(F19, 308) X(F20, 309)          \
                                                        X(F21, 310) X(F22, 311) X(F23, 312) X(F24, 313)      \
                                                            X(SHIFT, 340) X(CONTROL, 341) X(ALT, 342)        \
                                                                X(SUPER, 343) X(MENU, 348)                   \
                                                                    X(MOUSE_START, 349) X(M2, 350)           \
                                                                        X(M3, 351)
#define TESSERA_KEY_ALIASES(X) X(M1, 349) X(MOUSE_LEFT, 349) X(MOUSE_RIGHT, 350) X(MOUSE_MIDDLE, 351)
TESSERA_ENUM_WITH_ALIASES(Key, s32, TESSERA_KEY_LIST, TESSERA_KEY_ALIASES)

// The window system's action values.
#define TESSERA_KEY_ACTION_LIST(X) X(RELEASE, 0) X(PRESS, 1) X(REPEAT, 2)
TESSERA_ENUM(Key_Action, u8, TESSERA_KEY_ACTION_LIST)

// Button b is reported as key MOUSE_START + b.
#define TESSERA_MOUSE_BUTTON_LIST(X) X(M1, 0) X(M2, 1) X(M3, 2)
#define TESSERA_MOUSE_BUTTON_ALIASES(X) X(LEFT, 0) X(RIGHT, 1) X(MIDDLE, 2)
TESSERA_ENUM_WITH_ALIASES(Mouse_Button, u8, TESSERA_MOUSE_BUTTON_LIST, TESSERA_MOUSE_BUTTON_ALIASES)

#define TESSERA_MODIFIERS_LIST(X) X(NONE, 0) X(SHIFT, 1) X(CONTROL, 2) X(ALT, 4) X(SUPER, 8)
TESSERA_ENUM(Modifiers, u64, TESSERA_MODIFIERS_LIST)
TESSERA_FLAGS(Modifiers)

#define TESSERA_MOUSE_POINTER_LIST(X)                                                                        \
    X(ARROW, 0)                                                                                              \
    X(HAND_POINTING, 1) X(VBAR, 2) X(VRESIZE, 3) X(HRESIZE, 4) X(TLBR_RESIZE, 5) X(TRBL_RESIZE, 6) X(MOVE, 7)
TESSERA_ENUM(Mouse_Pointer, u64, TESSERA_MOUSE_POINTER_LIST)
inline constexpr s32 MOUSE_POINTER_COUNT = 8;

// ---- Events ----------------------------------------------------------------------

// NONE is the empty kind (0); NULL cannot be an enumerator in C++.
#define TESSERA_WINDOW_EVENT_KIND_LIST(X) X(NONE, 0) X(TEXT, 1) X(KEY, 2) X(SCROLL, 3)
TESSERA_ENUM(Window_Event_Kind, u8, TESSERA_WINDOW_EVENT_KIND_LIST)

#define TESSERA_WINDOW_EVENT_FLAGS_LIST(X) X(NONE, 0) X(CONSUMED, 1)
TESSERA_ENUM(Window_Event_Flags, u8, TESSERA_WINDOW_EVENT_FLAGS_LIST)
TESSERA_FLAGS(Window_Event_Flags)

struct Window_Event {
    Window_Event_Kind kind;
    Window_Event_Flags flags;
    union {
        u32 codepoint; // TEXT: typed text
        struct {       // KEY: keys and mouse buttons (MOUSE_START + button)
            Key key;
            Key_Action action;
        };
        Vector2 scroll; // SCROLL: horizontal and vertical offsets
    };
};

inline constexpr s64 MAX_EVENTS_PER_FRAME = 32;
inline constexpr char EVENT_OVERFLOW_MESSAGE[] = "exceeding the maximum amount of events per frame...\n";

// ---- The window record ----------------------------------------------------------

struct Window_Rect {
    s32 x, y, width, height;
};

struct Window {
    Window_Rect rect = {};           // position on the desktop and size, in screen coordinates
    Array_View<Window_Event> events; // this frame's; data is null until the first event, then events_buffer
    Vector2 mouse_position = {};     // in window coordinates
    Modifiers modifiers = Modifiers::NONE; // held, as derived from key events
    f64 last_frame_time = 0;               // seconds: duration of the last frame
    s128 last_update_time = 0;             // femtoseconds of the monotonic clock: when the last frame ended
    s128 min_frame_time = 0;               // femtoseconds; 0 or less: no frame-rate limit
    bool should_close = false;
    bool resized_last_frame = false; // the size changed during the last poll
    bool is_focused = true;
    bool is_minimized = false;
    bool is_maximized = false;
    bool is_fullscreen = false;
    bool wants_fullscreen = false;   // the backend switches at the end of the frame when this differs
    Window_Rect backed_up_rect = {}; // the windowed rectangle saved on entering full screen
    Mouse_Pointer mouse_pointer = Mouse_Pointer::ARROW; // wanted for the next frame
    Context *callback_context = nullptr; // the main thread's; window-system callbacks run with it
};

extern Window window;
extern Window_Event events_buffer[MAX_EVENTS_PER_FRAME];

// Runs `f` with the main thread's context, as window-system callbacks do.
template <typename F>
void with_callback_context(F &&f) {
    if (window.callback_context) {
        Push_Context push(window.callback_context);
        f();
    } else {
        f();
    }
}

// Appends one event to this frame's list; the 33rd and later are dropped with a
// verbose-only error (silent at NORMAL verbosity).
void push_event(Window_Event event);

// The first KEY event of `key` with `action` (skipping CONSUMED ones unless
// use_consumed), marked CONSUMED when consume. Modifiers play no part.
bool key_action_check(Key key, Key_Action action, bool consume, bool use_consumed);

struct Key_Action_Result {
    bool found;
    Key_Action action; // RELEASE when not found
};
Key_Action_Result key_action_get(Key key, bool consume, bool use_consumed);

bool key_pressed(Key key, bool consume, bool use_consumed);
bool key_released(Key key, bool consume, bool use_consumed);
bool key_repeated(Key key, bool consume, bool use_consumed);
bool key_pressed_or_repeated(Key key, bool consume, bool use_consumed);
bool mouse_button_pressed(Mouse_Button button, bool consume, bool use_consumed);
bool mouse_button_released(Mouse_Button button, bool consume, bool use_consumed);

// True when any bit of `mod` is held.
bool mod_key_down(Modifiers mod);

// Updates window.modifiers from this frame's modifier key events (consumed ones
// included). Call once per frame before querying.
void window_process_mod_keys();

// Takes effect when apply_mouse_pointer runs at the end of the frame.
void set_mouse_pointer(Mouse_Pointer pointer);

// ---- Frame pacing ------------------------------------------------------------------

inline constexpr s128 FEMTOSECONDS_PER_SECOND = 1'000'000'000'000'000;
inline constexpr s128 FEMTOSECONDS_PER_MILLISECOND = 1'000'000'000'000;
// set_fps_limit's "no limit": -2^63 in the high word, 0 in the low word.
inline constexpr s128 NO_FRAME_TIME_LIMIT = static_cast<s128>(static_cast<u128>(1) << 127);

// The sleep error measured on the last paced frame, subtracted from later budgets.
extern s128 time_discrepancy;

// Femtoseconds to whole milliseconds and to seconds; seconds to femtoseconds
// (the double's exact value times 10^15, truncated; saturating).
s64 femtoseconds_to_milliseconds(s128 t);
f64 femtoseconds_to_seconds(s128 t);
s128 seconds_to_femtoseconds(f64 seconds);

void window_end_frame();
void set_fps_limit(s64 fps);
s64 get_fps_limit();

// The clock and the sleep frame pacing uses: CLOCK_MONOTONIC_RAW in femtoseconds,
// and one nanosleep of `ms` milliseconds (not resumed when interrupted). They
// live in a translation unit of their own, so a test binary can link its own
// definitions in their place; the shipped program calls them directly.
s128 os_monotonic_time();
void os_sleep_milliseconds(s32 ms);

} // namespace tessera
