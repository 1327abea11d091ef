// Shaders: one linked GL program and a cache of its uniform locations.
//
// load_from_memory compiles a vertex and a fragment stage from source strings,
// links them and, only once the new program has linked, deletes the program the
// record held before and starts an empty cache. A failed compile or link logs
// the compiler's or linker's output (the messages below, in this order) and
// returns false; the record keeps its earlier program and cache.
//
// Uniforms are set by name through the cache (`uniform`) or by location
// (`set_uniform`). Names are Hashed_String constants hashed at build time
// (U_PROJECTION, ...), and GL needs the text zero-terminated, which the build-time
// names are.
//
// Costs:
// - Each (program, name) pair costs one glGetUniformLocation for the life of the
//   program; the answer is cached, -1 for a name the program lacks. Afterwards a
//   lookup is one hash-table probe on the precomputed hash: no string work.
// - The cache grows on the context's allocator (the general heap by default);
//   sources of several strings and the joined source text of a failure report
//   use scratch storage only, given back before returning.
// - Every set_uniform is exactly one GL call on the program in use; `uniform`
//   does not bind the program.
// Main thread only, with the GL context current.
#pragma once

#include "base/array.h"
#include "base/string.h"
#include "base/table.h"
#include "base/types.h"
#include "utils.h"

namespace tessera {

struct Shader {
    String name; // a label; nothing reads it
    u32 id = 0;  // GL program name; 0: none
    bool dirty = false;
    // Location per name; -1 records a name the program does not have. Keyed by
    // the hash alone: two names with one hash share an entry.
    Table<Hashed_String, s32, get_hash, compare_proc> uniforms;
};

// ---- Uniform names -----------------------------------------------------------------

inline constexpr Hashed_String U_PROJECTION = "u_projection"_hs;                     // standard, UI
inline constexpr Hashed_String U_OPACITY = "u_opacity"_hs;                           // standard, UI
inline constexpr Hashed_String U_SAMPLERS = "u_samplers"_hs;                         // standard, UI
inline constexpr Hashed_String U_SOFT_CIRCLE_POSITION = "u_soft_circle_position"_hs; // UI
inline constexpr Hashed_String U_SAMPLER = "u_sampler"_hs;                           // blur
inline constexpr Hashed_String U_RADIUS = "u_radius"_hs;                             // blur
inline constexpr Hashed_String U_SRC_RES = "u_src_res"_hs;                           // blur
inline constexpr Hashed_String U_DIRECTION = "u_direction"_hs;                       // blur

// ---- Messages ------------------------------------------------------------------------

// At error level, each followed by the info-log dumps; a failed compile also logs
// the stage's source text (the vertex text as it is, the fragment text through
// SHADER_FRAGMENT_SOURCE_MESSAGE).
inline constexpr char SHADER_VERTEX_COMPILE_MESSAGE[] = "vertex shader failed to compile\n";
inline constexpr char SHADER_FRAGMENT_COMPILE_MESSAGE[] = "fragment shader failed to compile\n";
inline constexpr char SHADER_FRAGMENT_SOURCE_MESSAGE[] = "fragment shader:\n%\n";
inline constexpr char SHADER_LINK_MESSAGE[] = "shader program failed to link\n";

// At the ordinary level, with the label ("vertex", "fragment", "shader program")
// and the log text; nothing for an empty log. A link failure dumps the program's
// log, then the fragment stage's, then the vertex stage's.
inline constexpr char SHADER_INFO_LOG_MESSAGE[] = "ShaderInfoLog for '%': %\n";
inline constexpr char PROGRAM_INFO_LOG_MESSAGE[] = "ProgramInfoLog for '%': %\n";

// Bytes of an info log read back; longer logs are cut.
inline constexpr s32 SHADER_INFO_LOG_CAPACITY = 4096;

// ---- Programs --------------------------------------------------------------------------

// Compiles each stage from its strings (GL joins them in list order), links, and
// on success installs the program in `shader` with an empty cache and leaves it
// in use. Neither list may be empty. On failure: the messages above, false, and
// `shader` as it was.
bool load_from_memory(Shader *shader, Array_View<String> vertex_data, Array_View<String> fragment_data);
// The same with one string per stage.
bool load_from_memory(Shader *shader, String vertex_data, String fragment_data);

// glShaderSource for the shader object `shader`; `sources` must not be empty.
void set_shader_source(u32 shader, Array_View<String> sources);

// Deletes the program, if any, and sets id to 0. No GL call when id is 0. The
// cache is left as it is (the next successful load replaces it).
void deinit(Shader *shader);

// glUseProgram(shader.id).
void bind(const Shader &shader);

// ---- Uniforms ---------------------------------------------------------------------------

// The location of `key` in the program: cached, else asked of GL once and cached
// (also when it is -1).
s32 uniform_cache_location(Shader *shader, Hashed_String key);

// Set through the cache on the program in use. A name the program lacks is
// ignored by GL.
void uniform(Shader *shader, Hashed_String key, const Matrix4 &value);
void uniform(Shader *shader, Hashed_String key, f32 value);
void uniform(Shader *shader, Hashed_String key, s32 value);
void uniform(Shader *shader, Hashed_String key, Vector2 value);
void uniform(Shader *shader, Hashed_String key, const s32 *values, u32 count);

// One GL call each on the program in use. The array forms send `count` elements
// starting at `location`.
void set_uniform(s32 location, s32 value);
void set_uniform(s32 location, u32 value);
void set_uniform(s32 location, f32 value);
void set_uniform(s32 location, const s32 *values, u32 count);
void set_uniform(s32 location, const u32 *values, u32 count);
void set_uniform(s32 location, const f32 *values, u32 count);
void set_uniform(s32 location, Vector2 value);
void set_uniform(s32 location, Vector3 value);
void set_uniform(s32 location, Vector4 value);
void set_uniform(s32 location, const Vector2 *values, u32 count);
void set_uniform(s32 location, const Vector4 *values, u32 count);
// Sends the first matrix only, transposed into the column order GL reads; the
// rest of the list is not sent, and an empty list sends nothing.
void set_uniform(s32 location, Array_View<Matrix4> values);

} // namespace tessera
