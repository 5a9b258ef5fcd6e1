// The storability walk behind exportState: a depth-first walk over containers with an
// explicit stack, marking containers in progress so that a container reached again while it
// is still open is a cycle (everything on that path contains itself or a container that
// does, and none of it is storable).

#include "engine/formats/storable_values.h"

#include <algorithm>
#include <vector>

#include "engine/bytecode/bytecode_program.h"
#include "engine/stdlib/script_callable.h"

namespace cobalt::formats {
namespace {

constexpr uint32_t kHeightCap = kMaxSnapshotDepth + 1;

uint64_t addSaturating(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

bool isContainer(const Variable& value)
{
    return value.type == VarType::Array || value.type == VarType::Multi || value.type == VarType::Table;
}

const void* identity(const Variable& value)
{
    switch (value.type) {
    case VarType::Array: return value.asArray().get();
    case VarType::Multi: return value.asMulti().get();
    default: return value.asTable().get();
    }
}

/// Rough written size of a program: its token texts dominate.
uint64_t programBytes(const BytecodeProgram& program)
{
    uint64_t bytes = 64 + program.directory.size() + program.path.size();
    for (const ParsedScriptLine& line : program.lines) {
        bytes += 12 + line.text.size();
        for (const Token& token : line.tokens) bytes += 4 + token.size();
    }
    bytes += 9 * program.instructions.size() + 10 * program.chunks.size();
    for (const BytecodeIfGroup& group : program.ifGroups) bytes += 4 + 9 * group.branches.size();
    bytes += 8 * (program.whileLoops.size() + program.repeatLoops.size() + program.numericForLoops.size() +
                  program.genericForLoops.size());
    for (const BytecodeNestBlock& nest : program.nestBlocks) bytes += 16 + nest.label.size();
    for (const BytecodeFunctionDecl& decl : program.functionDecls) {
        bytes += 24 + decl.directory.size() + decl.path.size();
    }
    return bytes;
}

/// One open container of the walk: its elements (an item list or a table's entries) and
/// the facts gathered from the elements seen so far.
struct Open {
    const void* id = nullptr;
    const std::vector<Variable>* items = nullptr;
    const TableMap* map = nullptr;
    size_t nextItem = 0;
    TableMap::const_iterator nextEntry;
    StorableValues::Facts facts;

    /// The next element and the bytes its key adds, or null when all have been seen.
    const Variable* next(uint64_t& keyBytes)
    {
        keyBytes = 0;
        if (items) return nextItem < items->size() ? &(*items)[nextItem++] : nullptr;
        if (nextEntry == map->end()) return nullptr;
        keyBytes = 4 + nextEntry->first.size();
        return &(nextEntry++)->second;
    }
};

Open openContainer(const Variable& value)
{
    Open open;
    open.id = identity(value);
    if (value.type == VarType::Array) {
        open.items = &value.asArray()->items;
    } else if (value.type == VarType::Multi) {
        open.items = &value.asMulti()->values;
    } else {
        open.map = &value.asTable()->map;
        open.nextEntry = open.map->begin();
    }
    open.facts.bytes = 5;  // tag and count
    return open;
}

void mergeElement(StorableValues::Facts& into, const StorableValues::Facts& element, uint64_t keyBytes)
{
    into.storable = into.storable && element.storable;
    into.height = std::max(into.height, std::min(element.height + 1, kHeightCap));
    into.bytes = addSaturating(into.bytes, addSaturating(element.bytes, keyBytes));
}

} // namespace

StorableValues::Facts StorableValues::leafFacts(const Variable& value)
{
    Facts facts;
    switch (value.type) {
    case VarType::Not: facts.bytes = 1; break;
    case VarType::Int:
    case VarType::Float: facts.bytes = 5; break;
    case VarType::Bool: facts.bytes = 2; break;
    case VarType::String: facts.bytes = 5 + value.asString().size(); break;
    case VarType::Raw: facts.bytes = 5 + value.asRaw().size(); break;
    case VarType::Function: {
        const ScriptCallable* function = value.asCallable().get();
        if (!function || function->isNative || function->isCoroutine || !function->program ||
            function->chunkIndex >= function->program->chunks.size()) {
            facts.storable = false;
            break;
        }
        const BytecodeProgram* program = function->program.get();
        auto known = m_programBytes.find(program);
        if (known == m_programBytes.end()) known = m_programBytes.emplace(program, programBytes(*program)).first;
        facts.bytes = 32 + function->sourceDirectory.size() + function->sourcePath.size() + known->second;
        for (const std::string& parameter : function->parameters) facts.bytes += 4 + parameter.size();
        break;
    }
    default: facts.storable = false; break;
    }
    return facts;
}

StorableValues::Facts StorableValues::examine(const Variable& root)
{
    if (!isContainer(root)) return leafFacts(root);
    if (auto known = m_containers.find(identity(root)); known != m_containers.end()) {
        Facts facts = known->second.facts;
        if (known->second.inProgress) facts.storable = false;
        return facts;
    }
    std::vector<Open> stack;
    stack.push_back(openContainer(root));
    m_containers[stack.back().id].inProgress = true;
    Facts result;
    while (!stack.empty()) {
        Open& open = stack.back();
        uint64_t keyBytes = 0;
        const Variable* element = open.next(keyBytes);
        if (element == nullptr) {
            const Facts done = open.facts;
            m_containers[open.id] = Known{false, done};
            stack.pop_back();
            if (stack.empty()) {
                result = done;
            } else {
                // The key bytes of a table entry were added when the entry was opened.
                mergeElement(stack.back().facts, done, 0);
            }
            continue;
        }
        if (!isContainer(*element)) {
            mergeElement(open.facts, leafFacts(*element), keyBytes);
            continue;
        }
        auto known = m_containers.find(identity(*element));
        if (known != m_containers.end()) {
            Facts facts = known->second.facts;
            if (known->second.inProgress) facts.storable = false;  // a cycle through an open container
            mergeElement(open.facts, facts, keyBytes);
            continue;
        }
        open.facts.bytes = addSaturating(open.facts.bytes, keyBytes);
        Open child = openContainer(*element);
        m_containers[child.id].inProgress = true;
        stack.push_back(std::move(child));
    }
    return result;
}

} // namespace cobalt::formats
