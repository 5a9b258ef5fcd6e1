// PLACEHOLDER until the recording host lands.

#include "cli/dry_run.h"

#include <cstdio>

namespace cobalt::cli {

int runDryRun(const DryRunOptions& /*options*/)
{
    std::fputs("cobalt: --dry-run is not available in this build\n", stderr);
    return 2;
}

} // namespace cobalt::cli
