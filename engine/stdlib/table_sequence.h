#pragma once
// A table seen as a sequence: its entries under the keys "1", "2", ... up to its numeric
// length. The table library's insert, remove and sort work on this view.

#include <cstdint>
#include <string>

#include "engine/cobalt_script.h"

namespace cobalt {

/// The key text of a sequence position.
inline std::string sequenceKey(int64_t position) { return std::to_string(position); }

/// The entry at a sequence position. Positions inside the numeric length exist already; one
/// that does not is created, and the key addition recorded so cached key lists and lengths
/// are rebuilt.
inline Variable& sequenceSlot(ScriptTable& table, int64_t position)
{
    auto [entry, added] = table.map.try_emplace(sequenceKey(position));
    if (added) CobaltScript::bumpTableVersion(table);
    return entry->second;
}

} // namespace cobalt
