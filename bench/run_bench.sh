#!/usr/bin/env bash
# Runs the programs in bench/programs with cobalt from one or two build directories, lua5.4 and
# luajit; checks that every run prints the same checksum and prints the median times.
#
#   bench/run_bench.sh BUILD_DIR [OTHER_BUILD_DIR]
#
# Environment: BENCH_REPS (runs per program and interpreter, default 5), BENCH_ONLY (space-separated
# program names to run, default all), BENCH_TIMEOUT (seconds per run, default 60).
#
# Two figures are kept per run: "elapsed", the milliseconds the program reports itself (cobalt's
# getTimeMs is wall time, Lua's os.clock is processor time), and "cpu", the user plus system time of
# the whole process as the shell measures it (start-up and compilation included). On a loaded
# machine the processor time is the fairer comparison.
set -uo pipefail

usage() {
  echo "usage: $0 BUILD_DIR [OTHER_BUILD_DIR]" >&2
  exit 2
}

if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
case "$1" in -h|--help) usage ;; esac

bench_dir=$(cd "$(dirname "$0")" && pwd)
programs_dir="$bench_dir/programs"
reps=${BENCH_REPS:-5}
timeout_s=${BENCH_TIMEOUT:-60}
if ! [[ "$reps" =~ ^[1-9][0-9]*$ ]]; then
  echo "BENCH_REPS must be a positive integer, not '$reps'" >&2
  exit 2
fi
if ! [[ "$timeout_s" =~ ^[1-9][0-9]*$ ]]; then
  echo "BENCH_TIMEOUT must be a positive integer, not '$timeout_s'" >&2
  exit 2
fi

# The cobalt binary of a build directory (a path to the binary itself is accepted too).
cobalt_of() {
  local dir=$1
  if [ -f "$dir" ] && [ -x "$dir" ]; then
    echo "$dir"
  elif [ -x "$dir/cli/cobalt" ]; then
    echo "$dir/cli/cobalt"
  else
    echo "no cobalt binary in '$dir' (expected $dir/cli/cobalt)" >&2
    exit 2
  fi
}

# Interpreters as parallel arrays: a column label, the command, the source extension.
labels=() commands=() exts=()
cobalt_a=$(cobalt_of "$1") || exit 2
compare=0
if [ $# -eq 2 ]; then
  cobalt_b=$(cobalt_of "$2") || exit 2
  labels+=("cobalt-A" "cobalt-B") commands+=("$cobalt_a" "$cobalt_b") exts+=("cbs" "cbs")
  compare=1
else
  labels+=("cobalt") commands+=("$cobalt_a") exts+=("cbs")
fi
for lua in lua5.4 luajit; do
  if command -v "$lua" >/dev/null 2>&1; then
    labels+=("$lua") commands+=("$(command -v "$lua")") exts+=("lua")
  else
    echo "note: $lua not found, its column is left out" >&2
  fi
done

if [ -n "${BENCH_ONLY:-}" ]; then
  read -r -a names <<<"$BENCH_ONLY"
else
  names=()
  for f in "$programs_dir"/*.cbs; do
    names+=("$(basename "$f" .cbs)")
  done
fi
for name in "${names[@]}"; do
  for ext in cbs lua; do
    if [ ! -f "$programs_dir/$name.$ext" ]; then
      echo "missing program: $programs_dir/$name.$ext" >&2
      exit 2
    fi
  done
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "0m1.234s" -> 1234
to_ms() {
  awk -v t="$1" 'BEGIN { split(t, p, "m"); sub("s", "", p[2]); printf "%d", (p[1] * 60 + p[2]) * 1000 + 0.5 }'
}

# Runs one program once; prints "CHECKSUM ELAPSED_MS CPU_MS" or a reason for failing.
run_once() {
  local cmd=$1 file=$2 out=$work/out err=$work/err
  local timing
  # `times` in the subshell reports the processor time of the children it has waited for.
  timing=$(cd "$programs_dir" && { timeout "$timeout_s" "$cmd" "$file" >"$out" 2>"$err"; echo "rc=$?"; times; })
  local rc
  rc=$(sed -n 's/^rc=//p' <<<"$timing")
  if [ "$rc" != 0 ]; then
    echo "FAILED (exit $rc): $(head -c 300 "$err" | tr '\n' ' ')"
    return 1
  fi
  local checksum elapsed children user sys
  checksum=$(sed -n 's/^checksum: //p' "$out" | tail -n 1)
  elapsed=$(tail -n 1 "$out" | sed -n 's/^elapsed: //p')
  if [ -z "$checksum" ] || ! [[ "$elapsed" =~ ^[0-9]+$ ]]; then
    echo "FAILED: no 'checksum:' line or last line not 'elapsed: N'"
    return 1
  fi
  children=$(tail -n 1 <<<"$timing")
  user=$(to_ms "${children%% *}")
  sys=$(to_ms "${children##* }")
  echo "$checksum $elapsed $((user + sys))"
}

median() {
  tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%d\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B [DECIMALS]
ratio() {
  awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { if (a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.*f", d, a / b }'
}

status=0
declare -A elapsed_med cpu_med
for name in "${names[@]}"; do
  declare -A elapsed_runs=() cpu_runs=()
  expected=""
  failed=0
  printf 'running %-10s' "$name" >&2
  for ((rep = 1; rep <= reps; rep++)); do
    # Interpreters take turns within each repetition, so a change in the machine's load spreads
    # over all of them instead of falling on one.
    for i in "${!labels[@]}"; do
      if ! result=$(run_once "${commands[$i]}" "$name.${exts[$i]}"); then
        echo >&2
        echo "$name with ${labels[$i]}: $result" >&2
        failed=1
        break 2
      fi
      read -r checksum elapsed cpu <<<"$result"
      if [ -z "$expected" ]; then
        expected=$checksum
      elif [ "$checksum" != "$expected" ]; then
        echo >&2
        echo "$name: checksum mismatch: ${labels[$i]} printed $checksum, ${labels[0]} printed $expected" >&2
        failed=1
        break 2
      fi
      elapsed_runs[$i]+=" $elapsed"
      cpu_runs[$i]+=" $cpu"
    done
    printf '.' >&2
  done
  echo >&2
  # shellcheck disable=SC2034  # the medians are read through the name reference in print_table
  for i in "${!labels[@]}"; do
    if [ "$failed" = 1 ]; then
      elapsed_med[$name,$i]="-" cpu_med[$name,$i]="-"
    else
      elapsed_med[$name,$i]=$(median <<<"${elapsed_runs[$i]}")
      cpu_med[$name,$i]=$(median <<<"${cpu_runs[$i]}")
    fi
  done
  [ "$failed" = 1 ] && status=1
  unset elapsed_runs cpu_runs
done

column_of() {
  local want=$1
  for i in "${!labels[@]}"; do
    [ "${labels[$i]}" = "$want" ] && { echo "$i"; return; }
  done
  echo ""
}

# One table for one measure: the times of every interpreter, then cobalt against each Lua.
print_table() {
  local -n med=$1
  local title=$2
  local lua_col jit_col
  lua_col=$(column_of lua5.4)
  jit_col=$(column_of luajit)
  echo
  echo "$title (median of $reps, ms)"
  printf '%-10s' "program"
  for label in "${labels[@]}"; do printf ' %10s' "$label"; done
  [ -n "$lua_col" ] && printf ' %12s' "${labels[0]}/lua"
  [ -n "$jit_col" ] && printf ' %12s' "${labels[0]}/jit"
  [ "$compare" = 1 ] && printf ' %10s' "B/A"
  echo
  for name in "${names[@]}"; do
    printf '%-10s' "$name"
    for i in "${!labels[@]}"; do printf ' %10s' "${med[$name,$i]}"; done
    [ -n "$lua_col" ] && printf ' %12s' "$(ratio "${med[$name,0]}" "${med[$name,$lua_col]}")"
    [ -n "$jit_col" ] && printf ' %12s' "$(ratio "${med[$name,0]}" "${med[$name,$jit_col]}")"
    [ "$compare" = 1 ] && printf ' %10s' "$(ratio "${med[$name,1]}" "${med[$name,0]}" 2)"
    echo
  done
}

echo "A: $cobalt_a"
[ "$compare" = 1 ] && echo "B: $cobalt_b"
print_table elapsed_med "elapsed as the program reports it"
print_table cpu_med "processor time of the whole process"
if [ "$status" != 0 ]; then
  echo
  echo "some programs failed or disagreed; see the messages above" >&2
fi
exit "$status"
