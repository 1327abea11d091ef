#include "utils.h"

#include "base/assert.h"
#include "window.h"

#include <cmath>
#include <cstring>

namespace tessera {

f64 round(f64 x) {
    if (x >= 0) {
        f64 y = std::floor(x);
        if (x - y >= 0.5) y += 1;
        return y;
    }
    // Negative, and NaN.
    f64 y = std::ceil(x);
    if (y - x >= 0.5) y -= 1;
    return y;
}

u64 my_next_power_of_two(u64 x) {
    if (x <= 1) return x; // the leading-zero count of x - 1 = 0 is undefined
    int leading = __builtin_clzll(x - 1);
    return leading == 0 ? 0 : 1ull << (64 - leading);
}

Table<u64, Hashed_String> hashed_strings;

Hashed_String create_hashed_string(String str) {
    u64 hash = fnv1a_64(str);
    if (Hashed_String *existing = table_find(&hashed_strings, hash)) {
        ASSERT(equal(existing->name, str), HASH_COLLISION_MESSAGE, str, existing->name, hash);
        return Hashed_String{str, hash};
    }
    // Keep a copy: the caller's bytes may be scratch storage.
    String copy = {str.count, static_cast<u8 *>(allocate(str.count, heap_allocator))};
    if (str.count) memcpy(copy.data, str.data, static_cast<size_t>(str.count));
    if (!hashed_strings.allocator.proc) hashed_strings.allocator = heap_allocator;
    table_set(&hashed_strings, hash, Hashed_String{copy, hash});
    return Hashed_String{str, hash};
}

Fps_Smoothing fps_smoothing;

s32 smooth_fps() {
    f64 delta = window.last_frame_time;
    Fps_Smoothing &s = fps_smoothing;
    s.curr_index = (s.curr_index + 1) % FPS_HISTORY;
    s.average -= s.history[s.curr_index];
    s.history[s.curr_index] = delta / FPS_HISTORY;
    s.average += s.history[s.curr_index];

    if (s.average == 0) return 0;
    return truncate_to_s32(round(1.0 / s.average));
}

} // namespace tessera
