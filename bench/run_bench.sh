#!/usr/bin/env bash
# Runs every program pair in bench/programs with cobalt, lua5.4 and luajit -joff, checks that all of
# them print the same output, and prints a Markdown table of the median processor times, the ratio
# cobalt / lua5.4, the peak memory of each and the geometric mean of the ratios, followed by the
# start-up time of an empty script.
#
#   bench/run_bench.sh [-p PROGRAMS_DIR] BUILD_DIR [OTHER_BUILD_DIR]
#
# Environment: BENCH_REPS (runs per program and interpreter, default 5), BENCH_ONLY (space-separated
# program names, default all), BENCH_TIMEOUT (seconds per run, default 120), BENCH_STARTUP_REPS
# (runs of the empty script per interpreter, default 21), CC (C compiler for the measuring wrapper,
# default cc).
#
# Times are processor time (user plus system) of each interpreter process as wait4() reports it, so
# other work on a shared machine barely moves them; peak memory is the process's maximum resident
# set. Both come from bench/measure.c, compiled on each run.
set -uo pipefail

usage() {
  echo "usage: $0 [-p PROGRAMS_DIR] BUILD_DIR [OTHER_BUILD_DIR]" >&2
  exit 2
}

bench_dir=$(cd "$(dirname "$0")" && pwd)
programs_dir="$bench_dir/programs"
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage ;;
    -p) [ $# -ge 2 ] || usage; programs_dir=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
if [ ! -d "$programs_dir" ]; then
  echo "no programs directory '$programs_dir'" >&2
  exit 2
fi
programs_dir=$(cd "$programs_dir" && pwd)

reps=${BENCH_REPS:-5}
timeout_s=${BENCH_TIMEOUT:-120}
startup_reps=${BENCH_STARTUP_REPS:-21}
for setting in "BENCH_REPS=$reps" "BENCH_TIMEOUT=$timeout_s" "BENCH_STARTUP_REPS=$startup_reps"; do
  if ! [[ "${setting#*=}" =~ ^[1-9][0-9]*$ ]]; then
    echo "${setting%%=*} must be a positive integer, not '${setting#*=}'" >&2
    exit 2
  fi
done

# The cobalt binary of a build directory (the path of the binary itself is accepted too), as an
# absolute path: the programs run from their own directory.
cobalt_of() {
  local dir=$1
  if [ -f "$dir" ] && [ -x "$dir" ]; then
    echo "$(cd "$(dirname "$dir")" && pwd)/$(basename "$dir")"
  elif [ -x "$dir/cli/cobalt" ]; then
    echo "$(cd "$dir/cli" && pwd)/cobalt"
  else
    echo "no cobalt binary in '$dir' (expected $dir/cli/cobalt)" >&2
    return 1
  fi
}

# Interpreters as parallel arrays: column label, binary, one optional flag, source extension.
labels=() bins=() flags=() exts=()
cobalt_a=$(cobalt_of "$1") || exit 2
compare=0
if [ $# -eq 2 ]; then
  cobalt_b=$(cobalt_of "$2") || exit 2
  labels+=("cobalt-A" "cobalt-B") bins+=("$cobalt_a" "$cobalt_b") flags+=("" "") exts+=(cbs cbs)
  compare=1
else
  labels+=("cobalt") bins+=("$cobalt_a") flags+=("") exts+=(cbs)
fi
if ! command -v lua5.4 >/dev/null 2>&1; then
  echo "lua5.4 is needed (tools/install-deps.sh installs it)" >&2
  exit 2
fi
lua_col=${#labels[@]}
labels+=("lua5.4") bins+=("$(command -v lua5.4)") flags+=("") exts+=(lua)
jit_col=""
if command -v luajit >/dev/null 2>&1; then
  # The interpreter only: the comparison is between interpreters, and a trace compiler would
  # measure something else.
  jit_col=${#labels[@]}
  labels+=("luajit -joff") bins+=("$(command -v luajit)") flags+=("-joff") exts+=(lua)
else
  echo "note: luajit not found, its columns are left out" >&2
fi

if [ -n "${BENCH_ONLY:-}" ]; then
  read -r -a names <<<"$BENCH_ONLY"
else
  names=()
  for f in "$programs_dir"/*.cbs; do
    [ -e "$f" ] && names+=("$(basename "$f" .cbs)")
  done
fi
if [ ${#names[@]} -eq 0 ]; then
  echo "no programs in '$programs_dir'" >&2
  exit 2
fi
for name in "${names[@]}"; do
  for ext in cbs lua; do
    if [ ! -f "$programs_dir/$name.$ext" ]; then
      echo "missing program: $name.$ext in $programs_dir" >&2
      exit 2
    fi
  done
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
measure=$work/measure
if ! "${CC:-cc}" -std=c11 -O2 -o "$measure" "$bench_dir/measure.c" 2>"$work/cc.err"; then
  echo "cannot compile bench/measure.c with ${CC:-cc}:" >&2
  cat "$work/cc.err" >&2
  exit 2
fi

# Runs interpreter I on FILE (inside the programs directory) once. Leaves its standard output,
# without any "elapsed:" lines, in $work/out and prints "CPU_US MAXRSS_KIB WALL_US", or prints a
# reason and fails.
run_once() {
  local i=$1 file=$2
  local cmd=("${bins[$i]}")
  [ -n "${flags[$i]}" ] && cmd+=("${flags[$i]}")
  (cd "$programs_dir" && "$measure" "$work/report" "$timeout_s" "${cmd[@]}" "$file" \
    >"$work/raw" 2>"$work/err" </dev/null)
  local status user sys rss wall
  if ! read -r status user sys rss wall <"$work/report"; then
    echo "no report from the measuring wrapper"
    return 1
  fi
  if [ "$status" = timeout ]; then
    echo "FAILED: still running after ${timeout_s}s"
    return 1
  fi
  if [ "$status" != 0 ]; then
    echo "FAILED (exit $status): $(head -c 300 "$work/err" | tr '\n' ' ')"
    return 1
  fi
  # Older programs report their own elapsed time; it differs from run to run, so it is no part of
  # the output that has to agree.
  grep -v '^elapsed: ' "$work/raw" >"$work/out"
  echo "$((user + sys)) $rss $wall"
}

median() {
  tr ' ' '\n' | grep -v '^$' | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%d\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

maximum() {
  tr ' ' '\n' | grep -v '^$' | sort -n | tail -n 1
}

# fmt_div A B DECIMALS: A / B, or "-" when either is missing.
fmt_div() {
  awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { if (a == "-" || b == "-" || a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.*f", d, a / b }'
}

# Start-up: an empty script, the interpreters taking turns.
: >"$work/empty.cbs"
: >"$work/empty.lua"
declare -A start_cpu=() start_wall=()
printf 'start-up  ' >&2
for ((rep = 1; rep <= startup_reps; rep++)); do
  for i in "${!labels[@]}"; do
    [ "$i" = "$jit_col" ] && continue
    if ! result=$(run_once "$i" "$work/empty.${exts[$i]}"); then
      echo >&2
      echo "empty script with ${labels[$i]}: $result" >&2
      exit 1
    fi
    read -r cpu _ wall <<<"$result"
    start_cpu[$i]+=" $cpu"
    start_wall[$i]+=" $wall"
  done
  ((rep % 3 == 0)) && printf '.' >&2
done
echo >&2

status=0
declare -A cpu_med=() rss_max=()
failed_names=()
for name in "${names[@]}"; do
  declare -A cpu_runs=() rss_runs=()
  failed=0
  printf '%-12s' "$name" >&2
  for ((rep = 1; rep <= reps; rep++)); do
    # The interpreters take turns within each repetition, so a change in the machine's load spreads
    # over all of them instead of falling on one.
    for i in "${!labels[@]}"; do
      if ! result=$(run_once "$i" "$name.${exts[$i]}"); then
        echo >&2
        echo "$name with ${labels[$i]}: $result" >&2
        failed=1
        break 2
      fi
      if [ ! -s "$work/out" ]; then
        echo >&2
        echo "$name with ${labels[$i]}: printed nothing to compare" >&2
        failed=1
        break 2
      fi
      if [ "$rep" = 1 ] && [ "$i" = 0 ]; then
        cp "$work/out" "$work/expected"
      elif ! cmp -s "$work/out" "$work/expected"; then
        echo >&2
        echo "$name: ${labels[$i]} printed other output than ${labels[0]}:" >&2
        diff "$work/expected" "$work/out" | head -n 10 >&2
        failed=1
        break 2
      fi
      read -r cpu rss _ <<<"$result"
      cpu_runs[$i]+=" $cpu"
      rss_runs[$i]+=" $rss"
    done
    printf '.' >&2
  done
  if [ "$failed" = 1 ]; then
    status=1
    failed_names+=("$name")
    for i in "${!labels[@]}"; do cpu_med[$name,$i]="-" rss_max[$name,$i]="-"; done
  else
    printf ' %s\n' "$(grep -m 1 '^checksum:' "$work/expected" || tail -n 1 "$work/expected")" >&2
    for i in "${!labels[@]}"; do
      cpu_med[$name,$i]=$(median <<<"${cpu_runs[$i]}")
      rss_max[$name,$i]=$(maximum <<<"${rss_runs[$i]}")
    done
  fi
  unset cpu_runs rss_runs
done

# The table: processor time in ms, the ratios, then peak memory in MiB.
header="| program |"
rule="|---|"
for label in "${labels[@]}"; do header+=" $label ms |"; rule+="---:|"; done
header+=" ${labels[0]}/lua5.4 |"; rule+="---:|"
[ -n "$jit_col" ] && { header+=" ${labels[0]}/luajit |"; rule+="---:|"; }
[ "$compare" = 1 ] && { header+=" B/A |"; rule+="---:|"; }
for label in "${labels[@]}"; do header+=" $label MiB |"; rule+="---:|"; done
header+=" memory ${labels[0]}/lua5.4 |"; rule+="---:|"

# What a table needs beside it to mean anything: when, on what, which build. No paths.
build_type_of() {
  local cache type=""
  cache="$(dirname "$(dirname "$1")")/CMakeCache.txt"
  [ -f "$cache" ] && type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$cache" | head -n 1)
  echo "${type:-unknown}"
}
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)
build_line=""
for i in "${!labels[@]}"; do
  case "${labels[$i]}" in
    cobalt*) build_line+=" ${labels[$i]} build type: $(build_type_of "${bins[$i]}");" ;;
  esac
done
echo
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc 2>/dev/null || echo '?') cores${cpu_model:+ ($cpu_model)}, load average $(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null) at the end;${build_line} $(lua5.4 -v 2>&1 | cut -d ' ' -f 1-2)${jit_col:+, $(luajit -v 2>&1 | cut -d ' ' -f 1-2)}."
echo
echo "Processor time of the whole process (user + system, median of $reps runs) and peak resident memory (largest of the runs):"
echo
echo "$header"
echo "$rule"
ratios="" jit_ratios="" b_ratios="" worst_ratio=0 worst_name="" worst_mem=0 worst_mem_name=""
for name in "${names[@]}"; do
  row="| $name |"
  for i in "${!labels[@]}"; do row+=" $(fmt_div "${cpu_med[$name,$i]}" 1000 0) |"; done
  ratio=$(fmt_div "${cpu_med[$name,0]}" "${cpu_med[$name,$lua_col]}" 4)
  row+=" $(fmt_div "$ratio" 1 2) |"
  if [ -n "$jit_col" ]; then
    jit_ratio=$(fmt_div "${cpu_med[$name,0]}" "${cpu_med[$name,$jit_col]}" 4)
    row+=" $(fmt_div "$jit_ratio" 1 2) |"
    [ "$jit_ratio" != "-" ] && jit_ratios+=" $jit_ratio"
  fi
  if [ "$compare" = 1 ]; then
    b_over_a=$(fmt_div "${cpu_med[$name,1]}" "${cpu_med[$name,0]}" 4)
    row+=" $(fmt_div "$b_over_a" 1 2) |"
    [ "$b_over_a" != "-" ] && b_ratios+=" $b_over_a"
  fi
  for i in "${!labels[@]}"; do row+=" $(fmt_div "${rss_max[$name,$i]}" 1024 1) |"; done
  mem=$(fmt_div "${rss_max[$name,0]}" "${rss_max[$name,$lua_col]}" 4)
  row+=" $(fmt_div "$mem" 1 2) |"
  echo "$row"
  if [ "$ratio" != "-" ]; then
    ratios+=" $ratio"
    if awk -v a="$ratio" -v b="$worst_ratio" 'BEGIN { exit !(a > b) }'; then
      worst_ratio=$ratio worst_name=$name
    fi
  fi
  if [ "$mem" != "-" ] && awk -v a="$mem" -v b="$worst_mem" 'BEGIN { exit !(a > b) }'; then
    worst_mem=$mem worst_mem_name=$name
  fi
done

geomean() {
  tr ' ' '\n' | grep -v '^$' |
    awk '{ s += log($1); n++ } END { if (n == 0) print "-"; else printf "%.2f", exp(s / n) }'
}

echo
echo "- geometric mean of ${labels[0]}/lua5.4: $(geomean <<<"$ratios")"
[ -n "$jit_col" ] && echo "- geometric mean of ${labels[0]}/luajit -joff: $(geomean <<<"$jit_ratios")"
[ "$compare" = 1 ] && echo "- geometric mean of B/A: $(geomean <<<"$b_ratios")"
[ -n "$worst_name" ] && echo "- highest ${labels[0]}/lua5.4: $(fmt_div "$worst_ratio" 1 2) ($worst_name)"
[ -n "$worst_mem_name" ] && echo "- highest memory ${labels[0]}/lua5.4: $(fmt_div "$worst_mem" 1 2) ($worst_mem_name)"
line="- start-up of an empty script (median of $startup_reps; processor time, wall time):"
for i in "${!labels[@]}"; do
  [ "$i" = "$jit_col" ] && continue
  cpu=$(median <<<"${start_cpu[$i]}")
  wall=$(median <<<"${start_wall[$i]}")
  line+=" ${labels[$i]} $(fmt_div "$cpu" 1000 2) ms, $(fmt_div "$wall" 1000 2) ms;"
done
echo "${line%;}"
if [ "$status" != 0 ]; then
  echo "- left out, failed or disagreed: ${failed_names[*]}"
  echo
  echo "failed or disagreed: ${failed_names[*]} (see the messages above)" >&2
fi
exit "$status"
