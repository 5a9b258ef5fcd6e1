// The bytecode compiler: turns a range of parsed lines into one chunk of block instructions.
// Expressions are not compiled here; a line instruction hands its parsed line to the
// statement executor, and block statements point at side records whose bodies are chunks
// compiled recursively. Nested chunks are appended to the instruction list while their
// parent is still collecting its own instructions, so every chunk stays contiguous and an
// inner chunk's instructions lie before its parent's.

#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

/// A block link that can be followed: it exists, stays inside the lines and points forward.
/// A link that points back at or before its own line would make the walk revisit lines, so
/// it is treated like a missing one.
bool forwardLink(uint64_t link, uint64_t from, size_t lineCount)
{
    return link != kNoLine && link < lineCount && link > from;
}

bool declaresLocal(const ParsedScriptLine& line)
{
    return line.kind == StatementKind::LocalFunction ||
           (line.kind == StatementKind::Simple && line.scopeModifier == ScopeModifier::Local);
}

/// The label of a `nest "label"` line: its decoded string literal, or empty when the line
/// carries none (line preparation has already rejected malformed labels).
std::string nestLabel(const ParsedScriptLine& line)
{
    if (line.tokens.size() < 2 || !isQuotedToken(line.tokens[1])) return {};
    return decodeStringToken(line.tokens[1]);
}

/// `for name = ...` is the numeric form; every other `for` iterates.
bool isNumericForLine(const ParsedScriptLine& line)
{
    if (line.tokens.size() < 4 || line.tokens[2] != "=") return false;
    if (line.analyses.size() == line.tokens.size()) return line.analyses[1].isIdentifier;
    return isIdentifierToken(line.tokens[1]);
}

/// A single plain-name `=` assignment whose one right side has a fast form. Such a line can
/// be run by the interpreter without the general assignment path. Compound operators and
/// indexed or multiple targets always take the general path, which keeps the choice
/// trivially equivalent to opcode 0.
bool qualifiesForInlineAssignment(const ParsedScriptLine& line)
{
    if (line.kind != StatementKind::Simple || !line.isAssignment) return false;
    if (line.assignmentTargets.size() != 1 || !line.assignmentTargets[0].indexRanges.empty()) return false;
    if (line.assignmentTargets[0].nameIndex >= line.tokens.size()) return false;
    if (line.assignOperatorIndex >= line.tokens.size() || line.tokens[line.assignOperatorIndex] != "=") {
        return false;
    }
    if (line.exprRanges.size() != 1 || line.exprFast.empty()) return false;
    return line.exprFast[0].valid() && !line.exprFast[0].hasContainerLiteral;
}

struct ChunkCompiler {
    CobaltScript& engine;
    BytecodeProgram& program;
    const ParsedLines& lines;
    const std::string& directory;

    uint32_t chunkIndex = 0;
    bool declaresLocals = false;
    std::vector<Instruction> code;  // this chunk's own instructions

    void emit(Opcode opcode, size_t operand)
    {
        code.push_back(Instruction{opcode, static_cast<uint32_t>(operand), 0});
    }

    uint32_t nested(uint64_t start, uint64_t end)
    {
        return engine.compileBytecodeChunk(program, lines, start, end, directory, 1);
    }

    /// Fails with `message`, naming the statement at `index` as the position: a host shows a
    /// script that does not compile with the line of the block at fault.
    [[noreturn]] void failAt(uint64_t index, const char* message) const
    {
        engine.setPositionContext(lines[index]);
        fail(message);
    }

    /// The closing line of a block opener, or a failure with `message`.
    uint64_t closingLine(uint64_t index, const char* message) const
    {
        uint64_t end = lines[index].matchingEnd;
        if (!forwardLink(end, index, lines.size())) failAt(index, message);
        return end;
    }

    // nest "label" ... end
    uint64_t compileNest(uint64_t index)
    {
        uint64_t end = closingLine(index, "Missing 'end' for nest block");
        uint32_t body = nested(index + 1, end);
        program.nestBlocks.push_back(
            BytecodeNestBlock{static_cast<uint32_t>(index), body, chunkIndex, nestLabel(lines[index])});
        emit(Opcode::Nest, program.nestBlocks.size() - 1);
        return end + 1;
    }

    // [decay|native|local] function target(parameters) ... end
    uint64_t compileFunction(uint64_t index)
    {
        uint64_t end = closingLine(index, "Missing 'end' for function block");
        uint32_t body = nested(index + 1, end);
        program.functionDecls.push_back(BytecodeFunctionDecl{static_cast<uint32_t>(index), body,
                                                             static_cast<uint32_t>(index + 1),
                                                             static_cast<uint32_t>(end), directory, program.path});
        emit(Opcode::FunctionDeclaration, program.functionDecls.size() - 1);
        return end + 1;
    }

    // if cond ... {elseif cond ...} [else ...] end: one group, one branch per chain line.
    uint64_t compileIf(uint64_t index)
    {
        BytecodeIfGroup group;
        uint64_t branch = index;
        while (true) {
            if (branch >= lines.size()) failAt(index, "Invalid if-chain while compiling bytecode");
            const ParsedScriptLine& line = lines[branch];
            bool hasNext = line.nextBranch != kNoLine;
            uint64_t bodyEnd = hasNext ? line.nextBranch : line.matchingEnd;
            if (bodyEnd == kNoLine || bodyEnd >= lines.size()) failAt(branch, "Missing 'end' for if block");
            if (bodyEnd <= branch) failAt(branch, "Invalid if-chain while compiling bytecode");
            uint32_t body = nested(branch + 1, bodyEnd);
            group.branches.push_back(BytecodeIfBranch{static_cast<uint32_t>(branch), body,
                                                      static_cast<uint8_t>(line.kind == StatementKind::Else)});
            if (!hasNext) break;
            branch = bodyEnd;
        }
        program.ifGroups.push_back(std::move(group));
        emit(Opcode::If, program.ifGroups.size() - 1);
        return lines[branch].matchingEnd + 1;
    }

    uint64_t compileLoop(uint64_t index, const char* missing, std::vector<BytecodeLoop>& records, Opcode opcode)
    {
        uint64_t end = closingLine(index, missing);
        uint32_t body = nested(index + 1, end);
        records.push_back(BytecodeLoop{static_cast<uint32_t>(index), body});
        emit(opcode, records.size() - 1);
        return end + 1;
    }

    // repeat ... until cond: the record names the until line, whose condition runs after the body.
    uint64_t compileRepeat(uint64_t index)
    {
        uint64_t until = closingLine(index, "Missing 'until' for repeat block");
        uint32_t body = nested(index + 1, until);
        program.repeatLoops.push_back(BytecodeLoop{static_cast<uint32_t>(until), body});
        emit(Opcode::Repeat, program.repeatLoops.size() - 1);
        return until + 1;
    }

    uint64_t compileFor(uint64_t index)
    {
        if (isNumericForLine(lines[index])) {
            return compileLoop(index, "Missing 'end' for for block", program.numericForLoops, Opcode::NumericFor);
        }
        return compileLoop(index, "Missing 'end' for for block", program.genericForLoops, Opcode::GenericFor);
    }

    /// Compiles the statement at `index` and returns the index of the next one to look at.
    uint64_t compileStatement(uint64_t index)
    {
        const ParsedScriptLine& line = lines[index];
        if (line.tokens.empty()) return index + 1;
        if (declaresLocal(line)) declaresLocals = true;
        switch (line.kind) {
        case StatementKind::Nest: return compileNest(index);
        case StatementKind::Return: emit(Opcode::Return, index); return index + 1;
        case StatementKind::Break: emit(Opcode::Break, index); return index + 1;
        case StatementKind::Function:
        case StatementKind::DecayFunction:
        case StatementKind::NativeFunction:
        case StatementKind::LocalFunction: return compileFunction(index);
        case StatementKind::If: return compileIf(index);
        case StatementKind::While:
            return compileLoop(index, "Missing 'end' for while block", program.whileLoops, Opcode::While);
        case StatementKind::Repeat: return compileRepeat(index);
        case StatementKind::For: return compileFor(index);
        case StatementKind::ElseIf:
        case StatementKind::Else:
        case StatementKind::End:
        case StatementKind::Until: return index + 1;
        case StatementKind::Empty:
        case StatementKind::Simple: break;
        }
        emit(qualifiesForInlineAssignment(line) ? Opcode::InlineAssignment : Opcode::Line, index);
        return index + 1;
    }
};

} // namespace

uint32_t CobaltScript::compileBytecodeChunk(BytecodeProgram& program, const ParsedLines& lines, uint64_t start,
                                            uint64_t end, const std::string& directory, uint8_t functionBody)
{
    checkNativeStack();
    ChunkCompiler compiler{*this, program, lines, directory, static_cast<uint32_t>(program.chunks.size()), false, {}};
    program.chunks.push_back(BytecodeChunk{0, 0, 0, functionBody});

    uint64_t index = start;
    while (index < end && index < lines.size()) index = compiler.compileStatement(index);

    // The record is looked up again: nested compilation may have reallocated the list.
    BytecodeChunk& chunk = program.chunks[compiler.chunkIndex];
    chunk.firstInstruction = static_cast<uint32_t>(program.instructions.size());
    chunk.instructionCount = static_cast<uint32_t>(compiler.code.size());
    chunk.declaresLocals = compiler.declaresLocals ? 1 : 0;
    program.instructions.insert(program.instructions.end(), compiler.code.begin(), compiler.code.end());
    return compiler.chunkIndex;
}

} // namespace cobalt
