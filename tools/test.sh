#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the whole test suite.
# QUILL_SANITIZE=1 builds into build-asan with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
flags=()
if [ "${QUILL_SANITIZE:-0}" = "1" ]; then
  build=build-asan
  flags+=(-DQUILL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2
