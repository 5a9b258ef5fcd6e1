// PLACEHOLDER until the bot API lands: only print goes to the host's log callback.

#include <string>

#include "engine/embed/script_runtime.h"

namespace cobalt {

void installFunctions(QuillScriptRuntime& runtime)
{
    runtime.engine.pushFunction("print", [&runtime](NativeArgs args) {
        std::string line;
        for (size_t i = 0; i < args.size(); ++i) {
            if (i > 0) line += '\t';
            args[i].appendTo(line);
        }
        if (runtime.log) runtime.log(runtime.context, line.c_str());
        return Variable();
    });
}

} // namespace cobalt
