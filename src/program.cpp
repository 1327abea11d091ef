// The frame the program draws: for now the cleared window, paced and swapped.
#include "program.h"

#include "base/log.h"
#include "desktop/glfw_window.h"
#include "gl/gl.h"
#include "window.h"

namespace tessera {

static constexpr f32 CLEAR_COLOR[4] = {0.09f, 0.12f, 0.15f, 1.0f};

void program_startup() {
    set_vsync(true);
    glClearColor(CLEAR_COLOR[0], CLEAR_COLOR[1], CLEAR_COLOR[2], CLEAR_COLOR[3]);
}

void program_update() {
    // Minimized: nothing is drawn, paced or swapped.
    if (window.is_minimized) return;
    window_process_mod_keys();
    glViewport(0, 0, window.rect.width, window.rect.height);
    glClearColor(CLEAR_COLOR[0], CLEAR_COLOR[1], CLEAR_COLOR[2], CLEAR_COLOR[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    if (key_pressed(Key::F11, false, false)) toggle_fullscreen();
    window_end_frame();
    swap_buffers();
    // Nothing formatted during a frame outlives it.
    reset_temporary_storage();
}

void program_shutdown() {
    log("Shutting down.", Log_Flags::VERBOSE_ONLY);
}

} // namespace tessera
