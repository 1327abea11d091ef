// The demo program the engine serves: start-up once, one call per frame,
// shutdown. Each frame shows the embedded picture stretched over the window,
// the lines queued with log_per_frame in the bottom-left corner and the smoothed
// frame rate near the top-left; the embedded track plays once at start.
#pragma once

#include "audio/decoder.h"
#include "audio/device.h"
#include "base/array.h"
#include "base/format.h"
#include "base/string.h"
#include "dynamic_font.h"
#include "renderer/texture.h"

namespace tessera {

// The program's state. It lives until the process exits: shutdown tears
// nothing down, the exit releases the window, the device and all memory.
extern Dynamic_Font default_font;
extern Texture demo_picture;
extern Audio_Decoder decoder; // the device thread's alone once the device runs
extern Audio_Device_Config config;
extern Audio_Device device;
extern Array<String> frame_log_buffer; // this frame's lines, in scratch storage

inline constexpr f32 PROGRAM_CLEAR_COLOR[4] = {0.09f, 0.12f, 0.15f, 1.0f};
inline constexpr f32 PROGRAM_TEXT_SIZE = 22.0f;
inline constexpr s32 PROGRAM_LOG_LINE_SPACING = 22;
inline constexpr f32 PROGRAM_LOG_LINE_X = 5.0f;
inline constexpr Vector2 PROGRAM_FPS_POSITION = {15.0f, 32.0f};

inline constexpr char PROGRAM_FONT_FAILED[] = "Font loading failed";
inline constexpr char PROGRAM_PICTURE_FAILED[] = "The embedded picture could not be decoded: %";
inline constexpr char PROGRAM_PICTURE_TEXTURE_FAILED[] = "The picture texture could not be created";
inline constexpr char PROGRAM_DECODER_FAILED[] = "The embedded track could not be opened";
inline constexpr char PROGRAM_DEVICE_FAILED[] = "The audio device could not be opened";
inline constexpr char PROGRAM_DEVICE_START_FAILED[] = "The audio device could not be started";
inline constexpr char PROGRAM_PLAYING[] = "Playing sound...";

// Every step that can fail is an assertion: the program cannot run without
// its font, picture or sound device.
void program_startup();
void program_update();
void program_shutdown();

// Window pixels (origin top-left, y down) to clip space for a width by height
// target.
Matrix4 window_projection(s32 width, s32 height);

// The device's data callback: decodes straight into the cleared buffer; after
// the track ends nothing is written, so the device plays silence.
void data_callback(Audio_Device *device, void *output, const void *input, u32 frame_count);

// Queues one line, formatted into scratch storage, for the current frame only.
template <typename... Args>
void log_per_frame(Format_String fmt, const Args &...args) {
    array_add(&frame_log_buffer, format(fmt, args...));
}

} // namespace tessera
