// The bytecode compiler (checked through golden disassembly), recursion limits on a small
// stack, the failures of malformed programs, and the inline runner against the nested-activation
// path on the same programs. What compiled scripts do is checked by the scripts in bytecode/.

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytecode/disassembler.h"
#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

/// An engine whose print output is collected, with helpers to compile and run text.
class Harness {
public:
    Harness()
    {
        engine.printHandler = [this](std::string_view line) { output += std::string(line) + "\n"; };
    }

    ProgramRef compile(std::string_view source)
    {
        auto program = std::make_shared<BytecodeProgram>();
        program->lines = engine.parseLines(source);
        engine.compileBytecodeChunk(*program, program->lines, 0, program->lines.size(), "", 0);
        return program;
    }

    /// Runs chunk 0 as the body of a script and returns what it returned.
    Variable run(const ProgramRef& program, BlockSignal* signalOut = nullptr)
    {
        BlockSignal signal = BlockSignal::None;
        Variable value = engine.executeBytecodeChunkInternal(program, 0, signal, true);
        if (signalOut) *signalOut = signal;
        return value;
    }

    /// Compiles and runs `source`; returns the printed lines, or "error: " and the failure.
    std::string runText(std::string_view source) { return runProgram(compile(source)); }

    std::string runProgram(const ProgramRef& program)
    {
        try {
            run(program);
        } catch (const std::exception& error) {
            output += std::string("error: ") + error.what();
        }
        return output;
    }

    /// The message of the failure that running `program` raises ("" when none).
    std::string failureOf(const ProgramRef& program)
    {
        try {
            run(program);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }

    CobaltScript engine;
    std::string output;
};

/// Runs `work` on a thread with a 1 MiB stack, like the small worker threads an embedder may
/// use, so that the recursion guard is tested against a stack of known size.
void onSmallStack(const std::function<void()>& work)
{
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, size_t{1} << 20), 0);
    pthread_t thread;
    auto entry = [](void* task) -> void* {
        (*static_cast<const std::function<void()>*>(task))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

std::string compileFailure(std::string_view source)
{
    Harness harness;
    try {
        harness.compile(source);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

std::string dump(std::string_view source)
{
    Harness harness;
    return disassembleProgram(*harness.compile(source));
}

// ===== compiler =====

TEST(BytecodeCompiler, IfChainIsOneGroupWithOnlyTheLastBranchMarkedElse)
{
    EXPECT_EQ(dump("if a == 1\n"
                   "  print(\"one\")\n"
                   "elseif a == 2\n"
                   "  print(\"two\")\n"
                   "elseif a == 3\n"
                   "else\n"
                   "  print(\"other\")\n"
                   "end\n"
                   "print(a)"),
              "program version 60: 9 lines, 5 chunks, 5 instructions\n"
              "chunk 0 top-level: first 3, count 2\n"
              "  0003  if             0\n"
              "  0004  line           8  print(a)\n"
              "chunk 1 body: first 0, count 1\n"
              "  0000  line           1  print(\"one\")\n"
              "chunk 2 body: first 1, count 1\n"
              "  0001  line           3  print(\"two\")\n"
              "chunk 3 body: first 2, count 0\n"
              "chunk 4 body: first 2, count 1\n"
              "  0002  line           6  print(\"other\")\n"
              "if-group 0\n"
              "  if      line 0 -> chunk 1  if a == 1\n"
              "  elseif  line 2 -> chunk 2  elseif a == 2\n"
              "  elseif  line 4 -> chunk 3  elseif a == 3\n"
              "  else    line 5 -> chunk 4  else\n");
}

TEST(BytecodeCompiler, NestedChunksGetHigherIndicesButEarlierInstructions)
{
    EXPECT_EQ(dump("nest \"outer\"\n"
                   "  function f(x)\n"
                   "    while x > 0\n"
                   "      x -= 1\n"
                   "    end\n"
                   "    return x\n"
                   "  end\n"
                   "end"),
              "program version 60: 8 lines, 4 chunks, 5 instructions\n"
              "chunk 0 top-level: first 4, count 1\n"
              "  0004  nest           0\n"
              "chunk 1 body: first 3, count 1\n"
              "  0003  function       0\n"
              "chunk 2 body: first 1, count 2\n"
              "  0001  while          0\n"
              "  0002  return         5  return x\n"
              "chunk 3 body: first 0, count 1\n"
              "  0000  line           3  x -= 1\n"
              "while 0: line 2 -> chunk 3  while x > 0\n"
              "nest 0: line 0 -> chunk 1, in chunk 0, label \"outer\"\n"
              "function 0: line 1 -> chunk 2, body lines 2..6  function f(x)\n");
}

TEST(BytecodeDisassembler, DumpsMalformedProgramsWithoutFailing)
{
    BytecodeProgram program;
    program.path = "bot.cbs";
    program.instructions = {Instruction{Opcode::Line, 7, 0}, Instruction{static_cast<Opcode>(200), 1, 3}};
    program.chunks = {BytecodeChunk{0, 2, 0, 0}, BytecodeChunk{1, 5, 1, 1}};
    program.nestBlocks.push_back(BytecodeNestBlock{9, 1, 0, "say \"hi\""});
    program.ifGroups.push_back(BytecodeIfGroup{{BytecodeIfBranch{4, 1, 0}}});
    EXPECT_EQ(disassembleProgram(program),
              "program version 60: 0 lines, 2 chunks, 2 instructions\n"
              "path \"bot.cbs\"\n"
              "chunk 0 top-level: first 0, count 2\n"
              "  0000  line           7  (line out of range)\n"
              "  0001  opcode 200     1 (second operand 3)\n"
              "chunk 1 body, declares locals: first 1, count 5\n"
              "  (instruction range out of bounds)\n"
              "if-group 0\n"
              "  branch  line 4 -> chunk 1  (line out of range)\n"
              "nest 0: line 9 -> chunk 1, in chunk 0, label \"say \\\"hi\\\"\"\n");
}

TEST(BytecodeCompiler, BackwardBlockLinksAreRejectedInsteadOfLooping)
{
    Harness harness;
    ParsedLines lines = harness.engine.parseLines("if a\nelse\nend");
    lines[1].nextBranch = 0;  // an else that points back at its if
    BytecodeProgram program;
    EXPECT_THROW(
        {
            try {
                harness.engine.compileBytecodeChunk(program, lines, 0, lines.size(), "", 0);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Invalid if-chain while compiling bytecode");
                throw;
            }
        },
        std::runtime_error);

    ParsedLines loop = harness.engine.parseLines("print(1)\nwhile x\nend");
    loop[1].matchingEnd = 0;
    BytecodeProgram loopProgram;
    EXPECT_THROW(harness.engine.compileBytecodeChunk(loopProgram, loop, 0, loop.size(), "", 0), std::runtime_error);
}

TEST(BytecodeCompiler, DeepNestingFailsWithTheRecursionError)
{
    std::string source;
    for (int i = 0; i < 20000; ++i) source += "if x\n";
    for (int i = 0; i < 20000; ++i) source += "end\n";
    std::string failure;
    onSmallStack([&] { failure = compileFailure(source); });
    EXPECT_NE(failure.find(kRecursionTooDeep), std::string::npos) << failure.substr(0, 200);
}

// ===== interpreter =====

TEST(BytecodeInterpreter, RunawayRecursionIsAScriptError)
{
    Harness harness;
    std::string result;
    onSmallStack([&] { result = harness.runText("function f(n)\n  depth = n\n  return f(n + 1)\nend\nf(1)"); });
    EXPECT_NE(result.find(kRecursionTooDeep), std::string::npos) << result.substr(0, 200);
    EXPECT_TRUE(harness.engine.activeChunks.empty());
    EXPECT_TRUE(harness.engine.scopes.blocks.empty());
}

// ===== malformed programs =====

/// A program over real lines whose instructions are then replaced by hand.
struct HandBuilt {
    Harness harness;
    ProgramRef program;

    explicit HandBuilt(std::string_view source) : program(harness.compile(source)) {}

    /// Makes chunk 0 the given instructions (appended at the end of the list).
    void setChunk0(std::vector<Instruction> code)
    {
        program->chunks[0].firstInstruction = static_cast<uint32_t>(program->instructions.size());
        program->chunks[0].instructionCount = static_cast<uint32_t>(code.size());
        program->instructions.insert(program->instructions.end(), code.begin(), code.end());
    }

    /// Adds a chunk with both flags clear holding `code`; returns its index.
    uint32_t addPlainChunk(std::vector<Instruction> code)
    {
        BytecodeChunk chunk;
        chunk.firstInstruction = static_cast<uint32_t>(program->instructions.size());
        chunk.instructionCount = static_cast<uint32_t>(code.size());
        program->instructions.insert(program->instructions.end(), code.begin(), code.end());
        program->chunks.push_back(chunk);
        return static_cast<uint32_t>(program->chunks.size() - 1);
    }

    std::string failure() { return harness.failureOf(program); }
};

Instruction op(Opcode opcode, uint32_t operand) { return Instruction{opcode, operand, 0}; }

TEST(BytecodeMalformed, ChunkIndexRangeAndStartAreChecked)
{
    HandBuilt built("print(1)\nprint(2)");
    BlockSignal signal = BlockSignal::None;
    CobaltScript& engine = built.harness.engine;
    auto failureOf = [&](uint32_t chunk, uint32_t start) -> std::string {
        try {
            engine.executeBytecodeChunkInternal(built.program, chunk, signal, true, start);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    };
    EXPECT_EQ(failureOf(7, CobaltScript::kStartOfChunk), "Invalid bytecode chunk index");
    EXPECT_EQ(failureOf(0, 2), "Bytecode jump target is outside the target chunk");
    EXPECT_EQ(failureOf(0, 1), "");
    EXPECT_EQ(built.harness.output, "2\n");
    built.program->chunks[0].instructionCount = 3;
    EXPECT_EQ(failureOf(0, CobaltScript::kStartOfChunk), "Bytecode chunk range is out of bounds");
    EXPECT_TRUE(engine.activeChunks.empty());
}

TEST(BytecodeMalformed, SideListIndicesAreCheckedPerOpcode)
{
    const std::vector<std::pair<Instruction, std::string>> cases{
        {op(Opcode::Line, 99), "Bytecode line index out of range"},
        {op(Opcode::InlineAssignment, 99), "Bytecode line index out of range"},
        {op(Opcode::Return, 99), "Bytecode line index out of range"},
        {op(Opcode::If, 99), "Bytecode if-group index out of range"},
        {op(Opcode::While, 99), "Bytecode while-loop index out of range"},
        {op(Opcode::Repeat, 99), "Bytecode repeat-loop index out of range"},
        {op(Opcode::NumericFor, 99), "Bytecode numeric-for index out of range"},
        {op(Opcode::GenericFor, 99), "Bytecode generic-for index out of range"},
        {op(Opcode::FunctionDeclaration, 99), "Bytecode function-declaration index out of range"},
        {op(Opcode::Nest, 99), "Bytecode nest-block index out of range"},
        {op(static_cast<Opcode>(200), 0), "Invalid bytecode opcode 200"},
    };
    for (const auto& [instruction, message] : cases) {
        HandBuilt built("print(1)");
        built.setChunk0({instruction});
        EXPECT_EQ(built.failure(), message) << opcodeName(instruction.opcode);
        EXPECT_TRUE(built.harness.engine.activeChunks.empty());
    }

    HandBuilt declaration("function f()\nend");
    declaration.program->functionDecls[0].line = 50;
    EXPECT_EQ(declaration.failure(), "Bytecode line index out of range");

    HandBuilt loop("while false\nend");
    loop.program->whileLoops[0].line = 50;
    EXPECT_EQ(loop.failure(), "Bytecode line index out of range");
}

TEST(BytecodeMalformed, OpcodeOneOnAnotherLineRunsItAsALine)
{
    HandBuilt built("print(\"plain\")\nt = {}\nt[1] = 5\nprint(t[1])");
    built.setChunk0({op(Opcode::InlineAssignment, 0), op(Opcode::InlineAssignment, 1),
                     op(Opcode::InlineAssignment, 2), op(Opcode::InlineAssignment, 3)});
    EXPECT_EQ(built.failure(), "");
    EXPECT_EQ(built.harness.output, "plain\n5\n");
}

TEST(BytecodeMalformed, InlineRunnerReportsItsOwnIndexMessages)
{
    const std::vector<std::pair<Instruction, std::string>> cases{
        {op(Opcode::If, 99), "Inline bytecode if-group index out of range"},
        {op(Opcode::While, 99), "Inline bytecode while-loop index out of range"},
        {op(Opcode::Repeat, 99), "Inline bytecode repeat-loop index out of range"},
        {op(Opcode::NumericFor, 99), "Inline bytecode numeric-for index out of range"},
    };
    for (const auto& [instruction, message] : cases) {
        // while true: the body is a plain chunk, so it runs in the inline runner.
        HandBuilt built("while true\nend");
        uint32_t body = built.addPlainChunk({instruction});
        built.program->whileLoops[0].chunk = body;
        EXPECT_EQ(built.failure(), message);
        EXPECT_EQ(built.program->inlineEligibility[body], 2);
    }
}

TEST(BytecodeMalformed, OpcodeTheInlineRunnerCannotRunIsReported)
{
    HandBuilt built("while true\nend\nreturn 1");
    uint32_t body = built.addPlainChunk({op(Opcode::Return, 2)});
    built.program->whileLoops[0].chunk = body;
    // Not eligible by itself (a return never is), so the nested activation returns ...
    BlockSignal signal = BlockSignal::None;
    EXPECT_EQ(built.harness.run(built.program, &signal).asInt(), 1);
    // ... but a cache that claims otherwise sends it to the inline runner, which refuses.
    built.program->inlineEligibility[body] = 2;
    EXPECT_EQ(built.failure(), "Unexpected non-inline opcode");
}

TEST(BytecodeMalformed, ChunkThatContainsItselfEndsInTheRecursionError)
{
    HandBuilt built("if true\nend");
    built.program->ifGroups[0].branches[0].chunk = 0;
    std::string failure;
    onSmallStack([&] { failure = built.failure(); });
    EXPECT_NE(failure.find(kRecursionTooDeep), std::string::npos) << failure;
    EXPECT_TRUE(built.harness.engine.activeChunks.empty());
    EXPECT_EQ(built.program->inlineEligibility[0], 1);
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

class InlineRunnerEquivalence : public ::testing::TestWithParam<const char*> {};

TEST_P(InlineRunnerEquivalence, GivesTheResultsOfNestedActivations)
{
    Harness nested;
    ProgramRef compiled = nested.compile(GetParam());
    const std::string expected = nested.runProgram(compiled);
    EXPECT_EQ(inlinedChunks(*compiled), 0u);

    Harness inlined;
    ProgramRef plain = withPlainBlockBodies(inlined.compile(GetParam()));
    const std::string actual = inlined.runProgram(plain);
    EXPECT_EQ(actual, expected);
    EXPECT_GT(inlinedChunks(*plain), 0u) << "the inline runner was not used";
    EXPECT_TRUE(inlined.engine.activeChunks.empty());
    EXPECT_TRUE(inlined.engine.scopes.loops.empty());
    EXPECT_TRUE(inlined.engine.scopes.blocks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Programs, InlineRunnerEquivalence,
    ::testing::Values(
        // loops, break, compound assignment
        "total = 0\n"
        "for i = 1, 10\n"
        "  if i % 2 == 0\n"
        "    total += i\n"
        "  elseif i == 9\n"
        "    break\n"
        "  else\n"
        "    total = total - 1\n"
        "  end\n"
        "end\n"
        "print(total)\n"
        "n = 0\n"
        "repeat\n"
        "  n = n + 1\n"
        "  while n % 3 != 0\n"
        "    n = n + 1\n"
        "  end\n"
        "until n > 10\n"
        "print(n)",
        // a counter that would leave the int range ends the loop
        "for i = 2147483646, 2147483647\n"
        "  print(i)\n"
        "end\n"
        "for i = 3, 1, -1\n"
        "  print(i)\n"
        "end",
        // jumps out of inline bodies, to a nest of the running chunk
        "n = 0\n"
        "nest \"again\"\n"
        "  n = n + 1\n"
        "end\n"
        "while true\n"
        "  if n < 3\n"
        "    jumpTo(\"again\")\n"
        "  end\n"
        "  break\n"
        "end\n"
        "print(n)",
        // a soft error inside a protected function stops everything up to pcall
        "function work()\n"
        "  error(\"boom\")\n"
        "end\n"
        "i = 0\n"
        "while i < 3\n"
        "  i = i + 1\n"
        "  ok, message = pcall(work)\n"
        "  print(ok)\n"
        "  print(message)\n"
        "end",
        // a failure inside a body is positioned at its line
        "x = 0\n"
        "for i = 1, 3\n"
        "  if i == 2\n"
        "    y = i \\ x\n"
        "  end\n"
        "  print(i)\n"
        "end",
        // a jump to an unknown label
        "i = 0\n"
        "while i < 2\n"
        "  i = i + 1\n"
        "  jumpTo(\"missing\")\n"
        "  print(\"after\")\n"
        "end"));

} // namespace
} // namespace cobalt
