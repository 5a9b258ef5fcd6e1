#pragma once
// Every array, table and multivalue made while an engine is active on a thread is entered in
// that engine's registry, an intrusive list. Containers are reference counted, so a group of
// them that refer to each other and that the script has let go of (`a = []; a[1] = a; a = 1`)
// is never freed by counting alone; the registry lets the engine find and release such
// groups when it is destroyed, and with them the files and pipes they hold.

#include <cstdint>
#include <functional>

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
struct ContainerLink : ContainerNode {
    explicit ContainerLink(ContainerKind kind) noexcept;
    ContainerLink(const ContainerLink& other) noexcept;
    ContainerLink& operator=(const ContainerLink&) noexcept { return *this; }
    ~ContainerLink();

    const ContainerKind containerKind;
};

/// The containers of one engine. Not thread-safe: like the engine itself it is used by one
/// thread at a time.
class ContainerRegistry {
public:
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

private:
    friend struct ContainerLink;
    friend class ActiveContainerRegistry;

    void join(ContainerNode& node) noexcept;
    static void leave(ContainerNode& node) noexcept;
    void detachAll() noexcept;

    ContainerNode m_head;
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
