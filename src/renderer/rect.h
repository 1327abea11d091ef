// Rect: a floating-point rectangle in window pixels (top-left origin, y down).
//
// The four floats x0, y0, x1, y1 are also reachable as left, top, right, bottom,
// as the corners p0 / p1 (and min / max), and as component[4]; all names share
// the storage. Nothing normalises a rectangle whose x1 is below x0.
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

} // namespace tessera
