#include "attribute_state.h"
#include "renderer/vertex_layout.h"

#include "gl/gl.h"

#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessera {
namespace {

using test::Attribute_State;
using test::read_attribute;

// What one input of a layout should read back as.
struct Expected_Input {
    GLint size;
    GLenum type;
    bool normalized;
    uintptr_t offset;
    GLint divisor;
};

// A fresh vertex array object and vertex buffer, both bound.
struct Layout_Test : test::GL_Test {
    GLuint va = 0, vb = 0;
    void SetUp() override {
        test::GL_Test::SetUp();
        if (HasFatalFailure()) return;
        while (glGetError() != GL_NO_ERROR) {}
        glGenVertexArrays(1, &va);
        glBindVertexArray(va);
        glGenBuffers(1, &vb);
        glBindBuffer(GL_ARRAY_BUFFER, vb);
        glBufferData(GL_ARRAY_BUFFER, 4096, nullptr, GL_DYNAMIC_DRAW);
    }
    void TearDown() override {
        if (!va) return;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glDeleteBuffers(1, &vb);
        glDeleteVertexArrays(1, &va);
    }

    // Inputs 0..n-1 as expected, all reading from `vb` with `stride`; input n untouched.
    void expect_layout(const std::vector<Expected_Input> &inputs, GLint stride) {
        for (size_t i = 0; i < inputs.size(); i++) {
            Attribute_State s = read_attribute(static_cast<GLuint>(i));
            const Expected_Input &e = inputs[i];
            EXPECT_EQ(s.enabled, GL_TRUE) << "location " << i;
            EXPECT_EQ(s.size, e.size) << "location " << i;
            EXPECT_EQ(s.type, static_cast<GLint>(e.type)) << "location " << i;
            EXPECT_EQ(s.normalized, e.normalized ? GL_TRUE : GL_FALSE) << "location " << i;
            EXPECT_EQ(s.stride, stride) << "location " << i;
            EXPECT_EQ(s.offset, e.offset) << "location " << i;
            EXPECT_EQ(s.divisor, e.divisor) << "location " << i;
            EXPECT_EQ(s.buffer, static_cast<GLint>(vb)) << "location " << i;
        }
        Attribute_State next = read_attribute(static_cast<GLuint>(inputs.size()));
        EXPECT_EQ(next.enabled, GL_FALSE) << "the location after the layout";
        EXPECT_EQ(next.buffer, 0) << "the location after the layout";
    }
};

TEST_F(Layout_Test, TheSystemsLayoutsAndTheMixedExampleReadBackAsPacked) {
    struct Case {
        const char *label;
        std::vector<GL_Component> components;
        std::vector<Expected_Input> inputs;
        GLint stride;
    };
    using T = GL_Component_Type;
    std::vector<GL_Component> ui(8, GL_Component{T::FLOAT, 4, 1, false});
    std::vector<Expected_Input> ui_inputs;
    for (uintptr_t i = 0; i < 8; i++) ui_inputs.push_back({4, GL_FLOAT, false, 16 * i, 1});
    const Case cases[] = {
        {"standard",
         {{T::FLOAT, 3, 0, false}, {T::FLOAT, 2, 0, false}, {T::FLOAT, 4, 0, false}, {T::FLOAT, 1, 0, false}},
         {{3, GL_FLOAT, false, 0, 0},
          {2, GL_FLOAT, false, 12, 0},
          {4, GL_FLOAT, false, 20, 0},
          {1, GL_FLOAT, false, 36, 0}},
         40},
        {"ui", ui, ui_inputs, 128},
        {"normalised bytes, then floats",
         {{T::UNSIGNED_BYTE, 4, 0, true}, {T::FLOAT, 2, 0, false}},
         {{4, GL_UNSIGNED_BYTE, true, 0, 0}, {2, GL_FLOAT, false, 4, 0}},
         12},
        {"a divisor other than 1", {{T::SHORT, 2, 3, true}}, {{2, GL_SHORT, true, 0, 3}}, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        // Each case on its own object, so no state carries over.
        GLuint own = 0;
        glGenVertexArrays(1, &own);
        glBindVertexArray(own);
        set_vertex_array_layout(
            {static_cast<s64>(c.components.size()), const_cast<GL_Component *>(c.components.data())});
        expect_layout(c.inputs, c.stride);
        glBindVertexArray(va);
        glDeleteVertexArrays(1, &own);
    }
}

TEST_F(Layout_Test, EveryComponentTypeHasItsGlTypeAndSize) {
    using T = GL_Component_Type;
    struct Case {
        GL_Component_Type type;
        GLenum gl_type;
        uintptr_t bytes;
    };
    const Case cases[] = {
        {T::HALF_FLOAT, GL_HALF_FLOAT, 2},
        {T::FLOAT, GL_FLOAT, 4},
        {T::BYTE, GL_BYTE, 1},
        {T::UNSIGNED_BYTE, GL_UNSIGNED_BYTE, 1},
        {T::SHORT, GL_SHORT, 2},
        {T::UNSIGNED_SHORT, GL_UNSIGNED_SHORT, 2},
        {T::INT, GL_INT, 4},
        {T::UNSIGNED_INT, GL_UNSIGNED_INT, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        GL_Attribute_Info info = get_gl_attribute(c.type);
        EXPECT_EQ(info.gl_type, c.gl_type);
        EXPECT_EQ(info.bytes, c.bytes);
        // Three of the type, then one float: the float starts after 3 x bytes.
        GL_Component components[] = {{c.type, 3, 0, false}, {T::FLOAT, 1, 0, false}};
        set_vertex_array_layout({2, components});
        expect_layout({{3, c.gl_type, false, 0, 0}, {1, GL_FLOAT, false, 3 * c.bytes, 0}},
                      static_cast<GLint>(3 * c.bytes + 4));
    }
}

TEST_F(Layout_Test, AnEmptyListChangesNoAttribute) {
    GL_Component two[] = {{GL_Component_Type::FLOAT, 3, 2, false},
                          {GL_Component_Type::UNSIGNED_BYTE, 4, 0, true}};
    set_vertex_array_layout({2, two});
    // Another buffer bound now: a call that did anything would point the inputs at it.
    GLuint other = 0;
    glGenBuffers(1, &other);
    glBindBuffer(GL_ARRAY_BUFFER, other);

    set_vertex_array_layout({0, nullptr});

    expect_layout({{3, GL_FLOAT, false, 0, 2}, {4, GL_UNSIGNED_BYTE, true, 12, 0}}, 16);
    glBindBuffer(GL_ARRAY_BUFFER, vb);
    glDeleteBuffers(1, &other);
}

TEST_F(Layout_Test, BuffersHaveTheirSizeUsageAndStayBound) {
    struct Case {
        const char *label;
        bool index;
        s64 argument;
        GLint bytes;
    };
    const Case cases[] = {
        {"index buffer of 65536 indices", true, 65536, 131072},
        {"vertex buffer of 131072 bytes", false, 131072, 131072},
        {"empty index buffer", true, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        GLenum target = c.index ? GL_ELEMENT_ARRAY_BUFFER : GL_ARRAY_BUFFER;
        GLenum binding = c.index ? GL_ELEMENT_ARRAY_BUFFER_BINDING : GL_ARRAY_BUFFER_BINDING;
        u32 id = c.index ? element_buffer_init(c.argument) : vertex_buffer_init(c.argument);
        ASSERT_NE(id, 0u);
        GLint bound = 0, size = -1, usage = 0;
        glGetIntegerv(binding, &bound);
        EXPECT_EQ(bound, static_cast<GLint>(id));
        glGetBufferParameteriv(target, GL_BUFFER_SIZE, &size);
        glGetBufferParameteriv(target, GL_BUFFER_USAGE, &usage);
        EXPECT_EQ(size, c.bytes);
        EXPECT_EQ(usage, GL_DYNAMIC_DRAW);

        // Binding something else and then the buffer again through the helpers.
        if (c.index) {
            element_buffer_bind(0);
            glGetIntegerv(binding, &bound);
            EXPECT_EQ(bound, 0);
            element_buffer_bind(id);
        } else {
            vertex_buffer_bind(0);
            glGetIntegerv(binding, &bound);
            EXPECT_EQ(bound, 0);
            vertex_buffer_bind(id);
        }
        glGetIntegerv(binding, &bound);
        EXPECT_EQ(bound, static_cast<GLint>(id));

        glBindBuffer(target, c.index ? 0 : vb);
        glDeleteBuffers(1, &id);
    }
}

// No GL call happens before these checks. The children start afresh: a GL context
// made by an earlier test has driver threads that a fork would not carry over.
TEST(Layout_DeathTest, ValuesOutsideTheComponentRangeStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    GL_Component five[] = {{GL_Component_Type::FLOAT, 5, 0, false}};
    EXPECT_DEATH(set_vertex_array_layout({1, five}), "Vertex component 0 has 5 values; 1 to 4 are allowed");
    GL_Component none[] = {{GL_Component_Type::FLOAT, 0, 0, false}};
    EXPECT_DEATH(set_vertex_array_layout({1, none}), "Vertex component 0 has 0 values");
    EXPECT_DEATH(get_gl_attribute(static_cast<GL_Component_Type>(8)), "Unknown vertex component type 8");
}

} // namespace
} // namespace tessera
