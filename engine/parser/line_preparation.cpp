// Line preparation: statement kinds, scope modifiers, the shape of assignments, the
// expression ranges each kind evaluates and their fast forms. Nothing here rejects a
// malformed statement (its syntax error is reported when it runs); only a bad nest label
// fails, because labels must be known before anything runs.

#include <string_view>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/parser/block_links.h"

namespace cobalt {

namespace {

StatementKind functionForm(std::string_view prefix)
{
    if (prefix == "decay") return StatementKind::DecayFunction;
    if (prefix == "native") return StatementKind::NativeFunction;
    if (prefix == "local") return StatementKind::LocalFunction;
    return StatementKind::Simple;
}

StatementKind keywordKind(std::string_view first)
{
    struct Keyword {
        std::string_view text;
        StatementKind kind;
    };
    static constexpr Keyword kKeywords[] = {
        {"if", StatementKind::If},         {"elseif", StatementKind::ElseIf}, {"else", StatementKind::Else},
        {"end", StatementKind::End},       {"while", StatementKind::While},   {"repeat", StatementKind::Repeat},
        {"until", StatementKind::Until},   {"for", StatementKind::For},       {"function", StatementKind::Function},
        {"nest", StatementKind::Nest},     {"return", StatementKind::Return}, {"break", StatementKind::Break},
    };
    for (const Keyword& keyword : kKeywords) {
        if (keyword.text == first) return keyword.kind;
    }
    return StatementKind::Simple;
}

// The first token decides; "decay", "native" and "local" need "function" after them.
StatementKind classify(const TokenList& tokens)
{
    if (tokens.empty()) return StatementKind::Empty;
    if (tokens.size() >= 2 && tokens[1] == "function") {
        StatementKind form = functionForm(tokens[0]);
        if (form != StatementKind::Simple) return form;
    }
    return keywordKind(tokens[0]);
}

ScopeModifier scopeModifierOf(std::string_view first)
{
    if (first == "native") return ScopeModifier::Native;
    if (first == "local") return ScopeModifier::Local;
    if (first == "external") return ScopeModifier::External;
    return ScopeModifier::None;
}

bool isOpener(std::string_view token) { return token == "(" || token == "[" || token == "{"; }

bool isCloser(std::string_view token) { return token == ")" || token == "]" || token == "}"; }

bool isAssignmentOperator(std::string_view token)
{
    return token == "=" || token == "+=" || token == "-=" || token == "*=" || token == "/=" || token == "\\=" ||
           token == "%=" || token == "^=";
}

/// Splits [begin, end) at the commas outside every bracket, into at most `maxPieces`
/// ranges (the last one keeps any further commas). Always yields at least one range.
std::vector<TokenRange> splitTopLevel(const TokenList& tokens, uint32_t begin, uint32_t end,
                                      size_t maxPieces = SIZE_MAX)
{
    std::vector<TokenRange> ranges;
    uint32_t depth = 0;
    uint32_t pieceStart = begin;
    for (uint32_t i = begin; i < end; ++i) {
        const Token& token = tokens[i];
        if (isOpener(token)) {
            ++depth;
        } else if (isCloser(token)) {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (token == "," && depth == 0 && ranges.size() + 1 < maxPieces) {
            ranges.push_back({pieceStart, i});
            pieceStart = i + 1;
        }
    }
    ranges.push_back({pieceStart, end});
    return ranges;
}

/// The "]" that closes the "[" at `open`, counting every bracket kind; 0 when there is none
/// or another closer ends the bracket first.
uint32_t matchingSquareBracket(const TokenList& tokens, uint32_t open)
{
    uint32_t depth = 0;
    for (uint32_t i = open; i < tokens.size(); ++i) {
        if (isOpener(tokens[i])) {
            ++depth;
        } else if (isCloser(tokens[i]) && --depth == 0) {
            return tokens[i] == "]" ? i : 0;
        }
    }
    return 0;
}

// targets: name [ "[" key "]" ]... { "," name [ "[" key "]" ]... } followed by an assignment
// operator. Records nothing unless the whole shape is there.
bool findAssignment(ParsedScriptLine& line)
{
    const TokenList& tokens = line.tokens;
    const auto count = static_cast<uint32_t>(tokens.size());
    uint32_t pos = line.scopeModifier == ScopeModifier::None ? 0 : 1;
    std::vector<ParsedAssignmentTarget> targets;
    while (true) {
        if (pos >= count || !line.analyses[pos].isIdentifier) return false;
        ParsedAssignmentTarget target;
        target.nameIndex = pos++;
        while (pos < count && tokens[pos] == "[") {
            const uint32_t close = matchingSquareBracket(tokens, pos);
            if (close == 0) return false;
            target.indexRanges.push_back({pos + 1, close});
            pos = close + 1;
        }
        targets.push_back(std::move(target));
        if (pos < count && tokens[pos] == ",") {
            ++pos;
            continue;
        }
        if (pos >= count || !isAssignmentOperator(tokens[pos])) return false;
        break;
    }
    line.isAssignment = true;
    line.assignOperatorIndex = pos;
    line.assignmentTargets = std::move(targets);
    return true;
}

/// for name [, name ...] in expression: the range after "in", when the header has that shape.
bool findGenericForIterator(const ParsedScriptLine& line, TokenRange& iterator)
{
    const auto count = static_cast<uint32_t>(line.tokens.size());
    uint32_t pos = 1;
    while (pos < count && line.analyses[pos].isIdentifier) {
        ++pos;
        if (pos < count && line.tokens[pos] == "in") {
            iterator = {pos + 1, count};
            return true;
        }
        if (pos >= count || line.tokens[pos] != ",") return false;
        ++pos;
    }
    return false;
}

bool isNumericFor(const ParsedScriptLine& line)
{
    return line.tokens.size() >= 4 && line.analyses[1].isIdentifier && line.tokens[2] == "=";
}

void collectExpressionRanges(ParsedScriptLine& line)
{
    const auto count = static_cast<uint32_t>(line.tokens.size());
    switch (line.kind) {
    case StatementKind::If:
    case StatementKind::ElseIf:
    case StatementKind::While:
    case StatementKind::Until:
        line.exprRanges.push_back({1, count});  // may be empty: reported when it runs
        break;
    case StatementKind::Return:
        if (count > 1) line.exprRanges = splitTopLevel(line.tokens, 1, count);
        break;
    case StatementKind::For: {
        TokenRange iterator;
        if (isNumericFor(line)) {
            line.exprRanges = splitTopLevel(line.tokens, 3, count, 3);  // start, stop [, step]
        } else if (findGenericForIterator(line, iterator)) {
            line.exprRanges.push_back(iterator);
        }
        break;
    }
    case StatementKind::Simple:
        if (findAssignment(line)) {
            line.exprRanges = splitTopLevel(line.tokens, line.assignOperatorIndex + 1, count);
        } else {
            line.exprRanges.push_back({0, count});
        }
        break;
    default:
        break;
    }
}

// A range that does not compile keeps no fast form and goes to the general evaluator,
// which then reports whatever is wrong with it when the statement runs.
FastExpression compileRangeSafely(const ParsedScriptLine& line, const TokenRange& range)
{
    try {
        return compileFastExpressionRange(line.tokens, line.analyses, range);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return FastExpression{};
    }
}

void compileFastForms(ParsedScriptLine& line)
{
    line.exprFast.reserve(line.exprRanges.size());
    for (const TokenRange& range : line.exprRanges) line.exprFast.push_back(compileRangeSafely(line, range));
    for (ParsedAssignmentTarget& target : line.assignmentTargets) {
        target.indexFast.reserve(target.indexRanges.size());
        for (const TokenRange& range : target.indexRanges) target.indexFast.push_back(compileRangeSafely(line, range));
    }
}

AssignmentForm assignmentFormOf(const ParsedScriptLine& line)
{
    if (!line.isAssignment || line.assignmentTargets.empty() || line.assignOperatorIndex >= line.tokens.size()) {
        return AssignmentForm::Undecided;
    }
    const std::string& op = line.tokens[line.assignOperatorIndex];
    if (op != "=") return op.size() == 2 && op[1] == '=' ? AssignmentForm::Compound : AssignmentForm::Undecided;
    const ParsedAssignmentTarget& target = line.assignmentTargets.front();
    if (line.assignmentTargets.size() == 1 && line.exprRanges.size() == 1 && target.nameIndex < line.tokens.size() &&
        target.indexRanges.size() == 1) {
        return AssignmentForm::OneElement;
    }
    return AssignmentForm::Plain;
}

// nest "label": the label is one non-empty string literal. The failure is a plain message
// (load and loadFile hand it to scripts as it is); the position context names the line so
// that whoever reports it can place it.
void validateNestLabel(CobaltScript& engine, const ParsedScriptLine& line)
{
    const char* message = nullptr;
    if (line.tokens.size() != 2 || !isQuotedToken(line.tokens[1])) {
        message = "nest labels must be string literals";
    } else if (decodeStringToken(line.tokens[1]).empty()) {
        message = "nest label must not be empty";
    }
    if (!message) return;
    ErrorContext& context = engine.errorContext;
    context.ownedSource = line.text;
    context.sourceText = &context.ownedSource;
    context.currentLine = line.lineNumber;
    context.nearToken.assign(line.tokens.size() >= 2 ? line.tokens[1] : line.tokens[0]);
    context.nearTokenIndex = line.tokens.size() >= 2 ? 1 : 0;
    fail(message);
}

void resetPreparation(ParsedScriptLine& line)
{
    line.kind = StatementKind::Empty;
    line.matchingEnd = kNoLine;
    line.nextBranch = kNoLine;
    line.scopeModifier = ScopeModifier::None;
    line.isAssignment = false;
    line.assignOperatorIndex = 0;
    line.assignmentForm = AssignmentForm::Undecided;
    line.assignmentTargets.clear();
    line.exprRanges.clear();
    line.exprFast.clear();
}

void prepareLine(CobaltScript& engine, ParsedScriptLine& line)
{
    resetPreparation(line);
    if (line.analyses.size() != line.tokens.size()) {
        line.analyses.clear();
        for (const Token& token : line.tokens) line.analyses.push_back(analyseToken(token));
    }
    line.kind = classify(line.tokens);
    if (line.kind == StatementKind::Simple) line.scopeModifier = scopeModifierOf(line.tokens[0]);
    if (line.kind == StatementKind::Nest) validateNestLabel(engine, line);
    collectExpressionRanges(line);
    compileFastForms(line);
    line.assignmentForm = assignmentFormOf(line);
}

} // namespace

void CobaltScript::prepareParsedLines(ParsedLines& lines)
{
    for (ParsedScriptLine& line : lines) prepareLine(*this, line);
    linkBlocks(lines);
}

} // namespace cobalt
