#include "renderer/shader.h"

#include "base/allocator.h"
#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"
#include "gl/gl.h"

#include <climits>
#include <cstring>

namespace tessera {

// ---- Failure reports -------------------------------------------------------------------

namespace {

void dump_shader_info_log(u32 shader, String label) {
    char buffer[SHADER_INFO_LOG_CAPACITY];
    GLsizei length = 0;
    glGetShaderInfoLog(shader, SHADER_INFO_LOG_CAPACITY, &length, buffer);
    if (length > 0) log(SHADER_INFO_LOG_MESSAGE, label, make_string(buffer, length));
}

void dump_program_info_log(u32 program, String label) {
    char buffer[SHADER_INFO_LOG_CAPACITY];
    GLsizei length = 0;
    glGetProgramInfoLog(program, SHADER_INFO_LOG_CAPACITY, &length, buffer);
    if (length > 0) log(PROGRAM_INFO_LOG_MESSAGE, label, make_string(buffer, length));
}

// The strings joined with nothing between them, in scratch storage.
String join_sources(Array_View<String> sources) {
    s64 total = 0;
    for (String s : sources) total += s.count;
    u8 *bytes = static_cast<u8 *>(allocate(total + 1, temporary_allocator));
    s64 at = 0;
    for (String s : sources) {
        if (s.count) memcpy(bytes + at, s.data, static_cast<size_t>(s.count));
        at += s.count;
    }
    bytes[at] = 0;
    return String{total, bytes};
}

// Returns the compiled shader object, or 0 when it did not compile (the
// object is deleted then).
u32 compile_stage(GLenum stage, Array_View<String> sources) {
    u32 shader = glCreateShader(stage);
    set_shader_source(shader, sources);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status) return shader;

    Temporary_Scope scope;
    if (stage == GL_VERTEX_SHADER) {
        log_error(SHADER_VERTEX_COMPILE_MESSAGE);
        dump_shader_info_log(shader, "vertex"_s);
        // Through "%": a source may contain '%' (the modulo operator).
        log_error("%", join_sources(sources));
    } else {
        log_error(SHADER_FRAGMENT_COMPILE_MESSAGE);
        dump_shader_info_log(shader, "fragment"_s);
        log_error(SHADER_FRAGMENT_SOURCE_MESSAGE, join_sources(sources));
    }
    glDeleteShader(shader);
    return 0;
}

} // namespace

// ---- Programs ----------------------------------------------------------------------------

bool load_from_memory(Shader *shader, Array_View<String> vertex_data, Array_View<String> fragment_data) {
    u32 program = glCreateProgram();
    ASSERT(program != 0, "glCreateProgram gave no program name");

    u32 vs = compile_stage(GL_VERTEX_SHADER, vertex_data);
    if (!vs) {
        glDeleteProgram(program);
        return false;
    }
    glAttachShader(program, vs);

    u32 fs = compile_stage(GL_FRAGMENT_SHADER, fragment_data);
    if (!fs) {
        glDeleteProgram(program);
        glDeleteShader(vs);
        return false;
    }
    glAttachShader(program, fs);

    glLinkProgram(program);
    // Validation replaces the program's info log, so it runs only after a
    // successful link: before, it would wipe the linker's message.
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        log_error(SHADER_LINK_MESSAGE);
        dump_program_info_log(program, "shader program"_s);
        dump_shader_info_log(fs, "fragment"_s);
        dump_shader_info_log(vs, "vertex"_s);
        glDeleteProgram(program);
        glDeleteShader(fs);
        glDeleteShader(vs);
        return false;
    }

    glValidateProgram(program);

    // The stages stay attached; deleting them now only lets GL free them with
    // the program.
    glDeleteShader(vs);
    glDeleteShader(fs);

    glUseProgram(program);
    // The earlier program goes only now that its replacement works.
    deinit(shader);
    shader->id = program;
    Allocator cache_allocator = shader->uniforms.allocator;
    table_deinit(&shader->uniforms);
    shader->uniforms.allocator = cache_allocator;
    return true;
}

bool load_from_memory(Shader *shader, String vertex_data, String fragment_data) {
    return load_from_memory(shader, Array_View<String>{1, &vertex_data},
                            Array_View<String>{1, &fragment_data});
}

void set_shader_source(u32 shader, Array_View<String> sources) {
    ASSERT(sources.count > 0, "set_shader_source needs at least one source string");
    for (String s : sources)
        ASSERT(s.count <= INT_MAX, "shader source of % bytes is too long for GL", s.count);

    if (sources.count == 1) {
        const GLchar *text = reinterpret_cast<const GLchar *>(sources.data[0].data);
        GLint length = static_cast<GLint>(sources.data[0].count);
        glShaderSource(shader, 1, &text, &length);
        return;
    }

    ASSERT(sources.count <= INT_MAX, "% shader source strings are too many for GL", sources.count);
    Temporary_Scope scope;
    auto **texts = static_cast<const GLchar **>(
        allocate(sources.count * static_cast<s64>(sizeof(const GLchar *)), temporary_allocator));
    auto *lengths =
        static_cast<GLint *>(allocate(sources.count * static_cast<s64>(sizeof(GLint)), temporary_allocator));
    for (s64 i = 0; i < sources.count; i++) {
        texts[i] = reinterpret_cast<const GLchar *>(sources.data[i].data);
        lengths[i] = static_cast<GLint>(sources.data[i].count);
    }
    glShaderSource(shader, static_cast<GLsizei>(sources.count), texts, lengths);
}

void deinit(Shader *shader) {
    if (shader->id == 0) return;
    glDeleteProgram(shader->id);
    shader->id = 0;
}

void bind(const Shader &shader) {
    glUseProgram(shader.id);
}

// ---- Uniforms -----------------------------------------------------------------------------

s32 uniform_cache_location(Shader *shader, Hashed_String key) {
    if (s32 *cached = table_find(&shader->uniforms, key)) return *cached;

    // GL reads the name up to a zero byte. The build-time names have one; a name
    // made at run time may be a view into a longer text, so the lookup (once per
    // name and program) goes through a terminated copy.
    s32 location;
    {
        Temporary_Scope scope;
        char *name = static_cast<char *>(allocate(key.name.count + 1, temporary_allocator));
        if (key.name.count) memcpy(name, key.name.data, static_cast<size_t>(key.name.count));
        name[key.name.count] = 0;
        location = glGetUniformLocation(shader->id, name);
    }
    table_set(&shader->uniforms, key, location);
    return location;
}

void uniform(Shader *shader, Hashed_String key, const Matrix4 &value) {
    set_uniform(uniform_cache_location(shader, key), Array_View<Matrix4>{1, const_cast<Matrix4 *>(&value)});
}

void uniform(Shader *shader, Hashed_String key, f32 value) {
    set_uniform(uniform_cache_location(shader, key), value);
}

void uniform(Shader *shader, Hashed_String key, s32 value) {
    set_uniform(uniform_cache_location(shader, key), value);
}

void uniform(Shader *shader, Hashed_String key, Vector2 value) {
    set_uniform(uniform_cache_location(shader, key), value);
}

void uniform(Shader *shader, Hashed_String key, const s32 *values, u32 count) {
    set_uniform(uniform_cache_location(shader, key), values, count);
}

void set_uniform(s32 location, s32 value) {
    glUniform1i(location, value);
}

void set_uniform(s32 location, u32 value) {
    glUniform1ui(location, value);
}

void set_uniform(s32 location, f32 value) {
    glUniform1f(location, value);
}

void set_uniform(s32 location, const s32 *values, u32 count) {
    glUniform1iv(location, static_cast<GLsizei>(count), values);
}

void set_uniform(s32 location, const u32 *values, u32 count) {
    glUniform1uiv(location, static_cast<GLsizei>(count), values);
}

void set_uniform(s32 location, const f32 *values, u32 count) {
    glUniform1fv(location, static_cast<GLsizei>(count), values);
}

void set_uniform(s32 location, Vector2 value) {
    glUniform2f(location, value.x, value.y);
}

void set_uniform(s32 location, Vector3 value) {
    glUniform3f(location, value.x, value.y, value.z);
}

void set_uniform(s32 location, Vector4 value) {
    glUniform4f(location, value.x, value.y, value.z, value.w);
}

void set_uniform(s32 location, const Vector2 *values, u32 count) {
    glUniform2fv(location, static_cast<GLsizei>(count), &values->x);
}

void set_uniform(s32 location, const Vector4 *values, u32 count) {
    glUniform4fv(location, static_cast<GLsizei>(count), &values->x);
}

void set_uniform(s32 location, Array_View<Matrix4> values) {
    if (values.count == 0) return;
    const Matrix4 &m = values.data[0];
    // m is stored row by row and GL reads the array column by column: hand it
    // m's columns in order.
    const f32 transposed[16] = {
        m._11, m._21, m._31, m._41, m._12, m._22, m._32, m._42,
        m._13, m._23, m._33, m._43, m._14, m._24, m._34, m._44,
    };
    glUniformMatrix4fv(location, 1, GL_FALSE, transposed);
}

} // namespace tessera
