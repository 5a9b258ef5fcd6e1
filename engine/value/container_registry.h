#pragma once
// Every array, table and multivalue made while an engine is active on a thread is entered in
// that engine's registry, an intrusive list. Containers are reference counted, so a group of
// them that refer to each other and that the script has let go of (`a = []; a[1] = a; a = 1`)
// is never freed by counting alone; the registry's cycle collector (cycle_collector.cpp)
// finds and frees such groups while the engine runs, and the engine releases whatever is
// left when it is destroyed, and with it the files and pipes they hold.

#include <cstdint>
#include <functional>
#include <memory>

namespace cobalt {

class ContainerRegistry;

enum class ContainerKind : uint8_t { Array, Table, Multi };

/// The list fields alone: the registry's sentinel is one of these.
struct ContainerNode {
    ContainerNode* prev = nullptr;  // both null: not in any registry
    ContainerNode* next = nullptr;
};

/// Base of ScriptArray, ScriptTable and MultiResult. Construction joins the registry active on
/// this thread (if any); destruction leaves it. A copy is a new container and joins anew.
/// The shared-from-this base lets the cycle collector read how many references a container
/// has; one not owned by a shared pointer reads 0 and is always treated as in use.
struct ContainerLink : ContainerNode, std::enable_shared_from_this<ContainerLink> {
    explicit ContainerLink(ContainerKind kind) noexcept;
    ContainerLink(const ContainerLink& other) noexcept;
    ContainerLink& operator=(const ContainerLink&) noexcept { return *this; }
    ~ContainerLink();

    const ContainerKind containerKind;

    // Scratch fields of the cycle collector, meaningful only while `collectorPass` equals the
    // pass that is running (a container of another engine never does).
    uint8_t collectorReached = 0;
    uint32_t collectorPass = 0;
    int64_t collectorRefs = 0;
};

/// The containers of one engine. Not thread-safe: like the engine itself it is used by one
/// thread at a time.
class ContainerRegistry {
public:
    /// Fewest containers made between two automatic collections.
    static constexpr uint64_t kMinimumCollectionInterval = 10000;

    ContainerRegistry() noexcept;
    /// Detaches whatever is still registered (containers a host keeps past the engine).
    ~ContainerRegistry();
    ContainerRegistry(const ContainerRegistry&) = delete;
    ContainerRegistry& operator=(const ContainerRegistry&) = delete;

    /// Empties every registered container for which `keep(identity)` is false (the identity
    /// is the container's address, as the holder's shared pointer gives it), then detaches
    /// every container still registered. The contents of all of them are moved out before any
    /// is destroyed, so the cascade of releases neither recurses nor disturbs the walk.
    void releaseAll(const std::function<bool(const void*)>& keep);

    /// Number of registered containers (walks the list; for tests and diagnostics).
    uint64_t count() const;

    /// Frees every registered container that only other unreachable containers refer to
    /// (reference cycles the script let go of). A container is in use when something
    /// other than a registered container holds a reference to it (a variable, a value on
    /// the native stack, a host, a coroutine), or when such a container reaches it. Returns
    /// the number of containers freed. Never throws: out of memory, it frees nothing.
    uint64_t collectCycles() noexcept;

    /// A collection also runs by itself, just before a container is made, once more
    /// containers were made since the last one than survived it (and at least a few
    /// thousand): the work stays proportional to the allocation, and garbage cycles never
    /// outgrow the live heap. On by default.
    void setAutomaticCollection(bool enabled) noexcept { m_automatic = enabled; }
    uint64_t collections() const { return m_collections; }

private:
    friend struct ContainerLink;
    friend class ActiveContainerRegistry;

    void join(ContainerNode& node) noexcept;
    static void leave(ContainerNode& node) noexcept;
    void detachAll() noexcept;
    uint64_t collect();

    ContainerNode m_head;
    uint64_t m_madeSinceCollection = 0;
    uint64_t m_collectionThreshold;
    uint64_t m_collections = 0;
    bool m_automatic = true;
    bool m_collecting = false;
};

/// Makes `registry` the one new containers join on this thread for the guard's lifetime (the
/// previous one comes back afterwards, so guards nest).
class ActiveContainerRegistry {
public:
    explicit ActiveContainerRegistry(ContainerRegistry& registry) noexcept;
    ~ActiveContainerRegistry();
    ActiveContainerRegistry(const ActiveContainerRegistry&) = delete;
    ActiveContainerRegistry& operator=(const ActiveContainerRegistry&) = delete;

private:
    ContainerRegistry* m_previous;
};

} // namespace cobalt
