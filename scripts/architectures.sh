# The processors that the program is built and released for beside x86_64,
# one line each: Debian's name for the architecture, the GNU triplet of its
# cross compiler, qemu's name for it, and the name its release tarball
# carries. The presets name the same architectures and triplets.
# shellcheck disable=SC2034 # read by the scripts that source this file
architectures=(
  "arm64 aarch64-linux-gnu aarch64 aarch64"
  "armhf arm-linux-gnueabihf arm armhf"
  "i386 i686-linux-gnu i386 i686"
  "ppc64el powerpc64le-linux-gnu ppc64le ppc64le"
  "riscv64 riscv64-linux-gnu riscv64 riscv64"
  "s390x s390x-linux-gnu s390x s390x"
)
# The one whose C library Debian 12 has no package of (it is no release
# architecture there): its cross compiler's copy stands in for it.
without_c_library_package=riscv64
