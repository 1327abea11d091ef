// The system's own eight mouse pointer images, drawn as rows of characters and
// turned into RGBA pixels with a hot spot each, all at compile time: the result
// is read-only constant data and nothing here runs, allocates or touches GLFW
// at run time. The desktop backend makes one GLFW cursor per image at start-up
// and shows the one the frame asked for, so every shape, the arrow included,
// comes from these pictures rather than the system's cursor theme.
//
// In the pictures each character is one pixel: "X" is the white outline, "."
// the black body, " " transparent.
#pragma once

#include "base/array.h"
#include "base/assert.h"
#include "base/types.h"
#include "window.h"

namespace tessera {

struct Mouse_Pointer_Data {
    // width * height pixels of 4 bytes (red, green, blue, alpha), rows top to
    // bottom: the layout GLFWimage takes. Points into read-only constant data;
    // the pointer is non-const only because the view type is, never write it.
    Array_View<u8> pixels;
    s32 width = 0, height = 0; // pixels
    s32 xhot = 0, yhot = 0;    // the hot spot, in pixels from the top-left corner
};

// ---- The pictures ----------------------------------------------------------------

namespace detail {
// Every row is `width` characters of "X", "." or " ", and there are `height` of
// them; a slip in a picture stops the build here rather than at the backend.
template <s64 H>
consteval bool picture_is(const char *const (&rows)[H], s32 width, s32 height) {
    if (H != height) return false;
    for (const char *row : rows) {
        s32 x = 0;
        for (; row[x] != 0; x++) {
            if (row[x] != 'X' && row[x] != '.' && row[x] != ' ') return false;
        }
        if (x != width) return false;
    }
    return true;
}
} // namespace detail

// Indexed like Mouse_Pointer; each static_assert gives the picture's width and height.
namespace mouse_pointer_pictures {
using detail::picture_is;

// One row per line, so the pictures stay pictures.
// clang-format off
inline constexpr const char *ARROW[] = {
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
};
static_assert(picture_is(ARROW, 12, 19));

inline constexpr const char *HAND_POINTING[] = {
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
};
static_assert(picture_is(HAND_POINTING, 17, 22));

inline constexpr const char *VBAR[] = {
    "XXXXXXX",
    "X.....X",
    "XXX.XXX",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "  X.X  ",
    "XXX.XXX",
    "X.....X",
    "XXXXXXX",
};
static_assert(picture_is(VBAR, 7, 16));

inline constexpr const char *VRESIZE[] = {
    "    X    ",
    "   X.X   ",
    "  X...X  ",
    " X.....X ",
    "X.......X",
    "XXXX.XXXX",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "   X.X   ",
    "XXXX.XXXX",
    "X.......X",
    " X.....X ",
    "  X...X  ",
    "   X.X   ",
    "    X    ",
};
static_assert(picture_is(VRESIZE, 9, 23));

inline constexpr const char *HRESIZE[] = {
    "    XX           XX    ",
    "   X.X           X.X   ",
    "  X..X           X..X  ",
    " X...XXXXXXXXXXXXX...X ",
    "X.....................X",
    " X...XXXXXXXXXXXXX...X ",
    "  X..X           X..X  ",
    "   X.X           X.X   ",
    "    XX           XX    ",
};
static_assert(picture_is(HRESIZE, 23, 9));

inline constexpr const char *TLBR_RESIZE[] = {
    "XXXXXXX          ",
    "X.....X          ",
    "X....X           ",
    "X...X            ",
    "X..X.X           ",
    "X.X X.X          ",
    "XX   X.X         ",
    "      X.X        ",
    "       X.X       ",
    "        X.X      ",
    "         X.X   XX",
    "          X.X X.X",
    "           X.X..X",
    "            X...X",
    "           X....X",
    "          X.....X",
    "          XXXXXXX",
};
static_assert(picture_is(TLBR_RESIZE, 17, 17));

inline constexpr const char *TRBL_RESIZE[] = {
    "          XXXXXXX",
    "          X.....X",
    "           X....X",
    "            X...X",
    "           X.X..X",
    "          X.X X.X",
    "         X.X   XX",
    "        X.X      ",
    "       X.X       ",
    "      X.X        ",
    "XX   X.X         ",
    "X.X X.X          ",
    "X..X.X           ",
    "X...X            ",
    "X....X           ",
    "X.....X          ",
    "XXXXXXX          ",
};
static_assert(picture_is(TRBL_RESIZE, 17, 17));

inline constexpr const char *MOVE[] = {
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
};
static_assert(picture_is(MOVE, 23, 23));
// clang-format on
} // namespace mouse_pointer_pictures

// ---- Pixels ----------------------------------------------------------------------

namespace detail {
template <s32 W, s32 H>
struct Mouse_Pointer_Pixels {
    u8 bytes[W * H * 4];
};

template <s64 H>
consteval s32 picture_width(const char *const (&rows)[H]) {
    s32 width = 0;
    while (rows[0][width] != 0) width++;
    return width;
}

template <s32 W, s32 H>
consteval Mouse_Pointer_Pixels<W, H> pixels_from_picture(const char *const (&rows)[H]) {
    Mouse_Pointer_Pixels<W, H> result = {}; // transparent: (0, 0, 0, 0)
    for (s32 y = 0; y < H; y++) {
        for (s32 x = 0; x < W; x++) {
            u8 *pixel = result.bytes + (y * W + x) * 4;
            if (rows[y][x] == 'X') {
                pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
            } else if (rows[y][x] == '.') {
                pixel[3] = 255;
            }
        }
    }
    return result;
}

// One static array per picture, sized from the picture itself (the first row's
// length by the number of rows).
template <const auto &rows>
inline constexpr auto pointer_pixels =
    pixels_from_picture<picture_width(rows), static_cast<s32>(sizeof(rows) / sizeof(rows[0]))>(rows);

template <s32 W, s32 H>
consteval Mouse_Pointer_Data pointer_from_pixels(const Mouse_Pointer_Pixels<W, H> &pixels) {
    // const_cast is allowed in a constant expression; the bytes stay read-only.
    return {{W * H * 4, const_cast<u8 *>(pixels.bytes)}, W, H, 0, 0};
}
} // namespace detail

// ---- The eight pointers ----------------------------------------------------------

struct Default_Mouse_Pointers {
    Mouse_Pointer_Data pointers[MOUSE_POINTER_COUNT];

    constexpr const Mouse_Pointer_Data &operator[](s64 index) const {
        ASSERT(index >= 0 && index < MOUSE_POINTER_COUNT, "Mouse pointer index % out of range", index);
        return pointers[index];
    }
    constexpr const Mouse_Pointer_Data &operator[](Mouse_Pointer pointer) const {
        return (*this)[static_cast<s64>(pointer)];
    }
};

// Runs only at compile time; its one result is default_mouse_pointers.
consteval Default_Mouse_Pointers generate_default_mouse_pointers() {
    namespace pictures = mouse_pointer_pictures;
    using detail::pointer_from_pixels, detail::pointer_pixels;
    Default_Mouse_Pointers result = {{
        pointer_from_pixels(pointer_pixels<pictures::ARROW>),
        pointer_from_pixels(pointer_pixels<pictures::HAND_POINTING>),
        pointer_from_pixels(pointer_pixels<pictures::VBAR>),
        pointer_from_pixels(pointer_pixels<pictures::VRESIZE>),
        pointer_from_pixels(pointer_pixels<pictures::HRESIZE>),
        pointer_from_pixels(pointer_pixels<pictures::TLBR_RESIZE>),
        pointer_from_pixels(pointer_pixels<pictures::TRBL_RESIZE>),
        pointer_from_pixels(pointer_pixels<pictures::MOVE>),
    }};

    // The arrow points with its top-left pixel, the hand with its fingertip;
    // the other shapes act from their centre.
    result.pointers[static_cast<s64>(Mouse_Pointer::HAND_POINTING)].xhot = 5;
    for (s64 i = static_cast<s64>(Mouse_Pointer::VBAR); i <= static_cast<s64>(Mouse_Pointer::MOVE); i++) {
        Mouse_Pointer_Data &p = result.pointers[i];
        p.xhot = p.width / 2;
        p.yhot = p.height / 2;
    }
    return result;
}

// Indexed by Mouse_Pointer, or by 0 .. MOUSE_POINTER_COUNT - 1.
inline constexpr Default_Mouse_Pointers default_mouse_pointers = generate_default_mouse_pointers();

} // namespace tessera
