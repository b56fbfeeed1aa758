#!/usr/bin/env bash
# Installs what the builds for the other processors need, where it is
# missing: Debian's cross compiler for each, qemu's user-mode emulators to
# run their programs here, and each architecture's C library (multiarch),
# from whose symbols dpkg-shlibdeps computes the Debian package's
# dependencies, where Debian 12 has one. Then has binfmt_misc hand to
# qemu the programs of each processor that this kernel does not run itself.
# Run as root on Debian.
set -euo pipefail

cd "$(dirname "$0")"
source ./architectures.sh

packages=(qemu-user-static)
for arch in "${architectures[@]}"; do
  packages+=("g++-${triplet[$arch]}")
  [[ ${has_c_library_package[$arch]} == no ]] || packages+=("libc6:$arch")
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
