#include "audio/decoder.h"
#include "audio_fixture.h"
#include "capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

using namespace tessera;
using namespace tessera::test;

namespace {

// Sign changes of one channel over the given frames, per second of audio.
f64 zero_crossings_per_second(const std::vector<f32> &samples, u32 channels, u32 channel, u64 first, u64 last,
                              u32 rate) {
    s64 crossings = 0;
    for (u64 f = first + 1; f < last; f++) {
        bool before = samples[(f - 1) * channels + channel] >= 0;
        bool now = samples[f * channels + channel] >= 0;
        crossings += before != now;
    }
    return static_cast<f64>(crossings) * rate / static_cast<f64>(last - first);
}

f32 peak(const std::vector<f32> &samples, u32 channels, u32 channel) {
    f32 p = 0;
    for (size_t i = channel; i < samples.size(); i += channels) p = std::max(p, std::fabs(samples[i]));
    return p;
}

// Each track keeps its own rate and channel count: nothing is resampled, mixed
// down or spread out. Zero crossings tell the channels apart (a swap, a mix or
// a wrong sample layout moves them) and the peak shows float samples in -1..1.
TEST(Audio_Decoder, DecodesEachTrackAtItsOwnFormat) {
    struct Case {
        const char *file;
        u32 rate, channels;
        u64 frames;
        f64 hz[2];
    } cases[] = {
        {"sine_48k_stereo.mp3", SINE_RATE, SINE_CHANNELS, SINE_FRAMES, {SINE_LEFT_HZ, SINE_RIGHT_HZ}},
        {"sine_22k_mono.mp3", 22050, 1, 11025, {550, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<u8> mp3 = read_fixture(c.file);
        Audio_Decoder decoder;
        ASSERT_TRUE(init(&decoder, view_of(mp3)));
        EXPECT_EQ(decoder.output_format, Audio_Format::F32);
        EXPECT_EQ(decoder.output_channels, c.channels);
        EXPECT_EQ(decoder.output_sample_rate, c.rate);

        std::vector<f32> samples = decode_rest(&decoder);
        u64 frames = samples.size() / c.channels;
        // The encoder's delay and padding are trimmed; allow one MPEG frame either way.
        EXPECT_NEAR(static_cast<f64>(frames), static_cast<f64>(c.frames), 1152);
        EXPECT_EQ(decoder.frames_read, frames);

        ASSERT_GT(frames, c.frames / 2);
        u64 first = frames / 20, last = frames - frames / 20;
        for (u32 channel = 0; channel < c.channels; channel++) {
            SCOPED_TRACE(channel);
            EXPECT_NEAR(zero_crossings_per_second(samples, c.channels, channel, first, last, c.rate),
                        2 * c.hz[channel], 2 * c.hz[channel] * 0.02);
            EXPECT_NEAR(peak(samples, c.channels, channel), 0.5, 0.06);
        }
        uninit(&decoder);
    }
}

TEST(Audio_Decoder, ChunkedReadsGiveTheSameSamplesAsOneRead) {
    std::vector<u8> mp3 = sine_mp3();
    Audio_Decoder whole, chunked;
    ASSERT_TRUE(init(&whole, view_of(mp3)));
    ASSERT_TRUE(init(&chunked, view_of(mp3)));
    std::vector<f32> expected = decode_rest(&whole);

    // Odd sizes that straddle MPEG frame (1152) boundaries in every way.
    const u64 sizes[] = {1, 7, 333, 1151, 1153, 4097, 2};
    std::vector<f32> got;
    for (s64 i = 0;; i++) {
        u64 want = sizes[i % std::size(sizes)];
        // One sample past the request is a canary: nothing may be written there.
        std::vector<f32> chunk(want * SINE_CHANNELS + 1, 123.0f);
        u64 n = read_pcm_frames(&chunked, chunk.data(), want);
        ASSERT_LE(n, want);
        EXPECT_EQ(chunk[want * SINE_CHANNELS], 123.0f);
        got.insert(got.end(), chunk.begin(), chunk.begin() + static_cast<s64>(n * SINE_CHANNELS));
        if (n < want) break;
    }
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(memcmp(got.data(), expected.data(), got.size() * sizeof(f32)), 0);
    uninit(&whole);
    uninit(&chunked);
}

TEST(Audio_Decoder, ReadsNothingAfterTheEnd) {
    std::vector<u8> mp3 = sine_mp3();
    Audio_Decoder decoder;
    ASSERT_TRUE(init(&decoder, view_of(mp3)));
    decode_rest(&decoder);
    f32 buffer[64 * 2];
    for (f32 &s : buffer) s = 7.0f;
    for (int i = 0; i < 3; i++) EXPECT_EQ(read_pcm_frames(&decoder, buffer, 64), 0u);
    for (f32 s : buffer) EXPECT_EQ(s, 7.0f);
    uninit(&decoder);
    // Neither an uninitialised record nor a released one reads anything.
    Audio_Decoder zeroed;
    EXPECT_EQ(read_pcm_frames(&zeroed, buffer, 64), 0u);
    EXPECT_EQ(read_pcm_frames(&decoder, buffer, 64), 0u);
    uninit(&zeroed);
}

// Each input lives in a heap block of exactly its size, so that the sanitizer
// tree reports any read past it.
std::unique_ptr<u8[]> exact_copy(const std::vector<u8> &bytes) {
    std::unique_ptr<u8[]> copy(new u8[bytes.size()]);
    if (!bytes.empty()) memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

TEST(Audio_Decoder, RejectsBytesWithoutAnAudioFrame) {
    std::vector<u8> mp3 = sine_mp3();
    std::string text(3000, 'x');
    for (size_t i = 0; i < text.size(); i++) text[i] = "not an mp3 file\n"[i % 16];
    std::vector<u8> zeros(4096, 0);
    std::vector<u8> id3_only = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    struct Case {
        const char *name;
        std::vector<u8> bytes;
        const char *message;
    } cases[] = {
        {"one byte", std::vector<u8>(mp3.begin(), mp3.begin() + 1), AUDIO_DECODER_NO_FORMAT},
        {"a frame header only", std::vector<u8>(mp3.begin(), mp3.begin() + 4), AUDIO_DECODER_NO_FORMAT},
        {"text", std::vector<u8>(text.begin(), text.end()), AUDIO_DECODER_NO_FORMAT},
        {"zeros", zeros, AUDIO_DECODER_NO_FORMAT},
        {"an ID3 tag and nothing else", id3_only, AUDIO_DECODER_NO_FORMAT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<u8[]> bytes = exact_copy(c.bytes);
        Audio_Decoder decoder;
        Recording_Logger logger;
        EXPECT_FALSE(init(&decoder, {static_cast<s64>(c.bytes.size()), bytes.get()}));
        ASSERT_EQ(logger.messages.size(), 1u);
        EXPECT_TRUE(matches_template(logger.messages[0].text, c.message)) << logger.messages[0].text;
        EXPECT_TRUE(has_any(logger.messages[0].flags, Log_Flags::ERROR));
        EXPECT_EQ(decoder.handle, nullptr);
        f32 out[8];
        EXPECT_EQ(read_pcm_frames(&decoder, out, 4), 0u);
    }
}

TEST(Audio_Decoder, RejectsEmptyMemory) {
    u8 byte = 0;
    const Array_View<u8> empties[] = {{0, nullptr}, {0, &byte}, {-5, &byte}};
    for (Array_View<u8> memory : empties) {
        Audio_Decoder decoder;
        Recording_Logger logger;
        EXPECT_FALSE(init(&decoder, memory));
        ASSERT_EQ(logger.messages.size(), 1u);
        EXPECT_EQ(logger.messages[0].text, AUDIO_DECODER_EMPTY);
        EXPECT_TRUE(has_any(logger.messages[0].flags, Log_Flags::ERROR));
    }
}

// A track cut short plays what is there and then ends; the frames before the
// cut are the ones the whole track decodes to.
TEST(Audio_Decoder, TruncatedTrackEndsEarly) {
    std::vector<u8> mp3 = sine_mp3();
    Audio_Decoder whole;
    ASSERT_TRUE(init(&whole, view_of(mp3)));
    std::vector<f32> expected = decode_rest(&whole);
    uninit(&whole);

    const f64 fractions[] = {0.25, 0.5, 0.9};
    for (f64 fraction : fractions) {
        SCOPED_TRACE(fraction);
        std::vector<u8> cut(mp3.begin(), mp3.begin() + static_cast<s64>(mp3.size() * fraction));
        std::unique_ptr<u8[]> bytes = exact_copy(cut);
        Audio_Decoder decoder;
        ASSERT_TRUE(init(&decoder, {static_cast<s64>(cut.size()), bytes.get()}));
        std::vector<f32> got = decode_rest(&decoder);
        u64 frames = got.size() / SINE_CHANNELS;
        EXPECT_NEAR(static_cast<f64>(frames), SINE_FRAMES * fraction, 3 * 1152);
        // The last frames before the cut may lack their bit reservoir; the rest match.
        ASSERT_GT(frames, 2 * 1152u);
        u64 compare = (frames - 2 * 1152) * SINE_CHANNELS;
        EXPECT_EQ(memcmp(got.data(), expected.data(), compare * sizeof(f32)), 0);
        f32 out[8];
        EXPECT_EQ(read_pcm_frames(&decoder, out, 4), 0u);
        uninit(&decoder);
    }
}

// Damage in the middle of the stream: decoding goes on or stops, but it ends,
// stays inside the bytes and never hands out more than the track holds.
TEST(Audio_Decoder, DamagedStreamStillEnds) {
    std::vector<u8> mp3 = sine_mp3();
    struct Damage {
        const char *name;
        size_t at, length;
        u8 value;
        bool flip; // false: the bytes become value; true: they are xored with it
    } damages[] = {
        {"zeroed middle", mp3.size() / 2, 600, 0, false},
        {"flipped middle", mp3.size() / 3, 2000, 0x5a, true},
        {"every header byte of the second half", mp3.size() / 2, mp3.size() / 2, 0xff, false},
        {"flipped info frame", 0, 400, 0xa5, true},
    };
    for (const Damage &d : damages) {
        SCOPED_TRACE(d.name);
        std::vector<u8> damaged = mp3;
        for (size_t i = d.at; i < d.at + d.length && i < damaged.size(); i++) {
            damaged[i] = d.flip ? damaged[i] ^ d.value : d.value;
        }
        std::unique_ptr<u8[]> bytes = exact_copy(damaged);
        Audio_Decoder decoder;
        Recording_Logger logger;
        if (!init(&decoder, {static_cast<s64>(damaged.size()), bytes.get()})) {
            EXPECT_EQ(logger.messages.size(), 1u);
            continue;
        }
        std::vector<f32> got = decode_rest(&decoder, 4 * SINE_FRAMES);
        EXPECT_LE(got.size() / decoder.output_channels, SINE_FRAMES + 1152);
        f32 out[8];
        EXPECT_EQ(read_pcm_frames(&decoder, out, 4), 0u);
        uninit(&decoder);
    }
}

// Init on a record that holds a decoder releases the old one (the sanitizer tree
// reports the leak otherwise) and starts the new track from its beginning.
TEST(Audio_Decoder, InitAgainStartsOver) {
    std::vector<u8> mp3 = sine_mp3();
    Audio_Decoder decoder;
    ASSERT_TRUE(init(&decoder, view_of(mp3)));
    f32 first[100 * 2];
    ASSERT_EQ(read_pcm_frames(&decoder, first, 100), 100u);
    decode_rest(&decoder);
    ASSERT_TRUE(init(&decoder, view_of(mp3)));
    EXPECT_EQ(decoder.frames_read, 0u);
    f32 again[100 * 2];
    ASSERT_EQ(read_pcm_frames(&decoder, again, 100), 100u);
    EXPECT_EQ(memcmp(first, again, sizeof first), 0);
    uninit(&decoder);
    uninit(&decoder);
}

} // namespace
