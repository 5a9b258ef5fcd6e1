// Loop kernels (loop_kernel.h): building one from a body chunk, resolving its registers and
// running an iteration.

#include "engine/bytecode/loop_kernel.h"

#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "engine/bytecode/fast_evaluator.h"
#include "engine/bytecode/interpreter_internal.h"
#include "engine/exec/line_access.h"
#include "engine/value/array_growth.h"

namespace cobalt {

namespace {

/// A flat form the kernel can run: a valid fast form with flat steps.
bool hasFlatForm(const FastExpression& expression)
{
    return expression.valid() && !expression.flat.empty();
}

class KernelBuilder {
public:
    KernelBuilder(CobaltScript& engine, BytecodeProgram& program, bool heldScope)
        : m_engine(engine), m_program(program), m_heldScope(heldScope)
    {
    }

    /// Builds the body chunk; false when some statement has no kernel form. `condition`: a
    /// while loop's line, whose condition is read before the body's locals exist.
    bool build(uint32_t chunk, const ParsedScriptLine* condition)
    {
        if (condition != nullptr) {
            m_kernel.condition = addExpression(static_cast<uint32_t>(condition - m_program.lines.data()), false);
            if (m_kernel.condition < 0) return false;
            m_kernel.conditionLine = condition;
        }
        std::vector<KernelStatement> body;
        if (!buildBlock(chunk, true, body)) return false;
        m_kernel.program = &m_program;
        m_kernel.firstInstruction = m_program.chunks[chunk].firstInstruction;
        // The body's statements come first; the branches' were added as they were met.
        m_kernel.bodyStatements = static_cast<uint32_t>(body.size());
        for (KernelBranch& branch : m_kernel.branches) branch.firstStatement += m_kernel.bodyStatements;
        body.insert(body.end(), m_branchStatements.begin(), m_branchStatements.end());
        m_kernel.statements = std::move(body);
        return m_kernel.registers.size() <= LoopKernel::kMaxRegisters;
    }

    LoopKernel take() { return std::move(m_kernel); }

private:
    bool chunkRange(uint32_t chunk, uint32_t& first, uint64_t& end) const
    {
        if (chunk >= m_program.chunks.size()) return false;
        const BytecodeChunk record = m_program.chunks[chunk];
        first = record.firstInstruction;
        end = uint64_t{record.firstInstruction} + record.instructionCount;
        return end <= m_program.instructions.size();
    }

    bool buildBlock(uint32_t chunk, bool topLevel, std::vector<KernelStatement>& out)
    {
        uint32_t first = 0;
        uint64_t end = 0;
        if (!chunkRange(chunk, first, end)) return false;
        for (uint64_t pc = first; pc < end; ++pc) {
            const Instruction instruction = m_program.instructions[pc];
            KernelStatement statement;
            statement.pc = static_cast<uint32_t>(pc);
            switch (instruction.opcode) {
            case Opcode::Line:
            case Opcode::InlineAssignment:
                if (!buildLine(instruction.operand, topLevel, statement)) return false;
                break;
            case Opcode::If:
                if (!buildIf(instruction.operand, statement)) return false;
                break;
            case Opcode::Break:
                statement.step = KernelStep::Break;
                if (instruction.operand < m_program.lines.size()) statement.line = &m_program.lines[instruction.operand];
                break;
            default: return false;
            }
            out.push_back(statement);
        }
        return true;
    }

    bool buildLine(uint32_t lineIndex, bool topLevel, KernelStatement& statement)
    {
        if (lineIndex >= m_program.lines.size()) return false;
        const ParsedScriptLine& line = m_program.lines[lineIndex];
        statement.line = &line;
        if (line.assignmentTargets.size() != 1 || line.exprRanges.size() != 1 || line.exprFast.empty() ||
            !hasFlatForm(line.exprFast.front())) {
            return false;
        }
        const ParsedAssignmentTarget& target = line.assignmentTargets.front();
        if (!plainName(line, target.nameIndex)) return false;
        // The right side is read before the target is declared or written.
        statement.value = addExpression(lineIndex, false);
        if (statement.value < 0) return false;
        switch (line.assignmentForm) {
        case AssignmentForm::Plain:
            if (!target.indexRanges.empty()) return false;
            if (line.scopeModifier == ScopeModifier::None) {
                statement.step = KernelStep::Assign;
                statement.target = registerFor(lineIndex, target.nameIndex);
                return statement.target >= 0;
            }
            // A local of a branch would need a scope of the branch's own.
            if (line.scopeModifier != ScopeModifier::Local || !topLevel || !m_heldScope) return false;
            statement.step = KernelStep::Local;
            statement.target = declareLocal(lineIndex, target.nameIndex);
            return statement.target >= 0;
        case AssignmentForm::OneElement:
            if (line.scopeModifier != ScopeModifier::None || target.indexFast.size() != 1 ||
                !hasFlatForm(target.indexFast.front())) {
                return false;
            }
            statement.step = KernelStep::Store;
            statement.key = addExpression(lineIndex, true);
            statement.target = registerFor(lineIndex, target.nameIndex);
            return statement.key >= 0 && statement.target >= 0;
        case AssignmentForm::Compound:
            if (line.scopeModifier != ScopeModifier::None || !target.indexRanges.empty() ||
                line.assignOperatorIndex >= line.tokens.size() || line.tokens[line.assignOperatorIndex].empty()) {
                return false;
            }
            statement.step = KernelStep::Compound;
            statement.op = line.tokens[line.assignOperatorIndex][0];
            statement.target = registerFor(lineIndex, target.nameIndex);
            return statement.target >= 0;
        case AssignmentForm::Undecided: break;
        }
        return false;
    }

    bool buildIf(uint32_t group, KernelStatement& statement)
    {
        if (group >= m_program.ifGroups.size()) return false;
        statement.step = KernelStep::If;
        statement.value = static_cast<int32_t>(m_kernel.branches.size());
        const std::vector<BytecodeIfBranch>& branches = m_program.ifGroups[group].branches;
        statement.key = static_cast<int32_t>(branches.size());
        // Reserved first, so that the branches of this if stay together while nested ifs add theirs.
        const size_t at = m_kernel.branches.size();
        m_kernel.branches.resize(at + branches.size());
        for (size_t i = 0; i < branches.size(); ++i) {
            const BytecodeIfBranch source = branches[i];
            KernelBranch branch;
            branch.chunk = source.chunk;
            if (!source.isElse) {
                if (source.line >= m_program.lines.size()) return false;
                const ParsedScriptLine& line = m_program.lines[source.line];
                branch.line = &line;
                if (line.exprRanges.empty() || line.exprFast.empty() || !hasFlatForm(line.exprFast.front())) {
                    return false;
                }
                branch.condition = addExpression(source.line, false);
                if (branch.condition < 0) return false;
            }
            // The branch must run where the instruction loop would run it in place, in the
            // loop body's scope.
            uint32_t first = 0;
            if (!chunkRange(source.chunk, first, branch.end) || !interp::runsInPlace(m_program, source.chunk) ||
                interp::bodyNeedsOwnScope(m_engine, m_program, source.chunk)) {
                return false;
            }
            std::vector<KernelStatement> statements;
            if (!buildBlock(source.chunk, false, statements)) return false;
            branch.firstStatement = static_cast<uint32_t>(m_branchStatements.size());
            branch.statementCount = static_cast<uint32_t>(statements.size());
            m_branchStatements.insert(m_branchStatements.end(), statements.begin(), statements.end());
            m_kernel.branches[at + i] = branch;
        }
        return true;
    }

    /// A plain name token with its analysis: no explicit scope, which the look-ups would treat
    /// apart.
    bool plainName(const ParsedScriptLine& line, uint32_t token) const
    {
        return token < line.tokens.size() && token < line.analyses.size() && line.analyses[token].noScopeMark;
    }

    int32_t addExpression(uint32_t lineIndex, bool key)
    {
        const ParsedScriptLine& line = m_program.lines[lineIndex];
        const FastExpression& expression = key ? line.assignmentTargets.front().indexFast.front()
                                               : line.exprFast.front();
        KernelExpression compiled;
        compiled.line = &line;
        compiled.fast = &expression;
        compiled.nodeRegister.assign(expression.nodes.size(), -1);
        for (size_t i = 0; i < expression.nodes.size(); ++i) {
            if (expression.nodes[i].kind != FastExprNodeKind::Variable) continue;
            const uint32_t token = expression.nodes[i].tokenIndex;
            if (!plainName(line, token)) return -1;
            compiled.nodeRegister[i] = registerFor(lineIndex, token);
            if (compiled.nodeRegister[i] < 0) return -1;
        }
        compiled.code = compileNumberCode(expression, compiled.nodeRegister);
        compiled.floatCode = compileFloatCode(expression, compiled.nodeRegister);
        const FastExprNode& root = expression.nodes[static_cast<size_t>(expression.root)];
        if (root.kind == FastExprNodeKind::Variable) compiled.name = compiled.nodeRegister[static_cast<size_t>(expression.root)];
        m_kernel.expressions.push_back(std::move(compiled));
        return static_cast<int32_t>(m_kernel.expressions.size() - 1);
    }

    /// The register of a name at this point of the body: the local it declared earlier, else
    /// the name as the look-up finds it.
    int16_t registerFor(uint32_t lineIndex, uint32_t token)
    {
        const std::string& name = m_program.lines[lineIndex].tokens[token];
        if (const auto local = m_locals.find(name); local != m_locals.end()) {
            return m_kernel.localRegisters[static_cast<size_t>(local->second)];
        }
        if (const auto known = m_names.find(name); known != m_names.end()) return known->second;
        const int16_t added = addRegister(lineIndex, token, -1);
        if (added >= 0) m_names.emplace(name, added);
        return added;
    }

    /// The held-scope index of a local declared here (the one it already has when declared
    /// again).
    int16_t declareLocal(uint32_t lineIndex, uint32_t token)
    {
        const std::string& name = m_program.lines[lineIndex].tokens[token];
        if (const auto local = m_locals.find(name); local != m_locals.end()) return local->second;
        const auto index = static_cast<int16_t>(m_kernel.localRegisters.size());
        const int16_t added = addRegister(lineIndex, token, index);
        if (added < 0) return -1;
        m_kernel.localRegisters.push_back(added);
        m_locals.emplace(name, index);
        return index;
    }

    int16_t addRegister(uint32_t lineIndex, uint32_t token, int16_t local)
    {
        if (m_kernel.registers.size() >= LoopKernel::kMaxRegisters) return -1;
        const ParsedScriptLine& line = m_program.lines[lineIndex];
        m_kernel.registers.push_back(KernelRegister{&line.tokens[token], &line.analyses[token], local});
        return static_cast<int16_t>(m_kernel.registers.size() - 1);
    }

    CobaltScript& m_engine;
    BytecodeProgram& m_program;
    bool m_heldScope;
    LoopKernel m_kernel;
    std::vector<KernelStatement> m_branchStatements;
    std::unordered_map<std::string, int16_t> m_names;
    std::unordered_map<std::string, int16_t> m_locals;
};


/// Whether testing the line's condition can run no script code: its fast tree holds no call.
bool conditionCallsNothing(const ParsedScriptLine& line)
{
    if (line.exprRanges.empty() || line.exprFast.empty() || !line.exprFast.front().valid()) return false;
    const FastExpression& condition = line.exprFast.front();
    return !condition.nodes[static_cast<size_t>(condition.root)].hasCall;
}

/// The line of the program that `line` is, or null.
const ParsedScriptLine* lineOf(const BytecodeProgram& program, const ParsedScriptLine* line)
{
    if (line == nullptr || program.lines.empty() || line < program.lines.data() ||
        line >= program.lines.data() + program.lines.size()) {
        return nullptr;
    }
    return line;
}

} // namespace

const LoopKernel* loopKernelFor(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk, bool heldScope,
                                const ParsedScriptLine* between)
{
    if (chunk >= program.chunks.size()) return nullptr;
    if (between != nullptr && !conditionCallsNothing(*between)) return nullptr;
    // Only a while line's condition comes before the body; an until line's comes after it.
    const ParsedScriptLine* condition = between != nullptr && between->kind == StatementKind::While &&
                                                !between->exprFast.front().flat.empty()
                                            ? lineOf(program, between)
                                            : nullptr;
    if (program.loopKernels.size() < program.chunks.size()) program.loopKernels.resize(program.chunks.size());
    if (program.loopKernelFacts.size() < program.chunks.size()) {
        program.loopKernelFacts.resize(program.chunks.size(), interp::kChunkFactUnknown);
    }
    uint8_t& known = program.loopKernelFacts[chunk];
    if (known == interp::kChunkFactUnknown) {
        known = interp::kChunkFactNo;
        KernelBuilder builder(engine, program, heldScope);
        if (builder.build(chunk, condition)) {
            program.loopKernels[chunk] = std::make_shared<const LoopKernel>(builder.take());
            known = interp::kChunkFactYes;
        }
    }
    const LoopKernel* kernel = known == interp::kChunkFactYes ? program.loopKernels[chunk].get() : nullptr;
    // A kernel refers to the lines of the program it was built from, never to a copy's.
    return kernel != nullptr && kernel->program == &program ? kernel : nullptr;
}

void LoopKernelRun::resolve(CobaltScript& engine, ScopeList* held)
{
    const std::vector<KernelRegister>& registers = m_kernel->registers;
    for (size_t i = 0; i < registers.size(); ++i) {
        const KernelRegister& name = registers[i];
        if (name.local < 0) {
            m_registers[i] = engine.resolveVariableFastPtr(*name.name, name.analysis);
            continue;
        }
        // A local declared so far in this iteration is its entry in the held scope; the rest
        // are set when they are declared.
        const auto index = static_cast<size_t>(name.local);
        m_registers[i] = held != nullptr && index < held->entries.size() ? &held->entries[index].second : nullptr;
    }
    m_resolved = true;
}

namespace {

/// What a coroutine's turn could change of where the running code's names are found. The turn
/// runs on block and loop scopes of its own (the running code's are swapped out, untouched),
/// so only the scopes it shares could move or hide a variable: a global defined (globals are
/// never removed, and their slots never move) or a name added to the running code's frame
/// scope.
struct SharedScopeShape {
    size_t globals = 0;
    size_t frames = 0;
    const void* frameEntries = nullptr;
    size_t frameEntryCount = 0;

    explicit SharedScopeShape(const ScopeState& scopes)
        : globals(scopes.globalSlots.size()), frames(scopes.frames.size())
    {
        if (scopes.currentFrame < scopes.frames.size()) {
            const auto& entries = scopes.frames[scopes.currentFrame].entries;
            frameEntries = entries.data();
            frameEntryCount = entries.size();
        }
    }
    bool operator==(const SharedScopeShape&) const = default;
};

} // namespace

bool LoopKernelRun::coroutineTurn(CobaltScript& engine)
{
    CoroutineEngineState& coroutines = engine.coroutines;
    // Every instruction that completes outside a turn gives the scheduled coroutine one, as
    // in the instruction loop. The turn runs script code: the names are resolved again when
    // it changed what they could be found in.
    const SharedScopeShape before(engine.scopes);
    engine.serviceScheduledCoroutineTurnNoThrow();
    if (!(SharedScopeShape(engine.scopes) == before)) m_resolved = false;
    return !coroutines.pendingFailure && !engine.loader.jumpPending && !engine.softError.pending &&
           !engine.stopRequested();
}

void LoopKernelRun::handOver(uint32_t pc)
{
    m_handover.pc = pc;
    m_handover.completed = false;
    m_handover.value = Variable();
    // Whatever runs from here may move or hide what the registers point to.
    m_resolved = false;
    m_clean = false;
    // A kernel that keeps handing over costs more than it saves: after a few tries, a loop
    // whose body hands over on one iteration in four or more runs the instruction loop only.
    ++m_handovers;
    if (m_handovers >= 8 && m_handovers * 4 >= m_iterations) m_gaveUp = true;
}

namespace {

/// After the int or float code met an operand of another kind, this many evaluations skip it.
constexpr uint8_t kRetryInterval = 16;

} // namespace

[[gnu::always_inline]] inline bool LoopKernelRun::evaluate(CobaltScript& engine, int32_t expression,
                                                            FastScalarValue& out)
{
    const KernelExpression& compiled = m_kernel->expressions[static_cast<size_t>(expression)];
    if (compiled.name >= 0) {
        // A plain name, an int most of the time: read where it lives.
        const Variable* value = m_registers[compiled.name];
        if (value != nullptr && value->type == VarType::Int) {
            if (const int32_t* whole = std::get_if<int32_t>(&value->value)) {
                out.kind = FastScalarValue::Int;
                out.intValue = *whole;
                return true;
            }
        }
    } else {
        if (!compiled.code.intSteps.empty()) {
            if (compiled.intSkips == 0) {
                if (runIntCode(compiled.code, m_registers, out)) return true;
                compiled.intSkips = kRetryInterval;
            } else {
                --compiled.intSkips;
            }
        }
        if (compiled.floatCode.valid()) {
            if (compiled.floatSkips == 0) {
                if (runFloatCode(compiled.floatCode, m_registers, out)) return true;
                compiled.floatSkips = kRetryInterval;
            } else {
                --compiled.floatSkips;
            }
        }
    }
    return evaluateSlowly(engine, compiled, out);
}

[[gnu::noinline]] bool LoopKernelRun::evaluateSlowly(CobaltScript& engine, const KernelExpression& compiled,
                                                     FastScalarValue& out)
{
    if (compiled.code.valid() && runNumberCode(engine, compiled.code, m_registers, out)) return true;
    FastEvaluator evaluator(engine, *compiled.fast, *compiled.line);
    return evaluator.flatScalarResolved(m_registers, compiled.nodeRegister.data(), out);
}

namespace {

/// The scalar into a variable that exists: an int over an int in place, the rest as
/// assignFastScalarToVariable stores it.
[[gnu::always_inline]] inline void storeScalar(const FastScalarValue& value, Variable& target)
{
    if (value.kind == FastScalarValue::Int && target.type == VarType::Int) {
        if (int32_t* payload = std::get_if<int32_t>(&target.value)) {
            *payload = value.intValue;
            return;
        }
    } else if (value.kind == FastScalarValue::Float && target.type == VarType::Float) {
        if (float* payload = std::get_if<float>(&target.value)) {
            *payload = static_cast<float>(value.floatValue);
            return;
        }
    }
    assignFastScalarToVariable(value, target);
}

/// Appends the scalar's value to `list`, made in its place: an array's items, or (with the
/// name) a scope's entries.
template <class List, class... Name>
void emplaceScalar(List& list, const FastScalarValue& value, const Name&... name)
{
    const auto add = [&](auto... argument) -> Variable& {
        if constexpr (sizeof...(Name) == 0) {
            makeRoomForOneMore(list);
            return list.emplace_back(argument...);
        } else {
            return list.emplace_back(std::piecewise_construct, std::forward_as_tuple(name...),
                                     std::forward_as_tuple(argument...))
                .second;
        }
    };
    switch (value.kind) {
    case FastScalarValue::Int: add(value.intValue); return;
    case FastScalarValue::Float: add(static_cast<float>(value.floatValue)); return;
    default: assignFastScalarToVariable(value, add()); return;
    }
}

} // namespace

/// An assignment, local, compound step or array store: true when it ran, false (with nothing
/// changed) when the instruction loop must run it.
[[gnu::always_inline]] inline bool LoopKernelRun::runSimple(CobaltScript& engine, const KernelStatement& statement,
                                                             size_t heldAt)
{
    const ParsedScriptLine& line = *statement.line;
    engine.setPositionContext(line);
    FastScalarValue value;
    if (!evaluate(engine, statement.value, value)) return false;
    switch (statement.step) {
    case KernelStep::Assign: {
        Variable* target = m_registers[statement.target];
        if (target == nullptr) return false;  // the instruction loop defines the global
        storeScalar(value, *target);
        return true;
    }
    case KernelStep::Compound: {
        Variable* target = m_registers[statement.target];
        return target != nullptr && value.kind == FastScalarValue::Int &&
               applyIntCompound(*target, statement.op, value.intValue);
    }
    case KernelStep::Store: {
        FastScalarValue key;
        if (!evaluate(engine, statement.key, key) || key.kind != FastScalarValue::Int || key.intValue < 1) {
            return false;
        }
        Variable* container = m_registers[statement.target];
        if (container == nullptr || container->type != VarType::Array) return false;
        std::vector<Variable>& items = container->asArray()->items;
        const auto position = static_cast<size_t>(key.intValue) - 1;
        if (position < items.size()) {
            storeScalar(value, items[position]);
            return true;
        }
        if (position != items.size()) return false;
        emplaceScalar(items, value);
        return true;
    }
    case KernelStep::Local: {
        ScopeList& held = engine.scopes.blocks[heldAt];
        const auto index = static_cast<size_t>(statement.target);
        if (index < held.entries.size()) {
            storeScalar(value, held.entries[index].second);
            return true;
        }
        const uint32_t token = line.assignmentTargets.front().nameIndex;
        held.nameMask |= line.analyses[token].nameBit;
        emplaceScalar(held.entries, value, line.tokens[token]);
        // The list may have moved: every declared local is found again.
        const std::vector<int16_t>& locals = m_kernel->localRegisters;
        for (size_t i = 0; i < held.entries.size() && i < locals.size(); ++i) {
            m_registers[locals[i]] = &held.entries[i].second;
        }
        return true;
    }
    case KernelStep::If:
    case KernelStep::Break: break;
    }
    return false;
}

LoopKernelRun::Outcome LoopKernelRun::runIf(CobaltScript& engine, const ProgramRef& program,
                                           const KernelStatement& statement, size_t heldAt, BlockSignal& signal)
{
    for (int32_t i = 0; i < statement.key; ++i) {
        const KernelBranch& branch = m_kernel->branches[static_cast<size_t>(statement.value + i)];
        if (branch.condition >= 0) {
            engine.setPositionContext(*branch.line);
            FastScalarValue truth;
            if (!evaluate(engine, branch.condition, truth)) {
                // Conditions have no effects: the instruction loop tests them all again.
                handOver(statement.pc);
                return Outcome::HandedOver;
            }
            if (!scalarTruthy(truth)) continue;
        }
        if (runBlock(engine, program, branch.firstStatement, branch.statementCount, heldAt, signal) == Outcome::Done) {
            return Outcome::Done;
        }
        // The branch goes on in the instruction loop; the if then completes with its outcome,
        // which the enclosing block's loop acts on.
        BlockSignal branchSignal = BlockSignal::None;
        Variable branchValue = interp::runBranchRest(engine, program, branch.chunk, branch.end, m_handover, branchSignal);
        m_handover.pc = statement.pc + 1;
        m_handover.completed = true;
        m_handover.signal = branchSignal;
        m_handover.value = std::move(branchValue);
        return Outcome::HandedOver;
    }
    return Outcome::Done;
}

LoopKernelRun::Outcome LoopKernelRun::runBlock(CobaltScript& engine, const ProgramRef& program, uint32_t first,
                                              uint32_t count, size_t heldAt, BlockSignal& signal)
{
    for (uint32_t i = first; i < first + count; ++i) {
        const KernelStatement& statement = m_kernel->statements[i];
        if (!m_resolved) [[unlikely]] {
            resolve(engine, m_kernel->localRegisters.empty() ? nullptr : &engine.scopes.blocks[heldAt]);
        }
        switch (statement.step) {
        case KernelStep::If:
            if (runIf(engine, program, statement, heldAt, signal) == Outcome::HandedOver) return Outcome::HandedOver;
            if (afterInstruction(engine)) [[likely]] {
                if (signal != BlockSignal::None) return Outcome::Done;
                break;
            }
            if (signal != BlockSignal::None) return Outcome::Done;
            handOver(statement.pc + 1);
            return Outcome::HandedOver;
        case KernelStep::Break:
            if (statement.line != nullptr) engine.setPositionContext(*statement.line);
            signal = BlockSignal::Break;
            // Whatever the turn leaves waiting, the loop's own boundary takes up.
            afterInstruction(engine);
            return Outcome::Done;
        default:
            if (!runSimple(engine, statement, heldAt)) {
                handOver(statement.pc);
                return Outcome::HandedOver;
            }
            if (!afterInstruction(engine)) [[unlikely]] {
                // The instruction loop's next boundary takes up what the turn left waiting.
                handOver(statement.pc + 1);
                return Outcome::HandedOver;
            }
        }
    }
    return Outcome::Done;
}

bool LoopKernelRun::decideCondition(CobaltScript& engine, bool& truth)
{
    if (m_kernel->condition < 0) return false;
    // Between iterations the held scope holds no local.
    if (!m_resolved) resolve(engine, nullptr);
    engine.setPositionContext(*m_kernel->conditionLine);
    FastScalarValue value;
    // Undecided, the statement executor tests it again: a condition has no effects.
    if (!evaluate(engine, m_kernel->condition, value)) return false;
    truth = scalarTruthy(value);
    return true;
}

bool LoopKernelRun::run(CobaltScript& engine, const ProgramRef& program, size_t heldAt, BlockSignal& signal)
{
    signal = BlockSignal::None;
    ++m_iterations;
    // The body's locals go into the held scope in the order the kernel declares them, so it
    // must start empty, as the loop leaves it after every iteration.
    if (!m_kernel->localRegisters.empty() && !engine.scopes.blocks[heldAt].entries.empty()) {
        handOver(m_kernel->firstInstruction);
        return false;
    }
    if (!m_resolved) resolve(engine, nullptr);
    m_clean = runBlock(engine, program, 0, m_kernel->bodyStatements, heldAt, signal) == Outcome::Done;
    return m_clean;
}

} // namespace cobalt
