#include "audio/device.h"
#include "audio_fixture.h"
#include "base/assert.h"
#include "base/log.h"
#include "capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tessera;
using namespace tessera::test;

namespace {

// The demo's callback: the decoder comes in the user data and decodes straight
// into the device's buffer; what it does not fill stays silent.
void data_callback(Audio_Device *device, void *output, const void *input, u32 frame_count) {
    (void)input;
    Audio_Decoder *decoder = static_cast<Audio_Decoder *>(device->config.user_data);
    ASSERT(decoder, "data_callback without a decoder");
    read_pcm_frames(decoder, output, frame_count);
}

Audio_Device_Config config_for(Audio_Decoder *decoder) {
    return {decoder->output_format, decoder->output_channels, decoder->output_sample_rate, data_callback,
            decoder};
}

struct Temp_File {
    std::string path;
    Temp_File() {
        char name[] = "/tmp/tessera-audio-XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        if (fd >= 0) close(fd);
        path = name;
    }
    ~Temp_File() { unlink(path.c_str()); }
    s64 size() const {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? static_cast<s64>(st.st_size) : -1;
    }
    std::vector<u8> read() const {
        std::ifstream in(path, std::ios::binary);
        return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
    }
};

// Polls until `done` holds or ten seconds pass; says which.
template <typename F>
bool wait_for(F done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// SDL reads its driver settings when the audio subsystem starts, and every test
// closes its device (so the subsystem) again: each test picks its own driver.
class Audio_Device_Test : public ::testing::Test {
protected:
    void use_driver(const char *driver) { setenv("SDL_AUDIODRIVER", driver, 1); }
    void use_disk(const Temp_File &file) {
        use_driver("disk");
        setenv("SDL_DISKAUDIOFILE", file.path.c_str(), 1);
        // One millisecond per period instead of its real duration: the track
        // plays about twenty times faster than real time.
        setenv("SDL_DISKAUDIODELAY", "1", 1);
    }
    void TearDown() override {
        uninit(&device);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
    Audio_Device device;
};

// SDL's disk driver writes every period it is handed: the file is what would
// have been played.
TEST_F(Audio_Device_Test, PlaysTheDecodedTrackThenSilence) {
    Temp_File file;
    use_disk(file);
    std::vector<u8> mp3 = sine_mp3();
    Audio_Decoder decoder, reference;
    ASSERT_TRUE(init(&decoder, view_of(mp3)));
    ASSERT_TRUE(init(&reference, view_of(mp3)));
    std::vector<f32> expected = decode_rest(&reference);
    uninit(&reference);
    size_t frame_bytes = SINE_CHANNELS * sizeof(f32);
    size_t track_bytes = expected.size() * sizeof(f32);
    size_t silence_bytes = 4 * AUDIO_DEVICE_PERIOD_FRAMES * frame_bytes;

    Audio_Device_Config config = config_for(&decoder);
    Recording_Logger logger;
    // SDL's own chatter (the disk driver announces itself) stays off the console.
    Captured_Output console;
    bool opened = init(&device, &config);
    console.restore();
    ASSERT_TRUE(opened);
    EXPECT_EQ(console.out(), "");
    EXPECT_EQ(console.err(), "");
    EXPECT_TRUE(logger.messages.empty());
    EXPECT_FALSE(device.fallback);
    EXPECT_EQ(device.driver, "disk"_s);
    ASSERT_TRUE(start(&device));
    // Periods written while paused come first; allow for a few of them.
    size_t wanted = track_bytes + silence_bytes + 16 * AUDIO_DEVICE_PERIOD_FRAMES * frame_bytes;
    EXPECT_TRUE(wait_for([&] { return file.size() >= static_cast<s64>(wanted); }));
    uninit(&device);
    uninit(&decoder);

    std::vector<u8> captured = file.read();
    ASSERT_GE(captured.size(), wanted);
    // The paused periods are silence; the track starts where its own leading
    // silent frames (if any) end in the capture.
    auto silent_frames = [&](const u8 *bytes, size_t count) {
        size_t frames = 0;
        while ((frames + 1) * frame_bytes <= count &&
               std::all_of(bytes + frames * frame_bytes, bytes + (frames + 1) * frame_bytes,
                           [](u8 b) { return b == 0; })) {
            frames++;
        }
        return frames;
    };
    size_t start_at = (silent_frames(captured.data(), captured.size()) -
                       silent_frames(reinterpret_cast<const u8 *>(expected.data()), track_bytes)) *
                      frame_bytes;
    EXPECT_EQ(start_at % (AUDIO_DEVICE_PERIOD_FRAMES * frame_bytes), 0u)
        << "the track starts inside a period";
    ASSERT_LE(start_at + track_bytes + silence_bytes, captured.size());
    EXPECT_EQ(memcmp(&captured[start_at], expected.data(), track_bytes), 0);
    // After the track every buffer plays as it was cleared before the callback.
    const u8 *after = &captured[start_at + track_bytes];
    EXPECT_TRUE(std::all_of(after, after + silence_bytes, [](u8 b) { return b == 0; }));
}

struct Callback_Record {
    std::atomic<s32> calls{0};
    std::thread::id thread;
    const Context *context = nullptr;
    Logger_Proc logger = nullptr;
    Allocator_Proc allocator = nullptr;
    bool fresh_every_call = true; // default verbosity and empty scratch storage on entry
    bool cleared_every_call = true;
    bool input_always_null = true;
    u32 frame_count = 0;
};

void recording_callback(Audio_Device *device, void *output, const void *input, u32 frame_count) {
    Callback_Record *r = static_cast<Callback_Record *>(device->config.user_data);
    if (r->calls.load() == 0) {
        r->thread = std::this_thread::get_id();
        r->context = &context();
        r->logger = context().logger;
        r->allocator = context().allocator.proc;
        r->frame_count = frame_count;
    }
    const Arena &scratch = context().temporary_storage;
    if (context().log_level != Log_Level::NORMAL ||
        scratch.current_region_occupied > ARENA_REGION_HEADER_SIZE) {
        r->fresh_every_call = false;
    }
    size_t bytes = static_cast<size_t>(frame_count) * device->config.channels * sizeof(f32);
    const u8 *out = static_cast<const u8 *>(output);
    if (!std::all_of(out, out + bytes, [](u8 b) { return b == 0; })) r->cleared_every_call = false;
    if (input) r->input_always_null = false;

    // Traces the next call must not see: a dirty buffer, a changed context, used
    // scratch storage.
    memset(output, 0xff, bytes);
    context().log_level = Log_Level::VERY_VERBOSE;
    format("scratch text %", r->calls.load());
    r->calls++;
}

TEST_F(Audio_Device_Test, CallbackRunsOnTheDeviceThreadWithAFreshDefaultContext) {
    use_driver("dummy");
    Callback_Record record;
    Audio_Device_Config config = {Audio_Format::F32, 2, 48000, recording_callback, &record};
    // The main thread's context is not the default one: the callback must not see it.
    Recording_Logger logger;
    ASSERT_TRUE(init(&device, &config));
    EXPECT_TRUE(logger.messages.empty());
    EXPECT_FALSE(device.fallback);
    ASSERT_TRUE(start(&device));
    EXPECT_TRUE(device.started);
    EXPECT_TRUE(wait_for([&] { return record.calls.load() >= 5; }));
    uninit(&device); // joins the device thread: the record is safe to read

    EXPECT_NE(record.thread, std::this_thread::get_id());
    EXPECT_NE(record.context, &context());
    EXPECT_EQ(record.logger, default_logger_proc);
    EXPECT_EQ(record.allocator, heap_allocator_proc);
    EXPECT_TRUE(record.fresh_every_call);
    EXPECT_TRUE(record.cleared_every_call);
    EXPECT_TRUE(record.input_always_null);
    EXPECT_EQ(record.frame_count, AUDIO_DEVICE_PERIOD_FRAMES);
}

TEST_F(Audio_Device_Test, WithoutAUsableDriverFallsBackToDummyWithOneWarning) {
    use_driver("nonexistent");
    Callback_Record record;
    Audio_Device_Config config = {Audio_Format::F32, 2, 48000, recording_callback, &record};
    Recording_Logger logger;
    ASSERT_TRUE(init(&device, &config));
    ASSERT_EQ(logger.messages.size(), 1u);
    EXPECT_TRUE(matches_template(logger.messages[0].text, AUDIO_DEVICE_FALLBACK)) << logger.messages[0].text;
    EXPECT_EQ(logger.messages[0].flags, Log_Flags::WARNING);
    EXPECT_TRUE(device.fallback);
    EXPECT_EQ(device.driver, "dummy"_s);
    EXPECT_TRUE(start(&device));
    EXPECT_TRUE(wait_for([&] { return record.calls.load() >= 2; }));
    uninit(&device);
    EXPECT_EQ(logger.messages.size(), 1u);

    // The fallback was for that device only: the next one takes the driver the
    // environment names again.
    Temp_File file;
    use_disk(file);
    ASSERT_TRUE(init(&device, &config));
    EXPECT_FALSE(device.fallback);
    EXPECT_EQ(device.driver, "disk"_s);
    EXPECT_EQ(logger.messages.size(), 1u);
}

// A machine without a sound card: ALSA itself has nothing to open. Its library
// would print its own errors to standard error; only our warning remains.
TEST_F(Audio_Device_Test, AlsaWithoutACardFallsBackQuietly) {
    std::ifstream cards("/proc/asound/cards");
    std::string first_line;
    if (cards && std::getline(cards, first_line) && first_line.find("no soundcards") == std::string::npos)
        GTEST_SKIP() << "this machine has a sound card";
    use_driver("alsa");
    Callback_Record record;
    Audio_Device_Config config = {Audio_Format::F32, 2, 48000, recording_callback, &record};
    Recording_Logger logger;
    Captured_Output console;
    bool opened = init(&device, &config);
    console.restore();
    ASSERT_TRUE(opened);
    EXPECT_TRUE(device.fallback);
    EXPECT_EQ(console.err(), "");
    EXPECT_EQ(console.out(), "");
    ASSERT_EQ(logger.messages.size(), 1u);
    EXPECT_TRUE(matches_template(logger.messages[0].text, AUDIO_DEVICE_FALLBACK)) << logger.messages[0].text;
}

// Ctrl-C and SIGTERM must still end the program: SDL would turn them into quit
// events that nothing reads.
TEST_F(Audio_Device_Test, LeavesSignalHandlersAlone) {
    use_driver("dummy");
    struct sigaction int_before = {}, term_before = {}, int_after = {}, term_after = {};
    sigaction(SIGINT, nullptr, &int_before);
    sigaction(SIGTERM, nullptr, &term_before);
    Callback_Record record;
    Audio_Device_Config config = {Audio_Format::F32, 2, 48000, recording_callback, &record};
    ASSERT_TRUE(init(&device, &config));
    ASSERT_TRUE(start(&device));
    sigaction(SIGINT, nullptr, &int_after);
    sigaction(SIGTERM, nullptr, &term_after);
    EXPECT_EQ(int_after.sa_handler, int_before.sa_handler);
    EXPECT_EQ(term_after.sa_handler, term_before.sa_handler);
}

TEST_F(Audio_Device_Test, RejectsUnusableConfigurations) {
    use_driver("dummy");
    Callback_Record record;
    const Audio_Device_Config good = {Audio_Format::F32, 2, 48000, recording_callback, &record};
    struct Case {
        const char *name;
        Audio_Device_Config config;
    } cases[] = {
        {"no format", {Audio_Format::UNKNOWN, 2, 48000, recording_callback, &record}},
        {"no channels", {Audio_Format::F32, 0, 48000, recording_callback, &record}},
        {"nine channels", {Audio_Format::F32, 9, 48000, recording_callback, &record}},
        {"no rate", {Audio_Format::F32, 2, 0, recording_callback, &record}},
        {"a rate beyond int", {Audio_Format::F32, 2, 0x80000000u, recording_callback, &record}},
        {"no callback", {Audio_Format::F32, 2, 48000, nullptr, &record}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Recording_Logger logger;
        EXPECT_FALSE(init(&device, &c.config));
        ASSERT_EQ(logger.messages.size(), 1u);
        EXPECT_TRUE(matches_template(logger.messages[0].text, AUDIO_DEVICE_BAD_CONFIG))
            << logger.messages[0].text;
        EXPECT_TRUE(has_any(logger.messages[0].flags, Log_Flags::ERROR));
        EXPECT_EQ(device.id, 0u);
        EXPECT_FALSE(start(&device));
    }
    // The failures left nothing behind that stops a good configuration.
    EXPECT_TRUE(init(&device, &good));
}

TEST_F(Audio_Device_Test, StartNeedsAnOpenDevice) {
    Recording_Logger logger;
    EXPECT_FALSE(start(&device));
    ASSERT_EQ(logger.messages.size(), 1u);
    EXPECT_EQ(logger.messages[0].text, AUDIO_DEVICE_NOT_OPEN);
    EXPECT_FALSE(device.started);
}

} // namespace
