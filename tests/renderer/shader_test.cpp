#include "renderer/shader.h"
#include "renderer/shader_sources.h"

#include "gl/gl.h"

#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessera {
namespace {

std::string text_of(String s) {
    return test::to_std(s);
}

GLint current_program() {
    GLint id = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &id);
    return id;
}

// Releases what a test's shaders hold, the cache included (deinit keeps it).
struct Owned_Shader {
    Shader shader;
    ~Owned_Shader() {
        deinit(&shader);
        table_deinit(&shader.uniforms);
    }
};

// Counts calls of one GL entry while alive; the real entry still runs.
struct Counted_Uniform_Lookups {
    static inline s32 calls = 0;
    static inline PFNGLGETUNIFORMLOCATIONPROC real = nullptr;
    static GLint APIENTRY counting(GLuint program, const GLchar *name) {
        calls++;
        return real(program, name);
    }
    Counted_Uniform_Lookups() {
        calls = 0;
        real = glGetUniformLocation;
        glGetUniformLocation = counting;
    }
    ~Counted_Uniform_Lookups() { glGetUniformLocation = real; }
};

// ---- The program texts -----------------------------------------------------------------

TEST(Shader_Sources, EveryTextOpensWithVersionAndPrecisionAndIsTerminated) {
    for (String s : {STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE,
                     BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE}) {
        EXPECT_EQ(text_of(s).rfind("#version 330 core\nprecision mediump float;\n", 0), 0u) << text_of(s);
        EXPECT_EQ(s.data[s.count], 0);
    }
}

TEST(Shader_Sources, BothFragmentTextsSelectTheSamplerWithSixteenCaseLinesThenDiscard) {
    std::string block;
    for (int slot = 0; slot < 16; slot++) {
        std::string n = std::to_string(slot);
        block += "        case " + n + ":  texel = texture(u_samplers[" + n + "], v_texture_uv); break;\n";
    }
    block += "        default: discard;\n";
    // Spot-check the generated form against the literal line, single and double digits.
    ASSERT_NE(block.find("        case 9:  texel = texture(u_samplers[9], v_texture_uv); break;\n"
                         "        case 10:  texel = texture(u_samplers[10], v_texture_uv); break;\n"),
              std::string::npos);

    for (String s : {STANDARD_FRAGMENT_SOURCE, UI_FRAGMENT_SOURCE}) {
        std::string text = text_of(s);
        EXPECT_NE(text.find(block), std::string::npos) << text;
        EXPECT_EQ(text.find("case 16:"), std::string::npos);
    }
}

// ---- Compiling and linking ---------------------------------------------------------------

struct Program_Case {
    const char *label;
    String vertex, fragment;
    std::vector<Hashed_String> present; // uniforms the flush sets on this program
    std::vector<Hashed_String> absent;
};

std::vector<Program_Case> program_cases() {
    return {
        {"standard",
         STANDARD_VERTEX_SOURCE,
         STANDARD_FRAGMENT_SOURCE,
         {U_PROJECTION, U_OPACITY, U_SAMPLERS},
         {U_SOFT_CIRCLE_POSITION, U_RADIUS}},
        {"ui",
         UI_VERTEX_SOURCE,
         UI_FRAGMENT_SOURCE,
         {U_PROJECTION, U_OPACITY, U_SAMPLERS, U_SOFT_CIRCLE_POSITION},
         {U_SAMPLER, U_DIRECTION}},
        {"blur",
         BLUR_VERTEX_SOURCE,
         BLUR_FRAGMENT_SOURCE,
         {U_SAMPLER, U_RADIUS, U_SRC_RES, U_DIRECTION},
         {U_OPACITY, U_PROJECTION}},
    };
}

struct Shader_Test : test::GL_Test {};

TEST_F(Shader_Test, TheThreeProgramsLinkAreLeftInUseAndHaveTheirUniforms) {
    for (const Program_Case &c : program_cases()) {
        SCOPED_TRACE(c.label);
        Owned_Shader s;
        test::Recording_Logger quiet;
        ASSERT_TRUE(load_from_memory(&s.shader, c.vertex, c.fragment));
        EXPECT_TRUE(quiet.messages.empty());

        ASSERT_NE(s.shader.id, 0u);
        GLint linked = 0;
        glGetProgramiv(s.shader.id, GL_LINK_STATUS, &linked);
        EXPECT_TRUE(linked);
        EXPECT_EQ(current_program(), static_cast<GLint>(s.shader.id));
        EXPECT_EQ(s.shader.uniforms.count, 0);

        for (Hashed_String name : c.present)
            EXPECT_GE(uniform_cache_location(&s.shader, name), 0) << text_of(name.name);
        for (Hashed_String name : c.absent)
            EXPECT_EQ(uniform_cache_location(&s.shader, name), -1) << text_of(name.name);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(Shader_Test, SourcesGivenAsSeveralStringsAreJoinedInOrder) {
    // The standard vertex text cut into three pieces at arbitrary points.
    String v = STANDARD_VERTEX_SOURCE;
    String pieces[] = {{40, v.data}, {7, v.data + 40}, {v.count - 47, v.data + 47}};
    String fragment[] = {STANDARD_FRAGMENT_SOURCE};
    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, Array_View<String>{3, pieces}, Array_View<String>{1, fragment}));
    EXPECT_GE(uniform_cache_location(&s.shader, U_PROJECTION), 0);
}

TEST_F(Shader_Test, ASuccessfulReloadDeletesTheOldProgramAndEmptiesTheCache) {
    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE));
    u32 old_id = s.shader.id;
    uniform_cache_location(&s.shader, U_PROJECTION);
    uniform_cache_location(&s.shader, U_RADIUS);
    ASSERT_EQ(s.shader.uniforms.count, 2);

    ASSERT_TRUE(load_from_memory(&s.shader, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE));
    EXPECT_NE(s.shader.id, old_id);
    EXPECT_FALSE(glIsProgram(old_id));
    EXPECT_EQ(current_program(), static_cast<GLint>(s.shader.id));
    EXPECT_EQ(s.shader.uniforms.count, 0);
    EXPECT_EQ(table_find(&s.shader.uniforms, U_PROJECTION), nullptr);
}

// ---- Failed loads ------------------------------------------------------------------------

const char VALID_VERTEX[] = "#version 330 core\n"
                            "void main() { gl_Position = vec4(0.0); }\n";
const char VALID_FRAGMENT[] = "#version 330 core\n"
                              "out vec4 o;\n"
                              "void main() { o = vec4(1.0); }\n";

struct Failure_Case {
    const char *label;
    std::vector<std::string> vertex, fragment;
    std::vector<std::string> expected_prefixes; // the messages, in order (a prefix of each)
    std::vector<Log_Flags> expected_flags;
    std::string last_message; // the whole of the last expected message, when checked
};

std::vector<Failure_Case> failure_cases() {
    // A '%' in a source must reach the log as it is.
    std::vector<std::string> broken_vertex = {"#version 330 core\n", "int f(int a) { return a % 3; }\n",
                                              "void main() { gl_Position = vec4(0.0) }\n"};
    std::vector<std::string> broken_fragment = {
        "#version 330 core\nout vec4 o;\nvoid main() { o = 100% ; }\n"};
    return {
        {"vertex",
         broken_vertex,
         {VALID_FRAGMENT},
         {"vertex shader failed to compile\n", "ShaderInfoLog for 'vertex': ", ""},
         {Log_Flags::ERROR, Log_Flags::NONE, Log_Flags::ERROR},
         broken_vertex[0] + broken_vertex[1] + broken_vertex[2]},
        {"fragment",
         {VALID_VERTEX},
         broken_fragment,
         {"fragment shader failed to compile\n", "ShaderInfoLog for 'fragment': ", "fragment shader:\n"},
         {Log_Flags::ERROR, Log_Flags::NONE, Log_Flags::ERROR},
         "fragment shader:\n" + broken_fragment[0] + "\n"},
        // Compiles, but a fragment stage without main does not link.
        {"link",
         {VALID_VERTEX},
         {"#version 330 core\nout vec4 o;\nvoid helper() { o = vec4(1.0); }\n"},
         {"shader program failed to link\n", "ProgramInfoLog for 'shader program': "},
         {Log_Flags::ERROR, Log_Flags::NONE},
         ""},
    };
}

std::vector<String> views_of(const std::vector<std::string> &texts) {
    std::vector<String> views;
    for (const std::string &t : texts) views.push_back(make_string(t.data(), static_cast<s64>(t.size())));
    return views;
}

TEST_F(Shader_Test, AFailedReloadLogsInOrderAndKeepsTheOldProgramAndCache) {
    for (const Failure_Case &c : failure_cases()) {
        SCOPED_TRACE(c.label);
        Owned_Shader s;
        ASSERT_TRUE(load_from_memory(&s.shader, STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE));
        u32 old_id = s.shader.id;
        s32 projection = uniform_cache_location(&s.shader, U_PROJECTION);
        ASSERT_GE(projection, 0);
        ASSERT_EQ(uniform_cache_location(&s.shader, U_RADIUS), -1);

        std::vector<String> vertex = views_of(c.vertex), fragment = views_of(c.fragment);
        test::Recording_Logger logger;
        bool loaded =
            load_from_memory(&s.shader, Array_View<String>{static_cast<s64>(vertex.size()), vertex.data()},
                             Array_View<String>{static_cast<s64>(fragment.size()), fragment.data()});
        std::vector<test::Logged_Message> messages = logger.messages;

        EXPECT_FALSE(loaded);
        ASSERT_GE(messages.size(), c.expected_prefixes.size());
        for (size_t i = 0; i < c.expected_prefixes.size(); i++) {
            EXPECT_EQ(messages[i].text.rfind(c.expected_prefixes[i], 0), 0u) << i << ": " << messages[i].text;
            EXPECT_EQ(messages[i].flags, c.expected_flags[i]) << i;
        }
        if (!c.last_message.empty()) {
            EXPECT_EQ(messages.size(), c.expected_prefixes.size());
            EXPECT_EQ(messages[c.expected_prefixes.size() - 1].text, c.last_message);
        } else {
            // After the program's log, only the stages' logs may follow: fragment, then vertex.
            std::vector<std::string> rest;
            for (size_t i = c.expected_prefixes.size(); i < messages.size(); i++)
                rest.push_back(messages[i].text);
            size_t at = 0;
            for (const char *label : {"ShaderInfoLog for 'fragment': ", "ShaderInfoLog for 'vertex': "}) {
                if (at < rest.size() && rest[at].rfind(label, 0) == 0) at++;
            }
            EXPECT_EQ(at, rest.size());
        }

        // The old program and its cache, untouched and still answering without GL.
        EXPECT_EQ(s.shader.id, old_id);
        EXPECT_TRUE(glIsProgram(old_id));
        EXPECT_EQ(current_program(), static_cast<GLint>(old_id));
        EXPECT_EQ(s.shader.uniforms.count, 2);
        Counted_Uniform_Lookups counter;
        EXPECT_EQ(uniform_cache_location(&s.shader, U_PROJECTION), projection);
        EXPECT_EQ(uniform_cache_location(&s.shader, U_RADIUS), -1);
        EXPECT_EQ(counter.calls, 0);
    }
}

TEST(Shader_Death, AnEmptySourceListAndAMissingProgramNameStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(set_shader_source(0, Array_View<String>{}), "Assertion failed");

    // Asserted before any other GL call, so no context is needed.
    EXPECT_DEATH(
        {
            glCreateProgram = []() -> GLuint { return 0; };
            Shader s;
            load_from_memory(&s, "a"_s, "b"_s);
        },
        "Assertion failed");
}

// ---- The location cache -------------------------------------------------------------------

TEST_F(Shader_Test, EachNameCostsOneLookupAndAMissingNameCachesMinusOne) {
    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE));

    Counted_Uniform_Lookups counter;
    s32 radius = uniform_cache_location(&s.shader, U_RADIUS);
    EXPECT_GE(radius, 0);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(uniform_cache_location(&s.shader, U_RADIUS), radius);
    EXPECT_EQ(counter.calls, 1);

    // The blur program has no u_opacity: -1 is cached, and setting it changes nothing.
    uniform(&s.shader, U_OPACITY, 0.5f);
    uniform(&s.shader, U_OPACITY, 0.25f);
    EXPECT_EQ(counter.calls, 2);
    ASSERT_NE(table_find(&s.shader.uniforms, U_OPACITY), nullptr);
    EXPECT_EQ(*table_find(&s.shader.uniforms, U_OPACITY), -1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Through `uniform` too, a cached name asks GL nothing.
    uniform(&s.shader, U_RADIUS, 3.0f);
    EXPECT_EQ(counter.calls, 2);
}

TEST_F(Shader_Test, ANameMadeAtRunTimeNeedNotBeFollowedByAZeroByte) {
    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE));
    char text[] = "u_radiusXYZ";
    Hashed_String name = create_hashed_string(make_string(text, 8)); // "u_radius", then 'X'
    EXPECT_EQ(uniform_cache_location(&s.shader, name), glGetUniformLocation(s.shader.id, "u_radius"));
    EXPECT_GE(uniform_cache_location(&s.shader, name), 0);
}

TEST_F(Shader_Test, DeinitDeletesTheProgramAndKeepsTheCache) {
    static s32 deletes;
    deletes = 0;
    PFNGLDELETEPROGRAMPROC real = glDeleteProgram;
    glDeleteProgram = [](GLuint) { deletes++; };
    Shader empty;
    deinit(&empty);
    glDeleteProgram = real;
    EXPECT_EQ(deletes, 0);

    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE));
    u32 id = s.shader.id;
    uniform_cache_location(&s.shader, U_OPACITY);
    deinit(&s.shader);
    EXPECT_EQ(s.shader.id, 0u);
    glUseProgram(0);
    EXPECT_FALSE(glIsProgram(id));
    EXPECT_EQ(s.shader.uniforms.count, 1);
}

// ---- Setting uniforms ------------------------------------------------------------------------

std::vector<f32> read_floats(u32 program, const char *name, s32 n) {
    std::vector<f32> v(16, -99.0f);
    glGetUniformfv(program, glGetUniformLocation(program, name), v.data());
    v.resize(n);
    return v;
}

// Row-major, no symmetry, so a missing transposition shows.
constexpr Matrix4 M_A = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr Matrix4 M_B = {-1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12, -13, -14, -15, -16};

// What GL reports for a matrix uploaded from row-major m: its columns in order.
std::vector<f32> columns_of(const Matrix4 &m) {
    const f32 *e = &m._11;
    std::vector<f32> v;
    for (int c = 0; c < 4; c++) {
        for (int r = 0; r < 4; r++) v.push_back(e[r * 4 + c]);
    }
    return v;
}

TEST_F(Shader_Test, AMatrixListSendsOnlyItsFirstMatrixTransposed) {
    const char vertex[] = "#version 330 core\n"
                          "uniform mat4 u_m[3];\n"
                          "void main() { gl_Position = u_m[0] * u_m[1] * u_m[2] * vec4(1.0); }\n";
    Owned_Shader s;
    ASSERT_TRUE(load_from_memory(&s.shader, from_c_string(vertex), from_c_string(VALID_FRAGMENT)));
    u32 p = s.shader.id;
    s32 location = glGetUniformLocation(p, "u_m");
    ASSERT_GE(location, 0);

    Matrix4 three[] = {M_A, M_B, M_B};
    set_uniform(location, Array_View<Matrix4>{3, three});
    EXPECT_EQ(read_floats(p, "u_m[0]", 16), columns_of(M_A));
    EXPECT_EQ(read_floats(p, "u_m[1]", 16), std::vector<f32>(16, 0.0f));
    EXPECT_EQ(read_floats(p, "u_m[2]", 16), std::vector<f32>(16, 0.0f));

    set_uniform(location, Array_View<Matrix4>{});
    EXPECT_EQ(read_floats(p, "u_m[0]", 16), columns_of(M_A));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

enum class Read { INT, UINT, FLOAT };

struct Setter_Case {
    const char *label;
    void (*set)(u32 program);
    Read read;
    std::vector<std::pair<const char *, std::vector<f64>>> expected; // element name, its components
};

s32 at(u32 program, const char *name) {
    return glGetUniformLocation(program, name);
}

TEST_F(Shader_Test, EachSetUniformSendsItsValueAndExactlyCountElements) {
    const char fragment[] =
        "#version 330 core\n"
        "uniform int u_i; uniform uint u_u; uniform float u_f;\n"
        "uniform int u_iv[3]; uniform uint u_uv[3]; uniform float u_fv[3];\n"
        "uniform vec2 u_v2; uniform vec3 u_v3; uniform vec4 u_v4;\n"
        "uniform vec2 u_v2v[2]; uniform vec4 u_v4v[2];\n"
        "out vec4 o;\n"
        "void main() {\n"
        "    float s = float(u_i) + float(u_u) + u_f + u_v2.x + u_v3.y + u_v4.z;\n"
        "    for (int k = 0; k < 3; k++) s += float(u_iv[k]) + float(u_uv[k]) + u_fv[k];\n"
        "    for (int k = 0; k < 2; k++) s += u_v2v[k].y + u_v4v[k].w;\n"
        "    o = vec4(s);\n"
        "}\n";
    static const s32 ints[] = {7, -8, 9};
    static const u32 uints[] = {4000000000u, 5, 6};
    static const f32 floats[] = {0.5f, 1.5f, 2.5f};
    static const Vector2 v2s[] = {{1, 2}, {3, 4}};
    static const Vector4 v4s[] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    std::vector<Setter_Case> cases = {
        {"s32", [](u32 p) { set_uniform(at(p, "u_i"), s32{-3}); }, Read::INT, {{"u_i", {-3}}}},
        {"u32",
         [](u32 p) { set_uniform(at(p, "u_u"), u32{3000000000u}); },
         Read::UINT,
         {{"u_u", {3000000000.0}}}},
        {"f32", [](u32 p) { set_uniform(at(p, "u_f"), 0.75f); }, Read::FLOAT, {{"u_f", {0.75}}}},
        {"s32 x 2",
         [](u32 p) { set_uniform(at(p, "u_iv"), ints, 2); },
         Read::INT,
         {{"u_iv[0]", {7}}, {"u_iv[1]", {-8}}, {"u_iv[2]", {0}}}},
        {"u32 x 2",
         [](u32 p) { set_uniform(at(p, "u_uv"), uints, 2); },
         Read::UINT,
         {{"u_uv[0]", {4000000000.0}}, {"u_uv[1]", {5}}, {"u_uv[2]", {0}}}},
        {"f32 x 3",
         [](u32 p) { set_uniform(at(p, "u_fv"), floats, 3); },
         Read::FLOAT,
         {{"u_fv[0]", {0.5}}, {"u_fv[1]", {1.5}}, {"u_fv[2]", {2.5}}}},
        {"Vector2",
         [](u32 p) {
             set_uniform(at(p, "u_v2"), Vector2{1.25f, -2});
         },
         Read::FLOAT,
         {{"u_v2", {1.25, -2}}}},
        {"Vector3",
         [](u32 p) {
             set_uniform(at(p, "u_v3"), Vector3{1, 2, 3});
         },
         Read::FLOAT,
         {{"u_v3", {1, 2, 3}}}},
        {"Vector4",
         [](u32 p) {
             set_uniform(at(p, "u_v4"), Vector4{1, 2, 3, 4});
         },
         Read::FLOAT,
         {{"u_v4", {1, 2, 3, 4}}}},
        {"Vector2 x 1",
         [](u32 p) { set_uniform(at(p, "u_v2v"), v2s, 1); },
         Read::FLOAT,
         {{"u_v2v[0]", {1, 2}}, {"u_v2v[1]", {0, 0}}}},
        {"Vector4 x 2",
         [](u32 p) { set_uniform(at(p, "u_v4v"), v4s, 2); },
         Read::FLOAT,
         {{"u_v4v[0]", {1, 2, 3, 4}}, {"u_v4v[1]", {5, 6, 7, 8}}}},
    };

    for (const Setter_Case &c : cases) {
        SCOPED_TRACE(c.label);
        Owned_Shader s; // fresh, so every uniform starts at 0
        ASSERT_TRUE(load_from_memory(&s.shader, from_c_string(VALID_VERTEX), from_c_string(fragment)));
        u32 p = s.shader.id;
        c.set(p);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        for (const auto &[name, components] : c.expected) {
            s32 location = at(p, name);
            ASSERT_GE(location, 0) << name;
            s32 ints_read[4] = {};
            u32 uints_read[4] = {};
            f32 floats_read[4] = {};
            if (c.read == Read::INT) glGetUniformiv(p, location, ints_read);
            if (c.read == Read::UINT) glGetUniformuiv(p, location, uints_read);
            if (c.read == Read::FLOAT) glGetUniformfv(p, location, floats_read);
            std::vector<f64> got;
            for (size_t k = 0; k < components.size(); k++) {
                got.push_back(c.read == Read::INT    ? ints_read[k]
                              : c.read == Read::UINT ? uints_read[k]
                                                     : floats_read[k]);
            }
            EXPECT_EQ(got, components) << name;
        }
    }
}

TEST_F(Shader_Test, UniformByNameReachesTheProgramsUniforms) {
    Owned_Shader ui;
    ASSERT_TRUE(load_from_memory(&ui.shader, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE));
    u32 p = ui.shader.id;
    uniform(&ui.shader, U_PROJECTION, M_A);
    uniform(&ui.shader, U_OPACITY, 0.25f);
    uniform(&ui.shader, U_SOFT_CIRCLE_POSITION, Vector2{3, 4});
    // Eight units, as on a driver with eight: the other eight keep their 0.
    const s32 slots[] = {1, 2, 3, 4, 5, 6, 7, 8};
    uniform(&ui.shader, U_SAMPLERS, slots, 8);

    EXPECT_EQ(read_floats(p, "u_projection", 16), columns_of(M_A));
    EXPECT_EQ(read_floats(p, "u_opacity", 1), std::vector<f32>{0.25f});
    EXPECT_EQ(read_floats(p, "u_soft_circle_position", 2), (std::vector<f32>{3, 4}));
    for (s32 k = 0; k < 16; k++) {
        std::string name = "u_samplers[" + std::to_string(k) + "]";
        GLint value = -1;
        glGetUniformiv(p, glGetUniformLocation(p, name.c_str()), &value);
        EXPECT_EQ(value, k < 8 ? k + 1 : 0) << name;
    }

    Owned_Shader blur;
    ASSERT_TRUE(load_from_memory(&blur.shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE));
    p = blur.shader.id;
    uniform(&blur.shader, U_RADIUS, 2.5f);
    uniform(&blur.shader, U_SRC_RES, Vector2{50, 25});
    uniform(&blur.shader, U_DIRECTION, s32{1});
    uniform(&blur.shader, U_SAMPLER, s32{3});
    EXPECT_EQ(read_floats(p, "u_radius", 1), std::vector<f32>{2.5f});
    EXPECT_EQ(read_floats(p, "u_src_res", 2), (std::vector<f32>{50, 25}));
    GLint direction = 0, sampler = 0;
    glGetUniformiv(p, glGetUniformLocation(p, "u_direction"), &direction);
    glGetUniformiv(p, glGetUniformLocation(p, "u_sampler"), &sampler);
    EXPECT_EQ(direction, 1);
    EXPECT_EQ(sampler, 3);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
} // namespace tessera
