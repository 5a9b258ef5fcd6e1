// Putting an engine back into its between-runs state. The call guards undo what each call
// changes, but a run can still end with leftovers: a soft error or a jump that was pending
// when the host's run returned, or stacks of a run that ended in an unusual way. A host that
// reuses an engine clears them so that one failed run cannot affect the next.

#include "engine/cobalt_script.h"

namespace cobalt {

void CobaltScript::resetTransientState()
{
    softError = SoftErrorState{};
    errorContext = ErrorContext{};

    calls.callDepth = 0;
    calls.protectedCalls.clear();
    calls.varargs.clear();

    loader.jumpPending = false;
    loader.pendingJumpLabel.clear();
    loader.directoryStack.clear();
    loader.pathStack.clear();
    loader.loadedChunkDepth = 0;
    loader.lastFailure = LoadFailure{};
    activeChunks.clear();

    // Popped one by one so that their entry lists are recycled as usual.
    while (!scopes.blocks.empty()) popBlockScope();
    while (!scopes.loops.empty()) popLoopScope();
    scopes.blockBase = 0;
    scopes.currentFrame = 0;

    // A scheduled coroutine, or the failure of one, must not reach into the next run.
    resetCoroutines();
}

} // namespace cobalt
