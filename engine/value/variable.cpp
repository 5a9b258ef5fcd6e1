// Making values and letting go of containers.

#include "engine/value/variable.h"

#include <atomic>
#include <utility>

namespace cobalt {

namespace {

// A container's destructor hands the nested containers it owns alone to this per-thread
// queue instead of destroying them in place; the outermost destructor drains the queue in a
// loop. Dropping an array nested a million levels deep therefore uses constant stack.
struct ReleaseQueue {
    bool draining = false;
    std::vector<Variable> pending;
};

ReleaseQueue& releaseQueue()
{
    thread_local ReleaseQueue queue;
    return queue;
}

// Only a last reference leads to a nested destructor; shared ones just drop a count.
bool ownsNestedContainerAlone(const Variable& v)
{
    switch (v.type) {
    case VarType::Array: {
        const auto* ref = std::get_if<ArrayRef>(&v.value);
        return ref && *ref && ref->use_count() == 1;
    }
    case VarType::Table: {
        const auto* ref = std::get_if<TableRef>(&v.value);
        return ref && *ref && ref->use_count() == 1;
    }
    case VarType::Multi: {
        const auto* ref = std::get_if<MultiRef>(&v.value);
        return ref && *ref && ref->use_count() == 1;
    }
    default:
        return false;
    }
}

void deferRelease(ReleaseQueue& queue, Variable& v)
{
    if (!ownsNestedContainerAlone(v)) return;
    try {
        queue.pending.push_back(std::move(v));
    } catch (...) {
        // Out of memory for the queue: the value is destroyed in place instead.
    }
}

void drain(ReleaseQueue& queue)
{
    if (queue.draining) return;
    queue.draining = true;
    while (!queue.pending.empty()) {
        Variable last = std::move(queue.pending.back());
        queue.pending.pop_back();
        // `last` dies here; its own destructor only appends to the queue.
    }
    queue.draining = false;
}

void releaseItems(std::vector<Variable>& items)
{
    ReleaseQueue& queue = releaseQueue();
    for (Variable& item : items) deferRelease(queue, item);
    drain(queue);
}

std::atomic<uint64_t> nextTableId{1};

} // namespace

ScriptArray::~ScriptArray() { releaseItems(items); }

MultiResult::~MultiResult() { releaseItems(values); }

ScriptTable::ScriptTable() : ContainerLink(ContainerKind::Table), id(nextTableId.fetch_add(1, std::memory_order_relaxed))
{
    map.max_load_factor(1.0f);
}

ScriptTable::~ScriptTable()
{
    ReleaseQueue& queue = releaseQueue();
    for (auto& entry : map) deferRelease(queue, entry.second);
    drain(queue);
}

TableRef makeTableRef() { return std::allocate_shared<ScriptTable>(blockCache::Allocator<ScriptTable>()); }

Variable Variable::makeTable() { return Variable(makeTableRef()); }

Variable Variable::makeArray() { return Variable(std::make_shared<ScriptArray>()); }

Variable Variable::makeArray(std::vector<Variable> items)
{
    auto array = std::make_shared<ScriptArray>();
    array->items = std::move(items);
    return Variable(std::move(array));
}

Variable Variable::makeMulti(std::vector<Variable>&& values)
{
    auto multi = std::make_shared<MultiResult>();
    multi->values = std::move(values);
    return Variable(std::move(multi));
}

} // namespace cobalt
