// Small shared helpers: rounding, powers of two, hashed strings, and the
// frame-rate smoother behind the demo's frames-per-second figure.
#pragma once

#include "base/string.h"
#include "base/table.h"
#include "base/types.h"

namespace tessera {

// Nearest integer value, halves away from zero (2.5 -> 3, -2.5 -> -3, -0.4 -> -0).
f64 round(f64 x);

// The smallest power of two >= x for x >= 1; 0 for 0 and for every x above 2^63.
u64 my_next_power_of_two(u64 x);

// ---- Hashed strings ------------------------------------------------------------

inline constexpr u64 FNV1A_64_OFFSET_BASIS = 0xcbf29ce484222325ull;
inline constexpr u64 FNV1A_64_PRIME = 0x100000001b3ull;

constexpr u64 fnv1a_64(String s) {
    u64 h = FNV1A_64_OFFSET_BASIS;
    for (s64 i = 0; i < s.count; i++) {
        h ^= s.data[i];
        h *= FNV1A_64_PRIME;
    }
    return h;
}

// A string with its FNV-1a hash. Equality is equality of hashes: names are
// only for printing and for interfaces that need the text (GL uniform lookup).
struct Hashed_String {
    String name; // a view: the bytes are not copied
    u64 hash = 0;
};

// A build-time constant: "u_projection"_hs.
template <detail::String_Literal L>
constexpr Hashed_String operator""_hs() {
    constexpr String name = operator""_s<L>();
    return Hashed_String{name, fnv1a_64(name)};
}

inline constexpr char HASH_COLLISION_MESSAGE[] = "Hasshes for strings \"%\" and \"%\" collided (%)";

// Hashes `str` and records it; two different strings with one hash stop the
// program (HASH_COLLISION_MESSAGE). The result views `str`'s bytes.
Hashed_String create_hashed_string(String str);

// The bucket hash when a Hashed_String is a table key: the low 32 bits.
constexpr u32 get_hash(const Hashed_String &s) {
    return static_cast<u32>(s.hash);
}
constexpr bool compare_proc(const Hashed_String &a, const Hashed_String &b) {
    return a.hash == b.hash;
}
constexpr bool operator==(const Hashed_String &a, const Hashed_String &b) {
    return a.hash == b.hash;
}

// Every hash handed out, with the first string it was made from. The names here
// are copies owned by the table, so the check stays valid after the caller's
// bytes are gone. Never shrinks.
extern Table<u64, Hashed_String> hashed_strings;

// ---- Frame-rate smoothing ------------------------------------------------------

inline constexpr s32 FPS_HISTORY = 32;

struct Fps_Smoothing {
    f64 history[FPS_HISTORY] = {}; // frame times in seconds, each divided by 32
    u32 curr_index = 0;
    f64 average = 0; // the sum of history: the mean frame time of the last 32 frames
};

extern Fps_Smoothing fps_smoothing;

// Takes window.last_frame_time into the 32-frame mean and returns the rounded
// rate. 0 while the mean is 0 (before any frame was measured); rates beyond the
// s32 range saturate.
s32 smooth_fps();

} // namespace tessera
