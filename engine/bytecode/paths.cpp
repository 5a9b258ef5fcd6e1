// Path helpers and the resolution of the paths that scripts hand to loadFile and runFile.

#include "engine/bytecode/paths.h"

#include <sys/stat.h>

#include <string_view>

#include "engine/cobalt_script.h"

namespace cobalt {

bool pathExists(const std::string& path)
{
    if (path.empty()) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string pathDirectory(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash);
}

std::string joinPath(const std::string& base, const std::string& leaf)
{
    if (base.empty()) return leaf;
    if (base.back() == '/') return base + leaf;
    return base + "/" + leaf;
}

namespace {

constexpr std::string_view kResourcesFolder = "/Resources";
constexpr std::string_view kBundledScriptsPrefix = "ast/scripts/";

/// The base up to and including the first "/Resources" that ends a path component, or
/// empty when the base lies below no such folder.
std::string resourcesRoot(const std::string& base)
{
    size_t at = base.find(kResourcesFolder);
    while (at != std::string::npos) {
        const size_t after = at + kResourcesFolder.size();
        if (after == base.size() || base[after] == '/') return base.substr(0, after);
        at = base.find(kResourcesFolder, at + 1);
    }
    return {};
}

/// The directory relative paths are taken from: the running script's directory, else the
/// directory of the running script's path.
std::string resolutionBase(const LoaderState& loader)
{
    if (!loader.directoryStack.empty() && !loader.directoryStack.back().empty()) {
        return loader.directoryStack.back();
    }
    if (!loader.pathStack.empty()) return pathDirectory(loader.pathStack.back());
    return {};
}

} // namespace

// A path that exists as given (relative to the working directory) wins; otherwise it is
// looked up beside the running script, then in the application's resource folder.
std::string CobaltScript::resolvePath(const std::string& path) const
{
    if (path.empty() || path.front() == '/') return path;
    if (pathExists(path)) return path;

    const std::string base = resolutionBase(loader);
    if (base.empty()) return path;

    const std::string besideScript = joinPath(base, path);
    if (pathExists(besideScript)) return besideScript;

    const std::string root = resourcesRoot(base);
    if (root.empty()) return besideScript;

    const std::string inResources = joinPath(root, path);
    if (pathExists(inResources)) return inResources;

    if (std::string_view(path).starts_with(kBundledScriptsPrefix)) {
        const std::string bundled = joinPath(joinPath(root, "scripts"), path.substr(kBundledScriptsPrefix.size()));
        if (pathExists(bundled)) return bundled;
    }
    return besideScript;
}

} // namespace cobalt
