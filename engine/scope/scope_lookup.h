#pragma once
// Small look-up helpers shared by the scope folder's translation units.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/scope/scope_state.h"

namespace cobalt {

/// Index of the first block scope the running call may see.
inline size_t firstVisibleBlock(const ScopeState& scopes)
{
    return std::min(scopes.blockBase, scopes.blocks.size());
}

/// Slot index of a global name, or false when the name never had a slot.
inline bool findGlobalSlot(const ScopeState& scopes, std::string_view name, uint64_t& slot)
{
    const auto it = scopes.globalIndex.find(name);
    if (it == scopes.globalIndex.end()) return false;
    slot = it->second;
    return true;
}

/// True when `slot` addresses an existing, defined global.
inline bool globalSlotDefined(const ScopeState& scopes, uint64_t slot)
{
    return scopes.globalSlots.defined(slot);
}

} // namespace cobalt
