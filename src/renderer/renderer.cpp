#include "renderer/renderer.h"

#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"
#include "gl/gl.h"
#include "renderer/shader_sources.h"
#include "renderer/vertex_layout.h"

namespace tessera {

constinit Renderer renderer;

// ---- Start-up ------------------------------------------------------------------

// Builds one program from its two texts and sets the uniforms both drawing
// programs share; the program stays in use.
static void init_drawing_program(Shader *shader, String vertex_source, String fragment_source,
                                 const char *label, const s32 *samplers, u32 sampler_count) {
    bool loaded = load_from_memory(shader, vertex_source, fragment_source);
    ASSERT(loaded, RENDERER_PROGRAM_FAILED, label);
    uniform(shader, U_PROJECTION, renderer.projection_matrix);
    uniform(shader, U_OPACITY, 1.0f);
    uniform(shader, U_SAMPLERS, samplers, sampler_count);
}

// An RGBA8 colour target of w by h with linear filtering and mirrored repeat,
// attached to a new framebuffer that stays bound.
static void init_cache(Render_Texture *cache, s32 index, s32 w, s32 h) {
    Texture *tx = &cache->tx;
    glGenTextures(1, &tx->id);
    ASSERT(tx->id != 0, RENDERER_CACHE_NO_TEXTURE, index);
    glBindTexture(GL_TEXTURE_2D, tx->id);
    tx->width = w;
    tx->height = h;
    tx->channels = 4;
    tx->internal_format = GL_RGBA8;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_MIRRORED_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_MIRRORED_REPEAT);

    init(&cache->fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tx->id, 0);
    bool complete = check(&cache->fb);
    ASSERT(complete, RENDERER_CACHE_INCOMPLETE, index);
}

void renderer_init() {
    Temporary_Scope scope; // the sampler list, and whatever the steps below take

    Renderer &r = renderer;
    r.vb = vertex_buffer_init(RENDERER_BUFFER_SIZE);
    // 16-bit indices: the byte size is the count times 2.
    r.ib = element_buffer_init(RENDERER_BUFFER_SIZE / 2);

    // vb is still bound to GL_ARRAY_BUFFER, so both layouts read from it.
    GL_Component standard_layout[] = {
        {GL_Component_Type::FLOAT, 3, 0, false}, // position
        {GL_Component_Type::FLOAT, 2, 0, false}, // texture_uv
        {GL_Component_Type::FLOAT, 4, 0, false}, // color
        {GL_Component_Type::FLOAT, 1, 0, false}, // texture_id
    };
    glGenVertexArrays(1, &r.standard_va);
    glBindVertexArray(r.standard_va);
    set_vertex_array_layout({4, standard_layout});

    // dst, src, four corner colours, corner radii, parameters: one per instance.
    GL_Component ui_layout[8];
    for (GL_Component &c : ui_layout) c = {GL_Component_Type::FLOAT, 4, 1, false};
    glGenVertexArrays(1, &r.ui_va);
    glBindVertexArray(r.ui_va);
    set_vertex_array_layout({8, ui_layout});

    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &units);
    ASSERT(units > 0, RENDERER_NO_TEXTURE_UNITS, units);
    r.texture_units_available = min_of(static_cast<u32>(units), RENDERER_MAX_TEXTURE_UNITS);

    s32 *samplers = allocate_array<s32>(r.texture_units_available, temporary_allocator);
    for (u32 i = 0; i < r.texture_units_available; i++) samplers[i] = static_cast<s32>(i);

    init_drawing_program(&r.standard_shader, STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE, "standard",
                         samplers, r.texture_units_available);
    init_drawing_program(&r.ui_shader, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE, "UI", samplers,
                         r.texture_units_available);
    bool blur_loaded = load_from_memory(&r.blur_shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE);
    ASSERT(blur_loaded, RENDERER_PROGRAM_FAILED, "blur");
    uniform(&r.blur_shader, U_SAMPLER, 0);

    GLint saved_framebuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved_framebuffer);

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    // The blur passes resize the caches to what they need; until then 1 by 1.
    s32 w = max_of(r.width, 1), h = max_of(r.height, 1);
    init_cache(&r.caches[0], 0, w, h);
    init_cache(&r.caches[1], 1, w, h);

    init(&r.vertex_data, RENDERER_POOL_RESERVATION, "vertex_data"_s);
    init(&r.index_data, RENDERER_POOL_RESERVATION, "index_data"_s);

    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved_framebuffer));
}

// ---- Tear-down -----------------------------------------------------------------

void renderer_deinit() {
    Renderer &r = renderer;
    // No GL call for what was never created: the record may be untouched.
    if (r.vb) glDeleteBuffers(1, &r.vb);
    if (r.ib) glDeleteBuffers(1, &r.ib);
    if (r.standard_va) glDeleteVertexArrays(1, &r.standard_va);
    if (r.ui_va) glDeleteVertexArrays(1, &r.ui_va);
    for (Shader *s : {&r.standard_shader, &r.ui_shader, &r.blur_shader}) {
        deinit(s);
        table_deinit(&s->uniforms);
    }
    for (Render_Texture *rt : {&r.caches[0], &r.caches[1], &r.output}) {
        deinit(&rt->fb);
        deinit(&rt->tx);
    }
    deinit(&r.vertex_data);
    deinit(&r.index_data);
    array_free(&r.passes);
    array_free(&r.clip_stack);
    array_free(&r.opacity_stack);
    r = Renderer{};
}

// ---- Diagnostics ---------------------------------------------------------------

// A driver that returns null gets an empty text instead of a crash in strlen.
static String gl_string(GLenum name) {
    return from_c_string(reinterpret_cast<const char *>(glGetString(name)));
}

void log_renderer_info() {
    log(RENDERER_INFO_VENDOR, gl_string(GL_VENDOR));
    log(RENDERER_INFO_RENDERER, gl_string(GL_RENDERER));
    log(RENDERER_INFO_VERSION, gl_string(GL_VERSION));
    log(RENDERER_INFO_GLSL, gl_string(GL_SHADING_LANGUAGE_VERSION));
}

u32 begin_gpu_timer() {
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_TIME_ELAPSED, query);
    return query;
}

s32 end_gpu_timer(u32 id) {
    glEndQuery(GL_TIME_ELAPSED);
    GLint elapsed = 0;
    glGetQueryObjectiv(id, GL_QUERY_RESULT, &elapsed); // waits for the GPU
    glDeleteQueries(1, &id);
    return elapsed;
}

} // namespace tessera
