#include "renderer/texture.h"

#include "base/assert.h"
#include "base/log.h"

namespace tessera {

Texture_Format get_texture_format(u32 channels) {
    switch (channels) {
    case 1:
        return {GL_RED, GL_R8};
    case 2:
        return {GL_RG, GL_RG8};
    case 3:
        return {GL_RGB, GL_RGB8};
    case 4:
        return {GL_RGBA, GL_RGBA8};
    default:
        return {};
    }
}

bool init(Texture *texture, s32 width, s32 height, u32 channels, const u8 *data, s32 format, s32 filter,
          s32 wrap) {
    ASSERT(channels >= 1 && channels <= 4, TEXTURE_INIT_CHANNELS_MESSAGE);

    // The record is reused: its earlier texture goes first.
    if (texture->id != 0) {
        glDeleteTextures(1, &texture->id);
        texture->id = 0;
    }

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &texture->id);
    if (texture->id == 0) {
        log_error(TEXTURE_NO_NAME_MESSAGE);
        return false;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture->id);

    Texture_Format f = get_texture_format(channels);
    if (format != 0) f.internal_format = format;
    ASSERT(f.data_format != 0 && f.internal_format != 0);

    glTexImage2D(GL_TEXTURE_2D, 0, f.internal_format, width, height, 0, f.data_format, GL_UNSIGNED_BYTE,
                 data);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);

    texture->width = width;
    texture->height = height;
    texture->channels = channels;
    texture->internal_format = f.internal_format;

    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

bool init(Texture *texture, s32 width, s32 height, u32 channels, const u8 *data) {
    return init(texture, width, height, channels, data, 0, TEXTURE_DEFAULT_FILTER, TEXTURE_DEFAULT_WRAP);
}

void deinit(Texture *texture) {
    if (texture->id != 0) glDeleteTextures(1, &texture->id);
    texture->id = 0;
}

void texture_bind(u32 id, u32 slot) {
    glActiveTexture(GL_TEXTURE0 + slot);
    glBindTexture(GL_TEXTURE_2D, id);
}

void bind(Texture texture, u32 slot) {
    texture_bind(texture.id, slot);
}

void resize(Texture *texture, s32 width, s32 height) {
    glBindTexture(GL_TEXTURE_2D, texture->id);
    const u32 data_format = get_texture_format(texture->channels).data_format;
    ASSERT(data_format != 0);
    glTexImage2D(GL_TEXTURE_2D, 0, texture->internal_format, width, height, 0, data_format, GL_UNSIGNED_BYTE,
                 nullptr);
    texture->width = width;
    texture->height = height;
}

void update(Texture *texture, const u8 *data, s32 xoffset, s32 yoffset, s32 width, s32 height, u32 channels) {
    ASSERT(data != nullptr);
    ASSERT(channels >= 1 && channels <= 4, TEXTURE_UPDATE_CHANNELS_MESSAGE);
    const u32 data_format = get_texture_format(channels).data_format;
    ASSERT(data_format != 0);

    // GL reads width * channels bytes per row only when rows are unpadded; with
    // any other alignment it would read past the end of a tightly packed buffer.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, texture->id);
    glTexSubImage2D(GL_TEXTURE_2D, 0, xoffset, yoffset, width, height, data_format, GL_UNSIGNED_BYTE, data);
}

void set_texture_swizzle_mask_for_fonts(Texture *texture) {
    glBindTexture(GL_TEXTURE_2D, texture->id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_ONE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_G, GL_ONE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_ONE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_RED);
}

} // namespace tessera
