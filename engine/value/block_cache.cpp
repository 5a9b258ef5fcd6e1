// The slow half of the block cache: arming a thread's reaper and freeing what it cannot keep.

#include "engine/value/block_cache.h"

namespace cobalt::blockCache {

thread_local constinit ThreadLists t_lists{};

namespace {

/// Hands a thread's kept blocks back when the thread ends. Thread-local objects made before
/// it (a release queue holding tables, say) are destroyed after it: what they free then
/// finds the lists closed and goes straight back.
struct Reaper {
    ~Reaper()
    {
        ThreadLists& lists = t_lists;
        lists.closed = true;
        lists.armed = false;
        for (std::size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            while (FreeBlock* block = lists.heads[sizeClass]) {
                lists.heads[sizeClass] = block->next;
                ::operator delete(block);
            }
            lists.bytes[sizeClass] = 0;
        }
    }
};

} // namespace

void releaseSlow(void* block, std::size_t sizeClass) noexcept
{
    ThreadLists& lists = t_lists;
    const std::size_t classBytes = (sizeClass + 1) * kGranule;
    if (!lists.closed && !lists.armed) {
        thread_local Reaper reaper;
        (void)reaper;
        lists.armed = true;
    }
    if (lists.closed || lists.bytes[sizeClass] + classBytes > kMaxBytesPerClass) {
        ::operator delete(block);
        return;
    }
    keep(lists, block, sizeClass);
}

} // namespace cobalt::blockCache
