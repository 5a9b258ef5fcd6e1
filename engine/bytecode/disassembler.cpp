// Text dump of a compiled program. The layout is meant for people first: one chunk per
// heading, one instruction per line with its index in the program's instruction list, and
// the statement text beside every instruction that names a line.

#include "engine/bytecode/disassembler.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace cobalt {
namespace {

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written > 0) out.append(buffer, std::min(static_cast<size_t>(written), sizeof buffer - 1));
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    out += '"';
    return out;
}

bool operandIsLine(Opcode opcode)
{
    return opcode == Opcode::Line || opcode == Opcode::InlineAssignment || opcode == Opcode::Return ||
           opcode == Opcode::Break;
}

/// The statement a side record or instruction refers to, for the comment column.
void appendLineText(std::string& out, const BytecodeProgram& program, uint64_t line)
{
    if (line >= program.lines.size()) {
        out += "  (line out of range)";
        return;
    }
    const std::string& text = program.lines[line].text;
    if (!text.empty()) out += "  " + text;
}

void appendInstruction(std::string& out, const BytecodeProgram& program, size_t index)
{
    const Instruction& instruction = program.instructions[index];
    appendf(out, "  %04zu  %-14s %u", index, opcodeName(instruction.opcode).c_str(), instruction.operand);
    if (instruction.operand2 != 0) appendf(out, " (second operand %u)", instruction.operand2);
    if (operandIsLine(instruction.opcode)) appendLineText(out, program, instruction.operand);
    out += '\n';
}

void appendChunk(std::string& out, const BytecodeProgram& program, size_t index)
{
    const BytecodeChunk& chunk = program.chunks[index];
    appendf(out, "chunk %zu %s%s: first %u, count %u\n", index, chunk.functionBody ? "body" : "top-level",
            chunk.declaresLocals ? ", declares locals" : "", chunk.firstInstruction, chunk.instructionCount);
    uint64_t end = uint64_t{chunk.firstInstruction} + chunk.instructionCount;
    if (end > program.instructions.size()) {
        out += "  (instruction range out of bounds)\n";
        return;
    }
    for (uint64_t i = chunk.firstInstruction; i < end; ++i) appendInstruction(out, program, i);
}

const char* branchKeyword(const BytecodeProgram& program, const BytecodeIfBranch& branch)
{
    if (branch.isElse) return "else";
    if (branch.line < program.lines.size() && !program.lines[branch.line].tokens.empty()) {
        const std::string& first = program.lines[branch.line].tokens[0];
        if (first == "if") return "if";
        if (first == "elseif") return "elseif";
    }
    return "branch";
}

void appendLoops(std::string& out, const BytecodeProgram& program, const std::vector<BytecodeLoop>& loops,
                 const char* name, const char* lineWord)
{
    for (size_t i = 0; i < loops.size(); ++i) {
        appendf(out, "%s %zu: %s %u -> chunk %u", name, i, lineWord, loops[i].line, loops[i].chunk);
        appendLineText(out, program, loops[i].line);
        out += '\n';
    }
}

void appendSideRecords(std::string& out, const BytecodeProgram& program)
{
    for (size_t g = 0; g < program.ifGroups.size(); ++g) {
        appendf(out, "if-group %zu\n", g);
        for (const BytecodeIfBranch& branch : program.ifGroups[g].branches) {
            appendf(out, "  %-7s line %u -> chunk %u", branchKeyword(program, branch), branch.line, branch.chunk);
            appendLineText(out, program, branch.line);
            out += '\n';
        }
    }
    appendLoops(out, program, program.whileLoops, "while", "line");
    appendLoops(out, program, program.repeatLoops, "repeat", "until line");
    appendLoops(out, program, program.numericForLoops, "numeric-for", "line");
    appendLoops(out, program, program.genericForLoops, "generic-for", "line");
    for (size_t n = 0; n < program.nestBlocks.size(); ++n) {
        const BytecodeNestBlock& nest = program.nestBlocks[n];
        appendf(out, "nest %zu: line %u -> chunk %u, in chunk %u, label ", n, nest.line, nest.chunk,
                nest.parentChunk);
        out += quoted(nest.label) + '\n';
    }
    for (size_t f = 0; f < program.functionDecls.size(); ++f) {
        const BytecodeFunctionDecl& decl = program.functionDecls[f];
        appendf(out, "function %zu: line %u -> chunk %u, body lines %u..%u", f, decl.line, decl.chunk,
                decl.firstBodyLine, decl.endLine);
        appendLineText(out, program, decl.line);
        out += '\n';
    }
}

} // namespace

std::string opcodeName(Opcode opcode)
{
    switch (opcode) {
    case Opcode::Line: return "line";
    case Opcode::InlineAssignment: return "inline-assign";
    case Opcode::If: return "if";
    case Opcode::While: return "while";
    case Opcode::Repeat: return "repeat";
    case Opcode::NumericFor: return "numeric-for";
    case Opcode::GenericFor: return "generic-for";
    case Opcode::FunctionDeclaration: return "function";
    case Opcode::Return: return "return";
    case Opcode::Break: return "break";
    case Opcode::Nest: return "nest";
    }
    return "opcode " + std::to_string(static_cast<unsigned>(opcode));
}

std::string disassembleProgram(const BytecodeProgram& program)
{
    std::string out;
    appendf(out, "program version %u: %zu lines, %zu chunks, %zu instructions\n",
            static_cast<unsigned>(program.version), program.lines.size(), program.chunks.size(),
            program.instructions.size());
    if (!program.path.empty()) out += "path " + quoted(program.path) + '\n';
    for (size_t c = 0; c < program.chunks.size(); ++c) appendChunk(out, program, c);
    appendSideRecords(out, program);
    return out;
}

} // namespace cobalt
