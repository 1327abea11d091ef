// The entry point: logger, window, OpenGL entry points and debug output, then
// the frame loop until the window is asked to close.
#include "base/assert.h"
#include "base/log.h"
#include "desktop/glfw_window.h"
#include "gl/gl.h"
#include "logger.h"
#include "program.h"
#include "window.h"

#include <cstdlib>

using namespace tessera;

// TESSERA_LOG_LEVEL (0, 1 or 2) raises the verbosity for diagnosis; the program
// runs at NORMAL otherwise.
static Log_Level log_level_from_environment() {
    const char *v = getenv("TESSERA_LOG_LEVEL");
    if (v && v[0] == '1' && !v[1]) return Log_Level::VERBOSE;
    if (v && v[0] == '2' && !v[1]) return Log_Level::VERY_VERBOSE;
    return Log_Level::NORMAL;
}

// What the window system gave us, for diagnosis (verbose only).
static void log_gl_context_description() {
    GLint profile = 0, flags = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
    log("OpenGL %.% %, %.", gl_info.major, gl_info.minor,
        (profile & GL_CONTEXT_CORE_PROFILE_BIT) ? "core profile" : "compatibility profile",
        (flags & GL_CONTEXT_FLAG_DEBUG_BIT) ? "debug context" : "no debug context", Log_Flags::VERBOSE_ONLY);
}

int main() {
    context().logger = logger_proc;
    context().log_level = log_level_from_environment();

    bool success = window_init(800, 600, "output"_s);
    ASSERT(success, "Could not open the window.");

    gl_load();
    gl_enable_debug_output();
    log_gl_context_description();
    glViewport(0, 0, window.rect.width, window.rect.height);

    program_startup();

    // The test sits at the end: an iteration that has begun always runs all three steps.
    s64 frames = 0;
    do {
        program_update();
        apply_mouse_pointer();
        window_poll_events(false);
        frames++;
    } while (!window.should_close);

    log("Frame loop ended after % frames.", frames, Log_Flags::VERBOSE_ONLY);
    program_shutdown();
    return 0;
}
