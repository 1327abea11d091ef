// Audio_Decoder: an MP3 track decoded from memory into interleaved PCM frames.
//
// The decoder reads the caller's bytes in place (it never copies the track) and
// writes 32-bit float samples, interleaved by channel, at the track's own sample
// rate and channel count: no resampling, no channel mixing. One frame is one
// sample per channel, so a stereo frame is 8 bytes.
//
// Costs: init parses the stream up to its first audio frame; read_pcm_frames
// decodes only as many MPEG frames as the request needs, straight into the
// caller's buffer (what a frame decodes to beyond the request waits inside the
// decoder for the next read). The decoder keeps one heap block of its own, the
// mpg123 handle, made by init and freed by uninit; nothing else allocates.
//
// The record must stay where it is from init to uninit: the library reads the
// track through its address.
//
// Bad bytes: anything that is not an MPEG audio stream makes init return false
// with the cause logged. A stream that breaks off or turns to garbage later ends
// there: reads return the frames decoded up to that point, then 0. No byte
// outside the given memory is read.
//
// Threads: a decoder is used by one thread at a time (the demo hands it to the
// audio device's thread after start-up). Different decoders are independent.
#pragma once

#include "base/array.h"
#include "base/enum.h"

struct mpg123_handle_struct;

namespace tessera {

#define TESSERA_AUDIO_FORMAT_LIST(X)                                                                         \
    X(UNKNOWN, 0)                                                                                            \
    X(F32, 1) /* 32-bit float, native byte order, -1..1 */
TESSERA_ENUM(Audio_Format, u32, TESSERA_AUDIO_FORMAT_LIST)

// Bytes of one sample of `format`; 0 for UNKNOWN.
constexpr u32 bytes_per_sample(Audio_Format format) {
    return format == Audio_Format::F32 ? 4 : 0;
}

struct Audio_Decoder {
    mpg123_handle_struct *handle = nullptr; // null: not initialised
    Array_View<u8> memory;                  // the track; borrowed, must outlive the decoder
    s64 position = 0;                       // the reader's offset into memory, 0..memory.count
    Audio_Format output_format = Audio_Format::UNKNOWN;
    u32 output_channels = 0;    // 1 or 2
    u32 output_sample_rate = 0; // frames per second
    u64 frames_read = 0;        // frames handed out by read_pcm_frames so far
    bool finished = false;      // the stream ended (or broke off); reads give 0
};

inline constexpr char AUDIO_DECODER_EMPTY[] = "Audio decoder: no bytes to decode";
inline constexpr char AUDIO_DECODER_NO_HANDLE[] = "Audio decoder: mpg123 could not create a handle: %";
inline constexpr char AUDIO_DECODER_OPEN_FAILED[] = "Audio decoder: mpg123 could not open the stream: %";
inline constexpr char AUDIO_DECODER_NO_FORMAT[] = "Audio decoder: no MPEG audio frame found in % bytes: %";
inline constexpr char AUDIO_DECODER_BAD_FORMAT[] =
    "Audio decoder: unsupported output format (rate %, channels %, encoding %)";
inline constexpr char AUDIO_DECODER_READ_FAILED[] = "Audio decoder: decoding stopped after % frames: %";
inline constexpr char AUDIO_DECODER_FORMAT_CHANGED[] =
    "Audio decoder: the stream changed to rate %, channels % after % frames; decoding stops there";

// Opens the track in `memory` (which must stay valid and unchanged until
// uninit) and learns its output format. A decoder the record already holds is
// released first. False, with the cause logged and the record zeroed, when the
// bytes hold no MPEG audio frame or mpg123 refuses them.
bool init(Audio_Decoder *decoder, Array_View<u8> memory);

// Decodes up to `frame_count` frames into `out`, which has room for
// frame_count * output_channels samples of output_format. Returns the frames
// written: frame_count until the track runs out, then fewer, then 0. Also 0 for
// a decoder that is not initialised. A decoding error mid-stream is logged once
// and ends the track.
u64 read_pcm_frames(Audio_Decoder *decoder, void *out, u64 frame_count);

// Releases the mpg123 state and zeroes the record; a zeroed record is fine.
void uninit(Audio_Decoder *decoder);

} // namespace tessera
