// Audio_Device: the default playback device, fed by a data callback.
//
// The device is SDL's audio subsystem (nothing else of SDL is initialised) with
// one output stream in exactly the configured format, channel count and rate;
// where the hardware differs SDL converts behind the stream, so the callback
// always fills frames of the configured layout.
//
// The callback runs on SDL's device thread, one call per period of
// AUDIO_DEVICE_PERIOD_FRAMES frames, with the output buffer already cleared to
// silence: a callback that writes fewer frames (a track that has ended) leaves
// silence behind. Each call runs with a fresh default thread context (heap
// allocator, the untagged default logger, empty scratch storage), never the
// main thread's; scratch storage taken in a call is given back after it.
//
// Without a usable playback device (no sound server, no card, a bad
// SDL_AUDIODRIVER) init logs one warning and opens SDL's "dummy" driver
// instead, which calls back at the same pace and discards the samples: the
// program runs and plays silently.
//
// Costs: init starts SDL's audio subsystem and its device thread (paused);
// nothing is allocated per callback.
//
// The record must stay where it is from init to uninit: the device thread
// reaches it through its address.
#pragma once

#include "audio/decoder.h"
#include "base/context.h"

namespace tessera {

struct Audio_Device;

// output: frame_count frames of the configured layout, cleared; input: always
// null (playback only).
using Audio_Data_Callback = void (*)(Audio_Device *device, void *output, const void *input, u32 frame_count);

struct Audio_Device_Config {
    Audio_Format format = Audio_Format::UNKNOWN;
    u32 channels = 0;    // 1..8
    u32 sample_rate = 0; // frames per second
    Audio_Data_Callback data_callback = nullptr;
    void *user_data = nullptr; // handed to the callback through device->config
};

struct Audio_Device {
    Audio_Device_Config config;
    u32 id = 0;               // SDL's device id; 0: not open
    bool started = false;     // start succeeded; the callback is running
    bool fallback = false;    // no real device opened; playing through "dummy"
    String driver;            // SDL's name of the driver in use (static text)
    Context callback_context; // what each callback runs with; device thread only
};

inline constexpr u32 AUDIO_DEVICE_PERIOD_FRAMES = 1024;

inline constexpr char AUDIO_DEVICE_BAD_CONFIG[] =
    "Audio device: unusable configuration (format %, channels %, sample rate %, callback %)";
inline constexpr char AUDIO_DEVICE_FALLBACK[] =
    "Audio device: no playback device could be opened (%); playing silently through SDL's dummy driver";
inline constexpr char AUDIO_DEVICE_FAILED[] =
    "Audio device: SDL's dummy driver could not be opened either: %";
inline constexpr char AUDIO_DEVICE_IN_USE[] =
    "Audio device: no playback device could be opened (%), and the dummy driver cannot replace it while "
    "another device is open";
inline constexpr char AUDIO_DEVICE_NOT_OPEN[] = "Audio device: start on a device that is not open";

// Opens the default playback device for `config`, paused. A device the record
// already holds is closed first. False, with the cause logged, for a bad
// configuration or when not even the dummy driver opens.
bool init(Audio_Device *device, const Audio_Device_Config *config);

// Unpauses the device: from here on the device thread calls the callback.
// False, logged, for a device that is not open.
bool start(Audio_Device *device);

// Stops the callbacks (waiting for one in progress to return), closes the device
// and, with the last device, SDL's audio subsystem; zeroes the record. A zeroed
// record is fine.
void uninit(Audio_Device *device);

} // namespace tessera
