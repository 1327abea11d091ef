// Framebuffers, render textures and renderbuffers: off-screen drawing targets.
//
// Every operation here calls GL (main thread, context current); nothing
// allocates CPU memory.
//
// Bindings: init of a framebuffer or renderbuffer leaves it bound. check, read,
// size and both attach operations act on whatever is bound (GL_FRAMEBUFFER,
// the read framebuffer, GL_RENDERBUFFER), not on the record they are given, so
// the caller binds first. Attaching a texture also leaves unit 0 active with
// that texture bound. blit leaves its source bound for reading and its target
// for drawing.
//
// A Render_Texture is made in four steps: init and set up the texture (its
// size, GL_RGBA8, filter and wrap), init the framebuffer (it stays bound),
// attach the texture as GL_COLOR_ATTACHMENT0, and check. It is resized through
// its texture; the framebuffer keeps the attachment.
//
// Costs: blit is one GPU copy; read stalls until the GPU has drawn everything
// before it.
#pragma once

#include "base/array.h"
#include "base/types.h"
#include "gl/gl.h"
#include "renderer/rect.h"
#include "renderer/texture.h"

namespace tessera {

struct Framebuffer {
    u32 id = 0; // GL framebuffer name; 0: none (binding 0 selects the window's)
};

// A framebuffer whose colour attachment 0 is level 0 of tx.
struct Render_Texture {
    Framebuffer fb;
    Texture tx;
};

// Storage is always GL_RGBA8.
struct Renderbuffer {
    u32 width = 0;  // pixels, as last sized
    u32 height = 0; // pixels, as last sized
    u32 id = 0;     // GL renderbuffer name; 0: none
};

// ---- Framebuffers ----------------------------------------------------------------

// Filled with the cause: one of the three status names below, or empty.
inline constexpr char FRAMEBUFFER_INCOMPLETE_MESSAGE[] = "failed to complete framebuffer (%)\n";

// Generates a framebuffer and leaves it bound to GL_FRAMEBUFFER.
void init(Framebuffer *fb);
// Deletes it, if any; id becomes 0. No GL call when id is 0.
void deinit(Framebuffer *fb);
void bind(Framebuffer *fb);
// Binds `id` to GL_FRAMEBUFFER; 0 returns drawing to the window.
void framebuffer_bind(u32 id);

// Attach to the framebuffer bound to GL_FRAMEBUFFER; `fb` is not read. The
// texture form binds the texture on unit 0 first and attaches its level `lod`;
// the renderbuffer form leaves the renderbuffer bound.
void attach(Framebuffer *fb, Texture texture, u32 attachment);
void attach(Framebuffer *fb, Renderbuffer rb, u32 attachment);

// Whether the framebuffer bound to GL_FRAMEBUFFER is complete; `fb` is not
// read. When it is not, logs FRAMEBUFFER_INCOMPLETE_MESSAGE at error level with
// GL_FRAMEBUFFER_UNSUPPORTED, GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT,
// GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT or, for any other status, an
// empty cause.
bool check(Framebuffer *fb);

// Copies `src` of `fb` into `dst` of `target` (null: the window's framebuffer).
// Coordinates are GL's (origin bottom-left); each is truncated toward zero to
// an integer, saturating outside the s32 range, NaN becoming 0. `buffers` is a
// GL buffer mask (GL_COLOR_BUFFER_BIT, ...), `filter` GL_NEAREST or GL_LINEAR.
void blit(Framebuffer *fb, Framebuffer *target, Rect src, Rect dst, u32 buffers, u32 filter);

// The bytes read() writes for a width by height rectangle of `channels` (1..4)
// channels: every row padded to a multiple of 4 bytes, as GL packs them.
s64 framebuffer_read_size(u32 width, u32 height, u32 channels);

// Reads a width by height rectangle at (x, y) of 8-bit pixels with `channels`
// (1..4) channels from the framebuffer bound for reading into `buffer` (not
// null), which must hold framebuffer_read_size bytes; `fb` is not read.
// Sets GL_PACK_ALIGNMENT to 4, so that size holds whatever ran before.
void read(Framebuffer *fb, u8 *buffer, s32 x, s32 y, u32 width, u32 height, u32 channels);

// Selects the colour attachments drawing writes to (glDrawBuffers).
void _glDrawBuffers(Array_View<u32> to);

// ---- Renderbuffers ---------------------------------------------------------------

// Generates a renderbuffer, leaves it bound and gives it width_ by height_.
void init(Renderbuffer *rb, u32 width_, u32 height_);
void bind(Renderbuffer *rb);
// Records the size and makes GL_RGBA8 storage of it for the renderbuffer bound
// to GL_RENDERBUFFER (bind rb first; init does).
void size(Renderbuffer *rb, u32 width, u32 height);
// Deletes it, if any; id becomes 0. No GL call when id is 0.
void deinit(Renderbuffer *rb);

} // namespace tessera
