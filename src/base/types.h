// Scalar types and the small math records every part of the engine shares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

using s8 = int8_t;
using s16 = int16_t;
using s32 = int32_t;
using s64 = int64_t;
using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using f32 = float;
using f64 = double;

// Time values: femtoseconds of the monotonic clock. On x86-64 the low word comes
// first in memory, as the two-word layout (low u64, high s64) describes.
using s128 = __int128;
using u128 = unsigned __int128;

static_assert(sizeof(s128) == 16);

struct Vector2 {
    f32 x, y;
};

struct Vector3 {
    f32 x, y, z;
};

// A colour is a Vector4 of red, green, blue and alpha in 0..1.
struct Vector4 {
    f32 x, y, z, w;
};

// Row-major: _11.._14 is the first row. Transposed when uploaded to OpenGL.
struct Matrix4 {
    f32 _11, _12, _13, _14;
    f32 _21, _22, _23, _24;
    f32 _31, _32, _33, _34;
    f32 _41, _42, _43, _44;
};

constexpr Matrix4 MATRIX4_IDENTITY = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Truncation toward zero into s32. A plain cast of a value outside the range (or
// of NaN) is undefined behaviour, so those saturate, and NaN gives 0.
constexpr s32 truncate_to_s32(f64 v) {
    if (!(v == v)) return 0;
    if (v <= -2147483648.0) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<s32>(v);
}

template <typename T>
constexpr T min_of(T a, T b) {
    return b < a ? b : a;
}

template <typename T>
constexpr T max_of(T a, T b) {
    return a < b ? b : a;
}

} // namespace tessera
