#include "package/dump.h"

#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"

#include <climits>
#include <cstring>

namespace tessera {

// ---- Text helpers ------------------------------------------------------------------------

namespace {
struct Spaces {
    u8 bytes[MAX_INDENT];
    constexpr Spaces() : bytes() {
        for (u8 &b : bytes) b = ' ';
    }
};
constexpr Spaces SPACES;
} // namespace

String print_indent(s64 amount, s64 multiplier) {
    // In 128 bits the product cannot overflow, whatever the depth.
    s128 wanted = static_cast<s128>(amount) * multiplier;
    s64 n = wanted <= 0 ? 0 : wanted >= MAX_INDENT ? MAX_INDENT : static_cast<s64>(wanted);
    return String{n, const_cast<u8 *>(SPACES.bytes)};
}

static u8 escape_letter(u8 c, bool skip_newlines) {
    switch (c) {
    case '\n':
        return skip_newlines ? 0 : 'n';
    case '\r':
        return 'r';
    case 0x1b:
        return 'e';
    case '\t':
        return 't';
    default:
        return 0;
    }
}

String do_revert_escapes(String input, bool skip_newlines) {
    s64 count = input.count;
    for (u8 c : input) count += escape_letter(c, skip_newlines) != 0;
    if (count == 0) return {};
    u8 *out = static_cast<u8 *>(allocate(count, temporary_allocator));
    s64 at = 0;
    for (u8 c : input) {
        u8 letter = escape_letter(c, skip_newlines);
        if (letter) {
            out[at++] = '\\';
            out[at++] = letter;
        } else {
            out[at++] = c;
        }
    }
    return String{count, out};
}

// ---- The dump's visitor ------------------------------------------------------------------

static s64 one_deeper(s64 depth) {
    return depth < INT64_MAX ? depth + 1 : depth;
}

static u64 load_le_unsigned(const u8 *p, s64 size) {
    u64 v = 0;
    for (s64 i = 0; i < size; i++) v |= static_cast<u64>(p[i]) << (8 * i);
    return v;
}

bool visitor(Entry entry, void *user_data, s64 depth, String name) {
    ASSERT(user_data);
    const Log_Entry_Data *settings = static_cast<const Log_Entry_Data *>(user_data);
    // Escaped texts are scratch; each entry gives back what it took.
    Temporary_Scope scratch;

    log(DUMP_ENTRY_LINE, print_indent(depth, 2), name, entry.type, entry.data.count);
    String indent = print_indent(one_deeper(depth), 2);
    switch (entry.type) {
    case Entry_Type::STRING: {
        Read_String_Result r = read_string_entry(entry.data);
        if (!r.success) break;
        String text = r.result;
        if (settings->revert_escapes != Revert_Escapes::NO)
            text = do_revert_escapes(text, settings->revert_escapes == Revert_Escapes::ALL_EXCEPT_NEWLINES);
        log(DUMP_STRING_LINE, indent, text);
        break;
    }
    case Entry_Type::DATA: {
        s64 size = entry.data.count;
        if (size == 1 || size == 2 || size == 4 || size == 8) {
            log(DUMP_NUMBER_LINE, indent, hex(load_le_unsigned(entry.data.data, size)));
        } else if (settings->print_raw_data) {
            log(DUMP_BYTES_LINE, indent, entry.data);
        }
        break;
    }
    case Entry_Type::ARRAY_OF_DATA: {
        if (!settings->print_raw_data) break;
        Read_Array_Of_Data_Result r = read_array_of_data_entry(entry.data);
        // Elements of no bytes have nothing to show; printing a line for each
        // would let a 20-byte header ask for 2^63 lines.
        if (!r.success || r.element_size == 0) break;
        for (s64 i = 0; i < r.element_count; i++) {
            Array_View<u8> element = {r.element_size, r.result.data + i * r.element_size};
            log(DUMP_BYTES_LINE, indent, element);
        }
        break;
    }
    default:
        break; // tables and arrays of entries: their children follow through the walker
    }
    return settings->recursive;
}

void log_entry(Entry entry, bool print_raw_data, bool recursive, Revert_Escapes revert_escapes) {
    Log_Entry_Data settings;
    settings.revert_escapes = revert_escapes;
    settings.print_raw_data = print_raw_data;
    settings.recursive = recursive;
    visit_entry(visitor, entry, &settings, 0, {});
}

// ---- The walk ------------------------------------------------------------------------------

// One decoded table or array whose children are being visited.
struct Walk_Level {
    bool is_table = false;
    Array<Table_Entry> table;
    Array<Entry> array;
    s64 next = 0;  // the next child to visit
    s64 depth = 0; // the children's depth
};

// Visits the entry and, when the visitor asks for its children and they
// decode, pushes its level.
static void enter(Array<Walk_Level> *stack, Entry_Visitor visit, Entry entry, void *data, s64 depth,
                  String name) {
    if (!visit(entry, data, depth, name)) return;
    Walk_Level level;
    level.depth = one_deeper(depth);
    if (entry.type == Entry_Type::TABLE_OF_ENTRIES) {
        Read_Table_Result r = read_table_entry(entry.data);
        if (!r.success) return;
        level.is_table = true;
        level.table = r.result;
    } else if (entry.type == Entry_Type::ARRAY_OF_ENTRIES) {
        Read_Array_Result r = read_array_entry(entry.data);
        if (!r.success) return;
        level.array = r.result;
    } else {
        return;
    }
    array_add(stack, level);
}

void visit_entry(Entry_Visitor visit, Entry entry, void *data, s64 depth, String name) {
    Array<Walk_Level> stack;
    enter(&stack, visit, entry, data, depth, name);
    while (stack.count > 0) {
        Walk_Level *top = &stack.data[stack.count - 1];
        s64 count = top->is_table ? top->table.count : top->array.count;
        if (top->next >= count) {
            array_free(&top->table);
            array_free(&top->array);
            stack.count--;
            continue;
        }
        s64 i = top->next++;
        Entry child = top->is_table ? top->table.data[i].entry : top->array.data[i];
        String child_name = top->is_table ? top->table.data[i].name : String{};
        // May grow the stack: top is not used after this.
        enter(&stack, visit, child, data, top->depth, child_name);
    }
    array_free(&stack);
}

} // namespace tessera
