// What the audio tests share: the committed MP3 (tools/make-audio-fixtures),
// a whole-track decode, and a match of logged text against a message template.
#pragma once

#include "audio/decoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tessera::test {

// One second of 48 kHz stereo: 440 Hz left, 660 Hz right, amplitude 0.5.
inline constexpr u32 SINE_RATE = 48000;
inline constexpr u32 SINE_CHANNELS = 2;
inline constexpr u64 SINE_FRAMES = 48000;
inline constexpr f64 SINE_LEFT_HZ = 440;
inline constexpr f64 SINE_RIGHT_HZ = 660;

inline std::vector<u8> read_fixture(const char *name) {
    std::string path = std::string(TESSERA_AUDIO_FIXTURES) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<u8> sine_mp3() {
    return read_fixture("sine_48k_stereo.mp3");
}

inline Array_View<u8> view_of(std::vector<u8> &bytes) {
    return {static_cast<s64>(bytes.size()), bytes.data()};
}

// Every sample an initialised decoder still has, read in one go.
inline std::vector<f32> decode_rest(Audio_Decoder *decoder, u64 max_frames = 10 * SINE_FRAMES) {
    std::vector<f32> samples(max_frames * decoder->output_channels);
    u64 frames = read_pcm_frames(decoder, samples.data(), max_frames);
    samples.resize(frames * decoder->output_channels);
    return samples;
}

// True when `text` is `message_template` with each `%` standing for any text.
inline bool matches_template(const std::string &text, const char *message_template) {
    std::string t = message_template;
    size_t ti = 0, xi = 0;
    size_t star_t = std::string::npos, star_x = 0;
    while (xi < text.size()) {
        if (ti < t.size() && t[ti] == '%') {
            star_t = ti++;
            star_x = xi;
        } else if (ti < t.size() && t[ti] == text[xi]) {
            ti++;
            xi++;
        } else if (star_t != std::string::npos) {
            ti = star_t + 1;
            xi = ++star_x;
        } else {
            return false;
        }
    }
    while (ti < t.size() && t[ti] == '%') ti++;
    return ti == t.size();
}

} // namespace tessera::test
