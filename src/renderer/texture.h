// Textures: one GL 2D texture and the few facts the engine keeps about it.
//
// Every operation here calls GL (main thread, context current); nothing
// allocates CPU memory. Pixel data is 8 bits per channel, one to four channels,
// rows tightly packed: init and update set GL_UNPACK_ALIGNMENT to 1 before they
// upload, and nothing sets it back.
//
// Costs: init uploads the whole image once; update sends only its rectangle,
// so adding a glyph to the font atlas is one small upload; resize makes new,
// undefined storage and keeps the object's filter, wrap and swizzle.
//
// Bindings: init leaves unit 0 active with no texture bound on it; bind makes
// its unit active; resize, update and the swizzle work on the active unit and
// leave the texture bound there. Callers bind what they draw with.
//
// A Texture is copied freely by value (passes keep only the name); only the
// holder of the record deletes the texture.
#pragma once

#include "base/types.h"
#include "gl/gl.h"

namespace tessera {

struct Texture {
    s32 width = 0;           // pixels, level 0
    s32 height = 0;          // pixels, level 0
    u32 id = 0;              // GL texture name; 0: none
    s32 internal_format = 0; // the sized format the storage was made with (GL_R8, GL_RGBA8, ...)
    u32 channels = 0;        // channels per pixel of the data it is fed with, 1..4
    u32 lod = 0;             // the level a framebuffer attaches; nothing sets it
};

// The pixel type is always GL_UNSIGNED_BYTE.
struct Texture_Format {
    u32 data_format = 0;     // GL_RED, GL_RG, GL_RGB, GL_RGBA
    s32 internal_format = 0; // GL_R8, GL_RG8, GL_RGB8, GL_RGBA8
};

// 1..4 channels to their formats; (0, 0) for any other count.
Texture_Format get_texture_format(u32 channels);

inline constexpr char TEXTURE_INIT_CHANNELS_MESSAGE[] = "texture channels has to be between 1 and 4";
inline constexpr char TEXTURE_UPDATE_CHANNELS_MESSAGE[] = "texture channels can be between 1 and 4";
inline constexpr char TEXTURE_NO_NAME_MESSAGE[] = "failed to create a texture: GL gave no texture name";

// The system's choices for the short init: the internal format that matches the
// channels, nearest filtering, mirrored repeat.
inline constexpr s32 TEXTURE_DEFAULT_FILTER = GL_NEAREST;
inline constexpr s32 TEXTURE_DEFAULT_WRAP = GL_MIRRORED_REPEAT;

// Creates the texture and uploads `data`, width * height pixels of `channels`
// bytes each, rows unpadded (null: content undefined). `format` 0 takes the
// internal format matching `channels`, any other value is the internal format.
// `filter` is both the minification and magnification filter, `wrap` the wrap
// mode of both axes; no mipmaps. A texture the record already holds is deleted
// first. A channel count outside 1..4 is an assertion. Returns false, with id 0
// and the cause logged, when GL hands out no name.
bool init(Texture *texture, s32 width, s32 height, u32 channels, const u8 *data, s32 format, s32 filter,
          s32 wrap);
// The same with format 0, TEXTURE_DEFAULT_FILTER and TEXTURE_DEFAULT_WRAP.
bool init(Texture *texture, s32 width, s32 height, u32 channels, const u8 *data);

// Deletes the texture, if any, and sets id to 0. No GL call when id is 0.
void deinit(Texture *texture);

// Makes unit `slot` active and binds `id` to its GL_TEXTURE_2D target.
void texture_bind(u32 id, u32 slot);
void bind(Texture texture, u32 slot);

// New storage of the given size with the recorded internal format and channels;
// the content is undefined, the sampling parameters stay.
void resize(Texture *texture, s32 width, s32 height);

// Replaces the width by height rectangle at (xoffset, yoffset) of level 0 with
// `data` (not null), pixels of `channels` (1..4) bytes, rows unpadded. The
// rectangle must lie inside the texture (GL rejects it otherwise). The recorded
// size does not change.
void update(Texture *texture, const u8 *data, s32 xoffset, s32 yoffset, s32 width, s32 height, u32 channels);

// Sampling returns (1, 1, 1, red): a GL_R8 coverage texture reads as white with
// the coverage as alpha, which the vertex colour then tints.
void set_texture_swizzle_mask_for_fonts(Texture *texture);

} // namespace tessera
