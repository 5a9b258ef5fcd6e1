#pragma once
// Loops taken one iteration at a time. A loop statement runs all of its iterations in one
// go; a coroutine steps through its body a statement per turn, so it keeps the loop's
// position as data between turns. The generic for cursor walks exactly what the loop
// statement walks (the pairs/ipairs form over the container, otherwise the elements of an
// array iterator) with the same failures.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/scope/table_cache.h"
#include "engine/value/variable.h"

namespace cobalt {

class CobaltScript;
struct ParsedScriptLine;

struct GenericForCursor {
    enum class Mode : uint8_t { Elements, ArrayContainer, TableSequence, TableKeys };
    Mode mode = Mode::Elements;
    std::vector<std::string> names;
    Variable container;              // the walked array or table (held so it stays alive)
    std::vector<Variable> elements;  // Elements: the iterator's elements when the loop began
    // TableKeys: the table's key list when the loop began, shared with the table's cache.
    std::shared_ptr<const TableIterationKeys> keys;
    int32_t length = 0;              // TableSequence: the length when the loop began
    size_t next = 0;                 // iterations done so far
};

/// The start, limit and step of a numeric for line (failures positioned at the line).
struct NumericForRange {
    int32_t start = 0;
    int32_t stop = 0;
    int32_t step = 1;
};
NumericForRange evaluateNumericForRange(CobaltScript& engine, const ParsedScriptLine& line);

/// Evaluates the loop clause of `line` into `cursor` (failures positioned at the line).
void openGenericForCursor(CobaltScript& engine, const ParsedScriptLine& line, GenericForCursor& cursor);

/// Binds the next iteration's values into the loop scope at `loopDepth`; false when the walk
/// is over.
bool advanceGenericForCursor(CobaltScript& engine, const ParsedScriptLine& line, GenericForCursor& cursor,
                             size_t loopDepth);

} // namespace cobalt
