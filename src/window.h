// The window record: position and size, frame timing, window-state flags.
//
// The one instance is the global `window`. Only the main thread touches it.
#pragma once

#include "base/context.h"
#include "base/types.h"

namespace tessera {

struct Window_Rect {
    s32 x, y, width, height;
};

struct Window {
    Window_Rect rect = {};
    f64 last_frame_time = 0;   // seconds: duration of the last frame
    s128 last_update_time = 0; // femtoseconds of the monotonic clock: when the last frame ended
    s128 min_frame_time = 0;   // femtoseconds; 0 or less: no frame-rate limit
    bool should_close = false;
    bool resized_last_frame = false;
    bool is_focused = true;
    bool is_minimized = false;
    bool is_maximized = false;
    bool is_fullscreen = false;
    bool wants_fullscreen = false;
    Window_Rect backed_up_rect = {};
    Context *callback_context = nullptr; // the main thread's; window-system callbacks run with it
};

extern Window window;

} // namespace tessera
