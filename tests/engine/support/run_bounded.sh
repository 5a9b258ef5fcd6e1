#!/bin/sh
# Runs `cobalt` on each given script under a memory and a time bound and checks how it ends.
#   run_bounded.sh COBALT MEMORY_KIB SECONDS EXPECT SCRIPT...
# MEMORY_KIB bounds the virtual memory (ulimit -v; 0: no bound, for sanitizer builds, which
# reserve terabytes of shadow memory). EXPECT is "error" (exit status 1 and a script error
# text on standard error) or "success" (exit status 0, nothing on standard error).
set -u
cobalt=$1 memory=$2 seconds=$3 expect=$4
shift 4
[ "$#" -gt 0 ] || { echo "no scripts to run"; exit 1; }
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
failures=0
for script in "$@"; do
    (
        [ "$memory" -gt 0 ] && ulimit -v "$memory"
        cd "$(dirname "$script")" && exec timeout -s KILL "$seconds" "$cobalt" "$(basename "$script")"
    ) >"$scratch/out" 2>"$scratch/err" </dev/null
    status=$?
    verdict=""
    case "$expect" in
    error)
        if [ "$status" -ne 1 ]; then
            verdict="exit status $status, expected 1"
        elif ! head -n 1 "$scratch/err" | grep -q '^CobaltScript error: '; then
            verdict="no script error on standard error"
        fi ;;
    success)
        if [ "$status" -ne 0 ]; then
            verdict="exit status $status, expected 0"
        elif [ -s "$scratch/err" ]; then
            verdict="standard error is not empty"
        fi ;;
    *) echo "unknown expectation: $expect"; exit 1 ;;
    esac
    if [ -n "$verdict" ]; then
        [ "$status" -eq 137 ] && verdict="$verdict (killed: over ${seconds} s, or out of memory)"
        echo "FAIL $script: $verdict"
        head -c 2000 "$scratch/err" | head -n 3
        failures=$((failures + 1))
    else
        echo "ok   $script: $(head -n 1 "$scratch/err")"
    fi
done
[ "$failures" -eq 0 ] || { echo "$failures of $# scripts failed"; exit 1; }
