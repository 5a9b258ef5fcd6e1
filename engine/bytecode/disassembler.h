#pragma once
// A readable text dump of a compiled program: every chunk with its instructions, then the
// side records the block instructions point at. Used by the tests as golden output and by
// the command-line runner to show what a script compiled to. Malformed programs (indices
// out of range, unknown opcodes) are dumped as they are, never rejected.

#include <string>
#include <string_view>

#include "engine/bytecode/bytecode_program.h"

namespace cobalt {

/// Short lower-case name of an opcode ("line", "numeric-for", ...); "opcode N" when unknown.
std::string opcodeName(Opcode opcode);

/// The whole program: header, chunks in index order, then the side lists.
std::string disassembleProgram(const BytecodeProgram& program);

} // namespace cobalt
