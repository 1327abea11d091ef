#include "renderer/flush.h"

#include "base/assert.h"
#include "gl/gl.h"
#include "renderer/renderer.h"
#include "window.h"

#include <cmath>

namespace tessera {

Frame_Stats last_frame_stats;

namespace {

u32 leading_zeros(u32 num) {
    return num == 0 ? 32 : static_cast<u32>(__builtin_clz(num));
}

u64 next_multiple_of(u64 x, u64 n) {
    return (x + n - 1) & ~(n - 1);
}

u64 prev_multiple_of(u64 x, u64 n) {
    return x & ~(n - 1);
}

// GL state carried from one pass to the next.
struct Flush_State {
    s32 current_fb = 0;
    const u32 *current_textures = nullptr;
    Pass_Kind current_pass_kind = Pass_Kind::NONE;
    bool currently_clipping = false;
    f32 current_opacity = 1;
};

void set_clip(Flush_State *s, Clip c) {
    if (c.w != 0 || c.h != 0) {
        if (!s->currently_clipping) {
            s->currently_clipping = true;
            glEnable(GL_SCISSOR_TEST);
            frame_stats.scissor_changes++;
        }
        // In 32 bits: a 16-bit result would wrap for clips far below the surface.
        s32 y = renderer.height - s32{c.y} - s32{c.h};
        glScissor(c.x, y, c.w, c.h);
        frame_stats.scissor_changes++;
    } else if (s->currently_clipping) {
        s->currently_clipping = false;
        glDisable(GL_SCISSOR_TEST);
        frame_stats.scissor_changes++;
    }
}

void bind_program(const Shader &shader) {
    bind(shader);
    frame_stats.program_binds++;
}

void bind_textures(Flush_State *s, const u32 *texture_data, s32 texture_count) {
    if (s->current_textures == texture_data) return;
    for (s32 i = 0; i < texture_count; i++) {
        glActiveTexture(GL_TEXTURE0 + static_cast<u32>(i));
        glBindTexture(GL_TEXTURE_2D, texture_data[i]);
        frame_stats.texture_binds++;
    }
    s->current_textures = texture_data;
}

void apply_opacity(Flush_State *s, Shader *shader, f32 opacity) {
    if (opacity != s->current_opacity) {
        s->current_opacity = opacity;
        uniform(shader, U_OPACITY, s->current_opacity);
    }
}

void upload(u32 target, s64 bytes, const void *data) {
    glBufferSubData(target, 0, bytes, data);
    frame_stats.bytes_uploaded += bytes;
}

void flush_standard(Flush_State *s, const Standard_Pass &p) {
    if (p.vertex_count == 0 || p.index_count == 0) return;
    Shader *shader = &renderer.standard_shader;
    if (s->current_pass_kind != Pass_Kind::STANDARD) {
        glBindVertexArray(renderer.standard_va);
        glBindBuffer(GL_ARRAY_BUFFER, renderer.vb);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, renderer.ib);
        bind_program(*shader);
        uniform(shader, U_PROJECTION, renderer.projection_matrix);
        uniform(shader, U_OPACITY, s->current_opacity);
        // The two programs share the texture units, so a list bound by a UI pass holds.
        if (s->current_pass_kind != Pass_Kind::UI) s->current_textures = nullptr;
        s->current_pass_kind = Pass_Kind::STANDARD;
    }
    bind_textures(s, p.texture_data, p.texture_count);
    apply_opacity(s, shader, p.base.opacity);
    set_clip(s, p.base.clip);
    upload(GL_ARRAY_BUFFER, s64{p.vertex_count} * 40, p.vertex_data);
    upload(GL_ELEMENT_ARRAY_BUFFER, s64{p.index_count} * 2, p.index_data);
    glDrawElements(GL_TRIANGLES, p.index_count, GL_UNSIGNED_SHORT, nullptr);
    frame_stats.draw_calls++;
}

void flush_ui(Flush_State *s, const UI_Pass &p) {
    if (p.vertex_count == 0) return;
    Shader *shader = &renderer.ui_shader;
    if (s->current_pass_kind != Pass_Kind::UI) {
        glBindVertexArray(renderer.ui_va);
        glBindBuffer(GL_ARRAY_BUFFER, renderer.vb);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        bind_program(*shader);
        uniform(shader, U_PROJECTION, renderer.projection_matrix);
        uniform(shader, U_OPACITY, s->current_opacity);
        uniform(shader, U_SOFT_CIRCLE_POSITION, window.mouse_position);
        if (s->current_pass_kind != Pass_Kind::STANDARD) s->current_textures = nullptr;
        s->current_pass_kind = Pass_Kind::UI;
    }
    bind_textures(s, p.texture_data, p.texture_count);
    apply_opacity(s, shader, p.base.opacity);
    set_clip(s, p.base.clip);
    upload(GL_ARRAY_BUFFER, s64{p.vertex_count} * 128, p.vertex_data);
    glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, p.vertex_count);
    frame_stats.draw_calls++;
}

void flush_blur(Flush_State *s, const Blur_Pass &p) {
    if (s->current_pass_kind != Pass_Kind::BLUR) {
        glActiveTexture(GL_TEXTURE0);
        glClearColor(1, 1, 1, 1);
        s->current_pass_kind = Pass_Kind::BLUR;
    }
    if (p.radius == 0) return;
    Blur_Plan plan = blur_plan(p.rect, p.radius, renderer.width, renderer.height);
    if (!plan.run) return;
    frame_stats.blur_passes_run++;

    set_clip(s, {});
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);

    s32 k = plan.downsampling_passes;
    s32 current_cache = 0;
    Render_Texture *caches = renderer.caches;

    // Read back at half resolution.
    Vector2 fb_dim = {plan.fb_dim.x / 2, plan.fb_dim.y / 2};
    resize(&caches[current_cache].tx, truncate_to_s32(fb_dim.x), truncate_to_s32(fb_dim.y));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<u32>(s->current_fb));
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, caches[current_cache].fb.id);
    const Rect &pr = plan.padded_rect;
    glBlitFramebuffer(truncate_to_s32(pr.x0), truncate_to_s32(renderer.height - pr.y1),
                      truncate_to_s32(pr.x1), truncate_to_s32(renderer.height - pr.y0), 0, 0,
                      truncate_to_s32(fb_dim.x), truncate_to_s32(fb_dim.y), GL_COLOR_BUFFER_BIT, GL_LINEAR);

    // Each size is limited to the level before it: a rectangle far larger than
    // the target would otherwise ask for textures past GL's limits.
    auto level_size = [](f32 dim, f64 scale, s32 limit) {
        s32 v = truncate_to_s32(std::ceil(f64{dim} / scale));
        if (v > limit) v = limit;
        return v < 1 ? 1 : v;
    };

    for (s32 i = 1; i < k; i++) {
        f64 scale_factor = std::ldexp(1.0, i + 1);
        Render_Texture *from = &caches[current_cache];
        Render_Texture *to = &caches[1 - current_cache];
        s32 w = level_size(plan.rect_dim.x, scale_factor, from->tx.width);
        s32 h = level_size(plan.rect_dim.y, scale_factor, from->tx.height);
        resize(&to->tx, w, h);
        glBindFramebuffer(GL_FRAMEBUFFER, to->fb.id);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, from->fb.id);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to->fb.id);
        glBlitFramebuffer(0, 0, from->tx.width, from->tx.height, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        current_cache = 1 - current_cache;
    }

    Shader *blur = &renderer.blur_shader;
    bind_program(*blur);
    f64 scale_factor = std::ldexp(1.0, k);
    s32 size_w = level_size(plan.rect_dim.x, scale_factor, caches[current_cache].tx.width);
    s32 size_h = level_size(plan.rect_dim.y, scale_factor, caches[current_cache].tx.height);
    uniform(blur, U_SRC_RES, Vector2{static_cast<f32>(size_w), static_cast<f32>(size_h)});
    uniform(blur, U_RADIUS, static_cast<f32>(static_cast<f64>(plan.radius) / scale_factor));
    glDisable(GL_BLEND);

    for (s32 direction = 0; direction < 2; direction++) {
        uniform(blur, U_DIRECTION, direction);
        Render_Texture *from = &caches[current_cache];
        Render_Texture *to = &caches[1 - current_cache];
        resize(&to->tx, size_w, size_h);
        glBindFramebuffer(GL_FRAMEBUFFER, to->fb.id);
        glBindTexture(GL_TEXTURE_2D, from->tx.id);
        frame_stats.texture_binds++;
        glViewport(0, 0, size_w, size_h);
        glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, 1);
        frame_stats.draw_calls++;
        current_cache = 1 - current_cache;
    }

    // The clear colour is (1, 1, 1, 1): only alpha is cleared, to opaque.
    glColorMask(false, false, false, true);
    glClear(GL_COLOR_BUFFER_BIT);
    glColorMask(true, true, true, true);

    UI_Vertex v = {};
    v.dst = plan.rect;
    v.src = plan.sample_uvs;
    for (Vector4 &c : v.colors) c = {1, 1, 1, 1};
    for (s32 i = 0; i < 4; i++) v.corner_radii[i] = p.corner_radii[i];
    v.edge_softness = p.edge_softness * 2;
    v.border_thickness = 0;
    v.texture_index = 0;
    v.gradient_radius = 0;

    Shader *ui = &renderer.ui_shader;
    glEnable(GL_BLEND);
    glViewport(0, 0, renderer.width, renderer.height);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<u32>(s->current_fb));
    glBindTexture(GL_TEXTURE_2D, caches[current_cache].tx.id);
    frame_stats.texture_binds++;
    bind_program(*ui);
    set_clip(s, p.base.clip);
    if (p.base.opacity != s->current_opacity) s->current_opacity = p.base.opacity;
    uniform(ui, U_PROJECTION, renderer.projection_matrix);
    uniform(ui, U_OPACITY, s->current_opacity);
    glBindVertexArray(renderer.ui_va);
    glBindBuffer(GL_ARRAY_BUFFER, renderer.vb);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    upload(GL_ARRAY_BUFFER, sizeof(UI_Vertex), &v);
    glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, 1);
    frame_stats.draw_calls++;
}

void flush_custom(Flush_State *s, const Custom_Pass &p) {
    set_clip(s, {});
    ASSERT(p.proc != nullptr);
    p.proc(p.data);
    s->current_pass_kind = Pass_Kind::CUSTOM;
}

} // namespace

Blur_Plan blur_plan(Rect rect, f32 radius, s32 target_width, s32 target_height) {
    Blur_Plan plan = {};
    // Negative and NaN radii blur nothing, like 0; the conversion to u32 below
    // would be undefined for them.
    if (!(radius > 0)) return plan;
    plan.rect = {std::floor(rect.x0), std::floor(rect.y0), std::floor(rect.x1), std::floor(rect.y1)};
    plan.rect_dim = dimensions(plan.rect);
    // Nothing to blur in an empty, inverted or non-finite rectangle, nor on a
    // target too small to halve.
    if (!(plan.rect_dim.x > 0 && plan.rect_dim.y > 0) || !std::isfinite(plan.rect_dim.x) ||
        !std::isfinite(plan.rect_dim.y))
        return plan;
    if (target_width < 2 || target_height < 2) return plan;

    plan.radius = radius >= 4294967040.0f ? 4294967040u : static_cast<u32>(radius);
    s32 k = 30 - static_cast<s32>(leading_zeros(plan.radius));
    plan.downsampling_passes = k < 1 ? 1 : k;
    u64 u = u64{1} << plan.downsampling_passes;

    u64 width = static_cast<u64>(target_width), height = static_cast<u64>(target_height);
    // Limiting before the rounding gives the same result (the region never
    // exceeds the target) and keeps the conversions in range.
    auto region = [&](f32 dim, u64 limit) {
        f64 d = std::ceil(f64{dim});
        u64 c = d >= static_cast<f64>(limit) ? limit : static_cast<u64>(d);
        u64 r = next_multiple_of(c + u, u);
        return r > limit ? limit : r;
    };
    auto start = [&](f32 edge, u64 limit) {
        if (!(edge > 0)) return u64{0};
        u64 e = edge >= static_cast<f32>(limit) ? limit : static_cast<u64>(edge);
        return prev_multiple_of(e, u);
    };
    u64 fb_w = region(plan.rect_dim.x, width), fb_h = region(plan.rect_dim.y, height);
    u64 x0 = start(plan.rect.x0, width), y0 = start(plan.rect.y0, height);
    u64 x1 = x0 + fb_w < width ? x0 + fb_w : width;
    u64 y1 = y0 + fb_h < height ? y0 + fb_h : height;
    if (x0 > width - fb_w) x0 = width - fb_w;
    if (y0 > height - fb_h) y0 = height - fb_h;

    plan.fb_dim = {static_cast<f32>(fb_w), static_cast<f32>(fb_h)};
    plan.padded_rect = {static_cast<f32>(x0), static_cast<f32>(y0), static_cast<f32>(x1),
                        static_cast<f32>(y1)};
    const Rect &r = plan.rect;
    const Rect &pr = plan.padded_rect;
    Vector2 d = plan.fb_dim;
    plan.sample_uvs = {(r.x0 - pr.x0) / d.x, (d.y - (r.y0 - pr.y0)) / d.y, (d.x - (pr.x1 - r.x1)) / d.x,
                       (pr.y1 - r.y1) / d.y};
    plan.run = true;
    return plan;
}

void flush() {
    if (renderer.passes.count == 0) return;

    Flush_State s = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &s.current_fb);
    f32 current_color[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, current_color);

    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, renderer.width, renderer.height);

    for (s64 i = 0; i < renderer.passes.count; i++) {
        const Pass &pass = renderer.passes.data[i];
        ASSERT(static_cast<s32>(pass.base.kind) < PASS_KIND_COUNT, "pass % has kind %", i, pass.base.kind);
        frame_stats.passes[static_cast<u32>(pass.base.kind)]++;
        switch (pass.base.kind) {
        case Pass_Kind::NONE:
            break;
        case Pass_Kind::STANDARD:
            flush_standard(&s, pass.standard);
            break;
        case Pass_Kind::UI:
            flush_ui(&s, pass.ui);
            break;
        case Pass_Kind::BLUR:
            flush_blur(&s, pass.blur);
            break;
        case Pass_Kind::CUSTOM:
            flush_custom(&s, pass.custom);
            break;
        }
    }

    set_clip(&s, {});
    glClearColor(current_color[0], current_color[1], current_color[2], current_color[3]);

    renderer.passes.count = 0;
    renderer.clip_stack.count = 0;
    renderer.opacity_stack.count = 0;
    renderer.vertex_data_allocated = 0;
    renderer.index_data_allocated = 0;
    renderer.vertex_current_allocation = 0;
    renderer.index_current_allocation = 0;
    reset(&renderer.vertex_data);
    reset(&renderer.index_data);

    last_frame_stats = frame_stats;
    frame_stats = {};

    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<u32>(s.current_fb));
}

} // namespace tessera
