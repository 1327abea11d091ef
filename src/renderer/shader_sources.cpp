#include "renderer/shader_sources.h"

namespace tessera {

// ---- Building the texts at compile time ---------------------------------------------------

namespace {

// A text is a list of parts; a null part stands for the sampler-selection block.
constexpr const char *SAMPLER_BLOCK = nullptr;

// Each emit_ writes at `at` when `out` is not null and returns the new end, so
// the same call first measures a text and then fills it.
constexpr s64 emit_char(u8 *out, s64 at, char c) {
    if (out) out[at] = static_cast<u8>(c);
    return at + 1;
}

constexpr s64 emit_number(u8 *out, s64 at, s32 n) {
    if (n >= 10) at = emit_number(out, at, n / 10);
    return emit_char(out, at, static_cast<char>('0' + n % 10));
}

constexpr s64 emit_sampler_block(u8 *out, s64 at) {
    for (s32 slot = 0; slot < SAMPLER_SLOT_COUNT; slot++) {
        for (const char *c = SAMPLER_CASE_LINE; *c; c++) {
            if (c[0] == '%' && c[1] == '1') {
                at = emit_number(out, at, slot);
                c++;
            } else {
                at = emit_char(out, at, *c);
            }
        }
    }
    for (const char *c = "        default: discard;\n"; *c; c++) at = emit_char(out, at, *c);
    return at;
}

template <size_t N>
constexpr s64 emit_parts(u8 *out, const char *const (&parts)[N]) {
    s64 at = 0;
    for (const char *part : parts) {
        if (part == SAMPLER_BLOCK) {
            at = emit_sampler_block(out, at);
        } else {
            for (const char *c = part; *c; c++) at = emit_char(out, at, *c);
        }
    }
    return at;
}

template <s64 Length>
struct Source_Text {
    u8 bytes[Length + 1] = {}; // the last byte stays 0
};

template <const auto &Parts>
struct Built_Source {
    static constexpr s64 length = emit_parts(nullptr, Parts);
    static constexpr Source_Text<length> text = [] {
        Source_Text<length> t;
        emit_parts(t.bytes, Parts);
        return t;
    }();
    static constexpr String string() { return String{length, const_cast<u8 *>(text.bytes)}; }
};

// ---- Standard program -------------------------------------------------------------------

constexpr const char *STANDARD_VERTEX_PARTS[] = {R"(#version 330 core
precision mediump float;

layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_texture_uv;
layout(location = 2) in vec4 a_color;
layout(location = 3) in float a_texture_id;

uniform mat4 u_projection;

out vec4 v_color;
out vec2 v_texture_uv;
// Flat: the id picks a sampler by its integer part, and interpolating even a
// constant value may land just below it.
flat out mediump float v_texture_id;

void main() {
    v_color = a_color;
    v_texture_uv = a_texture_uv;
    v_texture_id = a_texture_id;
    gl_Position = u_projection * vec4(a_position, 1.0);
}
)"};

constexpr const char *STANDARD_FRAGMENT_PARTS[] = {R"(#version 330 core
precision mediump float;

in vec4 v_color;
in vec2 v_texture_uv;
flat in mediump float v_texture_id;

uniform sampler2D u_samplers[16];
uniform float u_opacity;

layout(location = 0) out vec4 FragColor;

void main() {
    vec4 texel = vec4(1.0);
    if (v_texture_id >= 0.0) {
        switch (int(v_texture_id)) {
)",
                                                   SAMPLER_BLOCK, R"(        }
    }
    FragColor = texel * v_color * u_opacity;
}
)"};

// ---- UI program ---------------------------------------------------------------------------

constexpr const char *UI_VERTEX_PARTS[] = {R"(#version 330 core
precision mediump float;

layout(location = 0) in vec4 a_dst;             // x0, y0 top-left; x1, y1 bottom-right (pixels)
layout(location = 1) in vec4 a_src;             // texture coordinates of the same corners
layout(location = 2) in vec4 a_color_tl;
layout(location = 3) in vec4 a_color_tr;
layout(location = 4) in vec4 a_color_bl;
layout(location = 5) in vec4 a_color_br;
layout(location = 6) in vec4 a_corner_radii_px; // top-left, top-right, bottom-left, bottom-right
layout(location = 7) in vec4 a_params;          // border thickness, edge softness, texture index, soft-circle radius

uniform mat4 u_projection;
uniform vec2 u_soft_circle_position;

flat out vec2 v_half_size;
out vec2 v_texture_uv;
out vec2 v_sample_position;   // pixels from the rectangle's centre
out vec4 v_color;
out float v_corner_radius;
flat out float v_border_thickness;
flat out float v_edge_softness;
flat out float v_texture_index;
flat out float v_soft_circle_radius;
flat out vec2 v_soft_circle_position; // the circle's centre relative to the rectangle's centre

void main() {
    vec2 p0 = a_dst.xy;
    vec2 p1 = a_dst.zw;
    vec2 s0 = a_src.xy;
    vec2 s1 = a_src.zw;

    // Strip order: bottom-left, top-left, bottom-right, top-right.
    vec2 corners[4] = vec2[4](vec2(p0.x, p1.y), vec2(p0.x, p0.y), vec2(p1.x, p1.y), vec2(p1.x, p0.y));
    vec2 uvs[4] = vec2[4](vec2(s0.x, s1.y), vec2(s0.x, s0.y), vec2(s1.x, s1.y), vec2(s1.x, s0.y));
    float radii[4] = float[4](a_corner_radii_px.z, a_corner_radii_px.x, a_corner_radii_px.w, a_corner_radii_px.y);
    vec4 colors[4] = vec4[4](a_color_bl, a_color_tl, a_color_br, a_color_tr);

    int index = gl_VertexID;
    vec2 pct = vec2((index >> 1) != 0 ? 1.0 : 0.0, (index & 1) != 0 ? 0.0 : 1.0);

    vec2 size = abs(p1 - p0);
    gl_Position = u_projection * vec4(corners[index], 0.0, 1.0);

    v_half_size = size / 2.0;
    v_texture_uv = uvs[index];
    v_sample_position = (2.0 * pct - 1.0) * v_half_size;
    v_color = colors[index];
    v_corner_radius = radii[index];
    v_border_thickness = a_params.x;
    v_edge_softness = a_params.y;
    v_texture_index = a_params.z;
    v_soft_circle_radius = a_params.w;
    v_soft_circle_position = u_soft_circle_position - (a_dst.xy + size / 2.0);
}
)"};

constexpr const char *UI_FRAGMENT_PARTS[] = {R"(#version 330 core
precision mediump float;

flat in vec2 v_half_size;
in vec2 v_texture_uv;
in vec2 v_sample_position;
in vec4 v_color;
in float v_corner_radius;
flat in float v_border_thickness;
flat in float v_edge_softness;
flat in float v_texture_index;
flat in float v_soft_circle_radius;
flat in vec2 v_soft_circle_position;

uniform sampler2D u_samplers[16];
uniform float u_opacity;

layout(location = 0) out vec4 FragColor;

// Distance from p to a rectangle of half size h with corner radius r, centred
// on the origin; negative inside.
float rect_sdf(vec2 p, vec2 h, float r) {
    return length(max(abs(p) - h + r, 0.0)) - r;
}

void main() {
    float softness = v_edge_softness;
    vec2 softness_padding = vec2(2.0 * softness, 2.0 * softness);

    // Border: everything inside the inner rectangle goes.
    float border_t = 1.0;
    if (v_border_thickness > 0.0) {
        float s = rect_sdf(v_sample_position, v_half_size - softness_padding - v_border_thickness,
                           max(v_corner_radius - v_border_thickness, 0.0));
        border_t = smoothstep(0.0, 2.0 * softness, s);
    }
    if (border_t < 0.001) discard;

    // Rounded corners and the soft outer edge.
    float corner_t = 1.0;
    if (v_corner_radius > 0.0 || softness > 0.75) {
        float s = rect_sdf(v_sample_position, v_half_size - softness_padding, v_corner_radius);
        corner_t = 1.0 - smoothstep(0.0, 2.0 * softness, s);
    }

    float circle_t = 1.0;
    if (v_soft_circle_radius > 0.0) {
        circle_t = clamp(1.0 - distance(v_soft_circle_position, v_sample_position) / v_soft_circle_radius, 0.0, 1.0);
    }

    vec4 texel = vec4(1.0);
    if (v_texture_index >= 0.0) {
        switch (int(v_texture_index)) {
)",
                                             SAMPLER_BLOCK, R"(        }
    }

    vec4 color = texel * v_color;
    color.a *= circle_t * corner_t * border_t * u_opacity;
    FragColor = color;
}
)"};

// ---- Blur program ---------------------------------------------------------------------------

constexpr const char *BLUR_VERTEX_PARTS[] = {R"(#version 330 core
precision mediump float;

uniform float u_radius;

out vec2 v_texture_uv;
flat out int v_support;         // taps on each side of the centre
flat out vec2 v_coefficients;   // the centre weight and exp(-1 / (2 sigma^2))

void main() {
    vec2 positions[4] = vec2[4](vec2(-1.0, 1.0), vec2(-1.0, -1.0), vec2(1.0, 1.0), vec2(1.0, -1.0));
    vec2 uvs[4] = vec2[4](vec2(0.0, 1.0), vec2(0.0, 0.0), vec2(1.0, 1.0), vec2(1.0, 0.0));
    gl_Position = vec4(positions[gl_VertexID], 0.0, 1.0);
    v_texture_uv = uvs[gl_VertexID];

    int support = int(ceil(1.5 * u_radius)) * 2;
    v_support = support;
    if (support > 0) {
        // Incremental Gaussian: each step multiplies the weight by c.y and c.y by
        // c.z, giving the weights at distance 1, 2, 3, ... The sum over the whole
        // support scales the centre weight so that all weights add up to 1.
        float sigma = u_radius;
        vec2 g = vec2(1.0 / (sqrt(2.0 * 3.14159265) * sigma), exp(-0.5 / (sigma * sigma)));
        vec3 c = vec3(g.x, g.y, g.y * g.y);
        float total = c.x;
        for (int i = 1; i <= support; i += 2) {
            c.xy *= c.yz;
            float sub = c.x;
            c.xy *= c.yz;
            sub += c.x;
            total += 2.0 * sub;
        }
        v_coefficients = vec2(g.x / total, g.y);
    } else {
        v_coefficients = vec2(1.0, 1.0);
    }
}
)"};

constexpr const char *BLUR_FRAGMENT_PARTS[] = {R"(#version 330 core
precision mediump float;

in vec2 v_texture_uv;
flat in int v_support;
flat in vec2 v_coefficients;

uniform sampler2D u_sampler;
uniform vec2 u_src_res;
uniform int u_direction;

layout(location = 0) out vec4 FragColor;

void main() {
    vec3 c = vec3(v_coefficients.x, v_coefficients.y, v_coefficients.y * v_coefficients.y);
    vec4 sum = texture(u_sampler, v_texture_uv) * c.x;

    vec2 texel_size = 1.0 / vec2(textureSize(u_sampler, 0));
    vec2 texel_step = u_direction != 0 ? vec2(texel_size.x, 0.0) : vec2(0.0, texel_size.y);

    // Taps i and i + 1 are one linear fetch placed between them by their weights.
    int limit = min(v_support, 300);
    for (int i = 1; i <= limit; i += 2) {
        c.xy *= c.yz;
        float sub = c.x;
        c.xy *= c.yz;
        sub += c.x;
        // Both weights underflow to 0 for a tiny sigma; the pair adds nothing then.
        float ratio = sub > 0.0 ? c.x / sub : 0.0;
        vec2 offset = texel_step * (float(i) + ratio);
        sum += (texture(u_sampler, max(v_texture_uv - offset, vec2(0.0))) +
                texture(u_sampler, min(v_texture_uv + offset, u_src_res))) * sub;
    }
    FragColor = sum;
}
)"};

using Standard_Vertex_Text = Built_Source<STANDARD_VERTEX_PARTS>;
using Standard_Fragment_Text = Built_Source<STANDARD_FRAGMENT_PARTS>;
using UI_Vertex_Text = Built_Source<UI_VERTEX_PARTS>;
using UI_Fragment_Text = Built_Source<UI_FRAGMENT_PARTS>;
using Blur_Vertex_Text = Built_Source<BLUR_VERTEX_PARTS>;
using Blur_Fragment_Text = Built_Source<BLUR_FRAGMENT_PARTS>;

} // namespace

constexpr String STANDARD_VERTEX_SOURCE = Standard_Vertex_Text::string();
constexpr String STANDARD_FRAGMENT_SOURCE = Standard_Fragment_Text::string();
constexpr String UI_VERTEX_SOURCE = UI_Vertex_Text::string();
constexpr String UI_FRAGMENT_SOURCE = UI_Fragment_Text::string();
constexpr String BLUR_VERTEX_SOURCE = Blur_Vertex_Text::string();
constexpr String BLUR_FRAGMENT_SOURCE = Blur_Fragment_Text::string();

} // namespace tessera
