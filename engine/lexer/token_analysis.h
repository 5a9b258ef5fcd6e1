#pragma once
// Facts about one token, computed once when its statement is parsed so that the evaluator
// and the compiler read flags instead of re-examining the text. The tail of the record is
// the resolution cache of a variable look-up (where the name was found last time).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cobalt {

using Token = std::string;
using TokenList = std::vector<Token>;

/// A name's bit in the scope lists' name masks: one of 64, so that a clear bit in a mask
/// proves the name absent. Mixed from the length and the first, middle and last bytes, and
/// taken from the top of a multiplicative hash: names that share a bit cost a comparison on
/// every look-up that checks whether a scope hides them, and a plain sum of the bytes gave
/// the same bit to a good part of the one-letter names of one function (b and r, a and q).
inline uint64_t scopeNameBit(std::string_view name)
{
    if (name.empty()) return 1;
    uint32_t mix = static_cast<uint32_t>(name.size());
    mix = mix * 31 + static_cast<unsigned char>(name.front());
    mix = mix * 31 + static_cast<unsigned char>(name.back());
    mix = mix * 31 + static_cast<unsigned char>(name[name.size() / 2]);
    return uint64_t{1} << ((mix * 0x9E3779B1u) >> 26);
}

enum class ResolutionKind : uint8_t {
    None = 0,
    BlockScope = 1,
    LoopScope = 2,
    FrameSlot = 3,
    GlobalSlot = 4,
};

struct TokenAnalysis {
    bool isIdentifier = false;
    bool isTrue = false;
    bool isFalse = false;
    bool isNumeric = false;
    bool hasFloatMarker = false;
    bool isInteger = false;
    int32_t intValue = 0;
    // Set by analyseToken when the token has no "#", so a look-up knows without scanning it
    // that it is no explicit-scope name (name#N). Clear in a default record: then it is scanned.
    bool noScopeMark = false;
    // The token's scopeNameBit, so that a look-up tests the masks without mixing the name
    // again. All bits in a record analyseToken did not fill: "it may be anywhere" is always
    // a safe answer.
    uint64_t nameBit = ~uint64_t{0};

    // Resolution cache. `lastScopeId` is the per-push identity of the scope list where the
    // name was last found (never an address, so a freed and reused list cannot match), or,
    // with a global slot, the identity of the globals of the engine that recorded it.
    // Mutable: a look-up refreshes it while the parsed line itself stays read-only.
    mutable ResolutionKind resolvedKind = ResolutionKind::None;
    mutable uint16_t resolvedDepth = 0;
    mutable uint16_t resolvedIndex = 0;
    mutable uint64_t lastScopeId = 0;
    mutable uint64_t globalSlot = 0;
    mutable bool globalSlotValid = false;
};

using AnalysisList = std::vector<TokenAnalysis>;

// Free helpers of the token rules (pure, no engine state).
bool isIdentifierToken(std::string_view token);
bool isTrueToken(std::string_view token);
bool isFalseToken(std::string_view token);
bool parsePointerLiteral(std::string_view token, void*& out);
bool tokenLooksNumeric(std::string_view token);
bool parseIntStrict(std::string_view text, int32_t& out);
bool parseFloatStrict(std::string_view text, float& out);
std::string decodeStringToken(std::string_view token);
/// True when the token begins and ends with the same quote and is at least two bytes.
bool isQuotedToken(std::string_view token);
TokenAnalysis analyseToken(std::string_view token);

} // namespace cobalt
