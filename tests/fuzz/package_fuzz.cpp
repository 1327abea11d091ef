// Arbitrary bytes as a package: the in-memory reader, then the dump of the
// whole tree and a typed read into a small record, the way a tool or a program
// loading its settings would take an untrusted file.
//
// An input whose first byte has its top bit set skips the 88-byte header: the
// rest is taken as the root's payload directly (entry type from the first
// byte), so the fuzzer reaches the entry decoders without first having to
// build a consistent header. The last byte chooses the dump's options.
//
// Besides the sanitizers, each input checks what must hold for any bytes: every
// string read views the input; every array read has a count that is not
// negative and a block when it is not empty; every bool is 0 or 1; and a value
// that was read encodes, decodes and encodes again to the same bytes. Everything
// read is released, so a leak is a finding too.

#include "base/context.h"
#include "package/dump.h"
#include "package/package.h"
#include "package/serialize.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

struct Rgb {
    u8 r, g, b;
    bool lit;
};
TESSERA_RECORD(Rgb, TESSERA_NOTES("trivial"), TESSERA_MEMBER(r), TESSERA_MEMBER(g), TESSERA_MEMBER(b),
               TESSERA_MEMBER(lit))

enum class Item_Kind : u8 { TOOL = 1, FOOD = 2 };

struct Item {
    String name;
    Item_Kind kind;
    Array<u32> values;
};
TESSERA_RECORD(Item, TESSERA_NOTES(), TESSERA_MEMBER(name), TESSERA_MEMBER(kind), TESSERA_MEMBER(values))

struct Settings {
    s32 version;
    f32 scale;
    bool enabled;
    String title;
    Vector2 origin;
    f32 weights[3];
    Rgb colour;
    Rgb palette[2];
    Array<s16> offsets;
    Array_View<String> tags;
    Array<Item> items;
    Array<Array<u8>> blobs;
};
TESSERA_RECORD(Settings, TESSERA_NOTES(), TESSERA_MEMBER(version), TESSERA_MEMBER(scale),
               TESSERA_MEMBER(enabled, "old_name", "on"), TESSERA_MEMBER(title), TESSERA_MEMBER(origin),
               TESSERA_MEMBER(weights), TESSERA_MEMBER(colour), TESSERA_MEMBER(palette),
               TESSERA_MEMBER(offsets), TESSERA_MEMBER(tags), TESSERA_MEMBER(items), TESSERA_MEMBER(blobs))

struct Bytes {
    const u8 *begin, *end;
};

void check_string(String s, Bytes input) {
    FUZZ_CHECK(s.count >= 0);
    if (s.count == 0) return;
    FUZZ_CHECK(s.data >= input.begin && s.data + s.count <= input.end);
}

template <typename T>
void check_array(const Array<T> &a) {
    FUZZ_CHECK(a.count >= 0 && a.allocated == a.count);
    FUZZ_CHECK((a.count == 0) == (a.data == nullptr));
}

void check_bool(const bool &b) {
    u8 raw;
    memcpy(&raw, &b, 1);
    FUZZ_CHECK(raw <= 1);
}

void check(const Settings &s, Bytes input) {
    check_bool(s.enabled);
    check_bool(s.colour.lit);
    for (const Rgb &p : s.palette) check_bool(p.lit);
    check_string(s.title, input);
    check_array(s.offsets);
    FUZZ_CHECK(s.tags.count >= 0 && (s.tags.count == 0 || s.tags.data));
    for (String t : s.tags) check_string(t, input);
    check_array(s.items);
    for (const Item &i : s.items) {
        check_string(i.name, input);
        check_array(i.values);
    }
    check_array(s.blobs);
    for (const Array<u8> &b : s.blobs) check_array(b);
}

void release(Settings *s) {
    array_free(&s->offsets);
    deallocate(s->tags.data);
    for (Item &i : s->items) array_free(&i.values);
    array_free(&s->items);
    for (Array<u8> &b : s->blobs) array_free(&b);
    array_free(&s->blobs);
    *s = {};
}

void exercise(Entry root, u8 options, Bytes input) {
    log_entry(root, options & 1, true, static_cast<Revert_Escapes>((options >> 1) % 3));

    Settings settings = {};
    if (read_entry(make_any(&settings), &root)) {
        check(settings, input);
        // What was read encodes to the same bytes after one more round trip.
        Entry first = write_entry(make_any(&settings));
        Settings again = {};
        FUZZ_CHECK(read_entry(make_any(&again), &first));
        Entry second = write_entry(make_any(&again));
        FUZZ_CHECK(first.type == second.type && first.data.count == second.data.count);
        FUZZ_CHECK(first.data.count == 0 || memcmp(first.data.data, second.data.data, first.data.count) == 0);
        deallocate(second.data.data);
        release(&again);
        deallocate(first.data.data);
    } else {
        check(settings, input);
    }
    release(&settings);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    context().logger = quiet_logger;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size) {
    if (size == 0) return 0;
    Bytes input = {data, data + size};
    u8 options = data[size - 1];
    Array_View<u8> bytes = {static_cast<s64>(size), const_cast<u8 *>(data)};
    if (data[0] & 0x80) {
        Entry root = {{bytes.count - 1, bytes.data + 1}, static_cast<Entry_Type>((data[0] & 7) % 5), 0};
        exercise(root, options, input);
    } else {
        Package package;
        if (read(&package, bytes)) {
            FUZZ_CHECK(package.base_entry.data.data >= input.begin);
            FUZZ_CHECK(package.base_entry.data.data + package.base_entry.data.count <= input.end);
            exercise(package.base_entry, options, input);
        }
    }
    reset_temporary_storage();
    return 0;
}
