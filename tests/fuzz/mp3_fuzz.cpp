// Arbitrary bytes as an MP3 track: decoder init, then reads of changing odd
// sizes until the track ends, the way the audio device's callback pulls it.
//
// Besides the sanitizers, each input checks what must hold for any bytes: a
// decoder that opens reports a format the device can play; no read returns
// more frames than asked or writes past them; the track ends within a bound set
// by its size (no endless decoding); after the end reads stay at 0.

#include "audio/decoder.h"
#include "base/context.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace tessera;

namespace {

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                         \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)

// Bad bytes are logged by design; a million error lines would only slow the run.
void quiet_logger(String, void *, Log_Info) {}

// Every MPEG audio frame spends tens of bytes on at most 1152 samples, so 1152
// frames of output per byte of input is far beyond what any stream can give.
constexpr u64 MAX_FRAMES_PER_BYTE = 1152;

constexpr u64 CHUNKS[] = {1, 17, 577, 1152, 4093, 255};
constexpr f32 CANARY = -12345.0f;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    context().logger = quiet_logger;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size) {
    Audio_Decoder decoder;
    if (!init(&decoder, {static_cast<s64>(size), const_cast<u8 *>(data)})) {
        FUZZ_CHECK(decoder.handle == nullptr);
        return 0;
    }
    FUZZ_CHECK(decoder.output_format == Audio_Format::F32);
    FUZZ_CHECK(decoder.output_channels == 1 || decoder.output_channels == 2);
    FUZZ_CHECK(decoder.output_sample_rate > 0);

    u32 channels = decoder.output_channels;
    u64 limit = MAX_FRAMES_PER_BYTE * (size + 8);
    std::vector<f32> buffer((CHUNKS[4] + 1) * channels);
    u64 total = 0;
    for (u64 i = 0;; i++) {
        u64 want = CHUNKS[i % std::size(CHUNKS)];
        for (f32 &s : buffer) s = CANARY;
        u64 got = read_pcm_frames(&decoder, buffer.data(), want);
        FUZZ_CHECK(got <= want);
        for (u64 s = want * channels; s < buffer.size(); s++) FUZZ_CHECK(buffer[s] == CANARY);
        total += got;
        FUZZ_CHECK(total <= limit);
        FUZZ_CHECK(decoder.frames_read == total);
        if (got == 0) break;
    }
    f32 after[8];
    FUZZ_CHECK(read_pcm_frames(&decoder, after, 4) == 0);
    uninit(&decoder);
    return 0;
}
