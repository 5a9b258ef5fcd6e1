// Function declarations: function target(parameters) and its decay, native and local forms.
// Shared by the tree-walker (body = a copy of the parsed lines) and the bytecode interpreter
// (body = a chunk of the program); the caller fills the body, everything else happens here.

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/exec/line_access.h"

namespace cobalt {
namespace {

struct DeclarationHead {
    size_t nameIndex = 0;
    std::vector<Variable> keys;  // name[k1][k2]... suffixes, evaluated at declaration time
    std::vector<std::string> parameters;
    bool variadic = false;
};

std::string_view tokenOr(const TokenList& tokens, size_t index, std::string_view fallback)
{
    return index < tokens.size() ? std::string_view(tokens[index]) : fallback;
}

// target ( [name {, name}] [, ...] )
DeclarationHead parseDeclarationHead(CobaltScript& engine, const ParsedScriptLine& line)
{
    const TokenList& tokens = line.tokens;
    DeclarationHead head;
    size_t position = line.kind == StatementKind::Function ? 1 : 2;
    if (!tokenIsIdentifier(line, position)) {
        engine.throwError("Expected function target", tokenOr(tokens, position, "EOF"));
    }
    head.nameIndex = position++;
    while (position < tokens.size() && tokens[position] == "[") {
        ++position;
        head.keys.push_back(engine.evaluateExpression(tokens, position, analysesOf(line)));
        if (position >= tokens.size() || tokens[position] != "]") {
            engine.throwError("Expected closing bracket in function target", tokenOr(tokens, position, "]"));
        }
        ++position;
    }
    if (position >= tokens.size() || tokens[position] != "(") {
        engine.throwError("Expected '(' after function target", tokenOr(tokens, position, "("));
    }
    ++position;

    if (position < tokens.size() && tokens[position] == ")") {
        ++position;
    } else {
        while (true) {
            if (position >= tokens.size()) engine.throwError("Expected ')' after function parameters", ")");
            if (tokens[position] == "...") {
                head.variadic = true;
                ++position;
                if (position >= tokens.size() || tokens[position] != ")") {
                    engine.throwError("Expected ')' after function parameters", tokenOr(tokens, position, ")"));
                }
                ++position;
                break;
            }
            if (!tokenIsIdentifier(line, position)) {
                engine.throwError("Expected function parameter name", tokens[position]);
            }
            head.parameters.push_back(tokens[position++]);
            if (position >= tokens.size()) engine.throwError("Expected ')' after function parameters", ")");
            if (tokens[position] == ",") {
                ++position;
                continue;
            }
            if (tokens[position] == ")") {
                ++position;
                break;
            }
            engine.throwError("Expected ',' or ')' after function parameter", tokens[position]);
        }
    }
    if (position < tokens.size()) engine.throwError("Unexpected token after function declaration", tokens[position]);
    return head;
}

ScopeTarget declarationTarget(StatementKind kind)
{
    if (kind == StatementKind::NativeFunction) return ScopeTarget::Native;
    if (kind == StatementKind::LocalFunction) return ScopeTarget::Local;
    return ScopeTarget::Default;
}

} // namespace

void CobaltScript::declareFunction(const ParsedScriptLine& line, const std::function<void(ScriptCallable&)>& fill)
{
    try {
        DeclarationHead head = parseDeclarationHead(*this, line);

        auto function = std::make_shared<ScriptCallable>();
        function->isCoroutine = line.kind == StatementKind::DecayFunction;
        function->isVariadic = head.variadic;
        function->name = line.tokens[head.nameIndex];
        function->parameters = std::move(head.parameters);
        function->sourceDirectory = loader.directoryStack.empty() ? std::string() : loader.directoryStack.back();
        function->sourcePath = loader.pathStack.empty() ? std::string() : loader.pathStack.back();
        function->capturedScope = scopes.currentFrame;
        fill(*function);
        prepareFastCallableBody(*function);

        const std::string& name = line.tokens[head.nameIndex];
        const TokenAnalysis* analysis = analysisAt(line, head.nameIndex);
        const ScopeTarget target = declarationTarget(line.kind);
        if (head.keys.empty()) {
            assignVariableFast(name, analysis, Variable(std::move(function)), target);
        } else {
            storeIndexed(*this, name, analysis, head.keys.data(), head.keys.size(), Variable(std::move(function)),
                         target);
        }
    } catch (const std::exception&) {
        rethrowPositioned(line);
    }
}

} // namespace cobalt
