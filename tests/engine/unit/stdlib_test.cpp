// The builtin registry, the general call path, protected calls and the core builtins with
// their failure texts, plus the engine's teardown of reference cycles.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {
namespace {

class StdlibTest : public ::testing::Test {
protected:
    StdlibTest()
    {
        engine.printHandler = [this](std::string_view line) { output += std::string(line) + "\n"; };
    }

    /// Calls the global `name` through the general call path.
    Variable call(const std::string& name, std::vector<Variable> args = {})
    {
        Variable* callee = engine.resolveVariablePtr(name);
        EXPECT_NE(callee, nullptr) << name;
        if (!callee) return Variable();
        const Variable function = *callee;
        return engine.invokeCallableFast(function, args.data(), args.size());
    }

    /// The message of the failure of calling `name` ("(no failure)" when it returns).
    std::string failure(const std::string& name, std::vector<Variable> args = {})
    {
        try {
            call(name, std::move(args));
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no failure)";
    }

    std::string show(const std::string& name, std::vector<Variable> args = {})
    {
        return call(name, std::move(args)).toString();
    }

    /// Runs `source` through the tree-walker as one top-level block.
    std::string run(std::string_view source)
    {
        lines = std::make_shared<ParsedLines>(engine.parseLines(source));
        size_t index = 0;
        BlockSignal signal = BlockSignal::None;
        engine.executeParsedBlock(*lines, index, signal);
        return output;
    }

    Variable global(const std::string& name)
    {
        Variable* slot = engine.resolveVariablePtr(name);
        return slot ? *slot : Variable();
    }

    static std::vector<Variable> valuesOf(const Variable& multi)
    {
        EXPECT_EQ(multi.type, VarType::Multi) << multi.toString();
        return multi.type == VarType::Multi ? multi.asMulti()->values : std::vector<Variable>{};
    }

    CobaltScript engine;
    std::string output;
    std::shared_ptr<ParsedLines> lines;
};

// ----- registry -----

TEST(BuiltinIds, WholeNamesMapToTheirIdsAndEverythingElseToNone)
{
    EXPECT_EQ(builtinIdFromName("assert"), BuiltinId::Assert);
    EXPECT_EQ(builtinIdFromName("len"), BuiltinId::Len);
    EXPECT_EQ(builtinIdFromName("string.len"), BuiltinId::StringLen);
    EXPECT_EQ(builtinIdFromName("utf8.len"), BuiltinId::Utf8Len);
    EXPECT_EQ(static_cast<int>(builtinIdFromName("utf8.len")), 37);
    EXPECT_EQ(builtinIdFromName("string.lower"), BuiltinId::None);
    EXPECT_EQ(builtinIdFromName("gsub"), BuiltinId::None);
    EXPECT_EQ(builtinIdFromName("print"), BuiltinId::None);
    EXPECT_EQ(builtinIdFromName("Len"), BuiltinId::None);
    EXPECT_EQ(builtinIdFromName(""), BuiltinId::None);
}

TEST_F(StdlibTest, GlobalsAreRegisteredInOrder)
{
    const std::vector<std::string> order = {
        "print", "getTimeMs", "random", "toString", "toNumber", "gsub", "typeOf", "pop", "clear", "erase",
        "contains", "keys", "values", "assert", "error", "pcall", "load", "loadFile", "runFile", "exportState",
        "importState", "jumpTo", "pairs", "ipairs", "next", "select", "collectGarbage", "kill", "array", "len",
        "push", "reserve", "get", "set",
        "COBALT_VERSION", "COBALT_BYTECODE_VERSION", "COBALT_RELEASE", "COBALT_NAME", "COBALT_AUTHOR", "string",
        "table", "math", "utf8", "io", "os", "package"};
    uint64_t previous = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        auto found = engine.scopes.globalIndex.find(order[i]);
        ASSERT_NE(found, engine.scopes.globalIndex.end()) << order[i];
        if (i > 0) {
            EXPECT_GT(found->second, previous) << order[i];
        }
        previous = found->second;
    }
}

TEST_F(StdlibTest, StringLibraryEntriesAreNamedAndCarryTheirIds)
{
    const ScriptTable& strings = *global("string").asTable();
    EXPECT_EQ(strings.map.at("len").asCallable()->name, "string.len");
    EXPECT_EQ(strings.map.at("len").asCallable()->builtinId, BuiltinId::StringLen);
    EXPECT_EQ(strings.map.at("gsub").asCallable()->builtinId, BuiltinId::StringGsub);
    EXPECT_EQ(strings.map.at("lower").asCallable()->builtinId, BuiltinId::None);
    EXPECT_EQ(global("utf8").asTable()->map.at("len").asCallable()->builtinId, BuiltinId::Utf8Len);
    EXPECT_EQ(global("utf8").asTable()->map.at("offset").asCallable()->name, "utf8.offset");
    EXPECT_EQ(global("gsub").asCallable()->builtinId, BuiltinId::None);
    EXPECT_EQ(strings.map.size(), 12u);
}

TEST_F(StdlibTest, ConstantsAndPackagePlaceholders)
{
    EXPECT_EQ(global("COBALT_VERSION").type, VarType::Float);
    EXPECT_EQ(global("COBALT_VERSION").toString(), "0.600000");
    EXPECT_EQ(global("COBALT_BYTECODE_VERSION").toString(), "60");
    EXPECT_EQ(global("COBALT_RELEASE").toString(), "Beta");
    EXPECT_EQ(global("COBALT_NAME").toString(), "CobaltScript");
    EXPECT_EQ(global("COBALT_AUTHOR").type, VarType::String);
    EXPECT_EQ(global("package").toString().size(), std::string("{path: , cpath: }").size());
    EXPECT_EQ(global("package").asTable()->map.at("cpath").toString(), "");
}

TEST_F(StdlibTest, BuiltinsCarryTheirIds)
{
    EXPECT_EQ(global("len").asCallable()->builtinId, BuiltinId::Len);
    EXPECT_EQ(global("pcall").asCallable()->builtinId, BuiltinId::Pcall);
    EXPECT_EQ(global("print").asCallable()->builtinId, BuiltinId::None);
    EXPECT_EQ(global("loadFile").asCallable()->builtinId, BuiltinId::None);
    EXPECT_TRUE(engine.isNativeBuiltin(global("pairs"), BuiltinId::Pairs));
    EXPECT_FALSE(engine.isNativeBuiltin(global("pairs"), BuiltinId::Ipairs));
    EXPECT_FALSE(engine.isNativeBuiltin(Variable(int32_t{1}), BuiltinId::Pairs));
}

TEST_F(StdlibTest, MakeNativeCallableTakesTheIdFromTheName)
{
    Variable made = engine.makeNativeCallable([](NativeArgs) { return Variable(); }, "string.len", BuiltinId::None);
    EXPECT_EQ(made.asCallable()->builtinId, BuiltinId::StringLen);
    EXPECT_TRUE(made.asCallable()->isNative);
    EXPECT_EQ(made.asCallable()->name, "string.len");
    Variable given = engine.makeNativeCallable([](NativeArgs) { return Variable(); }, "mine", BuiltinId::Len);
    EXPECT_EQ(given.asCallable()->builtinId, BuiltinId::Len);
}

TEST_F(StdlibTest, PushFunctionReplacesPrintEverywhere)
{
    std::string captured;
    engine.pushFunction("print", [&](NativeArgs args) {
        captured += "log:" + args[0].toString();
        return Variable();
    });
    run("print(\"hi\")");
    EXPECT_EQ(captured, "log:hi");
    EXPECT_EQ(output, "");
    EXPECT_EQ(engine.calls.nativeFunctions.count("print"), 1u);
}

TEST_F(StdlibTest, BuiltinWithAnIdIsDispatchedWithoutItsFunctionObject)
{
    Variable bare = engine.makeNativeCallable(NativeFunction(), "toString", BuiltinId::None);
    Variable argument(int32_t{5});
    EXPECT_EQ(engine.invokeCallableFast(bare, &argument, 1).toString(), "5");
}

TEST_F(StdlibTest, AnEmptyNativeFunctionFailsAsAnInvalidFunction)
{
    // Registered by an embedder without a body: fails cleanly, also inside pcall.
    engine.pushFunction("broken", NativeFunction());
    EXPECT_EQ(failure("broken"), "Attempted to call an invalid function value");
    Variable bare = engine.makeNativeCallable(NativeFunction(), "mine", BuiltinId::None);
    EXPECT_THROW(engine.invokeCallableFast(bare, nullptr, 0), std::runtime_error);
    run("ok, message = pcall(broken, 1)\nprint(ok, message)");
    EXPECT_EQ(output, "false Attempted to call an invalid function value\n");
}

TEST_F(StdlibTest, TableLibraryEntriesAreNamedAndDispatchedById)
{
    const ScriptTable& library = *global("table").asTable();
    const std::vector<std::pair<std::string, BuiltinId>> entries = {{"insert", BuiltinId::TableInsert},
                                                                     {"remove", BuiltinId::TableRemove},
                                                                     {"concat", BuiltinId::TableConcat},
                                                                     {"sort", BuiltinId::TableSort}};
    EXPECT_EQ(library.map.size(), entries.size());
    for (const auto& [key, id] : entries) {
        const CallableRef& function = library.map.at(key).asCallable();
        EXPECT_EQ(function->name, "table." + key);
        EXPECT_EQ(function->builtinId, id);
    }
    // A function value without a function object still works by its id alone.
    Variable bare = engine.makeNativeCallable(NativeFunction(), "table.concat", BuiltinId::None);
    std::vector<Variable> args = {Variable::makeArray({Variable(int32_t{1}), Variable("b")}), Variable("-")};
    EXPECT_EQ(engine.invokeCallableFast(bare, args.data(), args.size()).toString(), "1-b");
}

TEST_F(StdlibTest, ScalarShortcutAcceptsOnlyScalarResults)
{
    FastScalarValue out;
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::GetTimeMs, nullptr, 0, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_GE(out.intValue, 0);
    Variable arg("12");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, &arg, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_EQ(out.intValue, 12);
    arg = Variable("x");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, &arg, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Empty);
    Variable based[] = {Variable("ffffffff"), Variable(int32_t{16})};
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToNumber, based, 2, out));  // a pointer
    arg = Variable("abc");
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::Len, &arg, 1, out));
    EXPECT_EQ(out.intValue, 3);
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::ToString, &arg, 1, out));
    EXPECT_FALSE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathMax, &arg, 1, out));  // a string
    EXPECT_THROW(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathFloor, &arg, 1, out), std::runtime_error);
    Variable numbers[] = {Variable(int32_t{3}), Variable(1.5f), Variable(int32_t{2})};
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathMin, numbers, 3, out));
    EXPECT_EQ(out.kind, FastScalarValue::Float);
    EXPECT_EQ(out.floatValue, 1.5);
    EXPECT_TRUE(engine.tryEvaluateNativeBuiltinScalar(BuiltinId::MathFloor, numbers + 1, 1, out));
    EXPECT_EQ(out.kind, FastScalarValue::Int);
    EXPECT_EQ(out.intValue, 1);
    try {
        engine.tryEvaluateNativeBuiltinScalar(BuiltinId::GetTimeMs, &arg, 1, out);
        FAIL() << "expected a failure";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "getTimeMs function takes no arguments");
    }
}

// ----- the call path -----

TEST_F(StdlibTest, CallingNonFunctionsNamesTheType)
{
    Variable value(int32_t{3});
    auto failureOf = [&](const Variable& callee) {
        try {
            engine.invokeCallableFast(callee, nullptr, 0);
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
        return std::string("(no failure)");
    };
    EXPECT_EQ(failureOf(value), "Attempted to call a non-function value of type int");
    EXPECT_EQ(failureOf(Variable::makeTable()), "Attempted to call a non-function value of type table");
    EXPECT_EQ(failureOf(Variable()), "Attempted to call a non-function value of type not");
    EXPECT_EQ(failureOf(Variable(CallableRef())), "Attempted to call an invalid function value");
    EXPECT_EQ(failureOf(engine.makeNativeCallable(NativeFunction(), "blank", BuiltinId::None)),
              "Attempted to call an invalid function value");
    EXPECT_EQ(engine.calls.callDepth, 0u);
}

TEST_F(StdlibTest, MissingArgumentsAreAbsentAndExtrasIgnored)
{
    run("function f(a, b)\n  return [a, b]\nend");
    EXPECT_EQ(show("f", {Variable(int32_t{1})}), "[1, not]");
    EXPECT_EQ(show("f", {Variable(int32_t{1}), Variable(int32_t{2}), Variable(int32_t{3})}), "[1, 2]");
}

TEST_F(StdlibTest, CalleeDoesNotSeeTheCallersBlockLocals)
{
    EXPECT_EQ(run("function peek()\n  return hidden\nend\nif true\n  local hidden = 1\n  print(peek())\nend"), "not\n");
}

TEST_F(StdlibTest, CallStateIsRestoredAfterAFailingCall)
{
    run("function f(...)\n  local x = 1\n  return 1 / 0\nend");
    EXPECT_NE(failure("f", {Variable(int32_t{1})}), "(no failure)");
    EXPECT_EQ(engine.calls.callDepth, 0u);
    EXPECT_TRUE(engine.calls.varargs.empty());
    EXPECT_TRUE(engine.scopes.blocks.empty());
    EXPECT_EQ(engine.scopes.blockBase, 0u);
    EXPECT_EQ(engine.scopes.currentFrame, 0u);
}

TEST_F(StdlibTest, ReplacedErrorIsCalledByAGuardBody)
{
    run("function f(x)\n  if x\n    error(\"bad\")\n  end\n  return 1\nend");
    ASSERT_EQ(global("f").asCallable()->fastBodyKind, FastBodyKind::ErrorGuard);
    run("function error(m)\n  print(\"mine \" + m)\nend");
    EXPECT_EQ(show("f", {Variable(true)}), "1");
    EXPECT_EQ(output, "mine bad\n");
}

TEST_F(StdlibTest, GuardBodyWithTheNativeErrorRaises)
{
    run("function f(x)\n  if x\n    error(\"bad\")\n  end\n  return 1\nend");
    EXPECT_EQ(show("f", {Variable(false)}), "1");
    EXPECT_TRUE(failure("f", {Variable(true)}).starts_with("CobaltScript error: bad\n  at line 3"));
}

TEST_F(StdlibTest, LoadedChunksTakeNoArguments)
{
    Variable text("x = 1");
    Variable chunk = engine.loadScriptChunk(NativeArgs(&text, 1));
    ASSERT_EQ(chunk.type, VarType::Function);
    try {
        engine.invokeCallableFast(chunk, &text, 1);
        FAIL() << "expected a failure";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Loaded script chunks do not accept call arguments");
    }
    engine.invokeCallableFast(chunk, nullptr, 0);
    EXPECT_EQ(global("x").toString(), "1");
}

TEST_F(StdlibTest, ExternalNamesBecomeGlobalsWhenTheOutermostChunkEnds)
{
    Variable text("inner = load(\"external shared = 5\")\ninner()\nseenInside = shared");
    Variable outer = engine.loadScriptChunk(NativeArgs(&text, 1));
    ASSERT_EQ(outer.type, VarType::Function);
    engine.invokeCallableFast(outer, nullptr, 0);
    EXPECT_TRUE(global("seenInside").isNot());  // not yet published while the outer chunk ran
    EXPECT_EQ(global("shared").toString(), "5");
    EXPECT_EQ(engine.loader.loadedChunkDepth, 0u);
    EXPECT_EQ(engine.scopes.external.entries.size(), 1u);
}

// ----- pcall -----

TEST_F(StdlibTest, PcallResults)
{
    run("function none()\nend\nfunction two()\n  return 1, 2\nend\nfunction one()\n  return \"x\"\nend");
    EXPECT_EQ(failure("pcall"), "pcall requires a callable value");
    auto resultOf = [&](const std::string& name) {
        std::string text;
        for (const Variable& value : valuesOf(call("pcall", {global(name)}))) text += value.toString() + ";";
        return text;
    };
    EXPECT_EQ(resultOf("none"), "true;");
    EXPECT_EQ(resultOf("two"), "true;1;2;");
    EXPECT_EQ(resultOf("one"), "true;x;");
}

TEST_F(StdlibTest, PcallReportsScriptErrorsAndStopsTheFunction)
{
    run("function f()\n  error(\"x\")\n  print(\"after\")\nend\nok, msg = pcall(f)\nprint(ok, msg)");
    EXPECT_EQ(output, "false x\n");
    EXPECT_TRUE(engine.calls.protectedCalls.empty());
    EXPECT_FALSE(engine.softError.pending);
}

TEST_F(StdlibTest, PcallReportsFailuresWithTheirFullText)
{
    run("function f()\n  return 1 / 0\nend");
    std::vector<Variable> result = valuesOf(call("pcall", {global("f")}));
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].toString(), "false");
    EXPECT_TRUE(result[1].toString().starts_with("CobaltScript error: Division by zero\n")) << result[1].toString();
    EXPECT_TRUE(engine.calls.protectedCalls.empty());
}

TEST_F(StdlibTest, PcallOfBuiltinsAndNonFunctions)
{
    std::vector<Variable> viaError = valuesOf(call("pcall", {global("error"), Variable("x")}));
    ASSERT_EQ(viaError.size(), 2u);
    EXPECT_EQ(viaError[1].toString(), "x");
    std::vector<Variable> viaInt = valuesOf(call("pcall", {Variable(int32_t{4})}));
    ASSERT_EQ(viaInt.size(), 2u);
    EXPECT_EQ(viaInt[1].toString(), "Attempted to call a non-function value of type int");
}

TEST_F(StdlibTest, NestedPcallsEachCatchTheirOwn)
{
    run("function inner()\n  error(\"in\")\nend\n"
        "function outer()\n  ok, m = pcall(inner)\n  print(ok, m)\n  return \"outer done\"\nend\n"
        "a, b = pcall(outer)\nprint(a, b)");
    EXPECT_EQ(output, "false in\ntrue outer done\n");
}

TEST_F(StdlibTest, SoftErrorIsClearedWhenAFailureEndsTheProtectedCall)
{
    // error() records a soft error and returns; the failing addition then throws.
    run("function f()\n  x = error(\"soft\") + [1]\nend\nok, m = pcall(f)");
    EXPECT_EQ(global("ok").toString(), "false");
    EXPECT_FALSE(engine.softError.pending);
    EXPECT_TRUE(engine.calls.protectedCalls.empty());
    // With nothing left over, a later error outside any protected call raises at once.
    try {
        run("error(\"later\")");
        FAIL() << "expected a failure";
    } catch (const std::exception& error) {
        EXPECT_TRUE(std::string_view(error.what()).starts_with("CobaltScript error: later\n")) << error.what();
    }
}

TEST_F(StdlibTest, ErrorOutsideProtectedCallsRaisesTheMessageUnchanged)
{
    try {
        call("error", {Variable("plain")});
        FAIL() << "expected a failure";
    } catch (const RaisedScriptError& error) {
        EXPECT_EQ(error.message(), "plain");
    }
    try {
        call("error");
        FAIL() << "expected a failure";
    } catch (const RaisedScriptError& error) {
        EXPECT_EQ(error.message(), "error");
    }
}

// ----- core builtins -----

TEST_F(StdlibTest, PrintJoinsTextFormsWithSpaces)
{
    call("print", {Variable(int32_t{1}), Variable(1.5f), Variable("s"), Variable(), Variable(true)});
    call("print");
    EXPECT_EQ(output, "1 1.500000 s not true\n\n");
}

TEST_F(StdlibTest, PrintWithoutHandlerWritesToStandardOutput)
{
    engine.printHandler = nullptr;
    testing::internal::CaptureStdout();
    call("print", {Variable("a"), Variable(int32_t{2})});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a 2\n");
}

TEST_F(StdlibTest, ToStringAndTypeOf)
{
    EXPECT_EQ(show("toString", {Variable(2.0f)}), "2.000000");
    EXPECT_EQ(failure("toString"), "toString function requires exactly 1 argument");
    const std::vector<std::pair<Variable, std::string>> kinds = {
        {Variable(), "not"},
        {Variable(int32_t{1}), "number"},
        {Variable(1.0f), "number"},
        {Variable("s"), "string"},
        {Variable(true), "boolean"},
        {Variable(RawBytes{1}), "userdata"},
        {Variable(static_cast<void*>(nullptr)), "userdata"},
        {Variable::makeArray(), "table"},
        {Variable::makeMulti({}), "table"},
        {Variable::makeTable(), "table"},
        {global("print"), "function"}};
    for (const auto& [value, name] : kinds) EXPECT_EQ(show("typeOf", {value}), name);
    EXPECT_EQ(failure("typeOf", {Variable(), Variable()}), "typeOf(x) requires exactly 1 argument");
}

TEST_F(StdlibTest, ToNumberDecimal)
{
    auto number = [&](Variable value) {
        Variable result = call("toNumber", {std::move(value)});
        return std::string(typeName(result.type)) + ":" + result.toString();
    };
    EXPECT_EQ(number(Variable("12")), "int:12");
    EXPECT_EQ(number(Variable("-7")), "int:-7");
    EXPECT_EQ(number(Variable("1.5")), "float:1.500000");
    EXPECT_EQ(number(Variable("1e3")), "float:1000.000000");
    EXPECT_EQ(number(Variable("12abc")), "not:not");
    EXPECT_EQ(number(Variable("")), "not:not");
    EXPECT_EQ(number(Variable("-")), "not:not");
    EXPECT_EQ(number(Variable("3000000000")), "float:3000000000.000000");
    EXPECT_EQ(number(Variable(int32_t{4})), "int:4");
    EXPECT_EQ(number(Variable(2.5f)), "float:2.500000");
    EXPECT_EQ(number(Variable(true)), "int:1");
    EXPECT_EQ(number(Variable::makeArray()), "not:not");
    EXPECT_EQ(failure("toNumber"), "toNumber(x[, base]) requires 1 or 2 arguments");
}

TEST_F(StdlibTest, ToNumberOtherBases)
{
    auto based = [&](const char* text, int32_t base) {
        Variable result = call("toNumber", {Variable(text), Variable(base)});
        return std::string(typeName(result.type)) + ":" + result.toString();
    };
    EXPECT_EQ(based("ff", 16), "int:255");
    EXPECT_EQ(based("FF", 16), "int:255");
    EXPECT_EQ(based("zz", 36), "int:1295");
    EXPECT_EQ(based("101", 2), "int:5");
    EXPECT_EQ(based("ff", 40), "not:not");
    EXPECT_EQ(based("ff", 1), "not:not");
    EXPECT_EQ(based("12", 2), "not:not");
    EXPECT_EQ(based("-80000000", 16), "int:-2147483648");
    EXPECT_EQ(based("-80000001", 16), "not:not");
    EXPECT_EQ(based("80000000", 16), "pointer:$80000000");
    EXPECT_EQ(based("ffffffffffffffffff", 16), "not:not");
    EXPECT_EQ(failure("toNumber", {Variable("1"), Variable("x")}), "Expected a numeric value");
}

TEST_F(StdlibTest, Assert)
{
    EXPECT_EQ(show("assert", {Variable(int32_t{0})}), "0");
    std::vector<Variable> both = valuesOf(call("assert", {Variable(int32_t{1}), Variable("x")}));
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1].toString(), "x");
    EXPECT_EQ(failure("assert", {Variable(false)}), "assertion failed!");
    EXPECT_EQ(failure("assert", {Variable(), Variable(int32_t{42})}), "42");
    EXPECT_EQ(failure("assert"), "assert requires at least 1 argument");
    EXPECT_THROW(call("assert", {Variable(false)}), RaisedScriptError);
}

TEST_F(StdlibTest, GetTimeMsAndCollectGarbage)
{
    EXPECT_EQ(call("getTimeMs").type, VarType::Int);
    EXPECT_EQ(failure("getTimeMs", {Variable(int32_t{1})}), "getTimeMs function takes no arguments");

    {
        Variable table = Variable::makeTable();
        table.asTable()->map.emplace("a", Variable(int32_t{1}));
        engine.getSortedTableKeys(table.asTable());
    }
    Variable kept = Variable::makeTable();
    engine.getSortedTableKeys(kept.asTable());
    ASSERT_EQ(engine.tableCache.entries.size(), 2u);
    EXPECT_TRUE(call("collectGarbage").isNot());
    EXPECT_EQ(engine.tableCache.entries.size(), 1u);
    EXPECT_EQ(engine.tableCache.entries.count(kept.asTable()->id), 1u);
}

// ----- container iteration -----

TEST_F(StdlibTest, PairsAndIpairsBuildPairLists)
{
    run("t = {b: 2, \"1\": \"one\", \"2\": \"two\", \"4\": \"four\"}\na = [\"x\", \"y\"]");
    EXPECT_EQ(show("pairs", {global("a")}), "[[1, x], [2, y]]");
    EXPECT_EQ(show("pairs", {global("t")}), "[[1, one], [2, two], [4, four], [b, 2]]");
    // Table keys come back as strings from the builtin.
    EXPECT_EQ(call("pairs", {global("t")}).asArray()->items[0].asArray()->items[0].type, VarType::String);
    EXPECT_EQ(show("ipairs", {global("t")}), "[[1, one], [2, two]]");
    EXPECT_EQ(call("ipairs", {global("t")}).asArray()->items[0].asArray()->items[0].type, VarType::Int);
    EXPECT_EQ(failure("pairs"), "pairs(container) requires exactly 1 argument");
    EXPECT_EQ(failure("pairs", {Variable("s")}), "pairs(container) expects an array or table");
    EXPECT_EQ(failure("ipairs", {Variable(), Variable()}), "ipairs(container) requires exactly 1 argument");
    EXPECT_EQ(failure("ipairs", {Variable(int32_t{1})}), "ipairs(container) expects an array or table");
}

TEST_F(StdlibTest, PairsIsASnapshot)
{
    run("a = [1]\np = pairs(a)\na[2] = 2");
    EXPECT_EQ(global("p").toString(), "[[1, 1]]");
}

TEST_F(StdlibTest, NextWalksInIterationOrder)
{
    run("t = {b: 2, a: 1, \"7\": 3}\narr = [10, 20]");
    auto step = [&](std::vector<Variable> args) {
        Variable result = call("next", std::move(args));
        if (result.isNot()) return std::string("end");
        std::string text;
        for (const Variable& value : valuesOf(result)) {
            text += std::string(typeName(value.type)) + ":" + value.toString() + ";";
        }
        return text;
    };
    EXPECT_EQ(step({global("t")}), "int:7;int:3;");
    EXPECT_EQ(step({global("t"), Variable()}), "int:7;int:3;");
    EXPECT_EQ(step({global("t"), Variable(int32_t{7})}), "string:a;int:1;");
    EXPECT_EQ(step({global("t"), Variable("b")}), "end");
    EXPECT_EQ(step({global("t"), Variable("missing")}), "end");
    EXPECT_EQ(step({global("arr")}), "int:1;int:10;");
    EXPECT_EQ(step({global("arr"), Variable(int32_t{1})}), "int:2;int:20;");
    EXPECT_EQ(step({global("arr"), Variable(2.0f)}), "end");
    EXPECT_EQ(step({global("arr"), Variable(-1.0f)}), "end");
    EXPECT_EQ(failure("next"), "next(container[, key]) requires 1 or 2 arguments");
    EXPECT_EQ(failure("next", {Variable("s")}), "next(container[, key]) expects an array or table");
}

TEST_F(StdlibTest, Select)
{
    auto selected = [&](std::vector<Variable> args) {
        Variable result = call("select", std::move(args));
        return result.isNot() ? std::string("not") : Variable::makeArray(valuesOf(result)).toString();
    };
    EXPECT_EQ(selected({Variable(int32_t{2}), Variable("a"), Variable("b"), Variable("c")}), "[b, c]");
    EXPECT_EQ(selected({Variable(int32_t{1}), Variable("a")}), "[a]");
    EXPECT_EQ(selected({Variable(int32_t{3}), Variable("a"), Variable("b")}), "not");
    EXPECT_EQ(selected({Variable(int32_t{2}), Variable::makeArray({Variable("x"), Variable("y")})}), "[y]");
    EXPECT_EQ(selected({Variable(int32_t{1}), Variable::makeMulti({Variable("m"), Variable("n")})}), "[m, n]");
    EXPECT_EQ(failure("select", {Variable(1.0f), Variable("a")}), "select(index, values...) requires an integer index");
    EXPECT_EQ(failure("select", {Variable(int32_t{0}), Variable("a")}), "select index must be >= 1");
    EXPECT_EQ(failure("select", {Variable(int32_t{1})}), "select(index, values...) requires at least 2 arguments");
}

TEST_F(StdlibTest, Len)
{
    run("t = {\"1\": 1, \"2\": 2, \"4\": 4}");
    EXPECT_EQ(show("len", {global("t")}), "2");
    EXPECT_EQ(show("len", {Variable("")}), "0");
    EXPECT_EQ(show("len", {Variable::makeArray({Variable(), Variable()})}), "2");
    EXPECT_EQ(failure("len", {Variable(int32_t{1})}), "len(x) expects an array, table, or string");
    EXPECT_EQ(failure("len"), "len(x) requires exactly 1 argument");
}

// ----- teardown -----

TEST(EngineTeardown, ContainersThatHoldThemselvesAreFreed)
{
    std::weak_ptr<ScriptTable> table;
    std::weak_ptr<ScriptArray> array;
    {
        CobaltScript engine;
        auto lines = engine.parseLines("t = {}\nt[\"self\"] = t\na = [1]\na[2] = [a, t]");
        size_t index = 0;
        BlockSignal signal = BlockSignal::None;
        engine.executeParsedBlock(lines, index, signal);
        table = engine.resolveVariablePtr("t")->asTable();
        array = engine.resolveVariablePtr("a")->asArray();
    }
    EXPECT_TRUE(table.expired());
    EXPECT_TRUE(array.expired());
}

TEST(EngineTeardown, DataWithoutCyclesIsLeftIntact)
{
    Variable held;
    {
        CobaltScript engine;
        auto lines = engine.parseLines("inner = [1, 2]\nt = {a: inner, b: inner}");
        size_t index = 0;
        BlockSignal signal = BlockSignal::None;
        engine.executeParsedBlock(lines, index, signal);
        held = *engine.resolveVariablePtr("t");
    }
    EXPECT_EQ(held.asTable()->map.at("a").toString(), "[1, 2]");
    EXPECT_EQ(held.asTable()->map.at("b").toString(), "[1, 2]");
}

} // namespace
} // namespace cobalt
