#pragma once
// The binary operators of CobaltScript: one row per operator token, with its code and
// precedence level (higher binds tighter). The token evaluator, the skipper and the fast
// expression compiler all classify operators through this table, so they cannot disagree.

#include <array>
#include <cstdint>
#include <string_view>

namespace cobalt {

enum class BinaryOperator : uint8_t {
    None = 0,
    Or = 1,
    And = 2,
    Equal = 3,
    NotEqual = 4,
    Less = 5,
    Greater = 6,
    LessEqual = 7,
    GreaterEqual = 8,
    Add = 9,
    Subtract = 10,
    Multiply = 11,
    Divide = 12,
    IntDivide = 13,
    Modulo = 14,
    Power = 15,
    Tetration = 16,
    Pentation = 17,
};

struct BinaryOperatorInfo {
    std::string_view token;
    BinaryOperator op;
    int level;
};

inline constexpr int kLowestLevel = 1;
/// Level of the operand of a prefix operator, and of the right-associative operators.
inline constexpr int kUnaryOperandLevel = 7;

inline constexpr std::array<BinaryOperatorInfo, 20> kBinaryOperators = {{
    {"or", BinaryOperator::Or, 1},
    {"||", BinaryOperator::Or, 1},
    {"and", BinaryOperator::And, 2},
    {"&&", BinaryOperator::And, 2},
    {"==", BinaryOperator::Equal, 3},
    {"!=", BinaryOperator::NotEqual, 3},
    {"~=", BinaryOperator::NotEqual, 3},
    {"<", BinaryOperator::Less, 4},
    {">", BinaryOperator::Greater, 4},
    {"<=", BinaryOperator::LessEqual, 4},
    {">=", BinaryOperator::GreaterEqual, 4},
    {"+", BinaryOperator::Add, 5},
    {"-", BinaryOperator::Subtract, 5},
    {"*", BinaryOperator::Multiply, 6},
    {"/", BinaryOperator::Divide, 6},
    {"\\", BinaryOperator::IntDivide, 6},
    {"%", BinaryOperator::Modulo, 6},
    {"^", BinaryOperator::Power, 7},
    {"<-", BinaryOperator::Tetration, 7},
    {"->", BinaryOperator::Pentation, 7},
}};

/// The row of `token`, or null when the token is no binary operator.
constexpr const BinaryOperatorInfo* findBinaryOperator(std::string_view token)
{
    if (token.empty() || token.size() > 3) return nullptr;
    for (const auto& info : kBinaryOperators) {
        if (info.token == token) return &info;
    }
    return nullptr;
}

/// Power, tetration and pentation group to the right; everything else to the left.
constexpr bool isRightAssociative(BinaryOperator op)
{
    return op == BinaryOperator::Power || op == BinaryOperator::Tetration || op == BinaryOperator::Pentation;
}

/// Minimum level of the right operand of `info`.
constexpr int rightOperandLevel(const BinaryOperatorInfo& info)
{
    return isRightAssociative(info.op) ? info.level : info.level + 1;
}

/// True when a bare `not` followed by `next` stands alone as the absent value: `next`
/// closes a bracket or a list, is a binary operator, or is a word that ends a clause.
constexpr bool endsBareNot(std::string_view next)
{
    if (next.empty()) return false;
    const char first = next.front();
    if (first == ')' || first == ',' || first == ']' || first == '}') return true;
    if (next.size() == 1) {
        constexpr std::string_view singles = "%*+/\\^-<>";
        return singles.find(first) != std::string_view::npos;
    }
    constexpr std::array<std::string_view, 15> words = {"!=", "&&", "->", "<=", "<-", "==", ">=", "||",
                                                       "~=", "and", "or", "else", "elseif", "end", "until"};
    for (auto word : words) {
        if (word == next) return true;
    }
    return false;
}

} // namespace cobalt
