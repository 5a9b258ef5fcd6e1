#pragma once
// Teardown help: containers are reference counted, so a table that holds itself (directly or
// through other containers) would never be freed.

namespace cobalt {

class CobaltScript;

/// Walks every container reachable from the engine's variables and clears exactly the
/// entries that close a cycle (the back edges of a depth-first walk), so that all of them can
/// be freed. Containers that are not part of a cycle are left untouched.
void breakReferenceCycles(CobaltScript& engine);

} // namespace cobalt
