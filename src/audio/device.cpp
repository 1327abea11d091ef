#include "audio/device.h"

#include "base/log.h"

#include <SDL2/SDL.h>

#include <climits>
#include <dlfcn.h>
#include <cstring>

namespace tessera {

// Devices of ours that are open. Main thread only, like init and uninit. The
// fallback swaps the driver of SDL's whole audio subsystem, which it may do only
// while no other device of ours runs on it.
static s32 open_devices = 0;

static SDL_AudioFormat sdl_format(Audio_Format format) {
    switch (format) {
    case Audio_Format::F32:
        return AUDIO_F32SYS;
    case Audio_Format::UNKNOWN:
        break;
    }
    return 0;
}

static void SDLCALL drop_sdl_log(void *, int, SDL_LogPriority, const char *) {}

static void drop_alsa_error(const char *, int, const char *, int, const char *, ...) {}

// SDL loads the ALSA library at run time, and on a machine without a sound card
// that library prints a dozen lines to standard error before SDL gives up on it.
// Its error handler is process-wide: silencing it in the same library SDL will
// load keeps the console to our one warning.
static void silence_alsa() {
    void *library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) return; // no ALSA: nothing to silence
    using Handler = void (*)(const char *, int, const char *, int, const char *, ...);
    auto set_handler = reinterpret_cast<int (*)(Handler)>(dlsym(library, "snd_lib_error_set_handler"));
    if (set_handler) set_handler(drop_alsa_error);
    // The library stays loaded: the handler must outlive SDL's use of it.
}

// ---- The device thread -----------------------------------------------------------

static void SDLCALL device_callback(void *userdata, Uint8 *stream, int len) {
    Audio_Device *device = static_cast<Audio_Device *>(userdata);
    // Silence first: whatever the callback leaves unwritten plays as silence. The
    // one format we open is float, where silence is zero bytes.
    memset(stream, 0, static_cast<size_t>(len));

    // A fresh default context for every call; only the scratch memory an earlier
    // call reserved is kept, rewound, so a callback that formats text does not map
    // and unmap a region each period.
    Arena scratch = device->callback_context.temporary_storage;
    arena_reset(&scratch);
    device->callback_context = Context{};
    device->callback_context.temporary_storage = scratch;
    Push_Context push(&device->callback_context);

    u32 frame_bytes = device->config.channels * bytes_per_sample(device->config.format);
    u32 frames = static_cast<u32>(len) / frame_bytes;
    device->config.data_callback(device, stream, nullptr, frames);
}

// ---- Opening ---------------------------------------------------------------------

// The default playback device in exactly the configured layout; SDL converts
// behind the stream when the hardware wants another. 0 on failure (SDL_GetError).
static SDL_AudioDeviceID open_default_device(Audio_Device *device) {
    SDL_AudioSpec wanted = {};
    wanted.freq = static_cast<int>(device->config.sample_rate);
    wanted.format = sdl_format(device->config.format);
    wanted.channels = static_cast<Uint8>(device->config.channels);
    wanted.samples = AUDIO_DEVICE_PERIOD_FRAMES;
    wanted.callback = device_callback;
    wanted.userdata = device;
    SDL_AudioSpec obtained = {};
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
}

// Starts the audio subsystem and opens the device; on failure leaves the
// subsystem as it found it and copies SDL's error into `cause`.
static SDL_AudioDeviceID start_and_open(Audio_Device *device, char (&cause)[256]) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        snprintf(cause, sizeof cause, "%s", SDL_GetError());
        return 0;
    }
    SDL_AudioDeviceID id = open_default_device(device);
    if (!id) {
        snprintf(cause, sizeof cause, "%s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    return id;
}

bool init(Audio_Device *device, const Audio_Device_Config *config) {
    uninit(device);
    if (!sdl_format(config->format) || config->channels < 1 || config->channels > 8 ||
        config->sample_rate < 1 || config->sample_rate > INT_MAX || !config->data_callback) {
        log_error(AUDIO_DEVICE_BAD_CONFIG, config->format, config->channels, config->sample_rate,
                  reinterpret_cast<void *>(config->data_callback));
        return false;
    }
    device->config = *config;

    // SDL's own log lines (the disk driver announces itself on standard error)
    // would break into the program's console output; its failures reach us
    // through SDL_GetError and are logged here, once.
    SDL_LogSetOutputFunction(drop_sdl_log, nullptr);
    silence_alsa();
    // SDL's audio subsystem brings up its event subsystem, which would otherwise
    // turn SIGINT and SIGTERM into quit events nobody reads: Ctrl-C would no
    // longer stop the program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");

    char cause[256] = {};
    device->id = start_and_open(device, cause);
    if (!device->id) {
        if (open_devices > 0) {
            log_error(AUDIO_DEVICE_IN_USE, static_cast<const char *>(cause));
            *device = Audio_Device{};
            return false;
        }
        log(AUDIO_DEVICE_FALLBACK, static_cast<const char *>(cause), Log_Flags::WARNING);
        // The override outranks SDL_AUDIODRIVER from the environment; it is needed
        // only while the subsystem picks its driver.
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        device->id = start_and_open(device, cause);
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
        if (!device->id) {
            log_error(AUDIO_DEVICE_FAILED, static_cast<const char *>(cause));
            *device = Audio_Device{};
            return false;
        }
        device->fallback = true;
    }
    device->driver = from_c_string(SDL_GetCurrentAudioDriver());
    open_devices++;
    return true;
}

bool start(Audio_Device *device) {
    if (!device->id) {
        log_error(AUDIO_DEVICE_NOT_OPEN);
        return false;
    }
    SDL_PauseAudioDevice(device->id, 0);
    device->started = true;
    return true;
}

void uninit(Audio_Device *device) {
    if (device->id) {
        // Returns once the device thread has finished its last callback.
        SDL_CloseAudioDevice(device->id);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        open_devices--;
    }
    arena_deinit(&device->callback_context.temporary_storage);
    *device = Audio_Device{};
}

} // namespace tessera
