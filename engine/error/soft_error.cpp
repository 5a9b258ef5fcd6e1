// A script's own errors: thrown outside protected calls, recorded inside them.

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"

namespace cobalt {

void CobaltScript::raiseScriptErrorSoft(const std::string& message)
{
    // After a stop request protected calls catch nothing, so there is nothing to record.
    if (calls.protectedCalls.empty() || stopRequested()) throw RaisedScriptError(message);
    // The first error wins; the protected call reports it once the blocks have unwound.
    if (softError.pending) return;
    softError.pending = true;
    softError.depth = calls.protectedCalls.back();
    softError.message = message;
}


} // namespace cobalt
