// Reading state snapshots: the random generator's state, then each entry, defined as a
// global as soon as it is read. The bytes are untrusted: counts are checked against the
// bytes left before anything is sized from them, nesting is bounded, embedded programs are
// read by the bytecode reader (whose indices the interpreter checks when they are used), and
// a function's captured scope is bounded so that calling it cannot size the frame list from
// a hostile number.

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/formats/byte_stream.h"
#include "engine/formats/snapshot_tags.h"
#include "engine/formats/storable_values.h"

namespace cobalt {
namespace {

using formats::ByteReader;
using formats::ValueTag;

/// Frame indices grow with the lexical nesting of running functions; a captured scope
/// beyond this cannot come from a real script, and calling such a function would make
/// the engine allocate a frame for every index below it.
constexpr uint64_t kMaxCapturedScope = uint64_t{1} << 20;

class SnapshotReader {
public:
    SnapshotReader(CobaltScript& engine, ByteReader& in, const std::string& name, uint32_t version)
        : m_engine(engine), m_in(in), m_name(name), m_version(version)
    {
    }

    Variable value(uint32_t depth)
    {
        if (depth > formats::kMaxSnapshotDepth) invalid("container nesting too deep");
        const uint8_t tag = m_in.u8();
        if (tag > formats::kLastValueTag) invalid("unknown value tag");
        switch (static_cast<ValueTag>(tag)) {
        case ValueTag::Empty: return Variable();
        case ValueTag::Int: return Variable(static_cast<int32_t>(m_in.u32()));
        case ValueTag::Float: {
            const uint32_t bits = m_in.u32();
            float number = 0;
            std::memcpy(&number, &bits, sizeof number);
            return Variable(number);
        }
        case ValueTag::String: return Variable(m_in.string());
        case ValueTag::Raw: {
            const uint32_t size = m_in.u32();
            const uint8_t* bytes = m_in.take(size);
            return Variable(RawBytes(bytes, bytes + size));
        }
        case ValueTag::Bool: return Variable(m_in.u8() != 0);
        case ValueTag::Array: {
            Variable array = Variable::makeArray();
            readList(array.asArray()->items, depth);
            return array;
        }
        case ValueTag::Multi: {
            auto multi = std::make_shared<MultiResult>();
            readList(multi->values, depth);
            return Variable(std::move(multi));
        }
        case ValueTag::Table: return table(depth);
        case ValueTag::Function: return function();
        }
        invalid("unknown value tag");
    }

private:
    [[noreturn]] void invalid(const char* what) const
    {
        fail(std::string("Invalid state file (") + what + "): " + m_name);
    }

    void readList(std::vector<Variable>& items, uint32_t depth)
    {
        const uint32_t count = m_in.u32();
        m_in.expectItems(count, 1);  // every value has at least its tag byte
        items.reserve(count);
        for (uint32_t i = 0; i < count; ++i) items.push_back(value(depth + 1));
    }

    Variable table(uint32_t depth)
    {
        Variable result = Variable::makeTable();
        ScriptTable& table = *result.asTable();
        const uint32_t count = m_in.u32();
        m_in.expectItems(count, 5);  // key length and tag
        table.map.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            std::string key = m_in.string();
            table.map.insert_or_assign(std::move(key), value(depth + 1));
        }
        CobaltScript::bumpTableVersion(table);
        return result;
    }

    Variable function()
    {
        auto function = std::make_shared<ScriptCallable>();
        function->isVariadic = m_in.u8() != 0;
        function->isLoadedChunk = m_in.u8() != 0;
        function->chunkIndex = m_in.u32();
        function->sourceDirectory = m_in.string();
        function->sourcePath = m_in.string();
        if (m_version >= formats::kCapturedScopeSince) {
            function->capturedScope = m_in.u64();
            if (function->capturedScope > kMaxCapturedScope) invalid("captured scope out of range");
        }
        const uint32_t parameterCount = m_in.u32();
        m_in.expectItems(parameterCount, 4);
        function->parameters.reserve(parameterCount);
        for (uint32_t i = 0; i < parameterCount; ++i) function->parameters.push_back(m_in.string());
        const uint32_t programSize = m_in.u32();
        const uint8_t* programBytes = m_in.take(programSize);
        function->program = m_engine.deserialiseBytecode(std::span<const uint8_t>(programBytes, programSize),
                                                         m_name + ":function");
        if (function->chunkIndex >= function->program->chunks.size()) invalid("function chunk out of range");
        m_engine.prepareFastCallableBody(*function);
        m_engine.registerCallableNestLabelsRecursive(function, function->chunkIndex);
        return Variable(std::move(function));
    }

    CobaltScript& m_engine;
    ByteReader& m_in;
    const std::string& m_name;
    uint32_t m_version;
};

} // namespace

void CobaltScript::importState(std::span<const uint8_t> bytes, const std::string& name)
{
    ByteReader in(bytes.data(), bytes.size(), "Invalid state file (truncated): " + name);
    const uint8_t* magic = in.take(4);
    if (std::memcmp(magic, formats::kSnapshotMagic.data(), 4) != 0) fail("Invalid state file (bad magic): " + name);
    const uint32_t version = in.u32();
    if (version != 1 && version != 2) fail("Unsupported state version: " + std::to_string(version));

    const std::string randomText = in.string();
    if (!randomText.empty()) {
        // Parsed aside and swapped in whole: a malformed text leaves the generator as it was.
        std::optional<MersenneTwister> parsed = MersenneTwister::fromText(randomText);
        if (!parsed) fail("Invalid state file (bad random generator state): " + name);
        calls.random = *parsed;
    }

    const uint32_t count = in.u32();
    in.expectItems(count, 5);  // name length and value tag
    SnapshotReader reader(*this, in, name, version);
    for (uint32_t i = 0; i < count; ++i) {
        const std::string entryName = in.string();
        pushVariable(entryName, reader.value(0));
    }
    if (in.remaining() != 0) fail("Invalid state file (trailing data): " + name);
}

void CobaltScript::loadState(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) fail("Failed to open state file for reading: " + path);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) fail("Failed to size state file: " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        fail("Invalid state file (truncated data): " + path);
    }
    importState(bytes, path);
}

Variable CobaltScript::importStateFunction(NativeArgs args)
{
    if (args.size() != 1) fail("importState(rawOrPath) expects exactly one argument");
    if (args[0].type == VarType::String) {
        loadState(resolvePath(args[0].asString()));
    } else if (args[0].type == VarType::Raw) {
        // A copy: the entries being defined may replace the very value the bytes live in.
        const RawBytes bytes = args[0].asRaw();
        importState(bytes, "<raw-state>");
    } else {
        fail("importState(rawOrPath) expects raw bytes or a path string");
    }
    return Variable(true);
}

} // namespace cobalt
