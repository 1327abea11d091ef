// The pass list: what drawing records for the flush to draw.
//
// Drawing calls never call GL. They append to renderer.passes, an ordered list of
// 64-byte slots, each holding one pass: a run of textured triangles (STANDARD), a
// run of instanced signed-distance rectangles (UI), one blur region (BLUR) or one
// caller procedure (CUSTOM). Every pass records the clip and opacity in force
// when it was opened. A NONE pass draws nothing; the clip and opacity stacks put
// one at the end to close the pass being filled.
//
// When draws merge: a draw joins the last pass when that pass has the draw's
// kind, room for its vertices and indices (STANDARD: under 3276 vertices and
// 65536 indices; UI: at most 1023 rectangles) and the draw's texture or a free
// texture slot (at most texture_units_available per pass). Otherwise a new pass
// is opened at the end. So a frame costs one GL draw call per change of kind,
// clip, opacity or texture set.
//
// Under the hood:
// - Every STANDARD or UI pass owns a 131072-byte window of renderer.vertex_data,
//   every STANDARD pass also one of renderer.index_data; one window is exactly one
//   upload of vb / ib. A new window starts at the first unwritten byte of the
//   previous one and the pool grows only by what that one used, so a frame takes
//   from each pool about the bytes written plus one window.
// - Vertices are written once, in place; the flush uploads the windows directly.
// - Recording allocates nothing on the heap apart from the amortised growth of
//   the slot array; a pass's texture list (texture_units_available u32) comes
//   from scratch storage when the pass receives its first texture. A texture
//   lookup is a linear scan of at most 16 names; no hashing.
// - The pools reserve a fixed span; a frame that outgrows it stops the program
//   (BUMP_POOL_OVERFLOW) before anything is written.
// Pointers into passes, windows and texture lists are valid until the next flush.
// Main thread only. No locks.
#pragma once

#include "base/array.h"
#include "base/enum.h"
#include "base/types.h"
#include "renderer/clip.h"
#include "renderer/rect.h"

namespace tessera {

struct Standard_Vertex; // renderer.h

// ---- Pass kinds and slots ------------------------------------------------------------

#define TESSERA_PASS_KIND_LIST(X)                                                                            \
    X(NONE, 0)                                                                                               \
    X(STANDARD, 1)                                                                                           \
    X(UI, 2)                                                                                                 \
    X(BLUR, 3)                                                                                               \
    X(CUSTOM, 4)
TESSERA_ENUM(Pass_Kind, u16, TESSERA_PASS_KIND_LIST)

// Counted from the list; the values run 0..count-1, so they index tables.
#define TESSERA_PASS_COUNT_ONE_(name, value) +1
inline constexpr s32 PASS_KIND_COUNT = 0 TESSERA_PASS_KIND_LIST(TESSERA_PASS_COUNT_ONE_);
static_assert(static_cast<s32>(Pass_Kind::CUSTOM) == PASS_KIND_COUNT - 1);

// The bytes of one pass's vertex window and of one STANDARD pass's index window
// (the size of vb and ib).
inline constexpr s64 PASS_WINDOW_SIZE = 131072;
// A STANDARD draw joins its pass only while the vertex count stays below this
// (131072 / 40) and the index count below STANDARD_PASS_INDEX_LIMIT.
inline constexpr s32 STANDARD_PASS_VERTEX_LIMIT = 3276;
inline constexpr s32 STANDARD_PASS_INDEX_LIMIT = 65536;
// A UI rectangle joins its pass only while vertex_count * 128 is below this
// (131072 - 128): at most 1023 rectangles.
inline constexpr s64 UI_PASS_WINDOW_LIMIT = 130944;

// The head of every pass.
struct Pass_Base {
    Clip clip = {};  // scissor of the pass; {0, 0, 0, 0}: none
    f32 opacity = 0; // multiplies the alpha of everything the pass draws
    Pass_Kind kind = Pass_Kind::NONE;
};

// Textured triangles of Standard_Vertex (40 bytes each).
struct Standard_Pass {
    static constexpr Pass_Kind KIND = Pass_Kind::STANDARD;
    Pass_Base base = {{}, 0, KIND};
    s32 vertex_count = 0;
    s32 index_count = 0;
    s32 texture_count = 0;       // entries in texture_data
    u8 *vertex_data = nullptr;   // the vertex window, in renderer.vertex_data
    u16 *index_data = nullptr;   // the index window, in renderer.index_data
    u32 *texture_data = nullptr; // GL names; entry i goes to texture unit i (scratch storage)
};

// Instanced rectangles, one UI_Vertex (128 bytes) each.
struct UI_Pass {
    static constexpr Pass_Kind KIND = Pass_Kind::UI;
    Pass_Base base = {{}, 0, KIND};
    s32 vertex_count = 0;        // rectangles written
    s32 texture_count = 0;       // entries in texture_data
    u8 *vertex_data = nullptr;   // the vertex window, in renderer.vertex_data
    u32 *texture_data = nullptr; // GL names, as for Standard_Pass
};

// Blurs what is already drawn inside `rect`.
struct Blur_Pass {
    static constexpr Pass_Kind KIND = Pass_Kind::BLUR;
    Pass_Base base = {{}, 0, KIND};
    Rect rect = {};           // window pixels
    f32 radius = 0;           // pixels; 0: the pass draws nothing
    f32 edge_softness = 0;    // pixels of soft outline
    f32 corner_radii[4] = {}; // top-left, top-right, bottom-left, bottom-right
};

// Runs on the main thread inside the flush, GL context current.
using Custom_Pass_Proc = void (*)(void *data);

// Calls proc(data) at its place in the flush.
struct Custom_Pass {
    static constexpr Pass_Kind KIND = Pass_Kind::CUSTOM;
    Pass_Base base = {{}, 0, KIND};
    Custom_Pass_Proc proc = nullptr;
    void *data = nullptr;
};

// One slot of the list: `base.kind` is readable through any member and names the
// member in use. A slot appended to the list starts entirely zero.
struct Pass {
    union {
        u8 bytes[64] = {};
        Pass_Base base;
        Standard_Pass standard;
        UI_Pass ui;
        Blur_Pass blur;
        Custom_Pass custom;
    };
};

static_assert(sizeof(Pass) == 64);

// ---- Statistics ------------------------------------------------------------------

// Why a drawing pass began.
#define TESSERA_PASS_BEGIN_REASON_LIST(X)                                                                    \
    X(KIND_CHANGE, 0)            /* the last pass had another kind, or the list was empty */                 \
    X(CLIP_OR_OPACITY_CHANGE, 1) /* a stack operation had closed the last pass */                            \
    X(FULL_WINDOW, 2)            /* the last pass had no room for the draw's vertices or indices */          \
    X(FULL_TEXTURE_LIST, 3)      /* the last pass had no free texture slot */
TESSERA_ENUM(Pass_Begin_Reason, u32, TESSERA_PASS_BEGIN_REASON_LIST)

inline constexpr s32 PASS_BEGIN_REASON_COUNT = 0 TESSERA_PASS_BEGIN_REASON_LIST(TESSERA_PASS_COUNT_ONE_);
static_assert(static_cast<s32>(Pass_Begin_Reason::FULL_TEXTURE_LIST) == PASS_BEGIN_REASON_COUNT - 1);

// What one frame cost. Recording counts only pass_begin_reasons (one increment per
// pass opened for a draw, blur or custom procedure); the flush fills the rest, then
// copies the record into last_frame_stats and zeroes frame_stats for the next
// frame. A frame flushed in parts keeps the figures of its last part only.
struct Frame_Stats {
    s64 passes[PASS_KIND_COUNT] = {}; // slots of the list by kind, skipped ones included
    s64 draw_calls = 0;               // glDrawElements and glDrawArraysInstanced, blur steps included
    s64 bytes_uploaded = 0;           // by glBufferSubData
    s64 program_binds = 0;            // glUseProgram
    s64 texture_binds = 0;            // glBindTexture issued by the flush itself
    s64 scissor_changes = 0;          // glScissor calls and switches of the scissor test
    s64 blur_passes_run = 0;          // blur passes not skipped
    s64 pass_begin_reasons[PASS_BEGIN_REASON_COUNT] = {}; // indexed by Pass_Begin_Reason
};

// Being filled: by recording, then by the flush.
extern Frame_Stats frame_stats;
// The record of the last non-empty flush; kept until the next one.
extern Frame_Stats last_frame_stats;

// ---- The list --------------------------------------------------------------------

// Assertion messages of the pass list.
inline constexpr char PASS_TEXTURE_UNITS_OUT_OF_RANGE[] =
    "texture_units_available is %; a textured pass needs 1 to % units";
inline constexpr char PASS_TEXTURE_LIST_FAILED[] = "no scratch storage for a texture list of % entries";

// Ends the pass being filled and opens one of `kind` at the end of the list,
// reusing a NONE slot that is already there. It records the top of the clip and
// opacity stacks. STANDARD and UI passes get their windows (see the manual); for
// BLUR and CUSTOM the caller fills the variant's fields.
Pass *push_new_pass(Pass_Kind kind);

// The last pass when it has `kind`, otherwise push_new_pass(kind).
Pass *find_or_create_pass(Pass_Kind kind);

// A pass that a draw with GL texture `id` may join, and the index of `id` in its
// texture list (a float: it is stored in the vertex); -1 for id 0 (untextured).
template <typename T>
struct Textured_Pass {
    T *pass = nullptr;
    f32 texture_index = -1;
};

// T is Standard_Pass or UI_Pass. Finds or opens the pass of T's kind, then
// register_texture.
template <typename T>
Textured_Pass<T> get_textured_pass(u32 id);

// The index of `id` in (*pass)'s texture list, adding it when missing; -1 for id
// 0, which leaves the list untouched. A full list opens a new pass of the same
// kind, stored in *pass. T is Standard_Pass or UI_Pass.
template <typename T>
f32 register_texture(T **pass, u32 id);

// The STANDARD pass that has room for that many more vertices and indices.
Standard_Pass *standard_reserve_vertex_and_index(s32 vertices, s32 indices);

// Appends indices relative to the first vertex the caller adds next (so they go
// in before the vertices).
void standard_add_indices(Standard_Pass *p, Array_View<const u16> indices);

// Appends one vertex.
void standard_add_vertex(Standard_Pass *p, const Standard_Vertex &vertex);

} // namespace tessera
