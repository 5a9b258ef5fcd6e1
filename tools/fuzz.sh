#!/usr/bin/env bash
# Builds the engine's libFuzzer targets with clang (in build-fuzz/) and runs each for a while.
#
#   tools/fuzz.sh [SECONDS [TARGET...]]
#
# SECONDS per target (default 60); TARGET names such as cobalt_run_fuzzer (default: all). Each
# target grows its corpus in fuzz-work/<target>/ (kept between runs, never committed) from its
# committed seeds and kept crashers. Findings are written to fuzz-work/artifacts/ as crash-*,
# timeout-*, leak-* or oom-*; a minimised finding that has been fixed belongs in
# tests/engine/fuzz/regressions/<target>/, where ctest replays it in every build.
# FUZZ_JOBS=N runs N targets at once (default 1); FUZZ_LEAKS=0 ignores leaks.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all_targets=(cobalt_parse_fuzzer cobalt_eval_fuzzer cobalt_run_fuzzer cobalt_class_pattern_fuzzer
             cobalt_regex_fuzzer cobalt_bytecode_fuzzer cobalt_snapshot_fuzzer)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${all_targets[@]}"); fi

fuzz=tests/engine/fuzz
seeds_of() {
  case $1 in
    cobalt_parse_fuzzer) echo "$fuzz/seeds tests/engine/scripts" ;;
    cobalt_eval_fuzzer) echo "$fuzz/seeds" ;;
    cobalt_run_fuzzer) echo "$fuzz/seeds tests/engine/scripts" ;;
    cobalt_class_pattern_fuzzer) echo "$fuzz/pattern_seeds/class" ;;
    cobalt_regex_fuzzer) echo "$fuzz/pattern_seeds/regex" ;;
    cobalt_bytecode_fuzzer) echo "$fuzz/binary_seeds/bytecode" ;;
    cobalt_snapshot_fuzzer) echo "$fuzz/binary_seeds/snapshot" ;;
    *) echo "unknown fuzz target: $1" >&2; exit 2 ;;
  esac
}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUILL_BUILD_APP=OFF -DQUILL_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

mkdir -p fuzz-work/artifacts
# Leaks are findings too (FUZZ_LEAKS=0 turns them off); the sanitizers stop at the first report.
leaks=${FUZZ_LEAKS:-1}
export ASAN_OPTIONS="detect_leaks=$leaks"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

run_target() {
  local target=$1
  local corpus=fuzz-work/$target
  local regressions=$fuzz/regressions/$target
  mkdir -p "$corpus"
  local inputs=("$corpus")
  # shellcheck disable=SC2207
  inputs+=($(seeds_of "$target"))
  if [ -d "$regressions" ]; then inputs+=("$regressions"); fi
  local dictionary=()
  case $target in
    cobalt_parse_fuzzer | cobalt_eval_fuzzer | cobalt_run_fuzzer) dictionary=(-dict="$fuzz/cobalt.dict") ;;
  esac
  # -timeout is generous: a single builtin may legitimately work for seconds under the
  # sanitizers on a busy machine (the regex step cap, a 256 MiB result refused at its limit).
  # Fork mode keeps fuzzing past a finding (each is still written to the artifacts);
  # -malloc_limit_mb catches a single allocation that a script error should have refused.
  echo "== $target: ${seconds} s"
  build-fuzz/tests/engine/fuzz/"$target" "${dictionary[@]}" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=4096 -fork=1 -ignore_crashes=1 -ignore_timeouts=1 \
    -ignore_ooms=1 -detect_leaks="$leaks" -artifact_prefix=fuzz-work/artifacts/"$target"- "${inputs[@]}" \
    > fuzz-work/"$target".log 2>&1 || true
  grep -E '^#[0-9]+: cov|^INFO: fuzzed for|DONE|crash-|timeout-|oom-|leak-' fuzz-work/"$target".log | tail -3 || true
}

jobs=${FUZZ_JOBS:-1}
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$target" &
done
wait
echo "== findings in fuzz-work/artifacts:"
ls fuzz-work/artifacts
