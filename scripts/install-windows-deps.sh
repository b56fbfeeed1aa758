#!/usr/bin/env bash
# Installs what the Windows builds and their tests need, where it is missing:
# the MinGW-w64 cross compilers for i686 and x86_64, wine with its 32-bit
# part, and expect to drive the program on a terminal. Run as root on Debian.
# wine64 runs the 64-bit programs; with it, the 32-bit wine's wineserver and
# the wine prefix's own services run natively too, and only our 32-bit
# programs go through the 32-bit loader.
#
# Some kernels run no 32-bit x86 programs (IA-32 emulation off), and wine's
# 32-bit loader is one. There, 32-bit programs are handed to qemu's user-mode
# emulator through binfmt_misc: slow (each Windows process takes about a
# minute to start), but the real wine loader and runtime all the same.
set -euo pipefail

cd "$(dirname "$0")"
./install-missing.sh g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
  wine wine32:i386 wine64 expect

if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  exit 0
fi
echo "This kernel runs no 32-bit programs: handing them to qemu-i386." >&2
./install-missing.sh qemu-user-static
./register-emulator.sh i386
/lib/ld-linux.so.2 --version >/dev/null
