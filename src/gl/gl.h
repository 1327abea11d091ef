// The OpenGL entry-point table, the loader and debug output.
//
// Every GL procedure the engine calls is one entry of TESSERA_GL_PROCS. Each
// entry becomes a function-pointer variable inside namespace tessera with the
// procedure's own name (tessera::glClear), null until gl_load fills it. Code in
// the namespace calls glClear(...) unqualified and gets the table entry: the
// inner scope hides libGL's C symbol, and the variables' mangled names never
// collide with it. A test wraps one entry by assigning the variable and putting
// the old value back. Calling a procedure that is not in the list does not
// compile, which keeps the list complete.
//
// Include this header, never <GL/gl.h> or <GL/glx.h>, in the same translation
// unit; users of GLFW define GLFW_INCLUDE_NONE before <GLFW/glfw3.h>.
//
// Under the hood:
// - gl_load resolves every entry by name through glXGetProcAddress, then reads
//   the version and the extension list of the context current on the calling
//   thread. A name that does not resolve leaves its entry null and is counted,
//   not reported: start-up does not check for missing procedures. The one
//   allocation is the extension list, from the context's allocator; its strings
//   are views into the driver's, valid while that GL context lives.
// - gl_enable_debug_output installs gl_debug_callback (GL 4.3, else
//   GL_ARB_debug_output, else nothing) with gl_debug_settings as its user
//   parameter. It enables no GL state: a debug context has GL_DEBUG_OUTPUT on.
// - gl_debug_callback may run on a driver thread. It builds its own Context
//   around the logger recorded by gl_debug_settings, logs two lines and
//   releases that context's scratch storage, so it touches no thread's state.
// Everything except the callback is main-thread only, with the context current.
#pragma once

#include "base/array.h"
#include "base/context.h"
#include "base/string.h"

#include <GL/glcorearb.h>

// X(name, pointer type) for every GL procedure the engine and its tests call.
#define TESSERA_GL_PROCS(X)                                                                                  \
    /* Errors, identification and state queries */                                                           \
    X(glGetError, PFNGLGETERRORPROC)                                                                         \
    X(glGetString, PFNGLGETSTRINGPROC)                                                                       \
    X(glGetStringi, PFNGLGETSTRINGIPROC)                                                                     \
    X(glGetIntegerv, PFNGLGETINTEGERVPROC)                                                                   \
    X(glGetFloatv, PFNGLGETFLOATVPROC)                                                                       \
    X(glGetBooleanv, PFNGLGETBOOLEANVPROC)                                                                   \
    X(glGetPointerv, PFNGLGETPOINTERVPROC)                                                                   \
    X(glIsEnabled, PFNGLISENABLEDPROC)                                                                       \
    X(glFlush, PFNGLFLUSHPROC)                                                                               \
    X(glFinish, PFNGLFINISHPROC)                                                                             \
    /* Debug output (core 4.3 and GL_ARB_debug_output) */                                                    \
    X(glDebugMessageCallback, PFNGLDEBUGMESSAGECALLBACKPROC)                                                 \
    X(glDebugMessageCallbackARB, PFNGLDEBUGMESSAGECALLBACKARBPROC)                                           \
    X(glDebugMessageInsert, PFNGLDEBUGMESSAGEINSERTPROC)                                                     \
    /* Fixed state: viewport, clearing, scissor, blending, masks, pixel storage */                           \
    X(glViewport, PFNGLVIEWPORTPROC)                                                                         \
    X(glClearColor, PFNGLCLEARCOLORPROC)                                                                     \
    X(glClear, PFNGLCLEARPROC)                                                                               \
    X(glScissor, PFNGLSCISSORPROC)                                                                           \
    X(glEnable, PFNGLENABLEPROC)                                                                             \
    X(glDisable, PFNGLDISABLEPROC)                                                                           \
    X(glBlendEquation, PFNGLBLENDEQUATIONPROC)                                                               \
    X(glBlendFunc, PFNGLBLENDFUNCPROC)                                                                       \
    X(glColorMask, PFNGLCOLORMASKPROC)                                                                       \
    X(glDepthFunc, PFNGLDEPTHFUNCPROC)                                                                       \
    X(glPixelStorei, PFNGLPIXELSTOREIPROC)                                                                   \
    /* Shaders and programs */                                                                               \
    X(glCreateShader, PFNGLCREATESHADERPROC)                                                                 \
    X(glShaderSource, PFNGLSHADERSOURCEPROC)                                                                 \
    X(glCompileShader, PFNGLCOMPILESHADERPROC)                                                               \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC)                                                                   \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC)                                                         \
    X(glIsShader, PFNGLISSHADERPROC)                                                                         \
    X(glDeleteShader, PFNGLDELETESHADERPROC)                                                                 \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC)                                                               \
    X(glAttachShader, PFNGLATTACHSHADERPROC)                                                                 \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC)                                                                   \
    X(glValidateProgram, PFNGLVALIDATEPROGRAMPROC)                                                           \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC)                                                                 \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC)                                                       \
    X(glUseProgram, PFNGLUSEPROGRAMPROC)                                                                     \
    X(glIsProgram, PFNGLISPROGRAMPROC)                                                                       \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC)                                                               \
    /* Uniforms, and reading them back */                                                                    \
    X(glGetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC)                                                     \
    X(glUniform1f, PFNGLUNIFORM1FPROC)                                                                       \
    X(glUniform2f, PFNGLUNIFORM2FPROC)                                                                       \
    X(glUniform3f, PFNGLUNIFORM3FPROC)                                                                       \
    X(glUniform4f, PFNGLUNIFORM4FPROC)                                                                       \
    X(glUniform1i, PFNGLUNIFORM1IPROC)                                                                       \
    X(glUniform1ui, PFNGLUNIFORM1UIPROC)                                                                     \
    X(glUniform1fv, PFNGLUNIFORM1FVPROC)                                                                     \
    X(glUniform2fv, PFNGLUNIFORM2FVPROC)                                                                     \
    X(glUniform4fv, PFNGLUNIFORM4FVPROC)                                                                     \
    X(glUniform1iv, PFNGLUNIFORM1IVPROC)                                                                     \
    X(glUniform1uiv, PFNGLUNIFORM1UIVPROC)                                                                   \
    X(glUniformMatrix4fv, PFNGLUNIFORMMATRIX4FVPROC)                                                         \
    X(glGetUniformfv, PFNGLGETUNIFORMFVPROC)                                                                 \
    X(glGetUniformiv, PFNGLGETUNIFORMIVPROC)                                                                 \
    X(glGetUniformuiv, PFNGLGETUNIFORMUIVPROC)                                                               \
    /* Textures */                                                                                           \
    X(glGenTextures, PFNGLGENTEXTURESPROC)                                                                   \
    X(glDeleteTextures, PFNGLDELETETEXTURESPROC)                                                             \
    X(glIsTexture, PFNGLISTEXTUREPROC)                                                                       \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC)                                                               \
    X(glBindTexture, PFNGLBINDTEXTUREPROC)                                                                   \
    X(glTexImage2D, PFNGLTEXIMAGE2DPROC)                                                                     \
    X(glTexSubImage2D, PFNGLTEXSUBIMAGE2DPROC)                                                               \
    X(glTexParameteri, PFNGLTEXPARAMETERIPROC)                                                               \
    X(glGetTexParameteriv, PFNGLGETTEXPARAMETERIVPROC)                                                       \
    X(glGetTexLevelParameteriv, PFNGLGETTEXLEVELPARAMETERIVPROC)                                             \
    X(glGetTexImage, PFNGLGETTEXIMAGEPROC)                                                                   \
    /* Framebuffers, renderbuffers and reading pixels */                                                     \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                                                           \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)                                                     \
    X(glIsFramebuffer, PFNGLISFRAMEBUFFERPROC)                                                               \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC)                                                           \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)                                                 \
    X(glFramebufferRenderbuffer, PFNGLFRAMEBUFFERRENDERBUFFERPROC)                                           \
    X(glGetFramebufferAttachmentParameteriv, PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVPROC)                   \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC)                                             \
    X(glDrawBuffers, PFNGLDRAWBUFFERSPROC)                                                                   \
    X(glBlitFramebuffer, PFNGLBLITFRAMEBUFFERPROC)                                                           \
    X(glReadPixels, PFNGLREADPIXELSPROC)                                                                     \
    X(glGenRenderbuffers, PFNGLGENRENDERBUFFERSPROC)                                                         \
    X(glDeleteRenderbuffers, PFNGLDELETERENDERBUFFERSPROC)                                                   \
    X(glIsRenderbuffer, PFNGLISRENDERBUFFERPROC)                                                             \
    X(glBindRenderbuffer, PFNGLBINDRENDERBUFFERPROC)                                                         \
    X(glRenderbufferStorage, PFNGLRENDERBUFFERSTORAGEPROC)                                                   \
    X(glGetRenderbufferParameteriv, PFNGLGETRENDERBUFFERPARAMETERIVPROC)                                     \
    /* Buffers and vertex arrays */                                                                          \
    X(glGenBuffers, PFNGLGENBUFFERSPROC)                                                                     \
    X(glDeleteBuffers, PFNGLDELETEBUFFERSPROC)                                                               \
    X(glBindBuffer, PFNGLBINDBUFFERPROC)                                                                     \
    X(glBufferData, PFNGLBUFFERDATAPROC)                                                                     \
    X(glBufferSubData, PFNGLBUFFERSUBDATAPROC)                                                               \
    X(glGetBufferParameteriv, PFNGLGETBUFFERPARAMETERIVPROC)                                                 \
    X(glGetBufferSubData, PFNGLGETBUFFERSUBDATAPROC)                                                         \
    X(glGenVertexArrays, PFNGLGENVERTEXARRAYSPROC)                                                           \
    X(glDeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC)                                                     \
    X(glBindVertexArray, PFNGLBINDVERTEXARRAYPROC)                                                           \
    X(glVertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)                                                   \
    X(glVertexAttribDivisor, PFNGLVERTEXATTRIBDIVISORPROC)                                                   \
    X(glEnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC)                                           \
    X(glGetVertexAttribiv, PFNGLGETVERTEXATTRIBIVPROC)                                                       \
    X(glGetVertexAttribPointerv, PFNGLGETVERTEXATTRIBPOINTERVPROC)                                           \
    /* Drawing */                                                                                            \
    X(glDrawArrays, PFNGLDRAWARRAYSPROC)                                                                     \
    X(glDrawArraysInstanced, PFNGLDRAWARRAYSINSTANCEDPROC)                                                   \
    X(glDrawElements, PFNGLDRAWELEMENTSPROC)                                                                 \
    /* Timer queries */                                                                                      \
    X(glGenQueries, PFNGLGENQUERIESPROC)                                                                     \
    X(glDeleteQueries, PFNGLDELETEQUERIESPROC)                                                               \
    X(glBeginQuery, PFNGLBEGINQUERYPROC)                                                                     \
    X(glEndQuery, PFNGLENDQUERYPROC)                                                                         \
    X(glGetQueryObjectiv, PFNGLGETQUERYOBJECTIVPROC)

namespace tessera {

// ---- The entry-point table -------------------------------------------------------

// One variable per entry, defined in gl.cpp; null until gl_load resolves it.
#define TESSERA_GL_DECLARE_PROC_(name, type) extern type name;
TESSERA_GL_PROCS(TESSERA_GL_DECLARE_PROC_)
#undef TESSERA_GL_DECLARE_PROC_

// The entries' names in list order, zero-terminated for the GLX lookup.
#define TESSERA_GL_PROC_NAME_(name, type) #name,
inline constexpr const char *GL_PROC_NAMES[] = {TESSERA_GL_PROCS(TESSERA_GL_PROC_NAME_)};
#undef TESSERA_GL_PROC_NAME_

inline constexpr s64 GL_PROC_COUNT = static_cast<s64>(sizeof(GL_PROC_NAMES) / sizeof(GL_PROC_NAMES[0]));

// ---- Loader ----------------------------------------------------------------------

struct GL_Info {
    s32 major = 0; // GL_MAJOR_VERSION of the context gl_load ran with; 0 before
    s32 minor = 0;
    bool has_arb_debug_output = false;
    // Every name GL_NUM_EXTENSIONS / glGetStringi report, in the driver's order.
    // Views into the driver's strings: valid while that GL context lives.
    Array<String> extensions;
};

extern GL_Info gl_info;

// A lookup by name, of glXGetProcAddress's shape; null when the name is unknown.
using GL_Proc = void (*)();
using GL_Proc_Lookup = GL_Proc (*)(const unsigned char *name);

// Resolves every entry through glXGetProcAddress and reads the version and the
// extensions of the current context into gl_info. Returns how many entries
// stayed null; a missing procedure is not an error, and when a query procedure
// itself is missing the fields it would fill stay zero. Can run again (another
// context, a reload in a test): it replaces the table and gl_info.
s64 gl_load();
// The same with another lookup (tests hide names with it).
s64 gl_load(GL_Proc_Lookup lookup);

// Exact, case-sensitive match against gl_info.extensions.
bool gl_has_extension(String name);

// ---- Debug output ----------------------------------------------------------------

// The logger debug messages go to, fixed when debug output is enabled: the
// callback may run on a thread whose own context knows nothing of it.
struct GL_Debug_Settings {
    Logger_Proc logger = nullptr; // null: the default logger
    void *logger_data = nullptr;
};

// The user parameter gl_enable_debug_output installs with the callback.
extern GL_Debug_Settings gl_debug_settings;

// Records the calling context's logger and logger data in gl_debug_settings,
// then installs gl_debug_callback with glDebugMessageCallback on GL 4.3 or newer,
// else with glDebugMessageCallbackARB when GL_ARB_debug_output is present, else
// not at all (a missing installer counts as absent). Enables no GL state.
void gl_enable_debug_output();

// Logs each message as GL_DEBUG_HEADER_MESSAGE and GL_DEBUG_TEXT_MESSAGE (flags
// NONE) through the logger of `user`, a GL_Debug_Settings (null: the default
// logger). Ignores messages from GL_DEBUG_SOURCE_APPLICATION and of types
// GL_DEBUG_TYPE_OTHER and GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR. `message` has
// `length` bytes, or is zero-terminated when `length` is negative; null is empty.
void APIENTRY gl_debug_callback(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                                const GLchar *message, const void *user);

// Filled with the type, source and severity words, and the numeric id.
inline constexpr char GL_DEBUG_HEADER_MESSAGE[] = "OGL: type = %; source = %; id = %; severity = %";
// Filled with the driver's text.
inline constexpr char GL_DEBUG_TEXT_MESSAGE[] = "OGL: message = %";

// The words of the header line; "unknown" for any value without one
// (GL_DEBUG_SEVERITY_NOTIFICATION included).
String gl_debug_type_word(GLenum type);
String gl_debug_source_word(GLenum source);
String gl_debug_severity_word(GLenum severity);

} // namespace tessera
