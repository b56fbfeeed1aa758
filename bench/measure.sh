#!/usr/bin/env bash
# Measures build/countdown against /bin/true, side by side, with no terminal
# attached (so the program does not wait for a key): instructions from start
# to exit, wall time over many runs, write(2) calls, and peak memory. Prints
# the figures and the ratios, and fails when a target is missed.
#
# Needs valgrind, hyperfine, strace and GNU time (apt-get install valgrind
# hyperfine strace time), and the program built: cmake --workflow --preset default
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/countdown}
baseline=/bin/true
runs=${RUNS:-300}
for tool in valgrind hyperfine strace /usr/bin/time setsid; do
  command -v "$tool" >/dev/null || { echo "measure.sh: $tool is missing" >&2; exit 2; }
done
[[ -x $program ]] || { echo "measure.sh: no $program; build it first" >&2; exit 2; }

# Every run in a session of its own, with no terminal and no standard input.
detached() { setsid "$@" </dev/null; }

instructions() {
  detached valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

mean_ms() {
  local json
  json=$(mktemp)
  detached hyperfine --runs "$runs" --warmup 20 -N --style none --export-json "$json" "$1" >/dev/null
  python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][0]["mean"] * 1000))' "$json"
  rm -f "$json"
}

# write(2) calls on standard output, with it on a file and on a pipe.
writes_to_file() {
  local trace
  trace=$(mktemp)
  detached strace -f -e trace=write -o "$trace" "$1" >/dev/null
  grep -c '^[0-9 ]*write(1,' "$trace" || true
  rm -f "$trace"
}
writes_to_pipe() {
  local trace
  trace=$(mktemp)
  detached strace -f -e trace=write -o "$trace" "$1" | cat >/dev/null
  grep -c '^[0-9 ]*write(1,' "$trace" || true
  rm -f "$trace"
}

# Peak resident memory varies by a hundred KiB from run to run: the median of many.
peak_kib() {
  local run
  for run in $(seq 31); do
    detached /usr/bin/time -f %M "$1" 2>&1 >/dev/null | tail -n 1
  done | sort -n | sed -n 16p
}

ratio() { python3 -c 'import sys; print("%.3f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
within() { python3 -c 'import sys; sys.exit(0 if float(sys.argv[1]) <= float(sys.argv[2]) else 1)' "$1" "$2"; }

program_instructions=$(instructions "$program")
baseline_instructions=$(instructions "$baseline")
program_ms=$(mean_ms "$program")
baseline_ms=$(mean_ms "$baseline")
file_writes=$(writes_to_file "$program")
pipe_writes=$(writes_to_pipe "$program")
program_kib=$(peak_kib "$program")
baseline_kib=$(peak_kib "$baseline")

instruction_ratio=$(ratio "$program_instructions" "$baseline_instructions")
time_ratio=$(ratio "$program_ms" "$baseline_ms")
memory_ratio=$(ratio "$program_kib" "$baseline_kib")

echo "machine: $(nproc) cores, $(uname -m), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
printf '%-28s %14s %14s %8s %s\n' measure countdown /bin/true ratio target
printf '%-28s %14s %14s %8s %s\n' "instructions (callgrind)" "$program_instructions" "$baseline_instructions" "$instruction_ratio" "<= 1.2"
printf '%-28s %14s %14s %8s %s\n' "mean wall time, ms ($runs runs)" "$program_ms" "$baseline_ms" "$time_ratio" "-"
printf '%-28s %14s %14s %8s %s\n' "peak memory, KiB (median)" "$program_kib" "$baseline_kib" "$memory_ratio" "<= 1.1"
printf '%-28s %14s %14s %8s %s\n' "write(2) to a file / pipe" "$file_writes / $pipe_writes" "-" "-" "1 / 1"

missed=0
within "$instruction_ratio" 1.2 || { echo "missed: instructions" >&2; missed=1; }
within "$memory_ratio" 1.1 || { echo "missed: peak memory" >&2; missed=1; }
[[ $file_writes == 1 && $pipe_writes == 1 ]] || { echo "missed: one write(2)" >&2; missed=1; }
exit "$missed"
