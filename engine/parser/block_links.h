#pragma once
// Links the lines of each block: an opener to its "end" (or a repeat to its "until"), and
// every branch of an if chain to the next branch and to the chain's "end".

#include "engine/parser/parsed_script_line.h"

namespace cobalt {

/// One pass with a stack of open blocks. Unclosed openers keep no link; they fail only
/// when executed.
void linkBlocks(ParsedLines& lines);

} // namespace cobalt
