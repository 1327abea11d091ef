#include "package/serialize.h"

#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"

#include <cstring>

namespace tessera {

// ---- Notes and kinds -------------------------------------------------------------------

Struct_Member_Params parse_member_notes(Array_View<const String> notes) {
    Struct_Member_Params params;
    for (s64 i = 0; i < notes.count; i++) {
        String note = notes.data[i];
        if (note == NOTE_SKIP) {
            params.flags |= Struct_Member_Flags::SKIP;
        } else if (note == NOTE_NO_WRITE) {
            params.flags |= Struct_Member_Flags::NO_WRITE;
        } else if (note == NOTE_NO_READ) {
            params.flags |= Struct_Member_Flags::NO_READ;
        } else if (note == NOTE_OLD_NAME) {
            if (i + 1 >= notes.count) break;
            params.flags |= Struct_Member_Flags::OLD_NAME;
            params.replacement_name = notes.data[++i];
        }
    }
    return params;
}

bool struct_is_trivial(const Type_Descriptor *info) {
    for (String note : info->notes) {
        if (note == NOTE_TRIVIAL) return true;
    }
    return false;
}

// Longer chains than this are a cycle in the tables.
static constexpr s64 VARIANT_CHAIN_LIMIT = 1024;

const Type_Descriptor *resolve_variant(const Type_Descriptor *info) {
    ASSERT(info, "Null type descriptor");
    for (s64 links = 0; info->kind == Type_Kind::VARIANT; links++) {
        ASSERT(info->variant_of && links < VARIANT_CHAIN_LIMIT, "Variant % resolves to no type", info->name);
        info = info->variant_of;
    }
    return info;
}

bool is_trivially_copyable(Type_Kind kind) {
    switch (kind) {
    case Type_Kind::INTEGER:
    case Type_Kind::FLOAT:
    case Type_Kind::BOOL:
    case Type_Kind::ARRAY:
        return true;
    default:
        return false;
    }
}

bool holds_no_pointers(const Type_Descriptor *info) {
    info = resolve_variant(info);
    switch (info->kind) {
    case Type_Kind::VOID:
    case Type_Kind::INTEGER:
    case Type_Kind::FLOAT:
    case Type_Kind::BOOL:
    case Type_Kind::ENUM:
        return true;
    case Type_Kind::STRUCT:
        for (const Member_Descriptor &m : info->members) {
            if (has_any(m.flags, Member_Flags::CONSTANT)) continue;
            if (!holds_no_pointers(m.type)) return false;
        }
        return true;
    case Type_Kind::ARRAY:
        return info->array_type == Array_Type::FIXED && holds_no_pointers(info->element_type);
    default:
        return false;
    }
}

// A trivial record is stored as its bytes; pointers among them would come back
// from a file as addresses nobody allocated.
static void assert_trivial_is_plain(const Type_Descriptor *record) {
    ASSERT(holds_no_pointers(record), TRIVIAL_RECORD_HOLDS_POINTERS, record->name);
}

bool elements_copy_as_data(const Type_Descriptor *element_type) {
    const Type_Descriptor *element = resolve_variant(element_type);
    if (element->kind == Type_Kind::STRUCT) {
        if (!struct_is_trivial(element)) return false;
        assert_trivial_is_plain(element);
        return true;
    }
    // Every array kind counts as trivially copyable, but only fixed arrays of
    // plain data are; views and growable arrays are pointers.
    if (element->kind == Type_Kind::ARRAY) return holds_no_pointers(element);
    return is_trivially_copyable(element->kind);
}

// ---- Member selection --------------------------------------------------------------------

Member_Selection select_members(const Type_Descriptor *record, Member_Use use) {
    ASSERT(record && record->kind == Type_Kind::STRUCT, "Member selection needs a record descriptor");
    Member_Selection s;
    s.record = record;
    s.use = use;
    return s;
}

bool next_member(Member_Selection *s, Selected_Member *out) {
    Struct_Member_Flags left_out =
        Struct_Member_Flags::SKIP |
        (s->use == Member_Use::WRITE ? Struct_Member_Flags::NO_WRITE : Struct_Member_Flags::NO_READ);
    while (s->next < s->record->members.count) {
        const Member_Descriptor *m = &s->record->members.data[s->next++];
        if (has_any(m->flags, Member_Flags::CONSTANT | Member_Flags::IMPORTED)) continue;
        if (m->offset_in_bytes < s->end_offset) continue;
        ASSERT(m->type, "Member % of % has no type", m->name, s->record->name);
        s64 size = m->type->runtime_size;
        if (size == 0) continue;
        ASSERT(size > 0 && m->offset_in_bytes >= 0 && m->offset_in_bytes <= s->record->runtime_size - size,
               MEMBER_OUTSIDE_RECORD, m->name, s->record->name, m->offset_in_bytes, size,
               s->record->runtime_size);
        s->end_offset = m->offset_in_bytes + size;

        Struct_Member_Params params = parse_member_notes(m->notes);
        if (has_any(params.flags, left_out)) continue;
        out->member = m;
        out->params = params;
        return true;
    }
    return false;
}

// ---- Value layouts -----------------------------------------------------------------------
// Values are read and written byte-wise: a hand-written table may place them
// at any offset.

struct Array_Value {
    s64 count;
    u8 *elements;
};

static Array_Value load_array_value(const Type_Descriptor *info, u8 *value) {
    if (info->array_type == Array_Type::FIXED) return {info->array_count, value};
    ASSERT(info->runtime_size >=
               (info->array_type == Array_Type::RESIZABLE ? RESIZABLE_VALUE_SIZE : VIEW_VALUE_SIZE),
           "Array descriptor of % bytes is too small for its kind %", info->runtime_size, info->array_type);
    Array_Value a;
    memcpy(&a.count, value, sizeof a.count);
    memcpy(&a.elements, value + 8, sizeof a.elements);
    return a;
}

static void put_bytes(void *at, const void *bytes, s64 count) {
    if (count > 0) memmove(at, bytes, static_cast<size_t>(count));
}

// A bool holding anything but 0 or 1 is undefined behaviour to load; raw bytes
// from a file become 1 when any of them is set. Records and fixed arrays are
// walked through the same selection as encoding, so only the union alternative
// the encoding uses is touched.
static bool holds_bool(const Type_Descriptor *info) {
    info = resolve_variant(info);
    if (info->kind == Type_Kind::BOOL) return true;
    if (info->kind == Type_Kind::ARRAY)
        return info->array_type == Array_Type::FIXED && holds_bool(info->element_type);
    if (info->kind == Type_Kind::STRUCT) {
        for (const Member_Descriptor &m : info->members) {
            if (!has_any(m.flags, Member_Flags::CONSTANT | Member_Flags::IMPORTED) && holds_bool(m.type))
                return true;
        }
    }
    return false;
}

static void normalise_bools(const Type_Descriptor *info, u8 *value) {
    info = resolve_variant(info);
    switch (info->kind) {
    case Type_Kind::BOOL: {
        bool set = false;
        for (s64 i = 0; i < info->runtime_size; i++) set |= value[i] != 0;
        if (info->runtime_size > 0) memset(value, 0, static_cast<size_t>(info->runtime_size));
        if (set) value[0] = 1;
        break;
    }
    case Type_Kind::STRUCT: {
        // Every member, whatever its notes: raw bytes cover them all.
        s64 end = -1;
        for (const Member_Descriptor &m : info->members) {
            if (has_any(m.flags, Member_Flags::CONSTANT | Member_Flags::IMPORTED)) continue;
            if (m.offset_in_bytes < end || m.type->runtime_size == 0) continue;
            end = m.offset_in_bytes + m.type->runtime_size;
            normalise_bools(m.type, value + m.offset_in_bytes);
        }
        break;
    }
    case Type_Kind::ARRAY:
        if (info->array_type != Array_Type::FIXED) break;
        for (s64 i = 0; i < info->array_count; i++)
            normalise_bools(info->element_type, value + i * info->element_type->runtime_size);
        break;
    default:
        break;
    }
}

static void normalise_bools(const Type_Descriptor *element, u8 *elements, s64 count) {
    if (!holds_bool(element)) return;
    for (s64 i = 0; i < count; i++) normalise_bools(element, elements + i * element->runtime_size);
}

// ---- Writing -------------------------------------------------------------------------------

// An encoded child and whether its payload is a buffer of ours to release (a
// trivial record's payload is a view of the value itself).
struct Encoded {
    Entry entry;
    bool owned = false;
};

static Encoded owned_entry(Entry_Type type, const Array<u8> &buffer) {
    return {Entry{view_of(buffer), type, 0}, true};
}

static Array<u8> copy_bytes(const void *bytes, s64 count) {
    Array<u8> out;
    array_add_many(&out, static_cast<const u8 *>(bytes), count);
    return out;
}

static Encoded encode(Any item);

static Encoded encode_record(const Type_Descriptor *info, u8 *value) {
    if (struct_is_trivial(info)) {
        assert_trivial_is_plain(info);
        return {Entry{{info->runtime_size, value}, Entry_Type::DATA, 0}, false};
    }
    Array<Table_Entry> entries;
    Array<u8 *> owned; // payloads to release once copied
    Member_Selection s = select_members(info, Member_Use::WRITE);
    Selected_Member m;
    while (next_member(&s, &m)) {
        Encoded child = encode({m.member->type, value + m.member->offset_in_bytes});
        array_add(&entries, Table_Entry{m.member->name, child.entry});
        if (child.owned) array_add(&owned, child.entry.data.data);
    }
    Array<u8> payload = write_table_entry(view_of(entries));
    for (u8 *p : owned) deallocate(p);
    array_free(&owned);
    array_free(&entries);
    return owned_entry(Entry_Type::TABLE_OF_ENTRIES, payload);
}

static Encoded encode_array(const Type_Descriptor *info, u8 *value) {
    Array_Value a = load_array_value(info, value);
    ASSERT(a.count >= 0, "Array value of negative count %", a.count);
    if (a.count == 0 || !a.elements) return owned_entry(Entry_Type::ARRAY_OF_ENTRIES, write_array_entry({}));

    ASSERT(info->element_type, "Array descriptor without an element type");
    const Type_Descriptor *element = resolve_variant(info->element_type);
    s64 size = element->runtime_size;
    if (elements_copy_as_data(element)) {
        return owned_entry(Entry_Type::ARRAY_OF_DATA, write_array_of_data_entry(a.elements, a.count, size));
    }

    Array<Entry> entries;
    array_reserve(&entries, a.count);
    Array<u8 *> owned;
    for (s64 i = 0; i < a.count; i++) {
        Encoded child = encode({element, a.elements + i * size});
        array_add(&entries, child.entry);
        if (child.owned) array_add(&owned, child.entry.data.data);
    }
    Array<u8> payload = write_array_entry(view_of(entries));
    for (u8 *p : owned) deallocate(p);
    array_free(&owned);
    array_free(&entries);
    return owned_entry(Entry_Type::ARRAY_OF_ENTRIES, payload);
}

static Encoded encode(Any item) {
    const Type_Descriptor *info = resolve_variant(item.type);
    u8 *value = static_cast<u8 *>(item.value_pointer);
    switch (info->kind) {
    case Type_Kind::STRUCT:
        return encode_record(info, value);
    case Type_Kind::ARRAY:
        return encode_array(info, value);
    case Type_Kind::STRING: {
        ASSERT(info->runtime_size >= STRING_VALUE_SIZE, "String descriptor of % bytes", info->runtime_size);
        String s;
        memcpy(&s, value, sizeof s);
        return owned_entry(Entry_Type::STRING, write_string_entry(s));
    }
    case Type_Kind::INTEGER:
    case Type_Kind::FLOAT:
    case Type_Kind::BOOL:
    case Type_Kind::ENUM:
        return owned_entry(Entry_Type::DATA, copy_bytes(value, info->runtime_size));
    default:
        return {};
    }
}

Entry write_entry(Any item) {
    Encoded e = encode(item);
    // Only a trivial record comes back as a view of the value; the caller owns
    // every entry returned here, so it gets a copy.
    if (!e.owned && e.entry.data.count > 0) {
        Array<u8> copy = copy_bytes(e.entry.data.data, e.entry.data.count);
        e.entry.data = view_of(copy);
    }
    return e.entry;
}

// ---- Reading -------------------------------------------------------------------------------

static bool read_value(Any item, const Entry *entry, s64 depth);

static bool read_record(const Type_Descriptor *info, u8 *value, const Entry *entry, s64 depth) {
    if (entry->type == Entry_Type::DATA && struct_is_trivial(info)) {
        assert_trivial_is_plain(info);
        if (entry->data.count > info->runtime_size) {
            log_error(READ_TRIVIAL_STRUCT_TOO_BIG);
            return false;
        }
        put_bytes(value, entry->data.data, entry->data.count);
        normalise_bools(info, value, 1);
        return true;
    }
    if (entry->type != Entry_Type::TABLE_OF_ENTRIES) {
        log_error(READ_STRUCT_EXPECTED_TABLE, entry->type);
        return false;
    }
    Read_Table_Result table = read_table_entry(entry->data);
    if (!table.success) {
        log_error(READ_STRUCT_TYPE_NAME, info->name);
        return false;
    }

    bool all_read = true;
    Member_Selection s = select_members(info, Member_Use::READ);
    Selected_Member m;
    while (next_member(&s, &m)) {
        String lookup = has_any(m.params.flags, Struct_Member_Flags::OLD_NAME) ? m.params.replacement_name
                                                                               : m.member->name;
        Table_Entry *found = find(view_of(table.result), lookup);
        if (!found) continue; // not stored: the member keeps its value
        if (!read_value({m.member->type, value + m.member->offset_in_bytes}, &found->entry, depth + 1))
            all_read = false;
    }
    array_free(&table.result);
    return all_read;
}

static bool read_array(const Type_Descriptor *info, u8 *value, const Entry *entry, s64 depth) {
    ASSERT(info->element_type, "Array descriptor without an element type");
    const Type_Descriptor *element = resolve_variant(info->element_type);
    s64 size = element->runtime_size;
    ASSERT(size >= 0, "Element type of negative size %", size);
    bool fixed = info->array_type == Array_Type::FIXED;
    Array_Value current = load_array_value(info, value);
    if (!current.elements || current.count < 0) current.count = 0;

    // Fixed arrays are filled in place; views and growable arrays get a new
    // block, filled first with copies of their current elements so that nothing
    // an entry leaves unread is garbage.
    s64 stored_count = 0;
    u8 *block = nullptr;
    bool all_read = true;
    if (entry->type == Entry_Type::ARRAY_OF_DATA && elements_copy_as_data(element)) {
        Read_Array_Of_Data_Result r = read_array_of_data_entry(entry->data);
        if (!r.success) return false;
        if (r.element_size != size) {
            log_error(READ_ARRAY_ELEMENT_SIZE_MISMATCH);
            return false;
        }
        stored_count = r.element_count;
        if (fixed && stored_count > info->array_count) {
            log_error(READ_FIXED_ARRAY_TRUNCATED);
            stored_count = info->array_count;
        }
        // The container checked that count × size bytes are present.
        s64 bytes = stored_count * size;
        if (fixed) {
            block = value;
        } else if (bytes > 0) {
            block = static_cast<u8 *>(allocate(bytes));
        }
        put_bytes(block, r.result.data, bytes);
        normalise_bools(element, block, stored_count);
    } else if (entry->type == Entry_Type::ARRAY_OF_ENTRIES) {
        Read_Array_Result r = read_array_entry(entry->data);
        if (!r.success) return false;
        stored_count = r.result.count;
        if (fixed && stored_count > info->array_count) {
            log_error(READ_FIXED_ARRAY_TRUNCATED);
            stored_count = info->array_count; // the rest are not even read
        }
        s64 bytes;
        if (__builtin_mul_overflow(stored_count, size, &bytes)) {
            log_error(READ_ARRAY_TOO_BIG, stored_count, size);
            array_free(&r.result);
            return false;
        }
        if (fixed) {
            block = value;
        } else if (bytes > 0) {
            block = static_cast<u8 *>(allocate(bytes));
            s64 kept = min_of(stored_count, current.count);
            put_bytes(block, current.elements, kept * size);
            memset(block + kept * size, 0, static_cast<size_t>(bytes - kept * size));
        }
        for (s64 i = 0; i < stored_count; i++) {
            if (!read_value({element, block + i * size}, &r.result.data[i], depth + 1)) all_read = false;
        }
        array_free(&r.result);
    } else {
        log_error(READ_ARRAY_EXPECTED_ENTRIES, entry->type);
        return false;
    }

    if (fixed) return all_read;

    // A growable array owns its previous block; a view does not.
    if (info->array_type == Array_Type::RESIZABLE) {
        u8 *previous;
        Allocator previous_allocator;
        memcpy(&previous, value + offsetof(Array<u8>, data), sizeof previous);
        memcpy(&previous_allocator, value + offsetof(Array<u8>, allocator), sizeof previous_allocator);
        Allocator allocator = current_allocator();
        memcpy(value + offsetof(Array<u8>, allocated), &stored_count, sizeof stored_count);
        memcpy(value + offsetof(Array<u8>, allocator), &allocator, sizeof allocator);
        deallocate(previous, previous_allocator);
    }
    memcpy(value + offsetof(Array_View<u8>, count), &stored_count, sizeof stored_count);
    memcpy(value + offsetof(Array_View<u8>, data), &block, sizeof block);
    return all_read;
}

static bool read_value(Any item, const Entry *entry, s64 depth) {
    if (depth >= READ_ENTRY_MAX_DEPTH) {
        log_error(READ_TOO_DEEP, READ_ENTRY_MAX_DEPTH);
        return false;
    }
    const Type_Descriptor *info = resolve_variant(item.type);
    u8 *value = static_cast<u8 *>(item.value_pointer);
    switch (info->kind) {
    case Type_Kind::STRUCT:
        return read_record(info, value, entry, depth);
    case Type_Kind::ARRAY:
        return read_array(info, value, entry, depth);
    case Type_Kind::STRING: {
        ASSERT(info->runtime_size >= STRING_VALUE_SIZE, "String descriptor of % bytes", info->runtime_size);
        if (entry->type != Entry_Type::STRING) {
            log_error(READ_EXPECTED_STRING, entry->type);
            return false;
        }
        Read_String_Result r = read_string_entry(entry->data);
        if (!r.success) return false;
        memcpy(value, &r.result, sizeof r.result);
        return true;
    }
    case Type_Kind::INTEGER:
    case Type_Kind::FLOAT:
    case Type_Kind::BOOL:
    case Type_Kind::ENUM:
        if (entry->data.count != info->runtime_size) {
            log_error(READ_SCALAR_SIZE_MISMATCH, info->kind, info->runtime_size, entry->data.count);
            return false;
        }
        put_bytes(value, entry->data.data, entry->data.count);
        if (info->kind == Type_Kind::BOOL) normalise_bools(info, value);
        return true;
    default:
        return true;
    }
}

bool read_entry(Any item, const Entry *entry) {
    ASSERT(item.type && entry, "read_entry needs a type and an entry");
    ASSERT(item.value_pointer, "read_entry needs a value to fill");
    return read_value(item, entry, 0);
}

} // namespace tessera
