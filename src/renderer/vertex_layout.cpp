#include "renderer/vertex_layout.h"

#include "base/assert.h"
#include "base/context.h"
#include "gl/gl.h"

#include <cstdint>

namespace tessera {

// ---- Component types -----------------------------------------------------------

GL_Attribute_Info get_gl_attribute(GL_Component_Type attrib) {
    switch (attrib) {
    case GL_Component_Type::HALF_FLOAT:
        return {GL_HALF_FLOAT, 2};
    case GL_Component_Type::FLOAT:
        return {GL_FLOAT, 4};
    case GL_Component_Type::BYTE:
        return {GL_BYTE, 1};
    case GL_Component_Type::UNSIGNED_BYTE:
        return {GL_UNSIGNED_BYTE, 1};
    case GL_Component_Type::SHORT:
        return {GL_SHORT, 2};
    case GL_Component_Type::UNSIGNED_SHORT:
        return {GL_UNSIGNED_SHORT, 2};
    case GL_Component_Type::INT:
        return {GL_INT, 4};
    case GL_Component_Type::UNSIGNED_INT:
        return {GL_UNSIGNED_INT, 4};
    }
    ASSERT(false, "Unknown vertex component type %", static_cast<u32>(attrib));
}

// ---- Layouts -------------------------------------------------------------------

void set_vertex_array_layout(Array_View<GL_Component> elements) {
    if (elements.count <= 0) return;

    Temporary_Scope scope;
    Attribute *attributes = allocate_array<Attribute>(elements.count, temporary_allocator);

    // Resolve offsets first: every pointer call needs the final stride.
    u32 stride = 0;
    for (s64 i = 0; i < elements.count; i++) {
        const GL_Component &e = elements.data[i];
        ASSERT(e.count >= 1 && e.count <= 4, "Vertex component % has % values; 1 to 4 are allowed", i,
               e.count);
        GL_Attribute_Info info = get_gl_attribute(e.type);
        attributes[i] = {info.gl_type, stride, e.count, e.normalized};
        stride += static_cast<u32>(info.bytes) * e.count;
        glVertexAttribDivisor(static_cast<GLuint>(i), e.divisor);
    }

    for (s64 i = 0; i < elements.count; i++) {
        const Attribute &a = attributes[i];
        // The offset into the bound buffer travels in the pointer argument.
        const void *offset = reinterpret_cast<const void *>(static_cast<uintptr_t>(a.offset));
        glVertexAttribPointer(static_cast<GLuint>(i), a.count, a.type, a.normalized ? GL_TRUE : GL_FALSE,
                              static_cast<GLsizei>(stride), offset);
        glEnableVertexAttribArray(static_cast<GLuint>(i));
    }
}

// ---- Buffers -------------------------------------------------------------------

static u32 buffer_init(GLenum target, s64 bytes) {
    GLuint name = 0;
    glGenBuffers(1, &name);
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), nullptr, GL_DYNAMIC_DRAW);
    return name;
}

u32 vertex_buffer_init(s64 size) {
    ASSERT(size >= 0, "Vertex buffer of % bytes", size);
    return buffer_init(GL_ARRAY_BUFFER, size);
}

u32 element_buffer_init(s64 index_count) {
    // Twice the count must still be a byte size.
    ASSERT(index_count >= 0 && index_count <= INT64_MAX / 2, "Index buffer of % indices", index_count);
    return buffer_init(GL_ELEMENT_ARRAY_BUFFER, index_count * 2);
}

void vertex_buffer_bind(u32 id) {
    glBindBuffer(GL_ARRAY_BUFFER, id);
}

void element_buffer_bind(u32 id) {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, id);
}

} // namespace tessera
