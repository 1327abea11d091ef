// The six GLSL texts of the renderer's three programs, built into the program.
//
// - standard: textured, coloured triangles (the Standard_Vertex layout, 40
//   bytes: a_position 0, a_texture_uv 1, a_color 2, a_texture_id 3). Output:
//   texel x vertex colour x u_opacity; a texture id below 0 samples white, slot
//   0..15 samples u_samplers[slot], anything else discards.
// - UI: one rectangle per instance (the UI_Vertex layout, 128 bytes, locations
//   0..7, divisor 1), drawn as a four-vertex triangle strip whose corners come
//   from gl_VertexID. A signed distance function shapes rounded corners, a
//   border ring and a soft edge; a soft circle around u_soft_circle_position
//   fades the alpha linearly to 0 at the instance's gradient radius. u_opacity
//   multiplies the alpha only.
// - blur: one direction of a separable Gaussian blur of u_sampler over the whole
//   viewport (no vertex buffer: four vertices from gl_VertexID). Sigma is
//   u_radius in texels; the kernel reaches 3 sigma, rounded up to an even count
//   of taps per side, of which two neighbours are merged into one linear fetch.
//   u_direction != 0 blurs horizontally, 0 vertically. Radius 0 copies.
//
// Each text starts with "#version 330 core" and "precision mediump float;".
// Both fragment programs select their texture with the same block of sixteen
// case lines, made from SAMPLER_CASE_LINE when the program is compiled, then a
// default that discards. The texts are zero-terminated in memory.
#pragma once

#include "base/string.h"
#include "base/types.h"

namespace tessera {

// Length of u_samplers in both fragment programs: the cap on texture units per pass.
inline constexpr s32 SAMPLER_SLOT_COUNT = 16;

// One line of the sampler-selection block; %1 stands for the slot number.
inline constexpr char SAMPLER_CASE_LINE[] =
    "        case %1:  texel = texture(u_samplers[%1], v_texture_uv); break;\n";

extern const String STANDARD_VERTEX_SOURCE;
extern const String STANDARD_FRAGMENT_SOURCE;
extern const String UI_VERTEX_SOURCE;
extern const String UI_FRAGMENT_SOURCE;
extern const String BLUR_VERTEX_SOURCE;
extern const String BLUR_FRAGMENT_SOURCE;

} // namespace tessera
