#include "renderer/framebuffer.h"

#include "base/assert.h"
#include "base/log.h"

#include <climits>

namespace tessera {

namespace {

String framebuffer_status_text(GLenum status) {
    switch (status) {
    case GL_FRAMEBUFFER_UNSUPPORTED:
        return "GL_FRAMEBUFFER_UNSUPPORTED"_s;
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
        return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT"_s;
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
        return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT"_s;
    default:
        return {};
    }
}

} // namespace

// ---- Framebuffers ----------------------------------------------------------------

void init(Framebuffer *fb) {
    glGenFramebuffers(1, &fb->id);
    glBindFramebuffer(GL_FRAMEBUFFER, fb->id);
}

void deinit(Framebuffer *fb) {
    if (fb->id != 0) glDeleteFramebuffers(1, &fb->id);
    fb->id = 0;
}

void bind(Framebuffer *fb) {
    glBindFramebuffer(GL_FRAMEBUFFER, fb->id);
}

void framebuffer_bind(u32 id) {
    glBindFramebuffer(GL_FRAMEBUFFER, id);
}

void attach(Framebuffer *, Texture texture, u32 attachment) {
    bind(texture, 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, texture.id,
                           static_cast<GLint>(texture.lod));
}

void attach(Framebuffer *, Renderbuffer rb, u32 attachment) {
    glBindRenderbuffer(GL_RENDERBUFFER, rb.id);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, rb.id);
}

bool check(Framebuffer *) {
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status == GL_FRAMEBUFFER_COMPLETE) return true;
    log_error(FRAMEBUFFER_INCOMPLETE_MESSAGE, framebuffer_status_text(status));
    return false;
}

void blit(Framebuffer *fb, Framebuffer *target, Rect src, Rect dst, u32 buffers, u32 filter) {
    const u32 target_id = target ? target->id : 0;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fb->id);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target_id);
    glBlitFramebuffer(truncate_to_s32(src.x0), truncate_to_s32(src.y0), truncate_to_s32(src.x1),
                      truncate_to_s32(src.y1), truncate_to_s32(dst.x0), truncate_to_s32(dst.y0),
                      truncate_to_s32(dst.x1), truncate_to_s32(dst.y1), buffers, filter);
}

s64 framebuffer_read_size(u32 width, u32 height, u32 channels) {
    ASSERT(get_texture_format(channels).data_format != 0);
    const u64 row = (static_cast<u64>(width) * channels + 3) & ~u64{3};
    // At most 2^34 bytes a row; only an absurd height overflows, and no buffer
    // of that size exists, so saturate.
    s64 bytes = 0;
    if (__builtin_mul_overflow(row, static_cast<u64>(height), &bytes)) return INT64_MAX;
    return bytes;
}

void read(Framebuffer *, u8 *buffer, s32 x, s32 y, u32 width, u32 height, u32 channels) {
    ASSERT(buffer != nullptr);
    const u32 data_format = get_texture_format(channels).data_format;
    ASSERT(data_format != 0);
    // Rows are padded to 4 bytes, the size callers allocate for; a different
    // alignment left behind by other code would write past that buffer.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(x, y, static_cast<GLsizei>(width), static_cast<GLsizei>(height), data_format,
                 GL_UNSIGNED_BYTE, buffer);
}

void _glDrawBuffers(Array_View<u32> to) {
    ASSERT(to.count >= 0 && to.count <= INT32_MAX);
    glDrawBuffers(static_cast<GLsizei>(to.count), to.data);
}

// ---- Renderbuffers ---------------------------------------------------------------

void init(Renderbuffer *rb, u32 width_, u32 height_) {
    glGenRenderbuffers(1, &rb->id);
    glBindRenderbuffer(GL_RENDERBUFFER, rb->id);
    size(rb, width_, height_);
}

void bind(Renderbuffer *rb) {
    glBindRenderbuffer(GL_RENDERBUFFER, rb->id);
}

void size(Renderbuffer *rb, u32 width, u32 height) {
    rb->width = width;
    rb->height = height;
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(width),
                          static_cast<GLsizei>(height));
}

void deinit(Renderbuffer *rb) {
    if (rb->id != 0) glDeleteRenderbuffers(1, &rb->id);
    rb->id = 0;
}

} // namespace tessera
