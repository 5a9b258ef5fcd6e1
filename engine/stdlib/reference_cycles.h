#pragma once
// Teardown help: containers are reference counted, so a table that holds itself (directly or
// through other containers) would never be freed.

namespace cobalt {

class CobaltScript;

/// Frees every container that reference counting alone would keep alive after the engine:
/// - walks the containers reachable from the engine's variables and clears exactly the
///   entries that close a cycle (the back edges of a depth-first walk), leaving that data
///   otherwise intact;
/// - empties every other container in the engine's registry: nothing in the engine reaches
///   it any more, so it is garbage the script let go of (possibly a cycle) or is held only by
///   native functions that die with the engine.
void releaseReferenceCycles(CobaltScript& engine);

} // namespace cobalt
