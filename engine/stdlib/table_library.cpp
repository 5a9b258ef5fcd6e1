// The `table` library's insert, remove and concat. An array is worked on directly; a table
// as the sequence of its keys "1" to n, n its numeric length. Positions are clamped or
// checked before anything changes, in 64-bit arithmetic so that no int position overflows.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/container_builtins.h"
#include "engine/stdlib/table_sequence.h"
#include "engine/value/array_growth.h"

namespace cobalt::builtins {
namespace {

// A joined text beyond this is a runaway separator or range, not a string a script means
// to build; it fails before memory runs out.
constexpr size_t kMaxConcatBytes = size_t{1} << 28;
constexpr const char* kConcatTooLong = "table['concat'] result would be too long";

bool isArrayOrTable(const Variable& value)
{
    return value.type == VarType::Array || value.type == VarType::Table;
}

int32_t lengthAsInt(int64_t length)
{
    return static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX));
}

/// The numeric length of a table that just had keys 1..known filled: the run of present
/// keys may go on above them.
int32_t sequenceLengthFrom(const ScriptTable& table, int64_t known)
{
    while (known < INT32_MAX && table.map.count(sequenceKey(known + 1)) != 0) ++known;
    return lengthAsInt(known);
}

void insertIntoTable(CobaltScript& engine, const TableRef& table, const Variable* position, Variable value)
{
    const int64_t length = engine.numericTableLength(table);
    const int64_t at = position ? std::clamp<int64_t>(toInt(*position), 1, length + 1) : length + 1;
    // Entries length down to `at` move up one key; the new key length + 1 is the only one
    // added.
    Variable* above = &sequenceSlot(*table, length + 1);
    for (int64_t k = length; k >= at; --k) {
        Variable* below = &sequenceSlot(*table, k);
        *above = std::move(*below);
        above = below;
    }
    *above = std::move(value);
    engine.recordNumericTableLength(table, sequenceLengthFrom(*table, length + 1));
}

Variable removeFromTable(CobaltScript& engine, const TableRef& table, const Variable* position)
{
    const int64_t length = engine.numericTableLength(table);
    const int64_t at = position ? toInt(*position) : length;
    if (at < 1 || at > length) return Variable();
    Variable removed = std::move(sequenceSlot(*table, at));
    for (int64_t k = at; k < length; ++k) sequenceSlot(*table, k) = std::move(sequenceSlot(*table, k + 1));
    table->map.erase(sequenceKey(length));
    CobaltScript::bumpTableVersion(*table);
    // The top key is gone and every key below it is still present.
    engine.recordNumericTableLength(table, lengthAsInt(length - 1));
    return removed;
}

} // namespace

Variable tableInsert(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 2 || count > 3 || !isArrayOrTable(args[0])) {
        fail("table['insert'](table[, pos], value) requires an array or table");
    }
    // Copied before the container changes: the argument must not alias an element.
    Variable value = args[count - 1];
    const Variable* position = count == 3 ? &args[1] : nullptr;
    if (args[0].type == VarType::Table) {
        insertIntoTable(engine, args[0].asTable(), position, std::move(value));
        return Variable();
    }
    auto& items = args[0].asArray()->items;
    if (!position) {
        makeRoomForOneMore(items);
        items.push_back(std::move(value));
        return Variable();
    }
    const int64_t size = static_cast<int64_t>(items.size());
    const int64_t at = std::clamp<int64_t>(toInt(*position), 1, size + 1);
    items.insert(items.begin() + (at - 1), std::move(value));
    return Variable();
}

Variable tableRemove(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 1 || count > 2 || !isArrayOrTable(args[0])) fail("table['remove'](table[, pos]) requires an array or table");
    const Variable* position = count == 2 ? &args[1] : nullptr;
    if (args[0].type == VarType::Table) return removeFromTable(engine, args[0].asTable(), position);
    auto& items = args[0].asArray()->items;
    if (items.empty()) return Variable();
    const int64_t size = static_cast<int64_t>(items.size());
    const int64_t at = position ? toInt(*position) : size;
    if (at < 1 || at > size) return Variable();
    Variable removed = std::move(items[static_cast<size_t>(at - 1)]);
    items.erase(items.begin() + (at - 1));
    return removed;
}

Variable tableConcat(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 1 || count > 4 || !isArrayOrTable(args[0])) {
        fail("table['concat'](table[, sep[, i[, j]]]) requires an array or table");
    }
    const Variable& container = args[0];
    const std::string separator = count >= 2 ? args[1].toString() : std::string();
    const int64_t length = container.type == VarType::Array ? static_cast<int64_t>(container.asArray()->items.size())
                                                            : engine.numericTableLength(container.asTable());
    // Positions outside the container are clamped to it.
    const int64_t first = std::max<int64_t>(count >= 3 ? toInt(args[2]) : 1, 1);
    const int64_t last = std::min<int64_t>(count >= 4 ? toInt(args[3]) : length, length);
    if (first > last) return Variable("");
    if (!separator.empty() && static_cast<uint64_t>(last - first) > kMaxConcatBytes / separator.size()) {
        fail(kConcatTooLong);
    }

    static const Variable kAbsent;
    std::string out;
    for (int64_t k = first; k <= last; ++k) {
        if (k > first) out += separator;
        if (container.type == VarType::Array) {
            container.asArray()->items[static_cast<size_t>(k - 1)].appendTo(out);
        } else {
            const auto& map = container.asTable()->map;
            auto entry = map.find(sequenceKey(k));
            (entry == map.end() ? kAbsent : entry->second).appendTo(out);
        }
        if (out.size() > kMaxConcatBytes) fail(kConcatTooLong);
    }
    return Variable(std::move(out));
}

} // namespace cobalt::builtins
