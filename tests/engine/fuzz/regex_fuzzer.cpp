// Fuzz target for the regular-expression forms of patterns, "re:EXPR" and "/EXPR/FLAGS": flag
// parsing, the dot-matches-all rewrite, compiling and searching with its step and memory
// caps, capture expansion in gsub replacements ("\1") and the library functions over them
// (pattern_calls.h has the input layout). A pattern without either form is searched as
// "re:" + pattern, so the mutations need not keep the prefix.

#include "tests/engine/fuzz/pattern_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096) return -1;
    quill_fuzz::PatternInput input = quill_fuzz::splitPatternInput(data, size);
    if (!input.pattern.starts_with("re:") && !input.pattern.starts_with("/")) input.pattern.insert(0, "re:");
    quill_fuzz::callPatternFunctions(input);
    return 0;
}
