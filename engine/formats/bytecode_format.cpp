// The bytecode image: a compiled program as bytes, carried inside state snapshots so that a
// restored script function still has its code. Lines travel as their token texts; reading
// analyses every token and prepares the lines again, so derived data is never trusted from
// the bytes. Reading accepts the older layouts 4 to 8 and fills in what they lack.
//
// The bytes are untrusted. Every count is checked against the bytes left before anything is
// sized from it, so a hostile count fails as truncated instead of allocating. Indices between
// the records are not checked here: the interpreter tests each one when it is used.

#include <algorithm>
#include <string>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/formats/byte_stream.h"

namespace cobalt {
namespace {

using formats::ByteReader;
using formats::ByteWriter;

// The versions whose layouts the reader knows, and where each field appeared.
constexpr uint16_t kPathSince = 5;
constexpr uint16_t kSourceLineSince = 6;
constexpr uint16_t kNestBlocksSince = 8;
constexpr uint16_t kNestParentSince = 60;

bool isReadableVersion(uint16_t version)
{
    return (version >= 4 && version <= 8) || version == 60;
}

// The fewest bytes one record of each list can take in the file, for the count checks.
constexpr uint64_t kMinLineBytes = 8;  // text length and token count
constexpr uint64_t kTokenBytes = 4;
constexpr uint64_t kInstructionBytes = 9;
constexpr uint64_t kMinChunkBytes = 9;
constexpr uint64_t kIfGroupBytes = 4;
constexpr uint64_t kBranchBytes = 9;
constexpr uint64_t kLoopBytes = 8;
constexpr uint64_t kMinNestBytes = 8;
constexpr uint64_t kMinDeclarationBytes = 20;

void writeLoops(ByteWriter& out, const std::vector<BytecodeLoop>& loops)
{
    out.u32(static_cast<uint32_t>(loops.size()));
    for (const BytecodeLoop& loop : loops) {
        out.u32(loop.line);
        out.u32(loop.chunk);
    }
}

/// The list's count, checked against the bytes left for records of at least `itemBytes`.
uint32_t readCount(ByteReader& in, uint64_t itemBytes)
{
    const uint32_t count = in.u32();
    in.expectItems(count, itemBytes);
    return count;
}

std::vector<BytecodeLoop> readLoops(ByteReader& in)
{
    std::vector<BytecodeLoop> loops(readCount(in, kLoopBytes));
    for (BytecodeLoop& loop : loops) {
        loop.line = in.u32();
        loop.chunk = in.u32();
    }
    return loops;
}

/// Older images carry no nest labels: the label is the `nest` line's string literal.
std::string labelFromLine(const BytecodeProgram& program, uint32_t line)
{
    if (line >= program.lines.size()) return {};
    const ParsedScriptLine& nestLine = program.lines[line];
    if (nestLine.tokens.size() < 2 || !isQuotedToken(nestLine.tokens[1])) return {};
    return decodeStringToken(nestLine.tokens[1]);
}

} // namespace

std::vector<uint8_t> CobaltScript::serialiseBytecode(const BytecodeProgram& program) const
{
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    out.raw("CSBC", 4);
    out.u16(std::max(program.version, kBytecodeVersion));
    out.string(program.directory);
    out.string(program.path);

    out.u32(static_cast<uint32_t>(program.lines.size()));
    for (size_t index = 0; index < program.lines.size(); ++index) {
        const ParsedScriptLine& line = program.lines[index];
        out.string(line.text);
        out.u32(static_cast<uint32_t>(line.lineNumber));
        out.u32(static_cast<uint32_t>(line.tokens.size()));
        for (const Token& token : line.tokens) out.string(token);
    }

    out.u32(static_cast<uint32_t>(program.instructions.size()));
    for (const Instruction& instruction : program.instructions) {
        out.u8(static_cast<uint8_t>(instruction.opcode));
        out.u32(instruction.operand);
        out.u32(instruction.operand2);
    }

    out.u32(static_cast<uint32_t>(program.chunks.size()));
    for (const BytecodeChunk& chunk : program.chunks) {
        out.u32(chunk.firstInstruction);
        out.u32(chunk.instructionCount);
        out.u8(chunk.declaresLocals != 0 ? 1 : 0);
        out.u8(chunk.functionBody != 0 ? 1 : 0);
    }

    out.u32(static_cast<uint32_t>(program.ifGroups.size()));
    for (const BytecodeIfGroup& group : program.ifGroups) {
        out.u32(static_cast<uint32_t>(group.branches.size()));
        for (const BytecodeIfBranch& branch : group.branches) {
            out.u32(branch.line);
            out.u32(branch.chunk);
            out.u8(branch.isElse != 0 ? 1 : 0);
        }
    }
    writeLoops(out, program.whileLoops);
    writeLoops(out, program.repeatLoops);
    writeLoops(out, program.numericForLoops);
    writeLoops(out, program.genericForLoops);

    out.u32(static_cast<uint32_t>(program.nestBlocks.size()));
    for (const BytecodeNestBlock& nest : program.nestBlocks) {
        out.u32(nest.line);
        out.u32(nest.chunk);
        out.u32(nest.parentChunk);
        out.string(nest.label);
    }

    out.u32(static_cast<uint32_t>(program.functionDecls.size()));
    for (const BytecodeFunctionDecl& decl : program.functionDecls) {
        out.u32(decl.line);
        out.u32(decl.chunk);
        out.u32(decl.firstBodyLine);
        out.u32(decl.endLine);
        out.string(decl.directory);
        out.string(decl.path);
    }
    return bytes;
}

ProgramRef CobaltScript::deserialiseBytecode(std::span<const uint8_t> bytes, const std::string& name)
{
    ByteReader in(bytes.data(), bytes.size(), "Invalid bytecode file (truncated): " + name);
    const uint8_t* magic = in.take(4);
    if (std::string_view(reinterpret_cast<const char*>(magic), 4) != "CSBC") {
        fail("Invalid bytecode file (bad magic): " + name);
    }
    auto program = std::make_shared<BytecodeProgram>();
    const uint16_t version = in.u16();
    if (!isReadableVersion(version)) fail("Unsupported bytecode version: " + std::to_string(version));
    program->version = version;
    program->directory = in.string();
    if (version >= kPathSince) program->path = in.string();

    program->lines.resize(readCount(in, kMinLineBytes));
    for (size_t index = 0; index < program->lines.size(); ++index) {
        ParsedScriptLine& line = program->lines[index];
        line.text = in.string();
        line.lineNumber = version >= kSourceLineSince ? in.u32() : index;
        line.tokens.resize(readCount(in, kTokenBytes));
        line.analyses.reserve(line.tokens.size());
        for (Token& token : line.tokens) {
            token = in.string();
            line.analyses.push_back(analyseToken(token));
        }
    }

    program->instructions.resize(readCount(in, kInstructionBytes));
    for (Instruction& instruction : program->instructions) {
        // An unknown opcode is kept: the interpreter reports it when it gets there.
        instruction.opcode = static_cast<Opcode>(in.u8());
        instruction.operand = in.u32();
        instruction.operand2 = in.u32();
    }

    program->chunks.resize(readCount(in, kMinChunkBytes));
    for (BytecodeChunk& chunk : program->chunks) {
        chunk.firstInstruction = in.u32();
        chunk.instructionCount = in.u32();
        chunk.declaresLocals = in.u8() != 0 ? 1 : 0;
        chunk.functionBody = version >= kNestBlocksSince && in.u8() != 0 ? 1 : 0;
    }

    program->ifGroups.resize(readCount(in, kIfGroupBytes));
    for (BytecodeIfGroup& group : program->ifGroups) {
        group.branches.resize(readCount(in, kBranchBytes));
        for (BytecodeIfBranch& branch : group.branches) {
            branch.line = in.u32();
            branch.chunk = in.u32();
            branch.isElse = in.u8() != 0 ? 1 : 0;
        }
    }
    program->whileLoops = readLoops(in);
    program->repeatLoops = readLoops(in);
    program->numericForLoops = readLoops(in);
    program->genericForLoops = readLoops(in);

    if (version >= kNestBlocksSince) {
        program->nestBlocks.resize(readCount(in, kMinNestBytes));
        for (BytecodeNestBlock& nest : program->nestBlocks) {
            nest.line = in.u32();
            nest.chunk = in.u32();
            if (version >= kNestParentSince) {
                nest.parentChunk = in.u32();
                nest.label = in.string();
            } else {
                nest.parentChunk = 0;
                nest.label = labelFromLine(*program, nest.line);
            }
        }
    }

    program->functionDecls.resize(readCount(in, kMinDeclarationBytes));
    for (BytecodeFunctionDecl& decl : program->functionDecls) {
        decl.line = in.u32();
        decl.chunk = in.u32();
        decl.firstBodyLine = in.u32();
        decl.endLine = in.u32();
        decl.directory = in.string();
        if (version >= kPathSince) decl.path = in.string();
    }

    // Derived line data (kinds, block links, assignment shapes, fast forms) is rebuilt from
    // the tokens, never read.
    prepareParsedLines(program->lines);
    return program;
}

} // namespace cobalt
