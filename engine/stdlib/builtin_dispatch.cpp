// Calling builtins by id: a direct switch without an argument list or a function object,
// and the scalar shortcut the fast expression evaluator uses for numeric builtins.

#include <string>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/container_builtins.h"
#include "engine/stdlib/core_builtins.h"
#include "engine/stdlib/math_library.h"
#include "engine/stdlib/string_library.h"

namespace cobalt {
namespace {

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
    case BuiltinId::TableInsert: return builtins::tableInsert(*this, args, count);
    case BuiltinId::TableRemove: return builtins::tableRemove(*this, args, count);
    case BuiltinId::TableConcat: return builtins::tableConcat(*this, args, count);
    case BuiltinId::TableSort: return builtins::tableSort(*this, args, count);
    case BuiltinId::MathFloor: return builtins::mathFloor(*this, args, count);
    case BuiltinId::MathCeil: return builtins::mathCeil(*this, args, count);
    case BuiltinId::MathAbs: return builtins::mathAbs(*this, args, count);
    case BuiltinId::MathMin: return builtins::mathMin(*this, args, count);
    case BuiltinId::MathMax: return builtins::mathMax(*this, args, count);
    case BuiltinId::MathSin: return builtins::mathSin(*this, args, count);
    case BuiltinId::MathCos: return builtins::mathCos(*this, args, count);
    case BuiltinId::MathRad: return builtins::mathRad(*this, args, count);
    case BuiltinId::MathLog: return builtins::mathLog(*this, args, count);
    case BuiltinId::MathSqrt: return builtins::mathSqrt(*this, args, count);
    default: break;
    }
    // Id 0 and unknown ids are never dispatched here.
    fail("Attempted to call an invalid function value");
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
    case BuiltinId::MathMin:
    case BuiltinId::MathMax: {
        // The result is one of the arguments unchanged: only a scalar one is taken, and it is
        // not copied first (a string would allocate).
        if (count == 0) return false;
        const int direction = id == BuiltinId::MathMin ? -1 : 1;
        return scalarFromVariable(args[builtins::extremeArgumentIndex(args, count, direction)], out);
    }
    case BuiltinId::ToNumber:
    case BuiltinId::Len:
    case BuiltinId::StringLen:
    case BuiltinId::Utf8Len:
    case BuiltinId::MathFloor:
    case BuiltinId::MathCeil:
    case BuiltinId::MathAbs:
    case BuiltinId::MathSin:
    case BuiltinId::MathCos:
    case BuiltinId::MathRad:
    case BuiltinId::MathLog:
    case BuiltinId::MathSqrt: return scalarFromVariable(dispatchBuiltinFast(id, args, count), out);
    default: return false;
    }
}

} // namespace cobalt
