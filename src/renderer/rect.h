// Rect: a floating-point rectangle in window pixels (top-left origin, y down),
// and the small pure helpers over it.
//
// The four floats x0, y0, x1, y1 are also reachable as left, top, right, bottom,
// as the corners p0 / p1 (and min / max), and as component[4]; all names share
// the storage. Nothing normalises a rectangle whose x1 is below x0: the helpers
// return inverted rectangles as they come out.
#pragma once

#include "base/types.h"

namespace tessera {

struct Rect {
    union {
        struct {
            f32 x0, y0, x1, y1;
        };
        struct {
            f32 left, top, right, bottom;
        };
        struct {
            Vector2 p0, p1;
        };
        struct {
            Vector2 min, max;
        };
        f32 component[4];
    };
};

static_assert(sizeof(Rect) == 16);

// (width, height); negative for an inverted rectangle.
inline Vector2 dimensions(Rect r) {
    return {r.x1 - r.x0, r.y1 - r.y0};
}

inline Vector2 center(Rect r) {
    return {(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2};
}

// Grows the rectangle by v on every side; a negative v shrinks it.
inline Rect pad(Rect r, f32 v) {
    return {r.x0 - v, r.y0 - v, r.x1 + v, r.y1 + v};
}

// Moves the rectangle by v along x and by v along y.
inline Rect shift(Rect r, f32 v) {
    return {r.x0 + v, r.y0 + v, r.x1 + v, r.y1 + v};
}

// Disjoint inputs give an inverted rectangle (x1 < x0 or y1 < y0).
inline Rect intersect(Rect a, Rect b) {
    return {max_of(a.x0, b.x0), max_of(a.y0, b.y0), min_of(a.x1, b.x1), min_of(a.y1, b.y1)};
}

// All four edges count as inside.
inline bool collide(Vector2 v, Rect r) {
    return r.x0 <= v.x && v.x <= r.x1 && r.y0 <= v.y && v.y <= r.y1;
}

// Scales only the alpha channel of a colour.
inline Vector4 blend(Vector4 v, f32 alpha) {
    return {v.x, v.y, v.z, v.w * alpha};
}

} // namespace tessera
