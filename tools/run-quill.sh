#!/usr/bin/env bash
# Opens the Quill window from the build folder.
#
# With no arguments this is a newcomer's first run: it starts quill-sandbox (a Misskey-compatible
# instance on this machine, keeping its state in ~/.local/share/quill-sandbox/) and opens the window
# signed in to it with the greeter example loaded; closing the window ends the sandbox. The window's
# settings for this run live beside the sandbox's state, so they never replace the user's own.
# With arguments, they are passed on to quill (quill [--instance URL --token-file FILE] [--script FILE.cbs]).
#
# On a machine without a display it says so and runs the example script with cobalt instead.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${QUILL_BUILD_DIR:-$ROOT/build}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): not opening the Quill window."
  echo "Running the example script with cobalt instead:"
  exec "$BUILD/cli/cobalt" "$ROOT/examples/hello.cbs"
fi

for program in ui/quill sandbox/quill-sandbox; do
  if [ ! -x "$BUILD/$program" ]; then
    echo "$program is not built in $BUILD (configure with the application: cmake -S . -B build -G Ninja)." >&2
    exit 1
  fi
done
if [ $# -gt 0 ]; then
  exec "$BUILD/ui/quill" "$@"
fi

data="${XDG_DATA_HOME:-$HOME/.local/share}/quill-sandbox"
mkdir -p "$data"
announcements="$(mktemp)"
"$BUILD/sandbox/quill-sandbox" --state "$data/state.json" --key-file "$data/sandbox-key.txt" >"$announcements" &
sandbox=$!
trap 'kill "$sandbox" 2>/dev/null; wait "$sandbox" 2>/dev/null; rm -f "$announcements"' EXIT

# The sandbox picks a free port and announces its address as its last line once it is ready.
instance=""
for _ in $(seq 100); do
  instance="$(sed -n 's/^Sandbox instance at //p' "$announcements")"
  if [ -n "$instance" ] || ! kill -0 "$sandbox" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if [ -z "$instance" ]; then
  echo "quill-sandbox did not start; see the message above." >&2
  exit 1
fi
echo "Sandbox instance at $instance (its state is kept in $data)"

XDG_CONFIG_HOME="$data/config" "$BUILD/ui/quill" --instance "$instance" --token-file "$data/sandbox-key.txt" \
  --script "$ROOT/examples/greeter.cbs"
