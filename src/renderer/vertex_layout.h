// Vertex layouts and buffers: describe a vertex format as a short list of
// components and turn it into attribute pointers; create and bind the vertex and
// index buffers.
//
// A layout packs its inputs in list order with no gaps and no alignment: input i
// is attribute location i at the byte offset of the inputs before it, and the
// stride is the sum of (type bytes x count) over the list. Every input is declared
// with glVertexAttribPointer, so shaders read integer inputs as floats (converted,
// or normalised when asked).
//
// Under the hood:
// - set_vertex_array_layout touches GL only: per input one glVertexAttribDivisor,
//   one glVertexAttribPointer and one glEnableVertexAttribArray, on the vertex
//   array object and the GL_ARRAY_BUFFER the caller has bound. The setup lives in
//   that object, so it is done once per layout at start and reused by binding the
//   object again. Its scratch list of resolved attributes comes from the thread's
//   temporary storage and is given back before it returns.
// - The buffer helpers create GL storage of a fixed size with no data
//   (GL_DYNAMIC_DRAW) and leave the new buffer bound; indices are 16-bit.
// Main thread only, with the GL context current.
#pragma once

#include "base/array.h"
#include "base/enum.h"
#include "base/types.h"

namespace tessera {

// Component types of a layout (one byte).
#define TESSERA_GL_COMPONENT_TYPE_LIST(X)                                                                    \
    X(HALF_FLOAT, 0)                                                                                         \
    X(FLOAT, 1)                                                                                              \
    X(BYTE, 2)                                                                                               \
    X(UNSIGNED_BYTE, 3)                                                                                      \
    X(SHORT, 4)                                                                                              \
    X(UNSIGNED_SHORT, 5)                                                                                     \
    X(INT, 6)                                                                                                \
    X(UNSIGNED_INT, 7)
TESSERA_ENUM(GL_Component_Type, u8, TESSERA_GL_COMPONENT_TYPE_LIST)

// One shader input of a layout description.
struct GL_Component {
    GL_Component_Type type;
    u8 count;        // components per input, 1 to 4
    u8 divisor;      // 0: advances per vertex; n: once every n instances
    bool normalized; // integer components read as 0..1 or -1..1
};
static_assert(sizeof(GL_Component) == 4);

// The resolved form of one component.
struct Attribute {
    u32 type;   // GL type enum
    u32 offset; // bytes from the start of one vertex
    s32 count;
    bool normalized;
};

// What a component type stands for in GL.
struct GL_Attribute_Info {
    u32 gl_type; // GL_FLOAT, GL_UNSIGNED_BYTE, ...
    u8 bytes;    // size of one component
};

// The GL type and byte size of `attrib`; a value outside the list is a broken
// invariant and stops the program.
GL_Attribute_Info get_gl_attribute(GL_Component_Type attrib);

// Sets attributes 0 .. elements.count - 1 of the bound vertex array object to read
// from the buffer bound to GL_ARRAY_BUFFER, starting at its byte 0. The caller
// binds both first. Each count must be 1 to 4. An empty list changes nothing.
void set_vertex_array_layout(Array_View<GL_Component> elements);

// A new GL_ARRAY_BUFFER of `size` bytes, no data, GL_DYNAMIC_DRAW. Stays bound.
u32 vertex_buffer_init(s64 size);

// A new GL_ELEMENT_ARRAY_BUFFER for `index_count` 16-bit indices (2 bytes each),
// no data, GL_DYNAMIC_DRAW. Stays bound (the binding is state of the vertex
// array object bound at the time).
u32 element_buffer_init(s64 index_count);

void vertex_buffer_bind(u32 id);  // glBindBuffer(GL_ARRAY_BUFFER, id)
void element_buffer_bind(u32 id); // glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, id)

} // namespace tessera
