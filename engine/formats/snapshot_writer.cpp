// Writing state snapshots: every storable global (in slot order) with the random
// generator's state, and the exportState builtin that hands the bytes to the script or
// writes them to a file.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/formats/byte_stream.h"
#include "engine/formats/snapshot_tags.h"
#include "engine/formats/storable_values.h"

namespace cobalt {
namespace {

using formats::ByteWriter;
using formats::ValueTag;

class SnapshotWriter {
public:
    SnapshotWriter(const CobaltScript& engine, ByteWriter& out) : m_engine(engine), m_out(out) {}

    // Containers are written once per reference; the storability check has already bounded
    // their depth and written size, so the recursion here stays shallow.
    void value(const Variable& value)
    {
        switch (value.type) {
        case VarType::Not: tag(ValueTag::Empty); return;
        case VarType::Int:
            tag(ValueTag::Int);
            m_out.u32(static_cast<uint32_t>(value.asInt()));
            return;
        case VarType::Float: {
            tag(ValueTag::Float);
            uint32_t bits = 0;
            const float number = value.asFloat();
            std::memcpy(&bits, &number, sizeof bits);
            m_out.u32(bits);
            return;
        }
        case VarType::String:
            tag(ValueTag::String);
            m_out.string(value.asString());
            return;
        case VarType::Raw:
            tag(ValueTag::Raw);
            m_out.u32(static_cast<uint32_t>(value.asRaw().size()));
            m_out.raw(value.asRaw().data(), value.asRaw().size());
            return;
        case VarType::Bool:
            tag(ValueTag::Bool);
            m_out.u8(value.asBool() ? 1 : 0);
            return;
        case VarType::Array: list(ValueTag::Array, value.asArray()->items); return;
        case VarType::Multi: list(ValueTag::Multi, value.asMulti()->values); return;
        case VarType::Table: table(*value.asTable()); return;
        case VarType::Function: function(*value.asCallable()); return;
        case VarType::Pointer: break;
        }
        fail("Internal error: non-serializable value reached state writer");
    }

private:
    void tag(ValueTag tag) { m_out.u8(static_cast<uint8_t>(tag)); }

    void list(ValueTag kind, const std::vector<Variable>& items)
    {
        tag(kind);
        m_out.u32(static_cast<uint32_t>(items.size()));
        for (const Variable& item : items) value(item);
    }

    void table(const ScriptTable& table)
    {
        std::vector<const std::pair<const std::string, Variable>*> entries;
        entries.reserve(table.map.size());
        for (const auto& entry : table.map) entries.push_back(&entry);
        std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
        tag(ValueTag::Table);
        m_out.u32(static_cast<uint32_t>(entries.size()));
        for (const auto* entry : entries) {
            m_out.string(entry->first);
            value(entry->second);
        }
    }

    void function(const ScriptCallable& function)
    {
        if (function.isNative || function.isCoroutine || !function.program ||
            function.chunkIndex >= function.program->chunks.size()) {
            fail("Internal error: non-serializable value reached state writer");
        }
        tag(ValueTag::Function);
        m_out.u8(function.isVariadic ? 1 : 0);
        m_out.u8(function.isLoadedChunk ? 1 : 0);
        m_out.u32(function.chunkIndex);
        m_out.string(function.sourceDirectory);
        m_out.string(function.sourcePath);
        m_out.u64(function.capturedScope);
        m_out.u32(static_cast<uint32_t>(function.parameters.size()));
        for (const std::string& parameter : function.parameters) m_out.string(parameter);
        const std::vector<uint8_t> program = m_engine.serialiseBytecode(*function.program);
        m_out.u32(static_cast<uint32_t>(program.size()));
        m_out.raw(program.data(), program.size());
    }

    const CobaltScript& m_engine;
    ByteWriter& m_out;
};

} // namespace

std::vector<uint8_t> CobaltScript::exportState()
{
    std::vector<std::pair<uint64_t, const std::string*>> globals;
    globals.reserve(scopes.globalIndex.size());
    for (const auto& [name, slot] : scopes.globalIndex) {
        const bool defined = scopes.globalSlots.defined(slot);
        if (defined) globals.emplace_back(slot, &name);
    }
    std::sort(globals.begin(), globals.end(),
              [](const auto& a, const auto& b) { return a.first != b.first ? a.first < b.first : *a.second < *b.second; });

    formats::StorableValues storable;
    std::vector<std::pair<const std::string*, const Variable*>> entries;
    uint64_t totalBytes = 0;
    for (const auto& [slot, name] : globals) {
        const Variable& value = scopes.globalSlots[slot];
        if (!storable.storableEntry(value)) continue;
        const uint64_t bytes = storable.examine(value).bytes + 4 + name->size();
        if (totalBytes + bytes > formats::kMaxSnapshotBytes) continue;
        totalBytes += bytes;
        entries.emplace_back(name, &value);
    }

    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    out.raw(formats::kSnapshotMagic.data(), formats::kSnapshotMagic.size());
    out.u32(formats::kSnapshotVersion);
    out.string(calls.random.text());
    out.u32(static_cast<uint32_t>(entries.size()));
    SnapshotWriter writer(*this, out);
    for (const auto& [name, value] : entries) {
        out.string(*name);
        writer.value(*value);
    }
    return bytes;
}

Variable CobaltScript::exportStateFunction(NativeArgs args)
{
    if (args.size() > 1) fail("exportState([path]) expects zero or one argument");
    if (args.empty()) return Variable(exportState());
    if (args[0].type != VarType::String) fail("exportState(path) expects a path string");
    const std::string path = resolvePath(args[0].asString());
    const std::vector<uint8_t> bytes = exportState();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) fail("Failed to open state file for writing: " + path);
    // A short write (a full disk) or a failed close would leave a truncated snapshot behind;
    // neither may be reported as success.
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) fail("Failed to write state file: " + path);
    return Variable(static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX)));
}

} // namespace cobalt
