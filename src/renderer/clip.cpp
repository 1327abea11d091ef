#include "renderer/clip.h"

#include "base/assert.h"
#include "renderer/pass.h"
#include "renderer/renderer.h"

namespace tessera {

// ---- Conversions -----------------------------------------------------------------

// Truncated toward zero, clamped to [lo, hi]; NaN gives 0.
static s32 saturate(f32 v, s32 lo, s32 hi) {
    return min_of(max_of(truncate_to_s32(v), lo), hi);
}

Clip to_clip(Rect r) {
    Clip c;
    c.x = static_cast<s16>(saturate(r.x0, -32768, 32767));
    c.y = static_cast<s16>(saturate(r.y0, -32768, 32767));
    c.w = static_cast<u16>(saturate(r.x1 - r.x0, 0, 65535));
    c.h = static_cast<u16>(saturate(r.y1 - r.y0, 0, 65535));
    return c;
}

// ---- Clip stack --------------------------------------------------------------------

// Each operation first closes the pass being filled (see the manual in clip.h);
// the NONE pass goes in before the stack changes, its values do not matter.

void push_clip(Clip clip) {
    push_new_pass(Pass_Kind::NONE);
    array_add(&renderer.clip_stack, clip);
}

void push_clip(Rect rect) {
    push_clip(to_clip(rect));
}

void pop_clip() {
    ASSERT(renderer.clip_stack.count > 0, CLIP_STACK_UNDERFLOW);
    push_new_pass(Pass_Kind::NONE);
    renderer.clip_stack.count--;
}

bool currently_clipping() {
    return renderer.clip_stack.count > 0;
}

Clip current_clip() {
    ASSERT(renderer.clip_stack.count > 0, CLIP_STACK_EMPTY);
    return renderer.clip_stack.data[renderer.clip_stack.count - 1];
}

// ---- Opacity stack -----------------------------------------------------------------

void push_opacity(f32 opacity) {
    push_new_pass(Pass_Kind::NONE);
    array_add(&renderer.opacity_stack, opacity);
}

void pop_opacity() {
    ASSERT(renderer.opacity_stack.count > 0, OPACITY_STACK_UNDERFLOW);
    push_new_pass(Pass_Kind::NONE);
    renderer.opacity_stack.count--;
}

} // namespace tessera
