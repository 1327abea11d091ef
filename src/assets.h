// The demo's embedded assets: the font, picture and music track from res/,
// built into the executable by the tessera_assets library (see res/README).
//
// Nothing is opened at run time and nothing allocates: each view points at
// bytes the assembler copied into the executable's read-only data. The bytes
// are constant for the life of the process; writing through `data` faults
// (Array_View has no const form, so the type cannot say it). The views are
// initialised by the loader, not by a constructor, so they are valid before
// any static initialiser runs.
#pragma once

#include "base/array.h"
#include "base/types.h"

namespace tessera {

// C linkage: the records are defined in assembly (src/assets.cpp) under these
// plain names.
extern "C" {
extern const Array_View<u8> EMBEDDED_FONT;    // res/fonts/DejaVuSans.ttf, TrueType
extern const Array_View<u8> EMBEDDED_PICTURE; // res/picture.jpg, baseline JPEG, 1920x1080, 3 components
extern const Array_View<u8> EMBEDDED_MUSIC;   // res/music.mp3, MPEG-1 Layer III, 48 kHz, stereo
}

} // namespace tessera
