#!/usr/bin/env bash
# Launches the Quill window from the build folder, or, on a machine without a display, says so and
# runs the example script with cobalt instead. Arguments are passed on to quill
# (quill [--instance URL --token-file FILE] [--script FILE.cbs]).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QUILL_BUILD_DIR:-$ROOT/build}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): not opening the Quill window."
  echo "Running the example script with cobalt instead:"
  exec "$BUILD/cli/cobalt" "$ROOT/examples/hello.cbs"
fi

if [ ! -x "$BUILD/ui/quill" ]; then
  echo "quill is not built in $BUILD (configure with the application: cmake -S . -B build -G Ninja)." >&2
  exit 1
fi
exec "$BUILD/ui/quill" "$@"
