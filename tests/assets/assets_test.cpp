// The embedded assets are the files in res/, byte for byte, and of the kinds the
// demo decodes: a baseline 1920x1080 three-component JPEG (the picture texture),
// an MPEG-1 Layer III 48 kHz stereo track (the playback device's format), a
// TrueType font.
#include "assets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tessera;

namespace {

std::vector<u8> read_res_file(const char *name) {
    std::string path = std::string(TESSERA_RES_DIR) + "/" + name;
    std::vector<u8> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    u8 buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

u32 be16(const u8 *p) {
    return (u32(p[0]) << 8) | p[1];
}
u32 be32(const u8 *p) {
    return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | p[3];
}

// ---- JPEG -------------------------------------------------------------------------

struct Jpeg_Frame {
    std::vector<u8> frame_markers; // every SOFn marker met, in order
    u32 width = 0, height = 0, components = 0;
    bool reached_end = false; // EOI met with every segment inside the data
};

// Walks the marker segments from SOI to EOI, stepping over the entropy-coded
// data after each SOS (where 0xFF00 is a stuffed byte and RSTn a restart).
Jpeg_Frame walk_jpeg(Array_View<u8> jpeg) {
    Jpeg_Frame frame;
    const u8 *p = jpeg.data;
    s64 n = jpeg.count;
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return frame;
    s64 i = 2;
    while (i + 1 < n) {
        if (p[i] != 0xFF) return frame;            // segments must follow each other directly
        while (i + 1 < n && p[i + 1] == 0xFF) i++; // fill bytes
        if (i + 1 >= n) return frame;
        u8 marker = p[i + 1];
        i += 2;
        if (marker == 0xD9) {
            frame.reached_end = true;
            return frame;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue; // no length
        if (i + 2 > n) return frame;
        s64 length = be16(p + i);
        if (length < 2 || i + length > n) return frame;
        bool is_frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (is_frame) {
            frame.frame_markers.push_back(marker);
            if (length < 8) return frame;
            frame.height = be16(p + i + 3);
            frame.width = be16(p + i + 5);
            frame.components = p[i + 7];
        }
        i += length;
        if (marker == 0xDA) {
            while (i + 1 < n &&
                   !(p[i] == 0xFF && p[i + 1] != 0x00 && !(p[i + 1] >= 0xD0 && p[i + 1] <= 0xD7)))
                i++;
        }
    }
    return frame;
}

// ---- MP3 --------------------------------------------------------------------------

struct Mp3_Frame_Header {
    bool valid = false;
    u32 version_bits = 0, layer_bits = 0, sample_rate = 0, channel_mode = 0, length = 0;
};

Mp3_Frame_Header parse_mp3_header(const u8 *p) {
    static const u32 MPEG1_LAYER3_KBPS[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                              112, 128, 160, 192, 224, 256, 320, 0};
    static const u32 MPEG1_RATES[4] = {44100, 48000, 32000, 0};
    Mp3_Frame_Header h;
    u32 word = be32(p);
    if ((word >> 21) != 0x7FF) return h;
    h.version_bits = (word >> 19) & 3;
    h.layer_bits = (word >> 17) & 3;
    u32 bitrate = MPEG1_LAYER3_KBPS[(word >> 12) & 15];
    h.sample_rate = MPEG1_RATES[(word >> 10) & 3];
    u32 padding = (word >> 9) & 1;
    h.channel_mode = (word >> 6) & 3;
    if (h.version_bits != 3 || h.layer_bits != 1 || bitrate == 0 || h.sample_rate == 0) return h;
    h.length = 144 * bitrate * 1000 / h.sample_rate + padding;
    h.valid = true;
    return h;
}

// Offset of the first audio frame: after an ID3v2 tag (10-byte header, a
// sync-safe size, an optional 10-byte footer) if there is one.
s64 first_mp3_frame(Array_View<u8> mp3) {
    if (mp3.count >= 10 && std::memcmp(mp3.data, "ID3", 3) == 0) {
        const u8 *s = mp3.data + 6;
        s64 size =
            (s64(s[0] & 0x7F) << 21) | (s64(s[1] & 0x7F) << 14) | (s64(s[2] & 0x7F) << 7) | (s[3] & 0x7F);
        bool footer = mp3.data[5] & 0x10;
        return 10 + size + (footer ? 10 : 0);
    }
    return 0;
}

// ---- Tests ------------------------------------------------------------------------

TEST(Assets, EmbeddedBytesAreTheFilesInRes) {
    struct Case {
        Array_View<u8> view;
        const char *file;
    } cases[] = {
        {EMBEDDED_FONT, "fonts/DejaVuSans.ttf"},
        {EMBEDDED_PICTURE, "picture.jpg"},
        {EMBEDDED_MUSIC, "music.mp3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<u8> file = read_res_file(c.file);
        ASSERT_FALSE(file.empty());
        ASSERT_EQ(c.view.count, static_cast<s64>(file.size()));
        EXPECT_EQ(std::memcmp(c.view.data, file.data(), file.size()), 0);
    }
}

// The bytes live in a mapping the process cannot write: a stray store faults
// instead of corrupting an asset.
TEST(Assets, BytesAreReadOnly) {
    FILE *maps = std::fopen("/proc/self/maps", "r");
    ASSERT_NE(maps, nullptr);
    const Array_View<u8> views[] = {EMBEDDED_FONT, EMBEDDED_PICTURE, EMBEDDED_MUSIC};
    int found = 0;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%lx-%lx %4s", &start, &end, perms) != 3) continue;
        for (const Array_View<u8> &v : views) {
            auto first = reinterpret_cast<unsigned long>(v.data);
            if (first >= start && first < end) {
                EXPECT_EQ(perms[1], '-') << line;
                found++;
            }
        }
    }
    std::fclose(maps);
    EXPECT_EQ(found, 3);
}

TEST(Assets, PictureIsBaseline1920x1080WithThreeComponents) {
    Jpeg_Frame frame = walk_jpeg(EMBEDDED_PICTURE);
    ASSERT_TRUE(frame.reached_end) << "markers do not lead from SOI to EOI";
    // One baseline frame (SOF0); no progressive (SOF2) or other frame kind.
    ASSERT_EQ(frame.frame_markers.size(), 1u);
    EXPECT_EQ(frame.frame_markers[0], 0xC0);
    EXPECT_EQ(frame.width, 1920u);
    EXPECT_EQ(frame.height, 1080u);
    EXPECT_EQ(frame.components, 3u);
}

TEST(Assets, MusicIsMpeg1Layer3At48kHzStereo) {
    s64 offset = first_mp3_frame(EMBEDDED_MUSIC);
    ASSERT_LE(offset + 4, EMBEDDED_MUSIC.count);
    Mp3_Frame_Header first = parse_mp3_header(EMBEDDED_MUSIC.data + offset);
    ASSERT_TRUE(first.valid) << "no MPEG-1 Layer III frame header at offset " << offset;
    EXPECT_EQ(first.sample_rate, 48000u);
    EXPECT_TRUE(first.channel_mode == 0 || first.channel_mode == 1) << "channel mode " << first.channel_mode;

    // A real frame, not a stray sync pattern: the next header follows exactly one
    // frame length later, with the same format.
    s64 next = offset + first.length;
    ASSERT_LE(next + 4, EMBEDDED_MUSIC.count);
    Mp3_Frame_Header second = parse_mp3_header(EMBEDDED_MUSIC.data + next);
    ASSERT_TRUE(second.valid);
    EXPECT_EQ(second.sample_rate, 48000u);
    EXPECT_EQ(second.channel_mode, first.channel_mode);
}

TEST(Assets, FontIsTrueTypeWithOutlinesAndCharacterMap) {
    ASSERT_GE(EMBEDDED_FONT.count, 12);
    const u8 *p = EMBEDDED_FONT.data;
    EXPECT_EQ(be32(p), 0x00010000u);
    // The table directory names glyf and cmap, each inside the data.
    u32 tables = be16(p + 4);
    ASSERT_LE(12 + 16 * s64(tables), EMBEDDED_FONT.count);
    bool glyf = false, cmap = false;
    for (u32 t = 0; t < tables; t++) {
        const u8 *record = p + 12 + 16 * t;
        u64 end = u64(be32(record + 8)) + be32(record + 12);
        EXPECT_LE(end, u64(EMBEDDED_FONT.count)) << std::string(reinterpret_cast<const char *>(record), 4);
        glyf |= std::memcmp(record, "glyf", 4) == 0;
        cmap |= std::memcmp(record, "cmap", 4) == 0;
    }
    EXPECT_TRUE(glyf);
    EXPECT_TRUE(cmap);
}

} // namespace
