#pragma once
// What the error text needs to know about where execution stands.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cobalt {

/// The token an error text names. Set on every evaluation step, so it usually refers to a
/// token of the running statement instead of copying it; only a text that is no token of a
/// live statement (a made-up "EOF", a token of a line about to be freed) is copied.
class NearToken {
public:
    std::string_view text() const { return m_ref ? std::string_view(*m_ref) : std::string_view(m_owned); }
    operator std::string_view() const { return text(); }
    bool empty() const { return text().empty(); }

    /// Refers to `token`, which must outlive every read until the next change.
    void refer(const std::string& token) { m_ref = &token; }
    void assign(std::string_view token)
    {
        m_ref = nullptr;
        m_owned.assign(token);
    }
    NearToken& operator=(std::string_view token)
    {
        assign(token);
        return *this;
    }
    void clear()
    {
        m_ref = nullptr;
        m_owned.clear();
    }
    /// Takes over `other`'s token; one held by reference costs no copy of its text (the
    /// statement it points into is kept alive by whoever runs it).
    void saveFrom(const NearToken& other)
    {
        m_ref = other.m_ref;
        if (!m_ref) m_owned = other.m_owned;
    }

    /// Takes back a token kept by saveFrom. A token held by reference leaves the owned text
    /// as it is: it is never read while a reference is held.
    void restoreFrom(NearToken&& saved)
    {
        m_ref = saved.m_ref;
        if (!m_ref) m_owned = std::move(saved.m_owned);
    }

    friend bool operator==(const NearToken& token, std::string_view other) { return token.text() == other; }

private:
    const std::string* m_ref = nullptr;
    std::string m_owned;
};

struct ErrorContext {
    uint64_t currentLine = 0;                 // 0-based; printed plus one
    const std::string* sourceText = nullptr;  // statement running or being tokenised
    // The tokens of the statement made the running one last (setPositionContext). Only ever
    // compared, never read: a token of this list may be held by reference while sourceText
    // is still that statement's text, which keeps both alive.
    const std::vector<std::string>* sourceTokens = nullptr;
    const std::string* sourceTokensText = nullptr;
    std::string overrideSource;               // used instead when not empty
    NearToken nearToken;                      // last token consumed by the evaluator
    uint64_t nearTokenIndex = 0;
    // A copy of a text that must outlive its caller (the statement being tokenised, the
    // line of a load-time error); sourceText points here then, never at a temporary.
    std::string ownedSource;

};

struct SoftErrorState {
    bool pending = false;
    uint64_t depth = 0;  // call depth of the protected call it belongs to
    std::string message;

    /// Exchanged on every coroutine turn, when the message is nearly always empty on both
    /// sides: skipping the string swap then saves most of the exchange's cost.
    friend void swap(SoftErrorState& a, SoftErrorState& b) noexcept
    {
        std::swap(a.pending, b.pending);
        std::swap(a.depth, b.depth);
        if (!a.message.empty() || !b.message.empty()) a.message.swap(b.message);
    }
};

} // namespace cobalt
