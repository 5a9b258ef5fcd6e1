#!/usr/bin/env bash
# Runs a test on a private X server; exit status 77 (skipped) where xvfb-run is not installed.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed: skipping $1"
  exit 77
fi
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1600x1200x24" "$@"
