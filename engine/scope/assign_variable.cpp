// Storing into names, defining globals, and the scope stacks themselves. Every store resolves
// its target and writes at once: nothing here keeps a reference into a scope list or a
// global slot while other code could run.

#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/scope/cached_resolution.h"
#include "engine/scope/local_assignment.h"
#include "engine/scope/scope_lookup.h"
#include "engine/scope/scope_stack_ops.h"

namespace cobalt {

namespace {

ScopeList freshScope(ScopeState& scopes, size_t reserve)
{
    ScopeList list;
    list.id = scopes.nextScopeId++;
    list.entries.reserve(reserve);
    return list;
}

void rememberGlobal(CobaltScript& engine, std::string_view name, const TokenAnalysis& analysis)
{
    uint64_t slot = 0;
    if (!findGlobalSlot(engine.scopes, name, slot)) return;
    analysis.resolvedKind = ResolutionKind::GlobalSlot;
    analysis.resolvedDepth = static_cast<uint16_t>(std::min<size_t>(engine.scopes.loops.size(), 0xFFFF));
    analysis.globalSlot = slot;
    analysis.globalSlotValid = true;
    analysis.lastScopeId = engine.scopes.globalsId;
}

} // namespace

void CobaltScript::setInScope(ScopeList& scope, std::string_view name, Variable value)
{
    if (Variable* existing = scope.find(name)) {
        *existing = std::move(value);
        return;
    }
    scope.add(name, std::move(value));
}

ScopeList& CobaltScript::currentFrameScope()
{
    while (scopes.frames.size() <= scopes.currentFrame) scopes.frames.push_back(freshScope(scopes, 0));
    return scopes.frames[scopes.currentFrame];
}

void CobaltScript::pushBlockScope()
{
    scopeStack::push(scopes, scopes.blocks, scopeStack::kBlockReserve);
}

void CobaltScript::popBlockScope()
{
    scopeStack::pop(scopes, scopes.blocks);
}

void CobaltScript::pushLoopScope()
{
    scopeStack::push(scopes, scopes.loops, scopeStack::kLoopReserve);
}

void CobaltScript::popLoopScope()
{
    scopeStack::pop(scopes, scopes.loops);
}

void CobaltScript::pushVariable(std::string_view name, Variable value)
{
    uint64_t slot = 0;
    if (findGlobalSlot(scopes, name, slot)) {
        if (slot >= scopes.globalSlots.size()) {
            fail("Internal slot error while setting variable: " + std::string(name));
        }
        scopes.globalSlots[slot] = std::move(value);
        return;
    }
    slot = scopes.globalSlots.append(std::move(value));
    scopes.globalIndex.emplace(std::string(name), slot);
}

void CobaltScript::assignVariable(std::string_view name, Variable value, ScopeTarget target)
{
    std::string_view baseName;
    int scope = 0;
    if (name.find('#') != std::string_view::npos && parseScopedVariableToken(name, baseName, scope)) {
        *resolveExplicitScopeVariableMutable(baseName, scope, true) = std::move(value);
        return;
    }
    switch (target) {
    case ScopeTarget::Native:
        setInScope(currentFrameScope(), name, std::move(value));
        return;
    case ScopeTarget::Local:
        if (scopes.blocks.size() <= scopes.blockBase) pushBlockScope();
        setInScope(scopes.blocks.back(), name, std::move(value));
        return;
    case ScopeTarget::External:
        setInScope(scopes.external, name, std::move(value));
        return;
    case ScopeTarget::Default:
        break;
    }
    if (Variable* existing = resolveExistingVariableFastMutable(name, nullptr, false)) {
        *existing = std::move(value);
        return;
    }
    pushVariable(name, std::move(value));
}

void CobaltScript::assignVariableFast(std::string_view name, const TokenAnalysis* analysis, Variable value,
                                      ScopeTarget target)
{
    const bool plain = isPlainTargetName(name, analysis);
    if (plain && target == ScopeTarget::Local) {
        // `local x = ...`, often once per loop iteration.
        assignLocalFast(*this, name, *analysis, std::move(value));
        return;
    }
    if (!plain || target != ScopeTarget::Default) {
        assignVariable(name, std::move(value), target);
        return;
    }
    if (Variable* existing = resolveExistingVariableFastMutable(name, analysis, false)) {
        storeValueInto(std::move(value), *existing);
        return;
    }
    pushVariable(name, std::move(value));
    rememberGlobal(*this, name, *analysis);
}

} // namespace cobalt
