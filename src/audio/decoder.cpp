#include "audio/decoder.h"

#include "base/assert.h"
#include "base/log.h"

#include <mpg123.h>

#include <cstdio>
#include <cstring>

namespace tessera {

// One read asks mpg123 for at most this many bytes, so that frame_count * frame
// size never overflows what size_t and the library's own arithmetic can hold.
static constexpr u64 MAX_READ_BYTES = 1ull << 28;

// mpg123_read never makes progress on a healthy stream without output, so this
// many empty successes in a row mean the stream is stuck, not slow.
static constexpr int MAX_EMPTY_READS = 16;

// Since 1.27 mpg123_init is a no-op; older versions need it once, before the
// first handle. A function-local static makes that once thread-safe.
static void ensure_library() {
    static const int status = mpg123_init();
    (void)status;
}

// ---- The reader over the caller's bytes ------------------------------------------
// mpg123 pulls bytes through these as through read(2) and lseek(2); the handle is
// the decoder record. Nothing outside [0, memory.count) is ever touched.

static mpg123_ssize_t read_memory(void *handle, void *buffer, size_t count) {
    Audio_Decoder *d = static_cast<Audio_Decoder *>(handle);
    u64 available = static_cast<u64>(d->memory.count - d->position);
    u64 n = min_of<u64>(count, available);
    if (n) memcpy(buffer, d->memory.data + d->position, n);
    d->position += static_cast<s64>(n);
    return static_cast<mpg123_ssize_t>(n);
}

static off_t seek_memory(void *handle, off_t offset, int whence) {
    Audio_Decoder *d = static_cast<Audio_Decoder *>(handle);
    s64 base;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = d->position;
        break;
    case SEEK_END:
        base = d->memory.count;
        break;
    default:
        return -1;
    }
    // Both operands are within the track or a caller's offset; check before adding.
    s64 target;
    if (__builtin_add_overflow(base, static_cast<s64>(offset), &target)) return -1;
    if (target < 0 || target > d->memory.count) return -1;
    d->position = target;
    return static_cast<off_t>(target);
}

// ---- Init and uninit -------------------------------------------------------------

bool init(Audio_Decoder *decoder, Array_View<u8> memory) {
    uninit(decoder);
    if (memory.count <= 0 || !memory.data) {
        log_error(AUDIO_DECODER_EMPTY);
        return false;
    }
    ensure_library();

    int error = MPG123_OK;
    mpg123_handle *mh = mpg123_new(nullptr, &error);
    if (!mh) {
        log_error(AUDIO_DECODER_NO_HANDLE, mpg123_plain_strerror(error));
        return false;
    }
    decoder->handle = mh;
    decoder->memory = memory;
    decoder->position = 0;

    // Quiet: the library would print its own complaints about bad bytes to
    // standard error. No Frankenstein streams: a second stream glued on with a
    // different rate or channel count ends the track instead of changing the
    // frame layout under the caller.
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0);

    // Float output only, at every rate and either channel count: the library then
    // keeps the track's own rate and channels, as there is nothing to convert to.
    mpg123_format_none(mh);
    const long *rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; i++) {
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }

    if (mpg123_replace_reader_handle(mh, read_memory, seek_memory, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, decoder) != MPG123_OK) {
        log_error(AUDIO_DECODER_OPEN_FAILED, mpg123_strerror(mh));
        uninit(decoder);
        return false;
    }

    // Parses up to the first audio frame.
    long rate = 0;
    int channels = 0, encoding = 0;
    int result = mpg123_getformat(mh, &rate, &channels, &encoding);
    if (result != MPG123_OK) {
        const char *cause = result == MPG123_DONE ? "the bytes ended first" : mpg123_strerror(mh);
        log_error(AUDIO_DECODER_NO_FORMAT, memory.count, cause);
        uninit(decoder);
        return false;
    }
    if (encoding != MPG123_ENC_FLOAT_32 || (channels != 1 && channels != 2) || rate <= 0) {
        log_error(AUDIO_DECODER_BAD_FORMAT, rate, channels, encoding);
        uninit(decoder);
        return false;
    }
    decoder->output_format = Audio_Format::F32;
    decoder->output_channels = static_cast<u32>(channels);
    decoder->output_sample_rate = static_cast<u32>(rate);
    return true;
}

void uninit(Audio_Decoder *decoder) {
    if (decoder->handle) {
        mpg123_close(decoder->handle);
        mpg123_delete(decoder->handle);
    }
    *decoder = Audio_Decoder{};
}

// ---- Reading -------------------------------------------------------------------

u64 read_pcm_frames(Audio_Decoder *decoder, void *out, u64 frame_count) {
    if (!decoder->handle || decoder->finished || frame_count == 0) return 0;
    ASSERT(out, "read_pcm_frames with no output buffer for % frames", frame_count);

    mpg123_handle *mh = decoder->handle;
    u64 frame_bytes = decoder->output_channels * bytes_per_sample(decoder->output_format);
    u64 max_frames = MAX_READ_BYTES / frame_bytes;
    u8 *dst = static_cast<u8 *>(out);
    u64 written = 0;
    int empty_reads = 0;

    // Errors name the frame they happened at, counted from the start of the track.
    auto at = [&] { return decoder->frames_read + written; };
    while (written < frame_count) {
        u64 want = min_of(frame_count - written, max_frames);
        size_t done = 0;
        int result = mpg123_read(mh, dst + written * frame_bytes, want * frame_bytes, &done);
        // Every request is whole frames and the output format is fixed, so the
        // library hands back whole frames.
        ASSERT(done % frame_bytes == 0 && done <= want * frame_bytes,
               "mpg123 returned % bytes for a request of % frames of % bytes", done, want, frame_bytes);
        written += done / frame_bytes;

        if (result == MPG123_OK) {
            empty_reads = done ? 0 : empty_reads + 1;
            if (empty_reads < MAX_EMPTY_READS) continue;
            log_error(AUDIO_DECODER_READ_FAILED, at(), "no progress");
            decoder->finished = true;
            break;
        }
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (rate == decoder->output_sample_rate &&
                channels == static_cast<int>(decoder->output_channels) && encoding == MPG123_ENC_FLOAT_32) {
                continue;
            }
            log_error(AUDIO_DECODER_FORMAT_CHANGED, rate, channels, at());
            decoder->finished = true;
            break;
        }
        // DONE is the normal end; with every byte already available, NEED_MORE
        // can only mean the same.
        if (result != MPG123_DONE && result != MPG123_NEED_MORE) {
            log_error(AUDIO_DECODER_READ_FAILED, at(), mpg123_strerror(mh));
        }
        decoder->finished = true;
        break;
    }
    decoder->frames_read += written;
    return written;
}

} // namespace tessera
