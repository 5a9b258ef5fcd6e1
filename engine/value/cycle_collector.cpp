// The cycle collector: trial deletion over the registered containers.
//
// Every container's reference count is known (its shared-from-this base). Subtracting the
// references that registered containers hold to each other leaves, for each container, the
// references from outside the container graph: variables, scopes, values on the native
// stack of a running evaluation, coroutine states, hosts. A container with any such
// reference is in use, and so is everything it reaches. What is left is referred to only by
// other unreachable containers: garbage that counting alone never frees.
//
// No root set is needed and nothing is marked in advance, so a value held anywhere on the
// native stack is safe by construction; the price is that references through functions
// (whose captured values the collector does not walk) count as outside references, which
// only keeps a container alive longer than necessary.

#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/value/container_registry.h"
#include "engine/value/variable.h"

namespace cobalt {

namespace {

// Pass numbers are unique across every registry of the process, so a container of another
// engine that one of ours refers to never looks like part of the pass.
uint32_t nextPassNumber()
{
    static std::atomic<uint32_t> counter{0};
    uint32_t pass = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    if (pass == 0) pass = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    return pass;
}

ContainerLink* linkOf(const Variable& value)
{
    switch (value.type) {
    case VarType::Array: {
        const auto* ref = std::get_if<ArrayRef>(&value.value);
        return ref ? ref->get() : nullptr;
    }
    case VarType::Table: {
        const auto* ref = std::get_if<TableRef>(&value.value);
        return ref ? ref->get() : nullptr;
    }
    case VarType::Multi: {
        const auto* ref = std::get_if<MultiRef>(&value.value);
        return ref ? ref->get() : nullptr;
    }
    default: return nullptr;
    }
}

/// Calls `visit(child)` for each container directly inside `link`.
template <typename Visit>
void forEachChild(ContainerLink& link, const Visit& visit)
{
    auto visitValue = [&](const Variable& value) {
        if (ContainerLink* child = linkOf(value)) visit(*child);
    };
    switch (link.containerKind) {
    case ContainerKind::Array:
        for (const Variable& item : static_cast<ScriptArray&>(link).items) visitValue(item);
        break;
    case ContainerKind::Table:
        for (const auto& entry : static_cast<ScriptTable&>(link).map) visitValue(entry.second);
        break;
    case ContainerKind::Multi:
        for (const Variable& value : static_cast<MultiResult&>(link).values) visitValue(value);
        break;
    }
}

/// Holds the contents of the garbage until every garbage container has been emptied, so
/// the releases never run into a container the walk still has to visit.
struct Contents {
    std::vector<std::vector<Variable>> lists;
    std::vector<TableMap> maps;

    void take(ContainerLink& link)
    {
        switch (link.containerKind) {
        case ContainerKind::Array: takeList(static_cast<ScriptArray&>(link).items); break;
        case ContainerKind::Multi: takeList(static_cast<MultiResult&>(link).values); break;
        case ContainerKind::Table: {
            auto& table = static_cast<ScriptTable&>(link);
            if (table.map.empty()) break;
            maps.emplace_back().swap(table.map);
            ++table.version;
            break;
        }
        }
    }
    void takeList(std::vector<Variable>& items)
    {
        if (!items.empty()) lists.emplace_back().swap(items);
    }
};

} // namespace

uint64_t ContainerRegistry::collectCycles() noexcept
{
    if (m_collecting) return 0;
    m_collecting = true;
    m_madeSinceCollection = 0;
    uint64_t freed = 0;
    try {
        freed = collect();
    } catch (const std::bad_alloc&) {
        // Out of memory for the collector's own lists: nothing was changed before the
        // lists were complete, so everything stays as it is.
    }
    m_collecting = false;
    return freed;
}

uint64_t ContainerRegistry::collect()
{
    const uint32_t pass = nextPassNumber();
    uint64_t total = 0;
    // 1. Every container's count, and 2. minus the references from registered containers.
    for (ContainerNode* node = m_head.next; node != &m_head; node = node->next) {
        auto& link = static_cast<ContainerLink&>(*node);
        link.collectorPass = pass;
        link.collectorReached = 0;
        const long count = link.weak_from_this().use_count();
        // Not owned by a shared pointer (a container being built on the stack): in use.
        link.collectorRefs = count > 0 ? count : INT64_MAX / 2;
        ++total;
    }
    for (ContainerNode* node = m_head.next; node != &m_head; node = node->next) {
        forEachChild(static_cast<ContainerLink&>(*node), [pass](ContainerLink& child) {
            if (child.collectorPass == pass) --child.collectorRefs;
        });
    }
    // 3. Everything reachable from a container referred to from outside is in use.
    std::vector<ContainerLink*> pending;
    auto reach = [&](ContainerLink& link) {
        if (link.collectorPass != pass || link.collectorReached) return;
        link.collectorReached = 1;
        pending.push_back(&link);
    };
    for (ContainerNode* node = m_head.next; node != &m_head; node = node->next) {
        auto& link = static_cast<ContainerLink&>(*node);
        if (link.collectorRefs <= 0) continue;
        reach(link);
        while (!pending.empty()) {
            ContainerLink* open = pending.back();
            pending.pop_back();
            forEachChild(*open, reach);
        }
    }
    // 4. The rest is garbage: empty it all first, then let the contents go (which frees the
    // garbage containers themselves, each already empty, and unlinks them).
    Contents contents;
    uint64_t garbage = 0;
    for (ContainerNode* node = m_head.next; node != &m_head; node = node->next) {
        auto& link = static_cast<ContainerLink&>(*node);
        if (link.collectorReached) continue;
        ++garbage;
        contents.take(link);
    }
    contents.lists.clear();
    contents.maps.clear();

    ++m_collections;
    const uint64_t survivors = total - garbage;
    m_collectionThreshold = survivors > kMinimumCollectionInterval ? survivors : kMinimumCollectionInterval;
    return garbage;
}

} // namespace cobalt
