// The package dump: an entry tree printed through the logger for inspection.
//
// One line per entry, indented two spaces per level:
//     <indent>| <name> <TYPE> (<payload size> bytes);
// followed, for strings, by the text in quotes; for DATA of 1, 2, 4 or 8 bytes,
// by its little-endian value in hexadecimal; and, with print_raw_data, by the
// bytes of other DATA and of each element of an ARRAY_OF_DATA as [1, 2, 3]
// (cut after 100 values). Lines go through log() (standard output under
// logger_proc) and each ends in its own newline.
//
// The walk is a general pre-order visitor over entry trees (visit_entry). It
// needs no type description: it decodes each level with the container's readers,
// which log what they refuse; a level that cannot be decoded is not descended
// into and the walk goes on with its siblings. The walk keeps its own stack of
// decoded levels on the context's allocator instead of recursing, so a file
// nested a million levels deep cannot exhaust the thread's stack.
//
// Costs: each table or array level decoded allocates its entry list (released
// when the walk leaves it); escape reverting and formatting use scratch storage
// that each visited entry gives back.
#pragma once

#include "base/enum.h"
#include "base/string.h"
#include "package/package.h"

namespace tessera {

// How string values are shown. NO: as stored. ALL_EXCEPT_NEWLINES: tab, carriage
// return and escape as \t \r \e, newlines stay line breaks. ALL: newlines as \n too.
#define TESSERA_REVERT_ESCAPES_LIST(X)                                                                       \
    X(NO, 0)                                                                                                 \
    X(ALL_EXCEPT_NEWLINES, 1)                                                                                \
    X(ALL, 2)
TESSERA_ENUM(Revert_Escapes, u64, TESSERA_REVERT_ESCAPES_LIST)

// The dump's settings; the visitor's user data.
struct Log_Entry_Data {
    Revert_Escapes revert_escapes = Revert_Escapes::NO;
    bool print_raw_data = false; // bytes of DATA not shown as a number, and of every ARRAY_OF_DATA element
    bool recursive = true;       // descend into tables and arrays of entries
};

// Called for every entry; returns true to have the walker descend into the
// entry's children. name is empty for array elements and the root.
using Entry_Visitor = bool (*)(Entry entry, void *data, s64 depth, String name);

// Dumps the tree under entry: visit_entry(visitor, entry, &settings, 0, "").
void log_entry(Entry entry, bool print_raw_data, bool recursive,
               Revert_Escapes revert_escapes = Revert_Escapes::NO);

// Pre-order walk: the visitor sees an entry before its children; children are
// visited in table or array order, one level deeper.
void visit_entry(Entry_Visitor visitor, Entry entry, void *data, s64 depth, String name);

// The dump's visitor; user_data must point to a Log_Entry_Data (asserted).
bool visitor(Entry entry, void *user_data, s64 depth, String name);

// The first min(amount × multiplier, 128) characters of a constant string of
// spaces (a view; nothing allocated). Negative products give "".
String print_indent(s64 amount, s64 multiplier);
inline constexpr s64 MAX_INDENT = 128;

// input with newline, carriage return, escape and tab written as \n, \r, \e, \t
// (newlines copied as they are when skip_newlines is set), in scratch storage.
String do_revert_escapes(String input, bool skip_newlines);

// Line formats.
inline constexpr char DUMP_ENTRY_LINE[] = "%| % % (% bytes);\n"; // indent, name, type, payload size
inline constexpr char DUMP_STRING_LINE[] = "% \"%\"\n";          // indent one deeper, text
inline constexpr char DUMP_NUMBER_LINE[] = "% 0x%\n";            // indent one deeper, hexadecimal value
inline constexpr char DUMP_BYTES_LINE[] = "% %\n";               // indent one deeper, byte list

} // namespace tessera
