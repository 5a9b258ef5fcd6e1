// Argument conventions shared by every bot function.

#include "engine/embed/bot_arguments.h"

#include <algorithm>
#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/embed/json_bridge.h"
#include "engine/error/script_error.h"

namespace cobalt::bot {
namespace {

constexpr int32_t kDefaultLimit = 20;
constexpr int32_t kMinimumLimit = 1;
constexpr int32_t kMaximumLimit = 100;

std::string named(const char* name, const char* complaint)
{
    return std::string(name) + complaint;
}

} // namespace

const Variable* givenArgument(NativeArgs args, size_t index)
{
    if (index >= args.size() || args[index].isNot()) return nullptr;
    return &args[index];
}

const std::string& stringArgument(NativeArgs args, size_t index, const char* name)
{
    const Variable* value = givenArgument(args, index);
    if (!value || value->type != VarType::String) fail(named(name, " must be a string"));
    return value->asString();
}

const std::string& hostTextArgument(NativeArgs args, size_t index, const char* name)
{
    const std::string& text = stringArgument(args, index, name);
    if (text.find('\0') != std::string::npos) fail(named(name, " must not contain NUL bytes"));
    if (!isValidUTF8(text)) fail(kInvalidUTF8Message);
    return text;
}

int32_t integerArgument(NativeArgs args, size_t index, const char* name, int32_t fallback)
{
    const Variable* value = givenArgument(args, index);
    if (!value) return fallback;
    if (value->type == VarType::Int) return value->asInt();
    if (value->type == VarType::Float) return toInt(*value);  // truncates, saturates, NaN gives 0
    fail(named(name, " must be a number"));
}

int32_t limitArgument(NativeArgs args, size_t index)
{
    return std::clamp(integerArgument(args, index, "limit", kDefaultLimit), kMinimumLimit, kMaximumLimit);
}

Variable tableOptions(NativeArgs args, size_t index)
{
    Variable copy = Variable::makeTable();
    const Variable* value = givenArgument(args, index);
    if (!value) return copy;
    if (value->type != VarType::Table) fail("options must be a table");
    if (value->asTable()) copy.asTable()->map = value->asTable()->map;
    return copy;
}

std::string optionalVisibility(NativeArgs args, size_t index)
{
    if (!givenArgument(args, index)) return "public";
    const std::string& visibility = stringArgument(args, index, "visibility");
    if (visibility != "public" && visibility != "home" && visibility != "followers")
        fail("visibility must be public, home, or followers");
    return visibility;
}

void setField(Variable& body, const char* key, Variable value)
{
    ScriptTable& table = *body.asTable();
    auto [entry, inserted] = table.map.insert_or_assign(key, std::move(value));
    if (inserted) CobaltScript::bumpTableVersion(table);
}

} // namespace cobalt::bot
