#pragma once
// Plain path helpers used by script loading. Paths are handled as "/"-separated byte strings
// and are never normalised: "a/./b" and "a/b" are different cache keys.

#include <string>

namespace cobalt {

/// True when `stat` succeeds on the path; the empty string never exists.
bool pathExists(const std::string& path);

/// The text before the last "/", or empty when the path has none ("/x" gives "").
std::string pathDirectory(const std::string& path);

/// base + "/" + leaf, without doubling a "/" that base already ends with; leaf alone when
/// base is empty.
std::string joinPath(const std::string& base, const std::string& leaf);

} // namespace cobalt
