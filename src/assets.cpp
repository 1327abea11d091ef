// Embeds the asset files with the assembler's .incbin: the bytes go straight
// into the object file, so megabytes cost no compile time (a generated array
// initialiser would). The build passes each file's absolute path as
// TESSERA_ASSET_FONT, TESSERA_ASSET_PICTURE and TESSERA_ASSET_MUSIC and makes
// this object depend on the files, since the compiler's dependency output does
// not list files the assembler includes.
//
// Each asset's bytes sit in .rodata between a start and an end label. Its
// Array_View record { s64 count; u8 *data; } is laid out here too, in
// .data.rel.ro: the count is the label difference, known when assembling, and
// the pointer needs only a load-time relocation, so the record is constant
// data rather than something a static constructor fills in. This file being
// C++, the compiler still emits the non-executable stack note.
#include "assets.h"

#include <cstddef>

#ifndef TESSERA_ASSET_FONT
#error "TESSERA_ASSET_FONT must name the font file (set by the build)"
#endif
#ifndef TESSERA_ASSET_PICTURE
#error "TESSERA_ASSET_PICTURE must name the picture file (set by the build)"
#endif
#ifndef TESSERA_ASSET_MUSIC
#error "TESSERA_ASSET_MUSIC must name the music file (set by the build)"
#endif

static_assert(sizeof(tessera::Array_View<tessera::u8>) == 16 &&
                  offsetof(tessera::Array_View<tessera::u8>, count) == 0 &&
                  offsetof(tessera::Array_View<tessera::u8>, data) == 8,
              "the records below are written as .quad count, .quad data");

// One asset: its bytes (64-byte aligned, for decoders that read in wide words)
// and its exported view record.
#define TESSERA_EMBED(name, path)                                                                            \
    ".pushsection .rodata.tessera_assets, \"a\", @progbits\n"                                                \
    ".balign 64\n"                                                                                           \
    "tessera_asset_" #name "_start:\n"                                                                       \
    ".incbin \"" path "\"\n"                                                                                 \
    "tessera_asset_" #name "_end:\n"                                                                         \
    ".popsection\n"                                                                                          \
    ".pushsection .data.rel.ro.tessera_assets, \"aw\", @progbits\n"                                          \
    ".balign 16\n"                                                                                           \
    ".globl EMBEDDED_" #name "\n"                                                                            \
    ".type EMBEDDED_" #name ", @object\n"                                                                    \
    ".size EMBEDDED_" #name ", 16\n"                                                                         \
    "EMBEDDED_" #name ":\n"                                                                                  \
    ".quad tessera_asset_" #name "_end - tessera_asset_" #name "_start\n"                                    \
    ".quad tessera_asset_" #name "_start\n"                                                                  \
    ".popsection\n"

asm(TESSERA_EMBED(FONT, TESSERA_ASSET_FONT) TESSERA_EMBED(PICTURE, TESSERA_ASSET_PICTURE)
        TESSERA_EMBED(MUSIC, TESSERA_ASSET_MUSIC));
