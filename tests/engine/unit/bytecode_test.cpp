// Recursion limits of the bytecode compiler and interpreter on a small stack, the failures of
// malformed programs, and the inline runner against the nested-activation path on the same
// programs. What compiled scripts do is checked by the scripts in bytecode/.

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

/// An engine whose print output is collected, with helpers to compile and run programs.
struct Harness : EngineFixture {
    ProgramRef compile(std::string_view source)
    {
        auto program = std::make_shared<BytecodeProgram>();
        program->lines = engine.parseLines(source);
        engine.compileBytecodeChunk(*program, program->lines, 0, program->lines.size(), "", 0);
        return program;
    }

    /// Runs chunk 0 (from `start`) as the body of a script and returns what it returned.
    Variable run(const ProgramRef& program, uint32_t chunk = 0, uint32_t start = CobaltScript::kStartOfChunk)
    {
        BlockSignal signal = BlockSignal::None;
        return engine.executeBytecodeChunkInternal(program, chunk, signal, true, start);
    }

    /// The printed lines, then "error: " and the failure if there is one.
    std::string runProgram(const ProgramRef& program)
    {
        const std::string failure = failureOf([&] { run(program); });
        return output + (failure == "(no failure)" ? "" : "error: " + failure);
    }

    ProgramRef program;  // the program a malformed case damages
};

constexpr size_t kSmallStack = size_t{1} << 20;

// ===== recursion limits on a small stack =====

TEST(BytecodeRecursion, DeepNestingAndRunawayCallsFailWithTheRecursionError)
{
    std::string nesting;
    for (int i = 0; i < 20000; ++i) nesting += "if x\n";
    for (int i = 0; i < 20000; ++i) nesting += "end\n";
    Harness compiler, runner;
    std::string compiled, ran;
    onSmallStack(kSmallStack, [&] {
        compiled = failureOf([&] { compiler.compile(nesting); });
        ran = runner.runProgram(runner.compile("function f(n)\n  depth = n\n  return f(n + 1)\nend\nf(1)"));
    });
    EXPECT_NE(compiled.find(kRecursionTooDeep), std::string::npos) << compiled.substr(0, 200);
    EXPECT_NE(ran.find(kRecursionTooDeep), std::string::npos) << ran.substr(0, 200);
    EXPECT_TRUE(runner.engine.activeChunks.empty());
    EXPECT_TRUE(runner.engine.scopes.blocks.empty());
}

// ===== malformed programs =====

Instruction op(Opcode opcode, uint32_t operand) { return Instruction{opcode, operand, 0}; }

/// Appends `code` to the program's instructions and makes `chunk` run it; a new chunk with both
/// flags clear when `chunk` is past the end. Returns the chunk's index.
uint32_t setChunk(BytecodeProgram& program, uint32_t chunk, const std::vector<Instruction>& code)
{
    if (chunk >= program.chunks.size()) chunk = static_cast<uint32_t>(program.chunks.size()), program.chunks.emplace_back();
    program.chunks[chunk].firstInstruction = static_cast<uint32_t>(program.instructions.size());
    program.chunks[chunk].instructionCount = static_cast<uint32_t>(code.size());
    program.instructions.insert(program.instructions.end(), code.begin(), code.end());
    return chunk;
}

/// A while loop whose body is a plain chunk holding `code`, so that it runs in the inline runner.
void inlineBody(BytecodeProgram& program, const std::vector<Instruction>& code)
{
    program.whileLoops[0].chunk = setChunk(program, 99, code);
}

struct MalformedCase {
    const char* name;
    const char* source;
    std::function<void(Harness&, BytecodeProgram&)> damage;  // may also run the program itself first
    const char* expected;  // the failure, or "ok: " and the output of the damage step and a whole run
};

// An instruction whose index names no record of its kind, in the general and the inline runner.
const struct {
    Opcode opcode;
    const char* message;
    const char* inlineMessage;  // nullptr: the inline runner never runs the opcode
} kBadIndices[] = {
    {static_cast<Opcode>(200), "Invalid bytecode opcode 200", nullptr},
    {Opcode::Line, "Bytecode line index out of range", nullptr},
    {Opcode::InlineAssignment, "Bytecode line index out of range", nullptr},
    {Opcode::Return, "Bytecode line index out of range", nullptr},
    {Opcode::If, "Bytecode if-group index out of range", "Inline bytecode if-group index out of range"},
    {Opcode::While, "Bytecode while-loop index out of range", "Inline bytecode while-loop index out of range"},
    {Opcode::Repeat, "Bytecode repeat-loop index out of range", "Inline bytecode repeat-loop index out of range"},
    {Opcode::NumericFor, "Bytecode numeric-for index out of range", "Inline bytecode numeric-for index out of range"},
    {Opcode::GenericFor, "Bytecode generic-for index out of range", nullptr},
    {Opcode::FunctionDeclaration, "Bytecode function-declaration index out of range", nullptr},
    {Opcode::Nest, "Bytecode nest-block index out of range", nullptr},
};

TEST(BytecodeMalformed, EachBadIndexGivesItsMessage)
{
    for (const auto& row : kBadIndices) {
        for (const bool inlined : {false, true}) {
            if (inlined && !row.inlineMessage) continue;
            Harness harness;
            const ProgramRef program = harness.compile(inlined ? "while true\nend" : "print(1)");
            if (inlined) inlineBody(*program, {op(row.opcode, 99)}); else setChunk(*program, 0, {op(row.opcode, 99)});
            EXPECT_EQ(failureOf([&] { harness.run(program); }), inlined ? row.inlineMessage : row.message)
                << static_cast<int>(row.opcode) << (inlined ? " inline" : "");
            EXPECT_TRUE(harness.engine.activeChunks.empty());
        }
    }
}

const MalformedCase kMalformed[] = {
    {"declaration line", "function f()\nend", [](Harness&, BytecodeProgram& p) { p.functionDecls[0].line = 50; },
     "Bytecode line index out of range"},
    {"while line", "while false\nend", [](Harness&, BytecodeProgram& p) { p.whileLoops[0].line = 50; },
     "Bytecode line index out of range"},
    {"chunk range", "print(1)", [](Harness&, BytecodeProgram& p) { p.chunks[0].instructionCount = 3; },
     "Bytecode chunk range is out of bounds"},
    {"chunk index", "print(1)", [](Harness& h, BytecodeProgram&) { h.run(h.program, 7); },
     "Invalid bytecode chunk index"},
    {"start past the chunk", "print(1)\nprint(2)", [](Harness& h, BytecodeProgram&) { h.run(h.program, 0, 2); },
     "Bytecode jump target is outside the target chunk"},
    {"start inside the chunk", "print(1)\nprint(2)",
     [](Harness& h, BytecodeProgram&) { h.run(h.program, 0, 1), h.output += "|"; }, "ok: 2\n|1\n2\n"},
    // opcode 1 on another kind of line runs it as a line
    {"assignment opcode on other lines", "print(\"plain\")\nt = {}\nt[1] = 5\nprint(t[1])",
     [](Harness&, BytecodeProgram& p) {
         setChunk(p, 0, {op(Opcode::InlineAssignment, 0), op(Opcode::InlineAssignment, 1),
                         op(Opcode::InlineAssignment, 2), op(Opcode::InlineAssignment, 3)});
     },
     "ok: plain\n5\n"},
    // a return is never inline by itself; a cache that claims otherwise is refused
    {"inline return", "while true\nend\nreturn 1",
     [](Harness& h, BytecodeProgram& p) {
         inlineBody(p, {op(Opcode::Return, 2)});
         if (h.run(h.program).toString() != "1") throw std::runtime_error("no return");
         p.inlineEligibility[p.chunks.size() - 1] = 2;
     },
     "Unexpected non-inline opcode"},
};

TEST(BytecodeMalformed, EachDamageGivesItsMessageAndLeavesNoActiveChunk)
{
    for (const MalformedCase& row : kMalformed) {
        Harness harness;
        harness.program = harness.compile(row.source);
        std::string failure = failureOf([&] { row.damage(harness, *harness.program); });
        if (failure == "(no failure)") failure = failureOf([&] { harness.run(harness.program); });
        EXPECT_EQ(failure == "(no failure)" ? "ok: " + harness.output : failure, row.expected) << row.name;
        EXPECT_TRUE(harness.engine.activeChunks.empty()) << row.name;
    }
}

TEST(BytecodeMalformed, BackwardBlockLinksAreRejectedInsteadOfLooping)
{
    Harness harness;
    ParsedLines chain = harness.engine.parseLines("if a\nelse\nend");
    chain[1].nextBranch = 0;  // an else that points back at its if
    ParsedLines loop = harness.engine.parseLines("print(1)\nwhile x\nend");
    loop[1].matchingEnd = 0;
    for (ParsedLines* lines : {&chain, &loop}) {
        BytecodeProgram program;
        EXPECT_EQ(failureOf([&] { harness.engine.compileBytecodeChunk(program, *lines, 0, lines->size(), "", 0); }),
                  lines == &chain ? "Invalid if-chain while compiling bytecode" : "Missing 'end' for while block");
    }
}

TEST(BytecodeMalformed, ChunkThatContainsItselfEndsInTheRecursionError)
{
    Harness harness;
    const ProgramRef program = harness.compile("if true\nend");
    program->ifGroups[0].branches[0].chunk = 0;
    std::string failure;
    onSmallStack(kSmallStack, [&] { failure = harness.runProgram(program); });
    EXPECT_NE(failure.find(kRecursionTooDeep), std::string::npos) << failure;
    EXPECT_TRUE(harness.engine.activeChunks.empty());
    EXPECT_EQ(program->inlineEligibility[0], 1);
}

// ===== inline runner against nested activations =====

/// The same program with every nested chunk's flags cleared where that is allowed (no local
/// declarations), so that its block bodies qualify for the inline runner.
ProgramRef withPlainBlockBodies(const ProgramRef& compiled)
{
    auto plain = std::make_shared<BytecodeProgram>(*compiled);
    plain->inlineEligibility.clear();
    plain->ownScopeNeeds.clear();
    for (size_t chunk = 1; chunk < plain->chunks.size(); ++chunk) plain->chunks[chunk].functionBody = 0;
    return plain;
}

size_t inlinedChunks(const BytecodeProgram& program)
{
    size_t count = 0;
    for (uint8_t known : program.inlineEligibility) count += known == 2 ? 1 : 0;
    return count;
}

TEST(BytecodeInlineRunner, GivesTheResultsOfNestedActivations)
{
    const char* const programs[] = {
        // loops, break, compound assignment
        "total = 0\nfor i = 1, 10\n  if i % 2 == 0\n    total += i\n  elseif i == 9\n    break\n  else\n"
        "    total = total - 1\n  end\nend\nprint(total)\n"
        "n = 0\nrepeat\n  n = n + 1\n  while n % 3 != 0\n    n = n + 1\n  end\nuntil n > 10\nprint(n)",
        // a counter that would leave the int range ends the loop
        "for i = 2147483646, 2147483647\n  print(i)\nend\nfor i = 3, 1, -1\n  print(i)\nend",
        // jumps out of inline bodies, to a nest of the running chunk
        "n = 0\nnest \"again\"\n  n = n + 1\nend\nwhile true\n  if n < 3\n    jumpTo(\"again\")\n  end\n"
        "  break\nend\nprint(n)",
        // a soft error inside a protected function stops everything up to pcall
        "function work()\n  error(\"boom\")\nend\ni = 0\nwhile i < 3\n  i = i + 1\n  ok, message = pcall(work)\n"
        "  print(ok)\n  print(message)\nend",
        // a failure inside a body is positioned at its line
        "x = 0\nfor i = 1, 3\n  if i == 2\n    y = i \\ x\n  end\n  print(i)\nend",
        // a jump to an unknown label
        "i = 0\nwhile i < 2\n  i = i + 1\n  jumpTo(\"missing\")\n  print(\"after\")\nend",
    };
    for (const char* source : programs) {
        Harness nested, inlined;
        const ProgramRef compiled = nested.compile(source);
        const ProgramRef plain = withPlainBlockBodies(inlined.compile(source));
        EXPECT_EQ(inlined.runProgram(plain), nested.runProgram(compiled)) << source;
        EXPECT_EQ(inlinedChunks(*compiled), 0u) << source;
        EXPECT_GT(inlinedChunks(*plain), 0u) << "the inline runner was not used: " << source;
        EXPECT_TRUE(inlined.engine.activeChunks.empty() && inlined.engine.scopes.loops.empty() &&
                    inlined.engine.scopes.blocks.empty()) << source;
    }
}

} // namespace
} // namespace cobalt
