#include "program.h"

#include "assets.h"
#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"
#include "desktop/glfw_window.h"
#include "gl/gl.h"
#include "renderer/flush.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"
#include "renderer/text.h"
#include "utils.h"
#include "window.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace tessera {

Dynamic_Font default_font;
Texture demo_picture;
Audio_Decoder decoder;
Audio_Device_Config config;
Audio_Device device;
Array<String> frame_log_buffer;

static constexpr Vector4 WHITE = {1, 1, 1, 1};

Matrix4 window_projection(s32 width, s32 height) {
    // Orthographic: left 0, right width, bottom height, top 0, near -1, far 1.
    f32 l = 0, r = static_cast<f32>(width), b = static_cast<f32>(height), t = 0, n = -1, f = 1;
    return {2 / (r - l), 0, 0, -(r + l) / (r - l),
            0, 2 / (t - b), 0, -(t + b) / (t - b),
            0, 0, -2 / (f - n), -(f + n) / (f - n),
            0, 0, 0, 1};
}

static void set_projection(s32 width, s32 height) {
    renderer.height = height;
    renderer.width = width;
    renderer.projection_matrix = window_projection(width, height);
}

void data_callback(Audio_Device *device, void *output, const void *input, u32 frame_count) {
    (void)input;
    auto *d = static_cast<Audio_Decoder *>(device->config.user_data);
    ASSERT(d != nullptr, "the audio device has no decoder");
    // What is not decoded stays as the device cleared it: silence.
    read_pcm_frames(d, output, frame_count);
}

void program_startup() {
    set_vsync(true);
    renderer_init();
    set_projection(window.rect.width, window.rect.height);

    bool success = init(&default_font, EMBEDDED_FONT, 64, 4);
    if (success) success = make_atlas(&default_font, false);
    ASSERT(success, PROGRAM_FONT_FAILED);

    int w = 0, h = 0, c = 0;
    u8 *pixels = stbi_load_from_memory(EMBEDDED_PICTURE.data, static_cast<int>(EMBEDDED_PICTURE.count), &w, &h,
                                       &c, 3);
    ASSERT(pixels != nullptr, PROGRAM_PICTURE_FAILED, from_c_string(stbi_failure_reason()));
    success = init(&demo_picture, w, h, 3, pixels, 0, GL_NEAREST, GL_MIRRORED_REPEAT);
    ASSERT(success, PROGRAM_PICTURE_TEXTURE_FAILED);
    stbi_image_free(pixels);

    glClearColor(PROGRAM_CLEAR_COLOR[0], PROGRAM_CLEAR_COLOR[1], PROGRAM_CLEAR_COLOR[2], PROGRAM_CLEAR_COLOR[3]);
    log_renderer_info();

    ASSERT(init(&decoder, EMBEDDED_MUSIC), PROGRAM_DECODER_FAILED);
    config = {};
    config.format = decoder.output_format;
    config.channels = decoder.output_channels;
    config.sample_rate = decoder.output_sample_rate;
    config.data_callback = data_callback;
    config.user_data = &decoder;
    ASSERT(init(&device, &config), PROGRAM_DEVICE_FAILED);
    ASSERT(start(&device), PROGRAM_DEVICE_START_FAILED);

    log(PROGRAM_PLAYING);
}

void program_update() {
    // Minimized: nothing is drawn, paced or swapped.
    if (window.is_minimized) return;
    window_process_mod_keys();

    s32 height = window.rect.height, width = window.rect.width;
    if (window.resized_last_frame) set_projection(width, height);
    glViewport(0, 0, width, height);
    glClearColor(PROGRAM_CLEAR_COLOR[0], PROGRAM_CLEAR_COLOR[1], PROGRAM_CLEAR_COLOR[2], PROGRAM_CLEAR_COLOR[3]);
    glClear(GL_COLOR_BUFFER_BIT);

    // Held keys repeat; only the press toggles.
    if (key_pressed(Key::F11, false, false)) toggle_fullscreen();

    draw_quad(demo_picture.id, {0, 0, 1, 1}, {0, 0, static_cast<f32>(width), static_cast<f32>(height)}, WHITE);
    flush();

    // The block of queued lines grows upwards from the bottom edge.
    s64 start_pos = s64{window.rect.height} - frame_log_buffer.count * PROGRAM_LOG_LINE_SPACING;
    for (s64 i = 0; i < frame_log_buffer.count; i++) {
        Vector2 at = {PROGRAM_LOG_LINE_X, static_cast<f32>(start_pos) + PROGRAM_TEXT_SIZE * static_cast<f32>(i)};
        draw_text(&default_font.base, frame_log_buffer.data[i], PROGRAM_TEXT_SIZE, at, WHITE);
    }
    draw_text(&default_font.base, format("%", smooth_fps()), PROGRAM_TEXT_SIZE, PROGRAM_FPS_POSITION, WHITE);
    flush();
    frame_log_buffer.count = 0;

    window_end_frame();
    swap_buffers();
    // Nothing formatted during a frame outlives it.
    reset_temporary_storage();
}

void program_shutdown() {
    log("Shutting down.", Log_Flags::VERBOSE_ONLY);
}

} // namespace tessera
