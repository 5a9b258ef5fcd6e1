// Calling builtins by id: a direct switch without an argument list or a function object,
// and the scalar shortcut the fast expression evaluator uses for numeric builtins.

#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/core_builtins.h"
#include "engine/stdlib/string_library.h"

namespace cobalt {
namespace {

std::string_view builtinName(BuiltinId id)
{
    switch (id) {
#define COBALT_BUILTIN_NAME(symbol, value, text) \
    case BuiltinId::symbol: return text;
        COBALT_BUILTIN_IDS(COBALT_BUILTIN_NAME)
#undef COBALT_BUILTIN_NAME
    case BuiltinId::None: break;
    }
    return {};
}

bool scalarFromVariable(const Variable& value, FastScalarValue& out)
{
    switch (value.type) {
    case VarType::Not: out.kind = FastScalarValue::Empty; return true;
    case VarType::Int:
        out.kind = FastScalarValue::Int;
        out.intValue = value.asInt();
        return true;
    case VarType::Float:
        out.kind = FastScalarValue::Float;
        out.floatValue = value.asFloat();
        return true;
    case VarType::Bool:
        out.kind = FastScalarValue::Bool;
        out.boolValue = value.asBool();
        return true;
    default: return false;
    }
}

} // namespace

Variable CobaltScript::dispatchBuiltinFast(BuiltinId id, const Variable* args, size_t count)
{
    switch (id) {
    case BuiltinId::Assert: return builtins::assertValue(*this, args, count);
    case BuiltinId::GetTimeMs: return builtins::getTimeMs(*this, args, count);
    case BuiltinId::ToString: return builtins::toString(*this, args, count);
    case BuiltinId::ToNumber: return builtins::toNumber(*this, args, count);
    case BuiltinId::Error: return builtins::raiseError(*this, args, count);
    case BuiltinId::Pcall: return pcallFunctionFast(args, count);
    case BuiltinId::Load: return loadScriptChunk(NativeArgs(args, count));
    case BuiltinId::Pairs: return builtins::pairs(*this, args, count);
    case BuiltinId::Ipairs: return builtins::ipairs(*this, args, count);
    case BuiltinId::Next: return builtins::next(*this, args, count);
    case BuiltinId::Select: return builtins::select(*this, args, count);
    case BuiltinId::CollectGarbage: return builtins::collectGarbage(*this, args, count);
    case BuiltinId::Len: return builtins::len(*this, args, count);
    case BuiltinId::StringLen: return builtins::stringLen(*this, args, count);
    case BuiltinId::StringUpper: return builtins::stringUpper(*this, args, count);
    case BuiltinId::StringSub: return builtins::stringSub(*this, args, count);
    case BuiltinId::StringFind: return builtins::stringFind(*this, args, count);
    case BuiltinId::StringMatch: return builtins::stringMatch(*this, args, count);
    case BuiltinId::StringGmatch: return builtins::stringGmatch(*this, args, count);
    case BuiltinId::StringByte: return builtins::stringByte(*this, args, count);
    case BuiltinId::StringFormat: return builtins::stringFormat(*this, args, count);
    case BuiltinId::StringGsub: return builtins::stringGsub(*this, args, count);
    case BuiltinId::Utf8Len: return builtins::utf8Len(*this, args, count);
    default: break;
    }
    // Ids whose library has not been written into this switch yet: call the registered
    // function of that name, if there is one.
    auto found = calls.nativeFunctions.find(std::string(builtinName(id)));
    if (found == calls.nativeFunctions.end() || !found->second) fail("Attempted to call an invalid function value");
    return found->second(NativeArgs(args, count));
}

bool CobaltScript::tryEvaluateNativeBuiltinScalar(BuiltinId id, const Variable* args, size_t count,
                                                  FastScalarValue& out)
{
    switch (id) {
    case BuiltinId::GetTimeMs:
        if (count != 0) fail("getTimeMs function takes no arguments");
        out.kind = FastScalarValue::Int;
        out.intValue = builtins::elapsedMilliseconds(*this);
        return true;
    case BuiltinId::StringByte: {
        // Only a range of at most one byte has a scalar result; longer ones are multivalues.
        builtins::ByteRange range;
        if (!builtins::stringByteRange(args, count, range) || range.last == range.first) {
            out.kind = FastScalarValue::Empty;
            return true;
        }
        if (range.last - range.first != 1) return false;
        out.kind = FastScalarValue::Int;
        out.intValue = static_cast<unsigned char>(args[0].asString()[range.first]);
        return true;
    }
    case BuiltinId::ToNumber:
    case BuiltinId::Len:
    case BuiltinId::StringLen:
    case BuiltinId::Utf8Len: return scalarFromVariable(dispatchBuiltinFast(id, args, count), out);
    default: return false;
    }
}

} // namespace cobalt
