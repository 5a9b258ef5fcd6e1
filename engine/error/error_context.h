#pragma once
// What the error text needs to know about where execution stands.

#include <cstdint>
#include <string>

namespace cobalt {

struct ErrorContext {
    uint64_t currentLine = 0;                 // 0-based; printed plus one
    const std::string* sourceText = nullptr;  // statement running or being tokenised
    std::string overrideSource;               // used instead when not empty
    std::string nearToken;                    // last token consumed by the evaluator
    uint64_t nearTokenIndex = 0;
    // A copy of a text that must outlive its caller (the statement being tokenised, the
    // line of a load-time error); sourceText points here then, never at a temporary.
    std::string ownedSource;
};

struct SoftErrorState {
    bool pending = false;
    uint64_t depth = 0;  // call depth of the protected call it belongs to
    std::string message;
};

} // namespace cobalt
