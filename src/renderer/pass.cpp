#include "renderer/pass.h"

#include "arena.h"
#include "base/assert.h"
#include "base/context.h"
#include "renderer/renderer.h"

#include <cstring>

namespace tessera {

static_assert(PASS_WINDOW_SIZE == RENDERER_BUFFER_SIZE, "one window is one upload of vb / ib");
static_assert(STANDARD_PASS_VERTEX_LIMIT == PASS_WINDOW_SIZE / sizeof(Standard_Vertex));
static_assert(STANDARD_PASS_INDEX_LIMIT * sizeof(u16) == PASS_WINDOW_SIZE);
static_assert(UI_PASS_WINDOW_LIMIT == PASS_WINDOW_SIZE - sizeof(UI_Vertex));
// A window extended by the bytes the last one used stays 8-byte aligned.
static_assert(sizeof(Standard_Vertex) % 8 == 0 && sizeof(UI_Vertex) % 8 == 0);
static_assert(offsetof(Pass_Base, clip) == 0 && offsetof(Pass_Base, opacity) == 8 &&
              offsetof(Pass_Base, kind) == 12);
static_assert(sizeof(Standard_Pass) <= sizeof(Pass) && sizeof(UI_Pass) <= sizeof(Pass) &&
              sizeof(Blur_Pass) <= sizeof(Pass) && sizeof(Custom_Pass) <= sizeof(Pass));
static_assert(std::is_trivially_copyable_v<Pass>);

Frame_Stats frame_stats;

static void count_begin(Pass_Begin_Reason reason) {
    frame_stats.pass_begin_reasons[static_cast<u32>(reason)]++;
}

// ---- Windows -----------------------------------------------------------------------

// A fresh window for the pass being opened in `pool`. `used` is the number of
// bytes written into the pool's most recent window, `total` the running total
// of bytes taken from the pool.
//
// The last window's unwritten tail, PASS_WINDOW_SIZE - used bytes, ends at the
// pool's end; the new window starts there and the pool grows by `used`, so the
// new window spans a full PASS_WINDOW_SIZE. Only a window that was never
// written to (used 0) or is full gets a fresh block.
static u8 *open_window(Bump_Pool *pool, s64 used, s64 *total, bool contiguous) {
    if (used > 0 && used < PASS_WINDOW_SIZE) {
        u8 *end = pool->current_point;
        u8 *window = end - (PASS_WINDOW_SIZE - used);
        u8 *grown = take(pool, used);
        // Vertex sizes are multiples of the pool's alignment, so the vertex pool
        // never pads; the index pool may pad by up to 6 bytes, which the taken
        // block covers.
        if (contiguous) ASSERT(grown == end);
        (void)grown;
        *total += used;
        return window;
    }
    u8 *window = take(pool, PASS_WINDOW_SIZE);
    *total += PASS_WINDOW_SIZE;
    return window;
}

// ---- The list ------------------------------------------------------------------------

Pass *push_new_pass(Pass_Kind kind) {
    Renderer &r = renderer;
    Pass *slot;
    if (r.passes.count > 0 && r.passes.data[r.passes.count - 1].base.kind == Pass_Kind::NONE) {
        slot = &r.passes.data[r.passes.count - 1];
        *slot = Pass{};
    } else {
        slot = array_add(&r.passes);
    }

    if (kind == Pass_Kind::UI) {
        UI_Pass &p = slot->ui;
        p.vertex_data =
            open_window(&r.vertex_data, r.vertex_current_allocation, &r.vertex_data_allocated, true);
        p.vertex_count = 0;
        r.vertex_current_allocation = 0;
    } else if (kind == Pass_Kind::STANDARD) {
        Standard_Pass &p = slot->standard;
        p.vertex_data =
            open_window(&r.vertex_data, r.vertex_current_allocation, &r.vertex_data_allocated, true);
        p.vertex_count = 0;
        r.vertex_current_allocation = 0;
        p.index_data = reinterpret_cast<u16 *>(
            open_window(&r.index_data, r.index_current_allocation, &r.index_data_allocated, false));
        p.index_count = 0;
        r.index_current_allocation = 0;
    }

    slot->base.kind = kind;
    slot->base.clip = r.clip_stack.count ? r.clip_stack.data[r.clip_stack.count - 1] : Clip{};
    slot->base.opacity = r.opacity_stack.count ? r.opacity_stack.data[r.opacity_stack.count - 1] : 1.0f;
    return slot;
}

Pass *find_or_create_pass(Pass_Kind kind) {
    Renderer &r = renderer;
    Pass *last = r.passes.count ? &r.passes.data[r.passes.count - 1] : nullptr;
    if (last && last->base.kind == kind) return last;
    // Only the stacks put a NONE pass at the end.
    bool closed_by_stack = last && last->base.kind == Pass_Kind::NONE && kind != Pass_Kind::NONE;
    count_begin(closed_by_stack ? Pass_Begin_Reason::CLIP_OR_OPACITY_CHANGE : Pass_Begin_Reason::KIND_CHANGE);
    return push_new_pass(kind);
}

// ---- Textures ----------------------------------------------------------------------

template <typename T>
static T *as_pass(Pass *slot);
template <>
Standard_Pass *as_pass<Standard_Pass>(Pass *slot) {
    return &slot->standard;
}
template <>
UI_Pass *as_pass<UI_Pass>(Pass *slot) {
    return &slot->ui;
}

template <typename T>
f32 register_texture(T **pass, u32 id) {
    if (id == 0) return -1;
    T *p = *pass;
    // Newest first: consecutive draws tend to repeat the texture added last.
    for (s32 i = p->texture_count - 1; i >= 0; i--) {
        if (p->texture_data[i] == id) return static_cast<f32>(i);
    }

    s32 units = static_cast<s32>(renderer.texture_units_available);
    // With no units the list below would have no room for even one entry.
    ASSERT(units >= 1 && units <= static_cast<s32>(RENDERER_MAX_TEXTURE_UNITS),
           PASS_TEXTURE_UNITS_OUT_OF_RANGE, renderer.texture_units_available, RENDERER_MAX_TEXTURE_UNITS);
    if (p->texture_count >= units) {
        count_begin(Pass_Begin_Reason::FULL_TEXTURE_LIST);
        p = as_pass<T>(push_new_pass(T::KIND));
        *pass = p;
    }
    if (!p->texture_data) {
        u64 bytes = static_cast<u64>(units) * sizeof(u32);
        p->texture_data = static_cast<u32 *>(arena_alloc(temporary_storage(), bytes, alignof(u32)));
        ASSERT(p->texture_data, PASS_TEXTURE_LIST_FAILED, units);
    }
    s32 index = p->texture_count++;
    p->texture_data[index] = id;
    return static_cast<f32>(index);
}

template <typename T>
Textured_Pass<T> get_textured_pass(u32 id) {
    Textured_Pass<T> result;
    result.pass = as_pass<T>(find_or_create_pass(T::KIND));
    result.texture_index = register_texture(&result.pass, id);
    return result;
}

template f32 register_texture<Standard_Pass>(Standard_Pass **, u32);
template f32 register_texture<UI_Pass>(UI_Pass **, u32);
template Textured_Pass<Standard_Pass> get_textured_pass<Standard_Pass>(u32);
template Textured_Pass<UI_Pass> get_textured_pass<UI_Pass>(u32);

// ---- Standard passes ---------------------------------------------------------------

Standard_Pass *standard_reserve_vertex_and_index(s32 vertices, s32 indices) {
    Standard_Pass *p = &find_or_create_pass(Pass_Kind::STANDARD)->standard;
    if (p->vertex_count >= STANDARD_PASS_VERTEX_LIMIT - vertices ||
        p->index_count >= STANDARD_PASS_INDEX_LIMIT - indices) {
        count_begin(Pass_Begin_Reason::FULL_WINDOW);
        p = &push_new_pass(Pass_Kind::STANDARD)->standard;
    }
    return p;
}

// The reserve above guarantees room; a caller that skipped it must not write
// into the next window.
void standard_add_indices(Standard_Pass *p, Array_View<const u16> indices) {
    ASSERT(indices.count >= 0 && indices.count < STANDARD_PASS_INDEX_LIMIT - p->index_count);
    u16 *to = p->index_data + p->index_count;
    u16 first = static_cast<u16>(p->vertex_count);
    for (s64 k = 0; k < indices.count; k++) to[k] = static_cast<u16>(first + indices.data[k]);
    p->index_count += static_cast<s32>(indices.count);
    renderer.index_current_allocation += static_cast<s64>(sizeof(u16)) * indices.count;
}

void standard_add_vertex(Standard_Pass *p, const Standard_Vertex &vertex) {
    ASSERT(p->vertex_count < STANDARD_PASS_VERTEX_LIMIT - 1);
    memcpy(p->vertex_data + static_cast<s64>(p->vertex_count) * sizeof(Standard_Vertex), &vertex,
           sizeof(Standard_Vertex));
    p->vertex_count++;
    renderer.vertex_current_allocation += sizeof(Standard_Vertex);
}

} // namespace tessera
