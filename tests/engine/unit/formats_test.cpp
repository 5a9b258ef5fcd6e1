// Bytecode images and state snapshots: images of every readable version built by hand,
// corrupted and hostile images of both formats (table-driven), and hostile programs whose
// indices only the interpreter can check. (Compiled programs written and read again: the
// bytecode fuzzer's seeds; the random generator's sequence and snapshot: math/random.cbs and
// snapshots/round_trip.cbs.)

#include "tests/engine/unit/engine_fixture.h"

namespace cobalt {
namespace {

/// Little-endian image builder.
struct Image {
    std::vector<uint8_t> bytes;
    Image& u8(uint8_t v) { bytes.push_back(v); return *this; }
    Image& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    Image& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Image& u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32)); }
    Image& raw(const std::vector<uint8_t>& more) { bytes.insert(bytes.end(), more.begin(), more.end()); return *this; }
    Image& str(const std::string& s) { return u32(static_cast<uint32_t>(s.size())).raw({s.begin(), s.end()}); }
};

struct HandLine {
    std::string text;
    std::vector<std::string> tokens;
};

/// One program in the layout of `version`: a nest block "top" (from version 8) whose body
/// sets x, and a function f(a) returning a + 1. Before version 8 the nest line runs as a
/// plain statement instead.
std::vector<uint8_t> handBuiltProgram(uint16_t version)
{
    const std::vector<HandLine> lines = {
        {"nest \"top\"", {"nest", "\"top\""}}, {"x = 41", {"x", "=", "41"}}, {"end", {"end"}},
        {"function f(a)", {"function", "f", "(", "a", ")"}}, {"return a + 1", {"return", "a", "+", "1"}},
        {"end", {"end"}},
    };
    Image image;
    image.raw({'C', 'S', 'B', 'C'}).u16(version).str("dir");
    if (version >= 5) image.str("prog.cbs");
    image.u32(static_cast<uint32_t>(lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        image.str(lines[i].text);
        if (version >= 6) image.u32(static_cast<uint32_t>(10 + i));
        image.u32(static_cast<uint32_t>(lines[i].tokens.size()));
        for (const std::string& token : lines[i].tokens) image.str(token);
    }
    const bool hasNest = version >= 8;
    // 0: x = 41 (nest body), 1: return (f's body), 2: nest or x = 41, 3: declare f
    image.u32(4);
    image.u8(0).u32(1).u32(0);
    image.u8(8).u32(4).u32(0);
    if (hasNest) image.u8(10).u32(0).u32(0); else image.u8(0).u32(1).u32(0);
    image.u8(7).u32(0).u32(0);
    image.u32(3);
    for (auto [first, count] : {std::pair{2u, 2u}, std::pair{0u, 1u}, std::pair{1u, 1u}}) {
        image.u32(first).u32(count).u8(0);
        if (version >= 8) image.u8(first == 2 ? 0 : 1);
    }
    image.u32(0).u32(0).u32(0).u32(0).u32(0);  // if-groups and the four loop lists
    if (hasNest) {
        image.u32(1).u32(0).u32(1);
        if (version >= 60) image.u32(0).str("top");
    }
    image.u32(1).u32(3).u32(2).u32(4).u32(5).str("dir");
    if (version >= 5) image.str("prog.cbs");
    return image.bytes;
}

Variable runChunkZero(CobaltScript& engine, const ProgramRef& program)
{
    auto chunk = std::make_shared<ScriptCallable>();
    chunk->program = program;
    chunk->isLoadedChunk = true;
    return engine.invokeCallableFast(Variable(chunk), nullptr, 0);
}

class HandBuiltVersion : public ::testing::TestWithParam<uint16_t> {};

TEST_P(HandBuiltVersion, ReadsItsLayoutAndRuns)
{
    const uint16_t version = GetParam();
    CobaltScript engine;
    ProgramRef program = engine.deserialiseBytecode(handBuiltProgram(version), "hand");
    EXPECT_EQ(program->version, version);
    EXPECT_EQ(program->path + "|" + program->functionDecls.at(0).path, version >= 5 ? "prog.cbs|prog.cbs" : "|");
    EXPECT_EQ(program->lines.at(4).lineNumber, version >= 6 ? 14u : 4u);
    EXPECT_EQ(program->chunks.at(1).functionBody, version >= 8 ? 1 : 0);
    ASSERT_EQ(program->nestBlocks.size(), version >= 8 ? 1u : 0u);
    // the label read, or taken from the nest line
    EXPECT_TRUE(version < 8 || (program->nestBlocks[0].label == "top" && program->nestBlocks[0].parentChunk == 0u));
    // Reading analysed and prepared the lines again.
    EXPECT_TRUE(program->lines[1].analyses.size() == 3 && program->lines[1].isAssignment &&
                program->lines[3].kind == StatementKind::Function);

    runChunkZero(engine, program);
    EXPECT_EQ(engine.resolveVariablePtr("x")->asInt(), 41);
    Variable argument(int32_t{1});
    EXPECT_EQ(engine.invokeCallableFast(*engine.resolveVariablePtr("f"), &argument, 1).asInt(), 2);

    // Written back it is the current layout, and reads back to the same records.
    ProgramRef again = engine.deserialiseBytecode(engine.serialiseBytecode(*program), "again");
    EXPECT_EQ(again->version, 60);
    EXPECT_EQ(engine.serialiseBytecode(*again), engine.serialiseBytecode(*program));
}

INSTANTIATE_TEST_SUITE_P(Formats, HandBuiltVersion, ::testing::Values(4, 5, 6, 7, 8, 60));

struct BadImage {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string message;
};

/// Each image, read by `read` on a fresh engine, fails with exactly its message.
template <typename Read>
void expectEachRejected(const std::vector<BadImage>& cases, Read read)
{
    for (const BadImage& bad : cases) {
        CobaltScript engine;
        EXPECT_EQ(failureOf([&] { read(engine, bad.bytes); }), bad.message) << bad.what;
    }
}

std::vector<uint8_t> magicAndVersion(uint16_t version)
{
    return Image().raw({'C', 'S', 'B', 'C'}).u16(version).bytes;
}

TEST(BytecodeImage, BadImagesFailWithTheirMessage)
{
    const std::string truncated = "Invalid bytecode file (truncated): img";
    const auto named = [] { return Image().raw(magicAndVersion(60)).str("").str(""); };  // up to the path
    const std::vector<BadImage> cases = {
        {"empty", {}, truncated},
        {"bad magic", Image().raw({'C', 'S', 'B', 'X'}).u16(60).bytes, "Invalid bytecode file (bad magic): img"},
        {"version 9", magicAndVersion(9), "Unsupported bytecode version: 9"},
        {"version 3", magicAndVersion(3), "Unsupported bytecode version: 3"},
        {"no version", Image().raw({'C', 'S', 'B', 'C'}).u8(60).bytes, truncated},
        {"huge string", Image().raw(magicAndVersion(60)).u32(0xFFFFFFFFu).bytes, truncated},
        {"huge line count", named().u32(0xFFFFFFFFu).bytes, truncated},
        {"huge token count", named().u32(1).str("x").u32(0).u32(0x40000000u).bytes, truncated},
        {"huge instruction count", named().u32(0).u32(0x7FFFFFFFu).bytes, truncated},
        {"huge branch count", named().u32(0).u32(0).u32(0).u32(1).u32(0xFFFFFFF0u).bytes, truncated},
        {"missing declarations", named().u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).bytes, truncated},
    };
    expectEachRejected(cases, [](CobaltScript& engine, const std::vector<uint8_t>& bytes) {
        engine.deserialiseBytecode(bytes, "img");
    });
}

/// A program whose only chunk runs `instruction`, with the records `add` puts in.
ProgramRef hostileProgram(Opcode opcode, const std::function<void(BytecodeProgram&)>& add = {})
{
    auto program = std::make_shared<BytecodeProgram>();
    program->lines.resize(1);
    program->lines[0].tokens = {"y", "=", "1"};
    program->lines[0].text = "y = 1";
    program->instructions.push_back(Instruction{opcode, 0, 0});
    program->chunks.push_back(BytecodeChunk{0, 1, 0, 0});
    if (add) add(*program);
    return program;
}

// Records whose indices only the interpreter can check (the per-opcode index checks, and the
// line of each record kind, are in the bytecode interpreter's own tests).
TEST(BytecodeImage, HostileIndicesFailWhenRun)
{
    const struct {
        const char* what;
        ProgramRef program;
        std::string message;
    } cases[] = {
        {"nest naming its own chunk",
         hostileProgram(Opcode::Nest, [](BytecodeProgram& p) { p.nestBlocks.push_back(BytecodeNestBlock{0, 0, 0, ""}); }),
         kRecursionTooDeep},
        {"wrapping range", hostileProgram(Opcode::Line, [](BytecodeProgram& p) { p.chunks[0] = {0xFFFFFFF0u, 0x20u, 0, 0}; }),
         "Bytecode chunk range is out of bounds"},
        {"branch line",
         hostileProgram(Opcode::If, [](BytecodeProgram& p) { p.ifGroups.push_back({{BytecodeIfBranch{77, 0, 0}}}); }),
         "Bytecode line index out of range"},
        {"nest body",
         hostileProgram(Opcode::Nest, [](BytecodeProgram& p) { p.nestBlocks.push_back(BytecodeNestBlock{0, 12345, 0, ""}); }),
         "Invalid bytecode chunk index"},
    };
    for (const auto& bad : cases) {
        CobaltScript engine;
        const std::string failure = failureOf([&] { runChunkZero(engine, bad.program); });
        EXPECT_NE(failure.find(bad.message), std::string::npos) << bad.what << ": " << failure;
    }
}

TEST(BytecodeImage, SelfNamedBodiesDoNotRecurseForEver)
{
    // A nest block and an if-group that name their own chunk as body: registering the
    // labels and testing inline eligibility must end.
    auto function = std::make_shared<ScriptCallable>();
    function->program = hostileProgram(Opcode::Nest, [](BytecodeProgram& p) {
        p.instructions.push_back(Instruction{Opcode::If, 0, 0});
        p.chunks[0].instructionCount = 2;
        p.nestBlocks.push_back(BytecodeNestBlock{0, 0, 0, "loop"});
        p.ifGroups.push_back(BytecodeIfGroup{{BytecodeIfBranch{0, 0, 1}, BytecodeIfBranch{0, 0, 1}}});
    });
    CobaltScript engine;
    engine.registerCallableNestLabelsRecursive(function, 0);
    EXPECT_EQ(engine.loader.jumpTargets.count("loop"), 1u);
}

// ----- state snapshots -----

std::vector<uint8_t> snapshotHeader(uint32_t version, uint32_t entries, const std::string& random = "")
{
    return Image().raw({'C', 'S', 'S', 'T'}).u32(version).str(random).u32(entries).bytes;
}

std::vector<uint8_t> functionRecord(const std::vector<uint8_t>& program, uint32_t chunk, uint64_t scope)
{
    return Image().u8(9).u8(0).u8(0).u32(chunk).str("").str("").u64(scope).u32(1).str("a")
        .u32(static_cast<uint32_t>(program.size())).raw(program).bytes;
}

TEST(StateSnapshot, BadSnapshotsFailWithTheirMessage)
{
    CobaltScript compiler;
    const std::vector<uint8_t> program = compiler.serialiseBytecode(*compiler.compileToBytecodeInternal("x = 1"));
    Image deep;
    deep.raw(snapshotHeader(2, 1)).str("d");
    for (int i = 0; i < 300; ++i) deep.u8(6).u32(1);
    const std::string name = "<raw-state>", truncated = "Invalid state file (truncated): " + name;
    const std::vector<BadImage> cases = {
        {"short", {'C', 'S', 'S'}, truncated},
        {"magic", Image().raw({'C', 'S', 'B', 'C'}).u32(2).bytes, "Invalid state file (bad magic): " + name},
        {"version", snapshotHeader(3, 0), "Unsupported state version: 3"},
        {"random", snapshotHeader(2, 0, "1 2 3"), "Invalid state file (bad random generator state): " + name},
        {"huge entry count", snapshotHeader(2, 0xFFFFFFFFu), truncated},
        {"huge array", Image().raw(snapshotHeader(2, 1)).str("a").u8(6).u32(0x7FFFFFFFu).bytes, truncated},
        {"huge table", Image().raw(snapshotHeader(2, 1)).str("a").u8(8).u32(0x10000000u).u8(0).bytes, truncated},
        {"tag", Image().raw(snapshotHeader(2, 1)).str("a").u8(10).bytes,
         "Invalid state file (unknown value tag): " + name},
        {"nesting", deep.bytes, "Invalid state file (container nesting too deep): " + name},
        {"chunk", Image().raw(snapshotHeader(2, 1)).str("f").raw(functionRecord(program, 7, 0)).bytes,
         "Invalid state file (function chunk out of range): " + name},
        {"scope", Image().raw(snapshotHeader(2, 1)).str("f").raw(functionRecord(program, 0, ~uint64_t{0})).bytes,
         "Invalid state file (captured scope out of range): " + name},
        {"program", Image().raw(snapshotHeader(2, 1)).str("f").raw(functionRecord({'C', 'S', 'B', 'X'}, 0, 0)).bytes,
         "Invalid bytecode file (bad magic): " + name + ":function"},
        {"program length", Image().raw(snapshotHeader(2, 1)).str("f").u8(9).u8(0).u8(0).u32(0).str("").str("")
             .u64(0).u32(0).u32(0xFFFFFF00u).bytes,
         truncated},
    };
    expectEachRejected(cases, [&](CobaltScript& engine, const std::vector<uint8_t>& bytes) {
        engine.importState(bytes, name);
    });
}

TEST(StateSnapshot, TrailingDataFailsAfterApplyingEntriesAndABadRandomTextChangesNothing)
{
    CobaltScript engine;
    EXPECT_THROW(engine.importState(Image().raw(snapshotHeader(1, 1)).str("kept").u8(1).u32(7).u8(0).bytes, "s"),
                 std::runtime_error);
    EXPECT_EQ(engine.resolveVariablePtr("kept")->asInt(), 7);
    engine.calls.random.seed(99);
    EXPECT_THROW(engine.importState(snapshotHeader(2, 0, MersenneTwister(5).text() + " 12"), "s"), std::runtime_error);
    EXPECT_EQ(engine.calls.random(), MersenneTwister(99)());  // one word too many: the generator is untouched
}

} // namespace
} // namespace cobalt
