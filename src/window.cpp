#include "window.h"

#include "base/log.h"

namespace tessera {

Window window;
Window_Event events_buffer[MAX_EVENTS_PER_FRAME];

// ---- Events ----------------------------------------------------------------------

void push_event(Window_Event event) {
    if (!window.events.data) window.events.data = events_buffer;
    if (window.events.count < MAX_EVENTS_PER_FRAME) {
        window.events.data[window.events.count++] = event;
        return;
    }
    with_callback_context([] { log(EVENT_OVERFLOW_MESSAGE, Log_Flags::ERROR | Log_Flags::VERBOSE_ONLY); });
}

// The first unconsumed (or any, with use_consumed) KEY event of `key` whose action
// `accepts`, marked when consume.
template <typename Accepts>
static Window_Event *find_key_event(Key key, bool consume, bool use_consumed, Accepts accepts) {
    for (Window_Event &e : window.events) {
        if (e.kind != Window_Event_Kind::KEY || e.key != key || !accepts(e.action)) continue;
        if (!use_consumed && has_any(e.flags, Window_Event_Flags::CONSUMED)) continue;
        if (consume) e.flags |= Window_Event_Flags::CONSUMED;
        return &e;
    }
    return nullptr;
}

bool key_action_check(Key key, Key_Action action, bool consume, bool use_consumed) {
    return find_key_event(key, consume, use_consumed, [action](Key_Action a) { return a == action; });
}

Key_Action_Result key_action_get(Key key, bool consume, bool use_consumed) {
    Window_Event *e = find_key_event(key, consume, use_consumed, [](Key_Action) { return true; });
    return e ? Key_Action_Result{true, e->action} : Key_Action_Result{false, Key_Action::RELEASE};
}

bool key_pressed(Key key, bool consume, bool use_consumed) {
    return key_action_check(key, Key_Action::PRESS, consume, use_consumed);
}

bool key_released(Key key, bool consume, bool use_consumed) {
    return key_action_check(key, Key_Action::RELEASE, consume, use_consumed);
}

bool key_repeated(Key key, bool consume, bool use_consumed) {
    return key_action_check(key, Key_Action::REPEAT, consume, use_consumed);
}

bool key_pressed_or_repeated(Key key, bool consume, bool use_consumed) {
    return find_key_event(key, consume, use_consumed,
                          [](Key_Action a) { return a == Key_Action::PRESS || a == Key_Action::REPEAT; });
}

static Key button_key(Mouse_Button button) {
    return static_cast<Key>(static_cast<s32>(Key::MOUSE_START) + static_cast<s32>(button));
}

bool mouse_button_pressed(Mouse_Button button, bool consume, bool use_consumed) {
    return key_action_check(button_key(button), Key_Action::PRESS, consume, use_consumed);
}

bool mouse_button_released(Mouse_Button button, bool consume, bool use_consumed) {
    return key_action_check(button_key(button), Key_Action::RELEASE, consume, use_consumed);
}

bool mod_key_down(Modifiers mod) {
    return has_any(window.modifiers, mod);
}

void window_process_mod_keys() {
    for (const Window_Event &e : window.events) {
        if (e.kind != Window_Event_Kind::KEY) continue;
        Modifiers bit;
        switch (e.key) {
        case Key::CONTROL:
            bit = Modifiers::CONTROL;
            break;
        case Key::SHIFT:
            bit = Modifiers::SHIFT;
            break;
        case Key::ALT:
            bit = Modifiers::ALT;
            break;
        case Key::SUPER:
            bit = Modifiers::SUPER;
            break;
        default:
            continue;
        }
        if (e.action == Key_Action::RELEASE) {
            window.modifiers &= ~bit;
        } else {
            window.modifiers |= bit;
        }
    }
}

void set_mouse_pointer(Mouse_Pointer pointer) {
    window.mouse_pointer = pointer;
}

// ---- Frame pacing ------------------------------------------------------------------

s128 time_discrepancy = 0;

s64 femtoseconds_to_milliseconds(s128 t) {
    return static_cast<s64>(t / FEMTOSECONDS_PER_MILLISECOND);
}

f64 femtoseconds_to_seconds(s128 t) {
    s128 whole = t / FEMTOSECONDS_PER_SECOND;
    s128 rest = t % FEMTOSECONDS_PER_SECOND;
    return static_cast<f64>(whole) + static_cast<f64>(rest) / 1e15;
}

// The double's exact value times 10^15, truncated toward zero: value = m * 2^e
// with m < 2^53, and m * 10^15 < 2^103 fits in 128 bits.
s128 seconds_to_femtoseconds(f64 seconds) {
    if (!(seconds == seconds)) return 0;
    constexpr s128 LIMIT = static_cast<s128>((~static_cast<u128>(0)) >> 1);
    if (seconds >= 1.7e23) return LIMIT; // beyond 2^127 fs; also +infinity
    if (seconds <= -1.7e23) return -LIMIT - 1;
    bool negative = seconds < 0;
    f64 magnitude = negative ? -seconds : seconds;
    int exponent;
    f64 fraction =
        __builtin_frexp(magnitude, &exponent); // magnitude = fraction * 2^exponent, fraction in [0.5, 1)
    u64 mantissa = static_cast<u64>(__builtin_ldexp(fraction, 53));
    exponent -= 53;
    u128 product = static_cast<u128>(mantissa) * static_cast<u128>(FEMTOSECONDS_PER_SECOND);
    if (exponent < 0) {
        product = exponent <= -128 ? 0 : product >> -exponent;
    } else {
        product <<= exponent; // magnitude < 1.7e23 keeps this below 2^127
    }
    s128 result = static_cast<s128>(product);
    return negative ? -result : result;
}

void window_end_frame() {
    s128 now = os_monotonic_time();
    s128 delta = now - window.last_update_time;
    if (window.min_frame_time > 0 && delta < window.min_frame_time - time_discrepancy) {
        s128 wait_time = (window.min_frame_time - time_discrepancy) - delta;
        s128 ms = wait_time / FEMTOSECONDS_PER_MILLISECOND;
        os_sleep_milliseconds(ms > INT32_MAX ? INT32_MAX : static_cast<s32>(ms));
        now = os_monotonic_time();
        s128 new_delta = now - window.last_update_time;
        // The sleep's error, including the fraction of a millisecond truncation dropped.
        time_discrepancy = new_delta - (delta + wait_time);
        delta = new_delta;
    }
    window.last_update_time = now;
    window.last_frame_time = femtoseconds_to_seconds(delta);
}

void set_fps_limit(s64 fps) {
    window.min_frame_time =
        fps > 0 ? seconds_to_femtoseconds(1.0 / static_cast<f64>(fps)) : NO_FRAME_TIME_LIMIT;
}

s64 get_fps_limit() {
    f64 frame_time = femtoseconds_to_seconds(window.min_frame_time);
    if (!(frame_time > 0)) return 0;
    f64 fps = 1.0 / frame_time;
    return fps >= 9.2e18 ? INT64_MAX : static_cast<s64>(fps);
}

} // namespace tessera
