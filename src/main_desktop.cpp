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
#include <ctime>

using namespace tessera;

// TESSERA_LOG_LEVEL (0, 1 or 2) raises the verbosity for diagnosis; the program
// runs at NORMAL otherwise.
static Log_Level log_level_from_environment() {
    const char *v = getenv("TESSERA_LOG_LEVEL");
    if (v && v[0] == '1' && !v[1]) return Log_Level::VERBOSE;
    if (v && v[0] == '2' && !v[1]) return Log_Level::VERY_VERBOSE;
    return Log_Level::NORMAL;
}

static s64 clock_ns(clockid_t clock) {
    timespec ts = {};
    clock_gettime(clock, &ts);
    return s64{ts.tv_sec} * 1000000000 + ts.tv_nsec;
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
    s64 loop_cpu_start = clock_ns(CLOCK_THREAD_CPUTIME_ID);
    do {
        program_update();
        // Start-up cost as a benchmark sees it from outside: the monotonic clock
        // is the one a parent process can read too.
        if (frames == 0) {
            log("First frame swapped at % ns (monotonic).", clock_ns(CLOCK_MONOTONIC),
                Log_Flags::VERBOSE_ONLY);
        }
        apply_mouse_pointer();
        window_poll_events(false);
        frames++;
    } while (!window.should_close);
    s64 loop_cpu = clock_ns(CLOCK_THREAD_CPUTIME_ID) - loop_cpu_start;

    log("Frame loop ended after % frames.", frames, Log_Flags::VERBOSE_ONLY);
    // This thread only: a driver's own threads (llvmpipe rasterises on several)
    // are not counted. Tenths of a microsecond are enough.
    log("Main thread CPU time per frame: % us.", static_cast<f64>(loop_cpu / frames / 100) / 10,
        Log_Flags::VERBOSE_ONLY);
    program_shutdown();
    return 0;
}
