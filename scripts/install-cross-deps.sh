#!/usr/bin/env bash
# Installs what the builds for the other processors need, where it is
# missing: Debian's cross compiler for each, qemu's user-mode emulators to
# run their programs here, and each architecture's C library (multiarch),
# from whose symbols dpkg-shlibdeps computes the Debian package's
# dependencies, where this release of Debian has one. Then has binfmt_misc hand to
# qemu the programs of each processor that this kernel does not run itself.
# Run as root on Debian.
set -euo pipefail

cd "$(dirname "$0")"
source ./architectures.sh

packages=(qemu-user-static)
for arch in "${architectures[@]}"; do
  packages+=("g++-${triplet[$arch]}")
done
./install-missing.sh "${packages[@]}"

# Each architecture's C library where this release of Debian has one
# (Debian 13 has none for mipsel and mips64el): elsewhere the cross
# compiler's copy stands in.
added=false
for arch in "${architectures[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
    added=true
  fi
done
! $added || apt-get update
libraries=()
for arch in "${architectures[@]}"; do
  if [[ $(apt-cache policy "libc6:$arch" | sed -n 's/^ *Candidate: //p') =~ ^[0-9] ]]; then
    libraries+=("libc6:$arch")
  fi
done
./install-missing.sh "${libraries[@]}"

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
