// The per-engine list of containers and the release of what it holds when the engine goes.

#include "engine/value/container_registry.h"

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/value/variable.h"

namespace cobalt {

namespace {

// The registry new containers join on this thread. Constant-initialised, so reading it is a
// plain thread-local load: it happens on every container construction.
thread_local ContainerRegistry* t_activeRegistry = nullptr;

/// Where the contents of released containers wait until every container has been emptied.
struct Graveyard {
    std::vector<std::vector<Variable>> lists;
    std::vector<TableMap> maps;

    void takeList(std::vector<Variable>& items)
    {
        if (items.empty()) return;
        lists.emplace_back().swap(items);
    }
    void takeMap(ScriptTable& table)
    {
        if (table.map.empty()) return;
        maps.emplace_back().swap(table.map);
        ++table.version;  // its keys went
    }
};

const void* identityOf(ContainerLink& link)
{
    switch (link.containerKind) {
    case ContainerKind::Array: return static_cast<const ScriptArray*>(&link);
    case ContainerKind::Table: return static_cast<const ScriptTable*>(&link);
    case ContainerKind::Multi: return static_cast<const MultiResult*>(&link);
    }
    return nullptr;
}

void takeContents(Graveyard& graveyard, ContainerLink& link)
{
    switch (link.containerKind) {
    case ContainerKind::Array: graveyard.takeList(static_cast<ScriptArray&>(link).items); break;
    case ContainerKind::Table: graveyard.takeMap(static_cast<ScriptTable&>(link)); break;
    case ContainerKind::Multi: graveyard.takeList(static_cast<MultiResult&>(link).values); break;
    }
}

} // namespace

ContainerLink::ContainerLink(ContainerKind kind) noexcept : containerKind(kind)
{
    if (ContainerRegistry* registry = t_activeRegistry) registry->join(*this);
}

ContainerLink::ContainerLink(const ContainerLink& other) noexcept
    : ContainerNode(), std::enable_shared_from_this<ContainerLink>(), containerKind(other.containerKind)
{
    if (ContainerRegistry* registry = t_activeRegistry) registry->join(*this);
}

ContainerLink::~ContainerLink() { ContainerRegistry::leave(*this); }

ContainerRegistry::ContainerRegistry() noexcept : m_collectionThreshold(kMinimumCollectionInterval)
{
    m_head.prev = m_head.next = &m_head;
}

ContainerRegistry::~ContainerRegistry() { detachAll(); }

void ContainerRegistry::join(ContainerNode& node) noexcept
{
    // Collected before the new container is linked: it is still under construction.
    if (++m_madeSinceCollection >= m_collectionThreshold && m_automatic) collectCycles();
    node.prev = &m_head;
    node.next = m_head.next;
    m_head.next->prev = &node;
    m_head.next = &node;
}

void ContainerRegistry::leave(ContainerNode& node) noexcept
{
    if (!node.prev) return;
    node.prev->next = node.next;
    node.next->prev = node.prev;
    node.prev = node.next = nullptr;
}

void ContainerRegistry::detachAll() noexcept
{
    ContainerNode* node = m_head.next;
    while (node != &m_head) {
        ContainerNode* next = node->next;
        node->prev = node->next = nullptr;
        node = next;
    }
    m_head.prev = m_head.next = &m_head;
}

uint64_t ContainerRegistry::count() const
{
    uint64_t total = 0;
    for (const ContainerNode* node = m_head.next; node != &m_head; node = node->next) ++total;
    return total;
}

void ContainerRegistry::releaseAll(const std::function<bool(const void*)>& keep)
{
    Graveyard graveyard;
    try {
        // Moving contents out destroys nothing, so the list stays intact during the walk.
        for (ContainerNode* node = m_head.next; node != &m_head; node = node->next) {
            auto& link = static_cast<ContainerLink&>(*node);
            if (!keep(identityOf(link))) takeContents(graveyard, link);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory for the graveyard: what was not taken stays as it is (and leaks if
        // it forms a cycle), which is still better than failing during teardown.
    }
    // Containers whose last holder was in the graveyard die now and leave the list; they
    // are empty, so each destruction is shallow.
    graveyard.lists.clear();
    graveyard.maps.clear();
    detachAll();
}

ActiveContainerRegistry::ActiveContainerRegistry(ContainerRegistry& registry) noexcept
    : m_previous(t_activeRegistry)
{
    t_activeRegistry = &registry;
}

ActiveContainerRegistry::~ActiveContainerRegistry() { t_activeRegistry = m_previous; }

} // namespace cobalt
