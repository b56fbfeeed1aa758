#!/usr/bin/env bash
# Installs what the builds for the other processors need, where it is
# missing: Debian's cross compiler for each, with its own copy of the
# architecture's C library, and qemu's user-mode emulators to run their
# programs here. Then has binfmt_misc hand to qemu the programs of each
# processor that this kernel does not run itself. Adds no architecture to
# dpkg: the release reads each package's dependencies from its program.
# Run as root on Debian.
set -euo pipefail

cd "$(dirname "$0")"
source ./architectures.sh

packages=(qemu-user-static)
for arch in "${architectures[@]}"; do
  packages+=("g++-${triplet[$arch]}")
done
./install-missing.sh "${packages[@]}"

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'int main(void) { return 0; }' >"$probe/probe.c"
for arch in "${architectures[@]}"; do
  "${triplet[$arch]}-gcc" -static -o "$probe/$arch" "$probe/probe.c"
  if ! "$probe/$arch" 2>/dev/null; then
    echo "This kernel runs no $arch programs: handing them to qemu-${qemu[$arch]}." >&2
    ./register-emulator.sh "${qemu[$arch]}"
    "$probe/$arch"
  fi
done
