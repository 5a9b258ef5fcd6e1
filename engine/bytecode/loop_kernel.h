#pragma once
// A loop kernel: a loop body made only of statements over numbers (assignments, `local`s,
// compound steps and array stores whose expressions have flat forms, ifs over such bodies,
// breaks), compiled once per body chunk. Every name the body reads or writes is resolved once
// into a register, and stays resolved for as many iterations as nothing but the kernel runs:
// such statements can neither open nor close a scope nor define a name, and they call nothing
// but the native builtins with a scalar form.
//
// The instruction loop stays the reference. A statement the kernel cannot decide (a string
// where a number was expected, a new global, an index past the end of an array, any failure)
// has not changed anything yet; the kernel hands the body over to the instruction loop at
// that statement, which runs it and the rest of the iteration as it always would, and the
// names are resolved afresh on the next iteration. So results and failures stay identical.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/bytecode/float_code.h"
#include "engine/bytecode/number_code.h"
#include "engine/cobalt_script.h"

namespace cobalt {

namespace interp {

/// Where a kernel left a block for the instruction loop to go on: the instruction to run
/// next, and, when the instruction before it (an if whose branch was handed over) has
/// completed, the signal and value it completed with, which the loop has yet to act on.
struct KernelHandover {
    uint32_t pc = 0;
    bool completed = false;
    BlockSignal signal = BlockSignal::None;
    Variable value;
};

} // namespace interp

enum class KernelStep : uint8_t { Assign, Local, Compound, Store, If, Break };

/// A flat form the kernel evaluates, and the register each of its name nodes reads.
struct KernelExpression {
    const ParsedScriptLine* line = nullptr;
    const FastExpression* fast = nullptr;
    std::vector<int16_t> nodeRegister;
    NumberCode code;  // tried first; the flat form decides where it gives up
    FloatCode floatCode;  // for names that hold floats, tried before the number code
    // The register the expression is, when it is a plain name (the key of a[i] = e).
    int16_t name = -1;
    // Evaluations left before the int code (the float code) is tried again after an operand
    // was no int (no float).
    mutable uint8_t intSkips = 0;
    mutable uint8_t floatSkips = 0;
};

/// One statement of a kernel. `pc` is its instruction.
struct KernelStatement {
    KernelStep step = KernelStep::Assign;
    char op = 0;          // Compound: the operator's first byte
    int16_t target = -1;  // Assign, Compound: the register assigned; Store: the container's;
                          // Local: the local's index in the held scope
    uint32_t pc = 0;
    const ParsedScriptLine* line = nullptr;  // Break: null when its line index is out of range
    int32_t value = -1;  // the right side's expression; If: the first branch
    int32_t key = -1;    // Store: the key's expression; If: the number of branches
};

/// One branch of an if: its condition (-1 for else) and its body's statements.
struct KernelBranch {
    int32_t condition = -1;
    const ParsedScriptLine* line = nullptr;
    uint32_t chunk = 0;
    uint32_t firstStatement = 0;
    uint32_t statementCount = 0;
    uint64_t end = 0;  // one past the body chunk's last instruction
};

/// A name the body uses: resolved by the engine's look-up (by its first token), or one of the
/// body's own locals (its entry in the held scope, `local` >= 0) after its declaration.
struct KernelRegister {
    const std::string* name = nullptr;
    const TokenAnalysis* analysis = nullptr;
    int16_t local = -1;
};

/// Refers to the lines of the program it was built from (`program`), which stay as compiled
/// while the program lives.
struct LoopKernel {
    static constexpr size_t kMaxRegisters = 24;

    const BytecodeProgram* program = nullptr;
    std::vector<KernelStatement> statements;  // the body's first, then each branch's
    uint32_t bodyStatements = 0;
    std::vector<KernelBranch> branches;
    std::vector<KernelExpression> expressions;
    std::vector<KernelRegister> registers;
    std::vector<int16_t> localRegisters;  // the register of each held-scope local
    uint32_t firstInstruction = 0;        // the body chunk's
    int32_t condition = -1;                // a while loop's condition, or -1
    const ParsedScriptLine* conditionLine = nullptr;
};

/// The kernel of a loop body chunk, or null when some statement has none. Worked out once per
/// chunk and kept with the program. `heldScope`: the body runs in a block scope its loop holds
/// (it declares locals), which the kernel's `local` statements fill.
/// `between`: the line whose condition the loop tests between iterations (a while or until
/// line), or null. A loop whose condition may call a function has no kernel: the call could
/// move what the registers point to. A while loop's kernel decides the condition as well.
const LoopKernel* loopKernelFor(CobaltScript& engine, BytecodeProgram& program, uint32_t chunk, bool heldScope,
                                const ParsedScriptLine* between);

/// A kernel's state over one run of its loop: the registers, and whether they are still
/// resolved. A loop whose kernel keeps handing over stops using it.
class LoopKernelRun {
public:
    void attach(const LoopKernel* kernel) { m_kernel = kernel; }
    /// Whether this iteration may start in the kernel: it has one, and the instruction loop
    /// would do nothing at the body's boundaries but run its statements and give a scheduled
    /// coroutine its turns (no coroutine failure, jump, soft error or stop is pending).
    bool ready(const CobaltScript& engine) const
    {
        if (m_kernel == nullptr || m_gaveUp) return false;
        // An iteration that ran wholly in the kernel left none of those pending (the kernel
        // hands over after a turn that leaves one); only a stop comes from outside.
        if (m_clean) return !engine.stopRequested();
        return !engine.coroutines.pendingFailure && !engine.loader.jumpPending && !engine.softError.pending &&
               !engine.stopRequested();
    }
    /// Runs the body from its first statement (its locals into the held scope at `heldAt`).
    /// True when the kernel ran all of it (`signal`: none or break); false when it handed the
    /// body over (handover()), which the instruction loop must then run.
    bool run(CobaltScript& engine, const ProgramRef& program, size_t heldAt, BlockSignal& signal);
    /// Where the last run that returned false handed the body over.
    interp::KernelHandover& handover() { return m_handover; }
    /// A while loop's condition: true with its truth when the kernel decided it.
    bool decideCondition(CobaltScript& engine, bool& truth);
    /// Something other than the kernel ran: the names are resolved again before it runs next.
    void invalidate()
    {
        m_resolved = false;
        m_clean = false;
    }

private:
    enum class Outcome : uint8_t { Done, HandedOver };

    /// Resolves every register; `held`: the held scope whose entries are the locals declared
    /// so far in this iteration, or null when none is.
    void resolve(CobaltScript& engine, ScopeList* held);
    /// The scheduled coroutine's turn after an instruction, if one is due. False when the turn
    /// left a failure, a jump, a soft error or a stop for the instruction loop to take up.
    bool afterInstruction(CobaltScript& engine)
    {
        const CoroutineEngineState& coroutines = engine.coroutines;
        return !coroutines.scheduled || coroutines.inTurn != 0 || coroutineTurn(engine);
    }
    [[gnu::noinline]] bool coroutineTurn(CobaltScript& engine);
    Outcome runBlock(CobaltScript& engine, const ProgramRef& program, uint32_t first, uint32_t count, size_t heldAt,
                     BlockSignal& signal);
    Outcome runIf(CobaltScript& engine, const ProgramRef& program, const KernelStatement& statement, size_t heldAt,
                  BlockSignal& signal);
    bool evaluate(CobaltScript& engine, int32_t expression, FastScalarValue& out);
    bool evaluateSlowly(CobaltScript& engine, const KernelExpression& compiled, FastScalarValue& out);
    bool runSimple(CobaltScript& engine, const KernelStatement& statement, size_t heldAt);
    void handOver(uint32_t pc);

    const LoopKernel* m_kernel = nullptr;
    Variable* m_registers[LoopKernel::kMaxRegisters] = {};
    bool m_resolved = false;
    bool m_gaveUp = false;
    bool m_clean = false;  // the last iteration ran wholly in the kernel
    uint32_t m_iterations = 0;
    uint32_t m_handovers = 0;
    interp::KernelHandover m_handover;
};

} // namespace cobalt
