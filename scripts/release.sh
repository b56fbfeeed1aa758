#!/usr/bin/env bash
# Makes every artifact of a release from the last commit, the same bytes
# whoever builds it, wherever and whenever:
#   countdown-VERSION.tar.gz                 the source: the tracked files, in countdown-VERSION/
#   countdown_VERSION_ARCH.deb               the Debian package for each architecture of
#                                            cmake/architectures.txt, with Debian's flags
#                                            for it, hardening included
#   countdown-VERSION-linux-CPU.tar.gz       the portable static program for each (x86_64,
#                                            aarch64, ...), in one folder
#   countdown-VERSION-windows-x86.zip        the 32-bit Windows program, in one folder, with the
#                                            README's Windows section as README.txt, and
#                                            README.vi.md's as README.vi.txt
#   countdown-VERSION-windows-x86_64.zip     the 64-bit one, likewise
#   SHA256SUMS                               their checksums, as sha256sum -c reads them
# Time comes from SOURCE_DATE_EPOCH, the last commit's time unless it is set.
# Run in an unpacked source archive, it makes the same release again from
# the commit and the time that the archive records (packaging/source-commit).
# Every package holds folders and programs as 755, other files as 644, all
# owned by 0/0 and dated SOURCE_DATE_EPOCH, in sorted order.
#
# Usage: scripts/release.sh [--allow-uncommitted] [OUTPUT-FOLDER]   (default: dist)
# Needs git (but in an unpacked source archive), cmake, ninja-build, g++, g++-mingw-w64-i686,
# g++-mingw-w64-x86-64, dpkg-dev, binutils
# and zip, and the cross compilers that scripts/install-cross-deps.sh installs; no wine,
# and no emulator.
set -euo pipefail

usage="usage: scripts/release.sh [--allow-uncommitted] [OUTPUT-FOLDER]"
allow_uncommitted=false
out=dist
for arg in "$@"; do
  case $arg in
    --allow-uncommitted) allow_uncommitted=true ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) echo "release.sh: unknown option $arg; $usage" >&2; exit 2 ;;
    *) out=$arg ;;
  esac
done
out=$(realpath -m -- "$out")

# The tree this script belongs to, wherever it is called from.
cd "$(dirname "$0")/.."
if top=$(git rev-parse --show-toplevel 2>/dev/null) && [[ $top -ef . ]]; then
  commit=$(git rev-parse HEAD)
  commit_time=$(git log -1 --format=%ct)
else
  # An unpacked source archive: git archive wrote the commit and its time.
  top=
  read -r commit commit_time <packaging/source-commit
  [[ $commit =~ ^[0-9a-f]{40}$ && $commit_time =~ ^[0-9]+$ ]] || {
    echo "release.sh: $PWD is neither a git checkout nor an unpacked source archive of a release;" \
      "run it in a clone, or in the folder that countdown-VERSION.tar.gz unpacks into" >&2
    exit 2
  }
  echo "release.sh: making the release of ${commit:0:12} again from this unpacked source archive" >&2
fi
if [[ -n $top && -n $(git status --porcelain) ]]; then
  if ! $allow_uncommitted; then
    echo "release.sh: the checkout has uncommitted changes (see git status); commit them, or pass" \
      "--allow-uncommitted to release the last commit without them" >&2
    exit 1
  fi
  echo "release.sh: leaving the uncommitted changes out: releasing ${commit:0:12}" >&2
fi

# Nothing of the builder's may reach the bytes: not the time of day, the time
# zone (ZIP keeps local times), the locale (sort orders), the umask or the
# folder. SOURCE_DATE_EPOCH also dates the Windows program's header and the
# Debian package's members.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$commit_time}
export TZ=UTC LC_ALL=C
umask 022
version=$(sed -n 's/^project(countdown VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release.sh: no version in CMakeLists.txt's project()" >&2; exit 1; }
source scripts/architectures.sh

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out"

# Folders and programs 755, other files 644, every entry dated alike.
normalize() {
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -perm -u=x -exec chmod 755 {} +
  find "$1" -type f ! -perm -u=x -exec chmod 644 {} +
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# Packs folder $2 of $1 into the gzipped tarball $3.
pack_tarball() {
  normalize "$1/$2"
  tar -C "$1" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
    -cf - "$2" | gzip -9n >"$3"
}

# The source: exactly the tracked files of the commit, or of the unpacked
# archive, where builds and releases made in it are left out. The builds
# below start from this same tree, so the programs are built from what the
# archive holds.
source_name=countdown-$version
if [[ -n $top ]]; then
  git archive --format=tar --prefix="$source_name/" "$commit" | tar -x -C "$scratch"
else
  mkdir "$scratch/$source_name"
  tar --exclude='./build*' --exclude=./dist -cf - . | tar -x -C "$scratch/$source_name"
fi
source_tree=$scratch/$source_name
pack_tarball "$scratch" "$source_name" "$out/$source_name.tar.gz"

# The presets of the native builds, then each other architecture's, as
# PRESET:ARCH: the Debian package's program and the portable one, in
# build-deb-ARCH and build-portable-ARCH.
presets=(deb portable windows windows-x86_64)
for arch in "${architectures[@]}"; do
  presets+=("deb-cross:$arch" "portable-cross:$arch")
done
echo "release.sh: building $source_name (${commit:0:12}) in $scratch" >&2
for build in "${presets[@]}"; do
  preset=${build%%:*}
  arch=${build#"$preset"}
  arch=${arch#:}
  log="$scratch/build-$preset${arch:+-$arch}.log"
  (cd "$source_tree" && export COUNTDOWN_ARCH=$arch &&
    cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset") >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    echo "release.sh: the $build build failed" >&2
    exit 1
  }
done

# The Debian package's dependencies of program $1: for each library it
# needs, its package at the newest symbol version the program uses from it,
# as Debian's symbols files give it (they name a symbol's minimal version
# after the version it was defined at). Read from the program alone, so that
# no architecture's C library need be installed, and the same on every
# builder; a library that has no row here stops the release.
library_depends() {
  readelf -V --wide "$1" | awk '
    /^Version needs section/ { needs = 1; next }
    /^Version (symbols|definition) section/ { needs = 0 }
    needs && / File: / { library = $0; sub(/.* File: /, "", library); sub(/ .*/, "", library) }
    needs && / Name: / { version = $0; sub(/.* Name: /, "", version); sub(/ .*/, "", version); print library, version }' |
    while read -r library version; do
      case $library:$version in
      libc.so.6:GLIBC_[0-9]* | ld-*:GLIBC_[0-9]* | ld.so.*:GLIBC_[0-9]*) echo "libc6 ${version#GLIBC_}" ;;
      libgcc_s.so.1:GCC_[0-9]*) echo "libgcc-s1 ${version#GCC_}" ;;
      *:GLIBC_PRIVATE) ;;
      *)
        echo "release.sh: no package known for $library's $version" >&2
        echo "unknown"
        ;;
      esac
    done | sort -k1,1 -k2,2V | awk '
      $1 == "unknown" { exit 1 }
      { newest[$1] = $2 } END { for (package in newest) print package " (>= " newest[package] ")" }' |
    sort | paste -sd, - | sed 's/,/, /g'
}

# The Debian package for architecture $1 from build folder $2, stripped with
# the binutils of GNU triplet $3.
make_deb() {
  local arch=$1 build=$2 gnu_triplet=$3
  local package_root=$scratch/$arch/debian/countdown
  DESTDIR=$package_root cmake --install "$build" --prefix /usr --strip >/dev/null
  # As dh_strip leaves a program: no compiler notes either.
  "${gnu_triplet:+$gnu_triplet-}strip" --remove-section=.comment --remove-section=.note --strip-unneeded \
    "$package_root/usr/bin/countdown"
  gzip -9n "$package_root/usr/share/man/man1/countdown.1" "$package_root/usr/share/man/vi/man1/countdown.1"
  mkdir -p "$package_root/usr/share/doc/countdown"
  cp "$source_tree/packaging/debian/copyright" "$package_root/usr/share/doc/countdown/"
  gzip -9n <"$source_tree/packaging/debian/changelog" >"$package_root/usr/share/doc/countdown/changelog.gz"
  mkdir "$package_root/DEBIAN"
  local depends
  depends=$(library_depends "$package_root/usr/bin/countdown")
  [[ -n $depends ]] || { echo "release.sh: no library dependency found for $arch" >&2; exit 1; }
  # As dpkg-gencontrol counts: each file's size in whole KiB, 1 KiB a folder.
  local installed_size
  installed_size=$(find "$package_root" \( -type f -printf '%s\n' \) -o -printf 'folder\n' |
    awk '$1 == "folder" { kib += 1; next } { kib += int(($1 + 1023) / 1024) } END { print kib }')
  sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$arch/" -e "s/@INSTALLED_SIZE@/$installed_size/" \
    -e "s/@DEPENDS@/$depends/" "$source_tree/packaging/debian/control.in" >"$package_root/DEBIAN/control"
  (cd "$package_root" && find usr -type f | sort | xargs md5sum) >"$package_root/DEBIAN/md5sums"
  normalize "$package_root"
  local deb=countdown_${version}_$arch.deb
  dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$package_root" "$out/$deb" >/dev/null
  artifacts+=("$deb")
}

# The portable program for processor $1 from build folder $2, in one folder
# with its manual page, licence and README.
make_tarball() {
  local cpu=$1 build=$2
  local linux_name=countdown-$version-linux-$cpu
  cmake --install "$build" --prefix "$scratch/linux/$linux_name" --strip >/dev/null
  cp "$source_tree/LICENSE" "$scratch/linux/$linux_name/"
  local title="countdown $version for Linux on $cpu"
  sed -e "s/@VERSION@/$version/g" -e "s/@ARCH@/$cpu/g" -e "s/@UNDERLINE@/${title//?/=}/" \
    "$source_tree/packaging/linux/README.in" >"$scratch/linux/$linux_name/README"
  pack_tarball "$scratch/linux" "$linux_name" "$out/$linux_name.tar.gz"
  artifacts+=("$linux_name.tar.gz")
}

artifacts=("$source_name.tar.gz")
make_deb "$native_architecture" "$source_tree/build-deb" ""
make_tarball "${tarball_name[$native_architecture]}" "$source_tree/build-portable"
for arch in "${architectures[@]}"; do
  make_deb "$arch" "$source_tree/build-deb-$arch" "${triplet[$arch]}"
  make_tarball "${tarball_name[$arch]}" "$source_tree/build-portable-$arch"
done

# The Windows section of README file $1, under the title $2, as plain text
# with CRLF line ends.
windows_text() {
  local words
  words=$(sed -n '/^## Windows$/,/^## /{/^## /!p}' "$source_tree/$1" | sed -e '/./,$!d' -e "s/countdown-VERSION-/countdown-$version-/g")
  [[ -n $words ]] || { echo "release.sh: $1 has no section '## Windows'" >&2; exit 1; }
  printf '%s\n\n%s\n' "$2" "$words" | sed 's/$/\r/'
}

# The Windows programs, each in one folder, with the README's Windows section
# in English and in Vietnamese, and the licence, as Windows users read them:
# .txt files with CRLF line ends. The Vietnamese text is UTF-8 with a
# byte-order mark, by which Windows 7's Notepad tells it from the ANSI code
# page and shows its diacritics; without one, it takes the text for ANSI.
make_zip() {
  local cpu=$1 bits=$2 build=$3
  local name=countdown-$version-windows-$cpu
  cmake --install "$build" --prefix "$scratch/windows/$name" --strip >/dev/null
  windows_text README.md "countdown $version for Windows, $bits" >"$scratch/windows/$name/README.txt"
  { printf '\xef\xbb\xbf' && windows_text README.vi.md "countdown $version cho Windows, $bits"; } \
    >"$scratch/windows/$name/README.vi.txt"
  sed 's/$/\r/' "$source_tree/LICENSE" >"$scratch/windows/$name/LICENSE.txt"
  normalize "$scratch/windows/$name"
  rm -f "$out/$name.zip"
  # -X: no owners or extra times; -D: no folder entries, whose metadata would vary.
  (cd "$scratch/windows" && find "$name" -type f | sort | zip -X -D -9 -q "$out/$name.zip" -@)
  artifacts+=("$name.zip")
}
make_zip x86 32-bit "$source_tree/build-windows"
make_zip x86_64 64-bit "$source_tree/build-windows-x86_64"

(cd "$out" && sha256sum -- "${artifacts[@]}" >SHA256SUMS)
echo "release.sh: made in $out, from ${commit:0:12} with SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH:" >&2
(cd "$out" && ls -l -- "${artifacts[@]}" SHA256SUMS) >&2
