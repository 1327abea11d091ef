#include "gl/gl.h"

#include "base/log.h"

// GLX's lookup, declared here rather than through <GL/glx.h>, which would drag
// in <GL/gl.h> beside glcorearb.h. Unlike the window backend's lookup it needs no
// current context and no window-system state.
extern "C" void (*glXGetProcAddress(const unsigned char *name))(void);

namespace tessera {

// ---- The entry-point table -------------------------------------------------------

#define TESSERA_GL_DEFINE_PROC_(name, type) type name = nullptr;
TESSERA_GL_PROCS(TESSERA_GL_DEFINE_PROC_)
#undef TESSERA_GL_DEFINE_PROC_

// ---- Loader ----------------------------------------------------------------------

GL_Info gl_info;

static void read_gl_info() {
    array_free(&gl_info.extensions);
    gl_info = GL_Info{};

    // Queries GL 3.0 introduced; a 3.3 core context has them.
    if (!glGetIntegerv) return;
    GLint major = 0, minor = 0, extension_count = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    gl_info.major = major;
    gl_info.minor = minor;

    if (!glGetStringi) return;
    glGetIntegerv(GL_NUM_EXTENSIONS, &extension_count);
    array_reserve(&gl_info.extensions, extension_count);
    for (GLint i = 0; i < extension_count; i++) {
        String name = from_c_string(reinterpret_cast<const char *>(glGetStringi(GL_EXTENSIONS, i)));
        if (name.count) array_add(&gl_info.extensions, name);
    }
    gl_info.has_arb_debug_output = gl_has_extension("GL_ARB_debug_output"_s);
}

s64 gl_load(GL_Proc_Lookup lookup) {
    s64 missing = 0;
#define TESSERA_GL_LOAD_PROC_(name, type)                                                                    \
    name = reinterpret_cast<type>(lookup(reinterpret_cast<const unsigned char *>(#name)));                   \
    if (!name) missing++;
    TESSERA_GL_PROCS(TESSERA_GL_LOAD_PROC_)
#undef TESSERA_GL_LOAD_PROC_
    read_gl_info();
    return missing;
}

s64 gl_load() {
    return gl_load(glXGetProcAddress);
}

bool gl_has_extension(String name) {
    for (String e : gl_info.extensions) {
        if (e == name) return true;
    }
    return false;
}

// ---- Debug output ----------------------------------------------------------------

GL_Debug_Settings gl_debug_settings;

void gl_enable_debug_output() {
    gl_debug_settings.logger = context().logger;
    gl_debug_settings.logger_data = context().logger_data;

    bool core = gl_info.major > 4 || (gl_info.major == 4 && gl_info.minor >= 3);
    if (core && glDebugMessageCallback) {
        glDebugMessageCallback(gl_debug_callback, &gl_debug_settings);
    } else if (gl_info.has_arb_debug_output && glDebugMessageCallbackARB) {
        glDebugMessageCallbackARB(gl_debug_callback, &gl_debug_settings);
    }
}

void APIENTRY gl_debug_callback(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                                const GLchar *message, const void *user) {
    // Our own insertions, chatter and undefined-behaviour notes are not worth a line.
    if (source == GL_DEBUG_SOURCE_APPLICATION) return;
    if (type == GL_DEBUG_TYPE_OTHER || type == GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR) return;

    String text = {};
    if (message) text = length >= 0 ? make_string(message, length) : from_c_string(message);

    // Possibly a driver thread: log through a context of our own rather than
    // whatever this thread runs with.
    Context c;
    if (auto *settings = static_cast<const GL_Debug_Settings *>(user); settings && settings->logger) {
        c.logger = settings->logger;
        c.logger_data = settings->logger_data;
    }
    {
        Push_Context push(&c);
        log(GL_DEBUG_HEADER_MESSAGE, gl_debug_type_word(type), gl_debug_source_word(source), id,
            gl_debug_severity_word(severity), Log_Flags::NONE);
        log(GL_DEBUG_TEXT_MESSAGE, text, Log_Flags::NONE);
    }
    arena_deinit(&c.temporary_storage);
}

String gl_debug_type_word(GLenum type) {
    switch (type) {
    case GL_DEBUG_TYPE_ERROR:
        return "error"_s;
    case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR:
        return "deprecated behavior"_s;
    case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR:
        return "undefined behavior"_s;
    case GL_DEBUG_TYPE_PORTABILITY:
        return "portability"_s;
    case GL_DEBUG_TYPE_PERFORMANCE:
        return "performance"_s;
    case GL_DEBUG_TYPE_OTHER:
        return "other"_s;
    }
    return "unknown"_s;
}

String gl_debug_source_word(GLenum source) {
    switch (source) {
    case GL_DEBUG_SOURCE_API:
        return "API"_s;
    case GL_DEBUG_SOURCE_WINDOW_SYSTEM:
        return "window system"_s;
    case GL_DEBUG_SOURCE_SHADER_COMPILER:
        return "shader compiler"_s;
    case GL_DEBUG_SOURCE_THIRD_PARTY:
        return "third party"_s;
    case GL_DEBUG_SOURCE_APPLICATION:
        return "application"_s;
    case GL_DEBUG_SOURCE_OTHER:
        return "other"_s;
    }
    return "unknown"_s;
}

String gl_debug_severity_word(GLenum severity) {
    switch (severity) {
    case GL_DEBUG_SEVERITY_HIGH:
        return "high"_s;
    case GL_DEBUG_SEVERITY_MEDIUM:
        return "medium"_s;
    case GL_DEBUG_SEVERITY_LOW:
        return "low"_s;
    }
    return "unknown"_s;
}

} // namespace tessera
