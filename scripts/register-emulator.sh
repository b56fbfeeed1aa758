#!/usr/bin/env bash
# Has binfmt_misc hand the programs of one processor to qemu's user-mode
# emulator (Debian's qemu-user-static), so that the kernel runs them as if
# they were its own: the processor as qemu names it (the qemu column of
# cmake/architectures.txt). Callers call it where the kernel runs no such
# program: an entry of that name that is there all the same does not match
# them (a host's older entry, seen from a chroot, may mask a byte that a newer
# Debian's programs set), and is replaced. Run as root.
# Usage: scripts/register-emulator.sh QEMU-NAME
set -euo pipefail

name=${1:?usage: scripts/register-emulator.sh QEMU-NAME}
binfmt=/proc/sys/fs/binfmt_misc
[[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
[[ ! -e $binfmt/qemu-$name ]] || echo -1 >"$binfmt/qemu-$name"

if [[ $name == i386 ]]; then
  # Debian ships no entry for i386, which x86_64 kernels usually run
  # themselves: i386 ELF executables and shared objects.
  magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  entry=":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F"
else
  entry=$(cat "/usr/lib/binfmt.d/qemu-$name.conf")
fi
# F (in every entry) opens the emulator now, so it serves in every mount
# namespace, chroots included.
echo "$entry" >"$binfmt/register"
