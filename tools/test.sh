#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the whole test suite; this is what CI runs.
#
# 1. The optimized build (Release, in build/) with the application, and every test.
# 2. The engine alone with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer (in
#    build-asan-engine/), and its tests: the engine unit and script tests, the `cobalt`
#    contract tests, the embedding host test and the replay of the fuzz corpora.
#
# QUILL_SANITIZE=1 instead builds everything, the application included, with the sanitizers
# (Debug, in build-asan) and runs every test there.
set -euo pipefail
cd "$(dirname "$0")/.."

# Any sanitizer report fails the run; leaks are reported when each test process exits.
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

# build_and_test <build folder> <cmake options...>
build_and_test() {
  local build=$1
  shift
  local started=$SECONDS
  cmake -S . -B "$build" -G Ninja "$@" >/dev/null
  cmake --build "$build"
  ctest --test-dir "$build" --output-on-failure -j2
  echo "== $build: built and tested in $((SECONDS - started)) s"
}

if [ "${QUILL_SANITIZE:-0}" = "1" ]; then
  build_and_test build-asan -DQUILL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  exit 0
fi

build_and_test build -DCMAKE_BUILD_TYPE=Release
build_and_test build-asan-engine -DQUILL_BUILD_APP=OFF -DQUILL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
