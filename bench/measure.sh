#!/usr/bin/env bash
# Measures the program against its real floor, in one run: the default build
# against the least C program that writes the same two lines through stdio
# (bench/floor.c, linked the same way), the portable build against the same
# floor statically linked, and all of them beside /bin/true. Every run has no
# terminal attached, so the program does not wait for a key.
#
# Figures: instructions from start to exit (callgrind), peak resident memory
# (median of many runs, with address-space randomisation off so that the
# figure is the same from run to run), mean wall time, and write(2) calls on
# standard output to a file and to a pipe. Prints them, then each target as
# met or missed; exits 0 only when every target is met.
#
# Needs valgrind, hyperfine, strace, GNU time, a C compiler and the two builds:
#   apt-get install valgrind hyperfine strace time gcc
#   cmake --workflow --preset default && cmake --workflow --preset portable
set -euo pipefail
cd "$(dirname "$0")/.."

default_build=build/countdown
portable_build=build-portable/countdown
runs=${RUNS:-101}
for tool in valgrind hyperfine strace /usr/bin/time setsid setarch cc python3; do
  command -v "$tool" >/dev/null || { echo "measure.sh: $tool is missing" >&2; exit 2; }
done
for program in "$default_build" "$portable_build"; do
  [[ -x $program ]] || { echo "measure.sh: no $program; build it first" >&2; exit 2; }
done

# Peak memory depends on how the kernel holds each program's file in its cache
# (just written, or read back from disk): the same static program measured
# 520 or 650 KiB. So every program runs from a copy in one fresh scratch
# folder, on tmpfs where there is one, where all of them are cached alike.
scratch=$(mktemp -d -p "$([[ -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$scratch"' EXIT
cp "$default_build" "$scratch/countdown"
cp "$portable_build" "$scratch/countdown-portable"
cp /bin/true "$scratch/true"
# The floors, built now and linked as the two builds are.
cc -O3 bench/floor.c -o "$scratch/floor"
cc -O3 -static -s -ffunction-sections -fdata-sections -Wl,--gc-sections bench/floor.c -o "$scratch/floor-static"

programs=("$scratch/countdown" "$scratch/floor" "$scratch/countdown-portable" "$scratch/floor-static" "$scratch/true")
names=("countdown" "floor" "countdown (portable)" "floor (static)" "/bin/true")

# Every run in a session of its own, with no terminal and no standard input.
detached() { setsid "$@" </dev/null; }

# A floor is honest only if it writes the very bytes the program writes.
for pair in "countdown floor" "countdown-portable floor-static"; do
  read -r program floor <<<"$pair"
  detached "$scratch/$program" >"$scratch/$program.out"
  detached "$scratch/$floor" >"$scratch/$floor.out"
  cmp -s "$scratch/$program.out" "$scratch/$floor.out" ||
    { echo "measure.sh: bench/floor.c does not write what $program writes" >&2; exit 2; }
done

instructions() {
  detached valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

mean_ms() {
  local json=$scratch/hyperfine.json
  # Its warning about outliers is no result; its errors are.
  detached hyperfine --runs "$runs" --warmup 20 -N --style none --export-json "$json" "$1" \
    >/dev/null 2>"$scratch/hyperfine.err" || { cat "$scratch/hyperfine.err" >&2; exit 2; }
  python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][0]["mean"] * 1000))' "$json"
}

# write(2) calls on standard output, with it on a file and on a pipe.
writes() {
  local trace=$scratch/trace
  if [[ $2 == file ]]; then
    detached strace -f -e trace=write -o "$trace" "$1" >"$scratch/out"
  else
    detached strace -f -e trace=write -o "$trace" "$1" | cat >/dev/null
  fi
  grep -c '^[0-9 ]*write(1,' "$trace" || true
}

# Peak resident memory in KiB: the median of $runs runs of each program, the
# programs taking turns so that whatever else the machine does falls on all.
peak_kib() {
  local run program
  for run in $(seq "$runs"); do
    for program in "${programs[@]}"; do
      printf '%s\t' "$program"
      detached setarch -R /usr/bin/time -f %M "$program" 2>&1 >/dev/null | tail -n 1
    done
  done >"$scratch/peaks"
  for program in "${programs[@]}"; do
    awk -F '\t' -v p="$program" '$1 == p { print $2 }' "$scratch/peaks" | sort -n |
      awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
  done
}

# The two builds' write counts, file/pipe; the floors' are not targets.
declare -a counted kib ms write_counts
for i in "${!programs[@]}"; do
  counted[i]=$(instructions "${programs[i]}")
  ms[i]=$(mean_ms "${programs[i]}")
  write_counts[i]=-
done
for i in 0 2; do
  write_counts[i]="$(writes "${programs[i]}" file)/$(writes "${programs[i]}" pipe)"
done
mapfile -t kib < <(peak_kib)

ratio() { python3 -c 'import sys; print("%.3f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }

echo "machine: $(nproc) cores, $(uname -m), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
echo "system: $(. /etc/os-release && echo "$PRETTY_NAME"), glibc $(ldd --version | sed -n '1s/.* //p'), $runs runs a program"
printf '%-22s %14s %10s %14s %10s\n' program instructions "peak KiB" "wall ms" "writes f/p"
for i in "${!programs[@]}"; do
  printf '%-22s %14s %10s %14s %10s\n' "${names[i]}" "${counted[i]}" "${kib[i]}" "${ms[i]}" "${write_counts[i]}"
done

echo
missed=0
# target NAME VALUE LIMIT: met when VALUE <= LIMIT.
target() {
  local verdict=met
  python3 -c 'import sys; sys.exit(0 if float(sys.argv[1]) <= float(sys.argv[2]) else 1)' "$2" "$3" || {
    verdict=MISSED
    missed=1
  }
  printf '%-52s %7s <= %-5s %s\n' "$1" "$2" "$3" "$verdict"
}
target "countdown / floor, instructions" "$(ratio "${counted[0]}" "${counted[1]}")" 1.05
target "countdown / floor, peak memory" "$(ratio "${kib[0]}" "${kib[1]}")" 1.05
target "countdown (portable) / floor (static), instructions" "$(ratio "${counted[2]}" "${counted[3]}")" 1.05
target "countdown (portable) / floor (static), peak memory" "$(ratio "${kib[2]}" "${kib[3]}")" 1.05
target "countdown (portable) / /bin/true, instructions" "$(ratio "${counted[2]}" "${counted[4]}")" 0.5
target "countdown (portable) / /bin/true, peak memory" "$(ratio "${kib[2]}" "${kib[4]}")" 0.6
for i in 0 2; do
  if [[ ${write_counts[i]} == 1/1 ]]; then verdict=met; else verdict=MISSED; missed=1; fi
  printf '%-52s %7s == %-5s %s\n' "${names[i]}, write(2) to a file/pipe" "${write_counts[i]}" "1/1" "$verdict"
done
exit "$missed"
