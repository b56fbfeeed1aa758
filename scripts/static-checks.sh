#!/usr/bin/env bash
# The static checks that CI runs: clang-tidy and cppcheck on the program's
# sources, clang-format on every C++ file, and man's own warnings on the
# manual pages. Any finding fails, and only findings are printed. Installs
# clang-tidy, cppcheck, clang-format and man-db where they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-missing.sh clang-tidy cppcheck clang-format man-db cmake ninja-build g++

[[ -f build/compile_commands.json ]] || cmake --preset default >/dev/null

# The Windows layer needs the Windows headers; cppcheck reads it still.
posix_sources=(src/countdown.cpp src/console_key_posix.cpp src/terminal_mode.cpp src/wait_signals.cpp
  src/key_bytes.cpp)
# clang-tidy counts on stderr the warnings it suppressed in system headers
# ("N warnings generated."), and newer ones tell their progress there ("[1/5]
# Processing file ..."); neither is a finding, everything else is kept.
{ clang-tidy --quiet -p build "${posix_sources[@]}" 2>&1 1>&3 3>&- |
  { grep -vE '^[0-9]+ warnings? generated\.$|^\[[0-9]+/[0-9]+\] Processing file ' || true; } >&2; } 3>&1

cppcheck --std=c++20 --enable=warning,style,performance,portability --error-exitcode=1 \
  --inline-suppr --quiet -I src src/*.cpp

# The tracked files in a checkout; in an unpacked source archive, which has
# no git, all of them are tracked, and the build folders hold none.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t cpp_files < <(git ls-files '*.cpp' '*.hpp')
else
  mapfile -t cpp_files < <(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.hpp' \) -print)
fi
((${#cpp_files[@]} > 0)) || { echo "static-checks.sh: no C++ files found" >&2; exit 1; }
clang-format --dry-run --Werror "${cpp_files[@]}"

warnings=$(for page in man/countdown.1.in man/countdown.vi.1.in; do man --warnings -l "$page" 2>&1 >/dev/null; done)
[[ -z $warnings ]] || { echo "$warnings" >&2; exit 1; }
echo "static checks: no findings"
