// Clips and the two state stacks that decide what every new pass receives.
//
// A Clip is the integer rectangle the flush turns into the GL scissor box; one
// whose width and height are both 0 means "no clipping". The clip stack and the
// opacity stack live in the renderer record: the top element of each is what a
// pass opened from then on records (no clip and opacity 1 while a stack is
// empty). Only the top counts: clips are not intersected with the one beneath
// and opacities are not multiplied.
//
// Under the hood:
// - Every push and pop first ends the pass being filled, by putting a NONE pass
//   at the end of the pass list (or reusing the one already there), so nothing
//   drawn afterwards joins a pass opened under the old values. Consecutive stack
//   operations with no draw between them share that one NONE slot.
// - Nothing here touches GL; the flush applies the clips and opacities, and
//   empties both stacks, discarding unmatched pushes.
// - The stacks grow on the heap (amortised); everything else is pure.
// Main thread only. No locks.
#pragma once

#include "base/enum.h"
#include "base/types.h"
#include "renderer/rect.h"

namespace tessera {

// Window pixels, top-left origin. w == 0 && h == 0: no clipping.
struct Clip {
    s16 x = 0; // left edge
    s16 y = 0; // top edge
    u16 w = 0; // width
    u16 h = 0; // height
};

static_assert(sizeof(Clip) == 8);

// Which point of a glyph the text hit test goes by.
#define TESSERA_STOP_AT_LIST(X)                                                                              \
    X(START, 0)  /* the glyph's left edge */                                                                 \
    X(CENTER, 1) /* its middle */                                                                            \
    X(END, 2)    /* its right edge */
TESSERA_ENUM(Stop_At, u64, TESSERA_STOP_AT_LIST)

static_assert(sizeof(Stop_At) == 8);

// Assertion messages of the stacks.
inline constexpr char CLIP_STACK_UNDERFLOW[] = "pop_clip without a matching push_clip";
inline constexpr char OPACITY_STACK_UNDERFLOW[] = "pop_opacity without a matching push_opacity";
inline constexpr char CLIP_STACK_EMPTY[] =
    "current_clip on an empty clip stack; ask currently_clipping first";

// ---- Conversions -----------------------------------------------------------------

// x = x0, y = y0, w = x1 - x0, h = y1 - y0, each truncated toward zero (the width
// is the truncated difference, not the difference of truncated edges). Values
// outside the field's range saturate (x, y to -32768..32767, w, h to 0..65535) and
// NaN gives 0, so any rectangle converts without undefined behaviour.
Clip to_clip(Rect r);

// (x, y, x + w, y + h) as floats.
inline Rect to_rect(Clip c) {
    return {static_cast<f32>(c.x), static_cast<f32>(c.y), static_cast<f32>(s32{c.x} + s32{c.w}),
            static_cast<f32>(s32{c.y} + s32{c.h})};
}

// ---- Clip stack --------------------------------------------------------------------

// Ends the pass being filled, then makes `clip` the clip in force.
void push_clip(Clip clip);
void push_clip(Rect rect);

// Ends the pass being filled, then drops the clip in force. Stops the program
// (CLIP_STACK_UNDERFLOW) when the stack is empty.
void pop_clip();

// The clip stack is not empty.
bool currently_clipping();

// The clip in force. Stops the program (CLIP_STACK_EMPTY) on an empty stack.
Clip current_clip();

// ---- Opacity stack -----------------------------------------------------------------

// Ends the pass being filled, then makes `opacity` (1 = opaque) the one in force.
void push_opacity(f32 opacity);

// Ends the pass being filled, then drops the opacity in force. Stops the program
// (OPACITY_STACK_UNDERFLOW) when the stack is empty.
void pop_opacity();

} // namespace tessera
