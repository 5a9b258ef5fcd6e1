// Building and tearing down an engine: the random seed, the start time, and the globals a new
// engine provides (builtins in their registration order, then the constants, then the library
// tables that have entries so far).

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/stdlib/container_builtins.h"
#include "engine/stdlib/core_builtins.h"
#include "engine/stdlib/io_library.h"
#include "engine/stdlib/library_table.h"
#include "engine/stdlib/math_library.h"
#include "engine/stdlib/os_library.h"
#include "engine/stdlib/reference_cycles.h"
#include "engine/stdlib/string_library.h"

namespace cobalt {
namespace {

uint32_t readSeed()
{
    uint32_t seed = 0;
    bool haveSeed = false;
    if (std::FILE* device = std::fopen("/dev/urandom", "rb")) {
        haveSeed = std::fread(&seed, sizeof seed, 1, device) == 1;
        std::fclose(device);
    }
    if (!haveSeed) seed = std::random_device{}();
    return seed;
}

void writeLineToStdout(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

BuiltinId builtinIdFromName(std::string_view name)
{
    static const std::unordered_map<std::string_view, BuiltinId> ids = {
#define COBALT_BUILTIN_ENTRY(symbol, id, text) {text, BuiltinId::symbol},
        COBALT_BUILTIN_IDS(COBALT_BUILTIN_ENTRY)
#undef COBALT_BUILTIN_ENTRY
    };
    auto found = ids.find(name);
    return found == ids.end() ? BuiltinId::None : found->second;
}

CobaltScript::CobaltScript()
{
    // The library tables belong to this engine like everything its scripts make.
    const ActiveContainerRegistry activeContainers(containers);
    calls.random.seed(readSeed());
    calls.startTime = std::chrono::steady_clock::now();
    printHandler = writeLineToStdout;

    auto bind = [this](builtins::Body body) { return bindBuiltin(*this, body); };
    pushFunction("print", bind(builtins::print));
    pushFunction("getTimeMs", bind(builtins::getTimeMs));
    pushFunction("random", bind(builtins::random));
    pushFunction("toString", bind(builtins::toString));
    pushFunction("toNumber", bind(builtins::toNumber));
    pushFunction("gsub", bind(builtins::stringGsub));
    pushFunction("typeOf", bind(builtins::typeOf));
    pushFunction("pop", bind(builtins::pop));
    pushFunction("clear", bind(builtins::clear));
    pushFunction("erase", bind(builtins::erase));
    pushFunction("contains", bind(builtins::contains));
    pushFunction("keys", bind(builtins::keys));
    pushFunction("values", bind(builtins::values));
    pushFunction("assert", bind(builtins::assertValue));
    pushFunction("error", bind(builtins::raiseError));
    pushFunction("pcall", [this](NativeArgs args) { return pcallFunctionFast(args.data(), args.size()); });
    pushFunction("load", [this](NativeArgs args) { return loadScriptChunk(args); });
    pushFunction("loadFile", [this](NativeArgs args) { return loadScriptFile(args); });
    pushFunction("runFile", [this](NativeArgs args) { return runScriptFile(args); });
    pushFunction("exportState", [this](NativeArgs args) { return exportStateFunction(args); });
    pushFunction("importState", [this](NativeArgs args) { return importStateFunction(args); });
    pushFunction("jumpTo", [this](NativeArgs args) { return jumpToFunction(args); });
    pushFunction("pairs", bind(builtins::pairs));
    pushFunction("ipairs", bind(builtins::ipairs));
    pushFunction("next", bind(builtins::next));
    pushFunction("select", bind(builtins::select));
    pushFunction("collectGarbage", bind(builtins::collectGarbage));
    pushFunction("kill", [this](NativeArgs args) { return killFunction(args); });
    pushFunction("array", bind(builtins::newArray));
    pushFunction("len", bind(builtins::len));
    pushFunction("push", bind(builtins::push));
    pushFunction("reserve", bind(builtins::reserve));
    pushFunction("get", bind(builtins::get));
    pushFunction("set", bind(builtins::set));

    pushVariable("COBALT_VERSION", Variable(0.6f));
    pushVariable("COBALT_BYTECODE_VERSION", Variable(int32_t{kBytecodeVersion}));
    pushVariable("COBALT_RELEASE", Variable("Beta"));
    pushVariable("COBALT_NAME", Variable("CobaltScript"));
    pushVariable("COBALT_AUTHOR", Variable("The Quill developers"));

    // Library tables, in the order string, table, math, utf8, io, os, package.
    pushVariable("string", builtins::makeStringLibrary(*this));
    pushVariable("table", makeLibraryTable(*this, "table",
                                           {{"insert", builtins::tableInsert},
                                            {"remove", builtins::tableRemove},
                                            {"concat", builtins::tableConcat},
                                            {"sort", builtins::tableSort}}));
    pushVariable("math", builtins::makeMathLibrary(*this));
    pushVariable("utf8", builtins::makeUtf8Library(*this));
    pushVariable("io", builtins::makeIoLibrary(*this));
    pushVariable("os", builtins::makeOsLibrary(*this));

    Variable package = Variable::makeTable();
    package.asTable()->map.emplace("path", Variable(""));
    package.asTable()->map.emplace("cpath", Variable(""));
    pushVariable("package", std::move(package));
}

CobaltScript::~CobaltScript()
{
    // Values are reference counted, so containers that (indirectly) contain themselves would
    // outlive the engine; release them while the engine still knows every root.
    releaseReferenceCycles(*this);
}

void CobaltScript::pushFunction(const std::string& name, NativeFunction function)
{
    calls.nativeFunctions[name] = function;
    pushVariable(name, makeNativeCallable(std::move(function), name, builtinIdFromName(name)));
}

Variable CobaltScript::makeNativeCallable(NativeFunction function, const std::string& name, BuiltinId id)
{
    auto callable = std::make_shared<ScriptCallable>();
    callable->isNative = true;
    callable->native = std::move(function);
    callable->name = name;
    callable->builtinId = id != BuiltinId::None ? id : builtinIdFromName(name);
    return Variable(std::move(callable));
}

} // namespace cobalt
