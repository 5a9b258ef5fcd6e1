// Cycle breaking at engine teardown: an iterative depth-first walk over the container graph
// (no recursion, so deeply nested data cannot exhaust the stack), clearing each entry that
// points back to a container still on the walk's path; then the registry releases every
// container the walk did not reach.

#include "engine/stdlib/reference_cycles.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/cobalt_script.h"

namespace cobalt {
namespace {

enum class Mark : uint8_t { OnPath = 1, Done = 2 };

/// The walk's position inside one container.
struct Visit {
    const void* identity = nullptr;
    std::vector<Variable>* items = nullptr;  // array elements or multivalue values
    size_t index = 0;
    TableMap* map = nullptr;
    TableMap::iterator position;

    Variable* nextChild()
    {
        if (items) return index < items->size() ? &(*items)[index++] : nullptr;
        if (map && position != map->end()) return &(position++)->second;
        return nullptr;
    }
};

class CycleBreaker {
public:
    void walkFrom(Variable& root)
    {
        if (!enter(root)) return;
        while (!m_path.empty()) {
            Variable* child = m_path.back().nextChild();
            if (!child) {
                m_marks[m_path.back().identity] = Mark::Done;
                m_path.pop_back();
                continue;
            }
            const void* identity = identityOf(*child);
            if (!identity) continue;
            auto mark = m_marks.find(identity);
            if (mark == m_marks.end()) {
                enter(*child);
            } else if (mark->second == Mark::OnPath) {
                *child = Variable();  // closes a cycle
            }
        }
    }

private:
    static const void* identityOf(const Variable& value)
    {
        switch (value.type) {
        case VarType::Array: return value.asArray().get();
        case VarType::Table: return value.asTable().get();
        case VarType::Multi: return value.asMulti().get();
        default: return nullptr;
        }
    }

    bool enter(Variable& value)
    {
        const void* identity = identityOf(value);
        if (!identity || m_marks.count(identity)) return false;
        Visit visit;
        visit.identity = identity;
        if (value.type == VarType::Array) {
            visit.items = &value.asArray()->items;
        } else if (value.type == VarType::Multi) {
            visit.items = &value.asMulti()->values;
        } else {
            visit.map = &value.asTable()->map;
            visit.position = visit.map->begin();
        }
        m_marks[identity] = Mark::OnPath;
        m_path.push_back(visit);
        return true;
    }

public:
    bool reached(const void* identity) const { return m_marks.count(identity) != 0; }

private:
    std::unordered_map<const void*, Mark> m_marks;
    std::vector<Visit> m_path;
};

void walkScope(CycleBreaker& breaker, ScopeList& scope)
{
    for (auto& entry : scope.entries) breaker.walkFrom(entry.second);
}

} // namespace

void releaseReferenceCycles(CobaltScript& engine)
{
    CycleBreaker breaker;
    for (size_t slot = 0; slot < engine.scopes.globalSlots.size(); ++slot) {
        breaker.walkFrom(engine.scopes.globalSlots[slot]);
    }
    walkScope(breaker, engine.scopes.external);
    for (ScopeList& scope : engine.scopes.frames) walkScope(breaker, scope);
    for (ScopeList& scope : engine.scopes.blocks) walkScope(breaker, scope);
    for (ScopeList& scope : engine.scopes.loops) walkScope(breaker, scope);
    for (auto& list : engine.calls.varargs) {
        if (!list) continue;
        for (Variable& value : *list) breaker.walkFrom(value);
    }
    engine.containers.releaseAll([&breaker](const void* identity) { return breaker.reached(identity); });
}

} // namespace cobalt
