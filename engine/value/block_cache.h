#pragma once
// Tables are made and dropped by the thousand in object-like scripts: a literal with four
// fields costs the table, a bucket array and one node per field. The general allocator keeps
// only a handful of freed blocks of one size at hand, so past those every table goes through
// its slow paths, which cost more than building the table itself. Table storage therefore
// comes through this cache: freed small blocks stay on per-size lists of the thread that
// freed them and are handed out again first.
//
// Any thread may free a block another thread allocated: a block only ever goes back to the
// general allocator as a whole, and its size class follows from the size asked for. Under
// AddressSanitizer the cache stands aside, so that use-after-free of table storage is caught.

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define COBALT_BLOCK_CACHE_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COBALT_BLOCK_CACHE_OFF 1
#endif
#endif

namespace cobalt::blockCache {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClassCount = 16;                 // blocks of up to 256 bytes
// Kept per size and thread: enough for a generation of a few thousand records (a list of
// objects rebuilt round after round) to be made again from the blocks of the last one. The
// blocks are only ever ones the script freed, which the general allocator would keep as well.
constexpr std::size_t kMaxBytesPerClass = 4 * 1024 * 1024;

struct FreeBlock {
    FreeBlock* next;
};

/// One thread's lists. Plain data, so reaching it costs no initialisation check; the thread's
/// reaper (armed with the first block kept) hands the blocks back when the thread ends.
struct ThreadLists {
    FreeBlock* heads[kClassCount];
    std::size_t bytes[kClassCount];
    bool armed;   // the reaper exists: blocks may be kept
    bool closed;  // the reaper has run: blocks go straight back
};

extern thread_local constinit ThreadLists t_lists;

/// Puts `block` of class `sizeClass` on the thread's list.
[[gnu::always_inline]] inline void keep(ThreadLists& lists, void* block, std::size_t sizeClass) noexcept
{
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = lists.heads[sizeClass];
    lists.heads[sizeClass] = freed;
    lists.bytes[sizeClass] += (sizeClass + 1) * kGranule;
}

/// Keeps `block` of class `sizeClass` after arming the reaper, or frees it when the thread's
/// lists are closed or full.
void releaseSlow(void* block, std::size_t sizeClass) noexcept;

inline void* allocate(std::size_t size)
{
#ifndef COBALT_BLOCK_CACHE_OFF
    // size - 1 also sends a size of 0 to the general allocator.
    if (size - 1 < kClassCount * kGranule) {
        const std::size_t sizeClass = (size - 1) / kGranule;
        ThreadLists& lists = t_lists;
        if (FreeBlock* block = lists.heads[sizeClass]) {
            lists.heads[sizeClass] = block->next;
            lists.bytes[sizeClass] -= (sizeClass + 1) * kGranule;
            return block;
        }
        return ::operator new((sizeClass + 1) * kGranule);
    }
#endif
    return ::operator new(size);
}

inline void deallocate(void* block, [[maybe_unused]] std::size_t size) noexcept
{
#ifndef COBALT_BLOCK_CACHE_OFF
    if (size - 1 < kClassCount * kGranule) {
        const std::size_t sizeClass = (size - 1) / kGranule;
        const std::size_t classBytes = (sizeClass + 1) * kGranule;
        ThreadLists& lists = t_lists;
        if (!lists.armed || lists.bytes[sizeClass] + classBytes > kMaxBytesPerClass) {
            releaseSlow(block, sizeClass);
            return;
        }
        keep(lists, block, sizeClass);
        return;
    }
#endif
    ::operator delete(block);
}

/// A standard allocator over the cache, for table storage.
template <class T>
struct Allocator {
    using value_type = T;

    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t count)
    {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(blockCache::allocate(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept { blockCache::deallocate(block, count * sizeof(T)); }

    template <class U>
    bool operator==(const Allocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace cobalt::blockCache
