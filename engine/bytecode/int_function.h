#pragma once
// Int functions: a function whose body is a list of
//     local names = values          (or = one call, whose results the names take)
//     name["field"] = value         (a field the table in a parameter already has)
//     return values
//     if comparison / elseif comparison / else / end, around any of these but `local`
// statements, ending in a return on every way through or on none, where every value is int
// arithmetic over the parameters, the locals bound so far, int literals, int fields of tables
// given as arguments and calls of other such functions by name, a comparison of two such
// ints, or a new table {key: value, ...} (whose values may also name functions from
// outside), e.g.
//     function fib(n)
//         if n < 2
//             return n
//         end
//         return fib(n - 1) + fib(n - 2)
//     end
//     function deposit(self, amount)
//         self["balance"] = self["balance"] + amount
//     end
// Called with ints and tables, such a function can do nothing anyone could see before it
// returns: no scope, no failure, no script code of another kind. So the whole call tree is
// computed here on plain ints in registers, without binding a parameter or looking up a name
// per call; its field stores are made, and its tables handed over, once it has succeeded.
// Whenever the outcome is not reached that way (a zero divisor, a field that is missing or
// not an int, a callee that is no int function or gives another number of values, a
// recursion too deep, a stop request), the run gives up with nothing done, and the call path
// runs the call as it would have anyway; a function that keeps giving up is not tried again.

#include <cstddef>
#include <cstdint>

#include "engine/cobalt_script.h"

namespace cobalt {

/// Most arguments a call hands to an int run (a function with more takes the call path).
inline constexpr size_t kMaxIntArguments = 16;

/// A register of an int function: an int, a comparison's truth (`isBool`, 0 or 1), or a
/// table whose fields it reads and sets. Plain data: a call's register file is set up
/// without a store per register.
struct IntSlot {
    int32_t value;
    bool isBool;
    ScriptTable* table;
};

/// The slot an argument value makes: false for a value that is neither an int nor a table.
inline bool intSlotOf(const Variable& value, IntSlot& out)
{
    if (value.type == VarType::Int) {
        out = IntSlot{*std::get_if<int32_t>(&value.value), false, nullptr};
        return true;
    }
    if (value.type == VarType::Table && value.asTable()) {
        out = IntSlot{0, false, value.asTable().get()};
        return true;
    }
    return false;
}

/// Runs `function` on the arguments args[0..count) as an int function: true with its result
/// (an int, a truth, a new table, or the absent value for a body without a return) in `out`, which
/// must hold the absent value on entry; false (with nothing done) where the call path must
/// run it. Without `storesAllowed`, a run that would set a
/// field or make a table gives up.
bool tryRunIntFunction(CobaltScript& engine, const ScriptCallable& function, const IntSlot* args, size_t count,
                       bool storesAllowed, Variable& out);

/// The same with the arguments as values; false at once when one of them is neither an int
/// nor a table. The argument at position i is argumentAt(i).
template <class ArgumentAt>
bool tryRunIntFunctionOn(CobaltScript& engine, const ScriptCallable& function, size_t count, ArgumentAt argumentAt,
                         bool storesAllowed, Variable& out)
{
    if (function.intCodeState == IntCodeState::None || count > kMaxIntArguments) return false;
    IntSlot slots[kMaxIntArguments];
    for (size_t i = 0; i < count; ++i) {
        if (!intSlotOf(argumentAt(i), slots[i])) return false;
    }
    return tryRunIntFunction(engine, function, slots, count, storesAllowed, out);
}

} // namespace cobalt
