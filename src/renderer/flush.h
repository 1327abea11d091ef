// The flush: turns the recorded pass list into GL work.
//
// flush() walks renderer.passes in order and, for each pass, binds what it
// needs, uploads its vertex (and index) window into vb / ib and draws it into
// the framebuffer bound at entry. Custom passes call their procedure; blur
// passes read back what is already drawn under their rectangle, blur it at a
// reduced resolution through renderer.caches and composite it back with the UI
// program's rounded corners. Afterwards the pass list, the clip and opacity
// stacks and both pools are empty, ready for the next frame (or the next part
// of one: a frame may flush more than once).
//
// Under the hood:
// - Program, vertex array and buffers are bound only when the pass kind
//   changes; textures only when the pass's texture list (compared by address,
//   not content) is not the last one bound; u_opacity only when it changes; the
//   scissor test is switched only on change. One upload and one draw call per
//   STANDARD or UI pass.
// - A flush with an empty pass list makes no GL call and resets nothing.
// - The framebuffer binding and the clear colour at entry are restored on the
//   way out; blending stays on (source alpha, one minus source alpha).
// - Statistics: the flush fills frame_stats as it goes, then copies it into
//   last_frame_stats (pass.h) and zeroes frame_stats for the next frame's
//   recording. last_frame_stats is kept until the next non-empty flush.
// Main thread only, with the GL context current; custom procedures run
// synchronously inside it.
#pragma once

#include "base/types.h"
#include "renderer/clip.h"
#include "renderer/rect.h"

namespace tessera {

// Draws everything recorded since the last flush and empties the lists, stacks
// and pools. A custom pass without a procedure stops the program (assertion).
void flush();

// The sizes one blur pass works with; blur_plan computes them from the pass's
// rectangle and radius and the target size, and flush follows them. Exposed so
// that the geometry can be checked without GL.
struct Blur_Plan {
    bool run = false;            // false: the pass draws nothing
    Rect rect = {};              // the pass's rectangle, floored
    Vector2 rect_dim = {};       // its size
    u32 radius = 0;              // truncated
    s32 downsampling_passes = 0; // k: the blur runs at 1 / 2^k
    Vector2 fb_dim = {};         // the read-back region, before halving
    Rect padded_rect = {};       // the read-back region in target pixels (top-left origin)
    Rect sample_uvs = {};        // where rect lies in the read-back region, v upwards
};

Blur_Plan blur_plan(Rect rect, f32 radius, s32 target_width, s32 target_height);

} // namespace tessera
