#include "desktop/mouse_pointers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tessera;

namespace {

constexpr const Mouse_Pointer_Data &pointer(Mouse_Pointer p) {
    return default_mouse_pointers[p];
}

constexpr const u8 *pixel_at(const Mouse_Pointer_Data &p, s32 x, s32 y) {
    return p.pixels.data + (y * p.width + x) * 4;
}

constexpr bool pixel_is(const Mouse_Pointer_Data &p, s32 x, s32 y, u8 r, u8 g, u8 b, u8 a) {
    const u8 *px = pixel_at(p, x, y);
    return px[0] == r && px[1] == g && px[2] == b && px[3] == a;
}

// Everything is settled at compile time: sizes, hot spots and pixels are
// usable in constant expressions.
static_assert(pointer(Mouse_Pointer::ARROW).pixels.count == 912);
static_assert(pointer(Mouse_Pointer::VRESIZE).width == 9 && pointer(Mouse_Pointer::VRESIZE).height == 23);
static_assert(pointer(Mouse_Pointer::HRESIZE).xhot == 11 && pointer(Mouse_Pointer::HRESIZE).yhot == 4);
static_assert(pixel_is(pointer(Mouse_Pointer::ARROW), 0, 0, 255, 255, 255, 255)); // outline
static_assert(pixel_is(pointer(Mouse_Pointer::ARROW), 1, 2, 0, 0, 0, 255));       // body
static_assert(pixel_is(pointer(Mouse_Pointer::ARROW), 11, 0, 0, 0, 0, 0));        // transparent
static_assert(pixel_is(pointer(Mouse_Pointer::MOVE), 11, 11, 0, 0, 0, 255));
// The two diagonals run the way their names say; nothing else tells them apart.
static_assert(pixel_is(pointer(Mouse_Pointer::TLBR_RESIZE), 0, 0, 255, 255, 255, 255));
static_assert(pixel_is(pointer(Mouse_Pointer::TRBL_RESIZE), 0, 0, 0, 0, 0, 0));
static_assert(pixel_is(pointer(Mouse_Pointer::TRBL_RESIZE), 16, 0, 255, 255, 255, 255));

// The character a pixel was drawn with; '?' for any other colour.
char decode(const Mouse_Pointer_Data &p, s32 x, s32 y) {
    if (pixel_is(p, x, y, 255, 255, 255, 255)) return 'X';
    if (pixel_is(p, x, y, 0, 0, 0, 255)) return '.';
    if (pixel_is(p, x, y, 0, 0, 0, 0)) return ' ';
    return '?';
}

std::vector<std::string> decode_rows(const Mouse_Pointer_Data &p) {
    std::vector<std::string> rows;
    for (s32 y = 0; y < p.height; y++) {
        std::string row;
        for (s32 x = 0; x < p.width; x++) row += decode(p, x, y);
        rows.push_back(row);
    }
    return rows;
}

const Mouse_Pointer ALL_POINTERS[] = {
    Mouse_Pointer::ARROW,   Mouse_Pointer::HAND_POINTING, Mouse_Pointer::VBAR,        Mouse_Pointer::VRESIZE,
    Mouse_Pointer::HRESIZE, Mouse_Pointer::TLBR_RESIZE,   Mouse_Pointer::TRBL_RESIZE, Mouse_Pointer::MOVE,
};

TEST(MousePointers, SizesAndHotSpots) {
    struct Case {
        Mouse_Pointer pointer;
        s32 width, height, xhot, yhot;
    } cases[] = {
        {Mouse_Pointer::ARROW, 12, 19, 0, 0},       {Mouse_Pointer::HAND_POINTING, 17, 22, 5, 0},
        {Mouse_Pointer::VBAR, 7, 16, 3, 8},         {Mouse_Pointer::VRESIZE, 9, 23, 4, 11},
        {Mouse_Pointer::HRESIZE, 23, 9, 11, 4},     {Mouse_Pointer::TLBR_RESIZE, 17, 17, 8, 8},
        {Mouse_Pointer::TRBL_RESIZE, 17, 17, 8, 8}, {Mouse_Pointer::MOVE, 23, 23, 11, 11},
    };
    static_assert(sizeof(cases) / sizeof(cases[0]) == MOUSE_POINTER_COUNT);
    for (const Case &c : cases) {
        SCOPED_TRACE(enum_name(c.pointer).data);
        const Mouse_Pointer_Data &p = pointer(c.pointer);
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_EQ(p.xhot, c.xhot);
        EXPECT_EQ(p.yhot, c.yhot);
        EXPECT_EQ(p.pixels.count, s64{c.width} * c.height * 4);
        EXPECT_NE(p.pixels.data, nullptr);
        // The index form the backend's loading loop uses reaches the same image.
        EXPECT_EQ(&default_mouse_pointers[static_cast<s64>(c.pointer)], &p);
    }
}

TEST(MousePointers, EveryPixelIsOutlineBodyOrTransparent) {
    for (Mouse_Pointer which : ALL_POINTERS) {
        SCOPED_TRACE(enum_name(which).data);
        const Mouse_Pointer_Data &p = pointer(which);
        for (s32 y = 0; y < p.height; y++) {
            for (s32 x = 0; x < p.width; x++) {
                ASSERT_NE(decode(p, x, y), '?') << "at (" << x << ", " << y << ")";
            }
        }
    }
}

// Typed here separately from the library's pictures, so a slip in either shows.
// These are the shapes with no symmetry to check them by (and MOVE, the largest).
TEST(MousePointers, PixelsDecodeToTheDrawnRows) {
    struct Case {
        Mouse_Pointer pointer;
        std::vector<std::string> rows;
    } cases[] = {
        // clang-format off
        {Mouse_Pointer::ARROW,
         {
             "X           ",
             "XX          ",
             "X.X         ",
             "X..X        ",
             "X...X       ",
             "X....X      ",
             "X.....X     ",
             "X......X    ",
             "X.......X   ",
             "X........X  ",
             "X.........X ",
             "X..........X",
             "X......XXXXX",
             "X...X..X    ",
             "X..X X..X   ",
             "X.X  X..X   ",
             "XX    X..X  ",
             "      X..X  ",
             "       XX   ",
         }},
        {Mouse_Pointer::HAND_POINTING,
         {
             "     XX          ",
             "    X..X         ",
             "    X..X         ",
             "    X..X         ",
             "    X..X         ",
             "    X..XXX       ",
             "    X..X..XXX    ",
             "    X..X..X..XX  ",
             "    X..X..X..X.X ",
             "XXX X..X..X..X..X",
             "X..XX........X..X",
             "X...X...........X",
             " X..............X",
             "  X.............X",
             "  X.............X",
             "   X............X",
             "   X...........X ",
             "    X..........X ",
             "    X..........X ",
             "     X........X  ",
             "     X........X  ",
             "     XXXXXXXXXX  ",
         }},
        {Mouse_Pointer::MOVE,
         {
             "           X           ",
             "          X.X          ",
             "         X...X         ",
             "        X.....X        ",
             "       X.......X       ",
             "       XXXX.XXXX       ",
             "          X.X          ",
             "    XX    X.X    XX    ",
             "   X.X    X.X    X.X   ",
             "  X..X    X.X    X..X  ",
             " X...XXXXXX.XXXXXX...X ",
             "X.....................X",
             " X...XXXXXX.XXXXXX...X ",
             "  X..X    X.X    X..X  ",
             "   X.X    X.X    X.X   ",
             "    XX    X.X    XX    ",
             "          X.X          ",
             "       XXXX.XXXX       ",
             "       X.......X       ",
             "        X.....X        ",
             "         X...X         ",
             "          X.X          ",
             "           X           ",
         }},
        // clang-format on
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(enum_name(c.pointer).data);
        EXPECT_EQ(decode_rows(pointer(c.pointer)), c.rows);
    }
}

// Symmetries of the pictures: they check the other shapes without restating them.
TEST(MousePointers, PicturesHaveTheirSymmetries) {
    enum class Map { MIRROR_LEFT_RIGHT, FLIP_TOP_BOTTOM, TRANSPOSE };
    const char *map_names[] = {"mirrored left-right", "flipped top-bottom", "transposed"};
    struct Case {
        Mouse_Pointer image, of;
        Map map; // image(x, y) == of(map(x, y))
    } cases[] = {
        {Mouse_Pointer::TRBL_RESIZE, Mouse_Pointer::TLBR_RESIZE, Map::MIRROR_LEFT_RIGHT},
        {Mouse_Pointer::TLBR_RESIZE, Mouse_Pointer::TLBR_RESIZE, Map::TRANSPOSE},
        {Mouse_Pointer::HRESIZE, Mouse_Pointer::VRESIZE, Map::TRANSPOSE},
        {Mouse_Pointer::VRESIZE, Mouse_Pointer::VRESIZE, Map::MIRROR_LEFT_RIGHT},
        {Mouse_Pointer::VRESIZE, Mouse_Pointer::VRESIZE, Map::FLIP_TOP_BOTTOM},
        {Mouse_Pointer::VBAR, Mouse_Pointer::VBAR, Map::MIRROR_LEFT_RIGHT},
        {Mouse_Pointer::VBAR, Mouse_Pointer::VBAR, Map::FLIP_TOP_BOTTOM},
        {Mouse_Pointer::MOVE, Mouse_Pointer::MOVE, Map::MIRROR_LEFT_RIGHT},
        {Mouse_Pointer::MOVE, Mouse_Pointer::MOVE, Map::FLIP_TOP_BOTTOM},
        {Mouse_Pointer::MOVE, Mouse_Pointer::MOVE, Map::TRANSPOSE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << enum_name(c.image).data << " is " << enum_name(c.of).data << " "
                                        << map_names[static_cast<int>(c.map)]);
        const Mouse_Pointer_Data &a = pointer(c.image), &b = pointer(c.of);
        bool transposed = c.map == Map::TRANSPOSE;
        ASSERT_EQ(a.width, transposed ? b.height : b.width);
        ASSERT_EQ(a.height, transposed ? b.width : b.height);
        for (s32 y = 0; y < a.height; y++) {
            for (s32 x = 0; x < a.width; x++) {
                s32 bx = x, by = y;
                if (c.map == Map::MIRROR_LEFT_RIGHT) bx = b.width - 1 - x;
                if (c.map == Map::FLIP_TOP_BOTTOM) by = b.height - 1 - y;
                if (transposed) bx = y, by = x;
                ASSERT_EQ(decode(a, x, y), decode(b, bx, by)) << "at (" << x << ", " << y << ")";
            }
        }
    }
}

// A hot spot on a transparent pixel, or outside the image, would act where
// nothing is drawn: the centred shapes act from their body, the arrow and the
// hand from the outline at their tip.
TEST(MousePointers, HotSpotsLieOnTheShape) {
    for (Mouse_Pointer which : ALL_POINTERS) {
        SCOPED_TRACE(enum_name(which).data);
        const Mouse_Pointer_Data &p = pointer(which);
        ASSERT_TRUE(p.xhot >= 0 && p.xhot < p.width && p.yhot >= 0 && p.yhot < p.height);
        bool tip = which == Mouse_Pointer::ARROW || which == Mouse_Pointer::HAND_POINTING;
        EXPECT_EQ(decode(p, p.xhot, p.yhot), tip ? 'X' : '.');
    }
}

} // namespace
