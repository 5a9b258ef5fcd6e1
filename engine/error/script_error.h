#pragma once
// Errors travel as exceptions that carry only their message text.

#include <stdexcept>
#include <string>
#include <string_view>

namespace cobalt {

/// A script's own error (error(...) outside any protected call), message unchanged.
class RaisedScriptError : public std::exception {
public:
    explicit RaisedScriptError(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& message() const { return m_message; }

private:
    std::string m_message;
};

/// Raised by a bot function once the host has asked the script to stop ("Bot stop requested").
/// Protected calls let it pass, so a script cannot catch its own stop.
class ScriptStopRequested : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Ends a coroutine's turn when the coroutine is killed or replaced from inside its own
/// turn. It carries no message and is deliberately not a std::exception: statement wrappers
/// and protected calls, which catch those, let it pass to the turn that started it.
struct CoroutineTerminated {};

/// Every positioned error text begins with this prefix.
inline constexpr std::string_view kErrorPrefix = "CobaltScript error: ";
/// Messages that already carry a position begin with this (no trailing space).
inline constexpr std::string_view kPositionedPrefix = "CobaltScript error:";

/// Raised when the native stack or the call depth runs out.
inline constexpr const char* kRecursionTooDeep = "Maximum recursion depth exceeded";

/// Throws a plain failure carrying `message`; the statement executor positions it.
[[noreturn]] inline void fail(const std::string& message) { throw std::runtime_error(message); }

} // namespace cobalt
