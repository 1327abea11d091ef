// One vertex attribute's state as GL reports it, for layout checks.
#pragma once

#include "gl/gl.h"

#include <cstdint>

namespace tessera::test {

struct Attribute_State {
    GLint enabled, size, type, normalized, stride, divisor, buffer;
    uintptr_t offset;
};

inline Attribute_State read_attribute(GLuint i) {
    Attribute_State s = {};
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &s.enabled);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_SIZE, &s.size);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_TYPE, &s.type);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &s.normalized);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &s.stride);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_DIVISOR, &s.divisor);
    glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &s.buffer);
    void *pointer = nullptr;
    glGetVertexAttribPointerv(i, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
    s.offset = reinterpret_cast<uintptr_t>(pointer);
    return s;
}

} // namespace tessera::test
