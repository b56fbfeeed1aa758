#!/usr/bin/env bash
# Checks the release as CI does. Makes it twice: from the checkout, and again
# from its own source archive, without git, by a builder that differs in all
# that must not matter: the folder and its file system, the user (where this
# runs as root), the umask, the time zone and the locale; any difference
# fails, named, and shown by diffoscope where it is installed. Then checks the
# checksums, the Debian packages under lintian, that each archive unpacks into
# one folder, that each program is of its processor (and the portable ones
# static), and that the source archive builds and passes its tests, and its
# static checks, on its own.
# Usage: scripts/check-release.sh   (in a checkout without uncommitted changes)
# Needs what scripts/release.sh needs, and lintian, file, man-db, clang-tidy,
# cppcheck, clang-format and GoogleTest for the source archive's checks.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "check-release.sh: $*" >&2
  exit 1
}

first=$PWD/dist
scripts/release.sh "$first"
version=$(sed -n 's/^project(countdown VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)

# The second builder makes it from the first one's source archive, unpacked
# elsewhere: one build proves that the archive is enough and that nothing of
# the builder's reaches the bytes.
scratch=$(mktemp -d -p "$([[ -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$scratch"' EXIT
second=$scratch/elsewhere/dist
mkdir -p "$scratch/elsewhere" "$scratch/tmp"
tar -xzf "$first/countdown-$version.tar.gz" -C "$scratch/elsewhere"
source_tree=$scratch/elsewhere/countdown-$version
as_another_user=()
if [[ $(id -u) == 0 ]]; then
  chown -R nobody:nogroup "$scratch"
  as_another_user=(runuser -u nobody --)
fi
# shellcheck disable=SC2016 # $0 is the inner shell's: the folder given to it.
(cd "$source_tree" && "${as_another_user[@]}" env HOME="$scratch" TMPDIR="$scratch/tmp" TZ=XYZ-14 LC_ALL=C.UTF-8 \
  bash -c 'umask 077 && scripts/release.sh "$0"' "$second")

if ! cmp -s "$first/SHA256SUMS" "$second/SHA256SUMS"; then
  while read -r _ artifact; do
    if ! cmp -s "$first/$artifact" "$second/$artifact"; then
      echo "check-release.sh: $artifact differs between the two builders" >&2
      if command -v diffoscope >/dev/null; then
        diffoscope "$first/$artifact" "$second/$artifact" >&2 || true
      fi
    fi
  done <"$first/SHA256SUMS"
  fail "the release made again from its source archive, by another builder, differs"
fi
(cd "$first" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the artifacts"

findings=$(lintian -I --pedantic "$first"/countdown_*.deb 2>&1 | grep -v 'running with root privileges' || true)
[[ -z $findings ]] || fail "lintian: $findings"

for archive in "$first"/*.tar.gz "$first"/*.zip; do
  folder=$(basename "$archive" .zip)
  folder=${folder%.tar.gz}
  if [[ $archive == *.zip ]]; then
    tops=$(unzip -Z1 "$archive" | cut -d/ -f1 | sort -u)
    # A Windows ZIP holds its program and three texts, readable in Notepad:
    # every line ends with CRLF, and the Vietnamese one begins with UTF-8's
    # byte-order mark.
    contents=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
    [[ $contents == "$folder/LICENSE.txt $folder/README.txt $folder/README.vi.txt $folder/countdown.exe " ]] ||
      fail "$(basename "$archive") holds $contents"
    for text in LICENSE.txt README.txt README.vi.txt; do
      if unzip -p "$archive" "$folder/$text" | grep -q -v $'\r$'; then
        fail "$folder/$text has lines without CRLF"
      fi
    done
    [[ $(unzip -p "$archive" "$folder/README.vi.txt" | head -c 3) == $'\xef\xbb\xbf' ]] ||
      fail "$folder/README.vi.txt does not begin with UTF-8's byte-order mark"
  else
    tops=$(tar -tzf "$archive" | cut -d/ -f1 | sort -u)
  fi
  [[ $tops == "$folder" ]] || fail "$(basename "$archive") unpacks into: $tops"
done

# Each program is of its processor, the portable ones statically linked, as
# file(1) tells.
source scripts/architectures.sh
for arch in "$native_architecture" "${architectures[@]}"; do
  cpu=${tarball_name[$arch]}
  portable=$(tar -xzOf "$first/countdown-$version-linux-$cpu.tar.gz" "countdown-$version-linux-$cpu/bin/countdown" |
    file -b -)
  packaged=$(dpkg-deb --fsys-tarfile "$first/countdown_${version}_$arch.deb" | tar -xO ./usr/bin/countdown | file -b -)
  [[ $portable =~ ${file_says[$arch]}.*statically\ linked ]] || fail "the $cpu tarball's program is $portable"
  [[ $packaged =~ ${file_says[$arch]}.*dynamically\ linked ]] || fail "the $arch package's program is $packaged"
  # Dependencies on Debian's own packages, never on a cross toolchain's.
  depends=$(dpkg-deb -f "$first/countdown_${version}_$arch.deb" Depends)
  [[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\) && $depends != *cross* ]] || fail "the $arch package depends on $depends"
  # The manual page in Vietnamese too, in each.
  tar -tzf "$first/countdown-$version-linux-$cpu.tar.gz" |
    grep -qx "countdown-$version-linux-$cpu/share/man/vi/man1/countdown.1" ||
    fail "the $cpu tarball has no Vietnamese manual page"
  dpkg-deb --contents "$first/countdown_${version}_$arch.deb" | grep -q ' ./usr/share/man/vi/man1/countdown.1.gz$' ||
    fail "the $arch package has no Vietnamese manual page"
done
# file(1) 5.44 (Debian 12) says "Intel 80386", 5.46 (Debian 13) "Intel i386".
for cpu_says in "x86:^PE32 executable .*console.*Intel (80386|i386)" "x86_64:^PE32\+ executable .*console.*x86-64"; do
  cpu=${cpu_says%%:*}
  program=$(unzip -p "$first/countdown-$version-windows-$cpu.zip" "countdown-$version-windows-$cpu/countdown.exe" |
    file -b -)
  [[ $program =~ ${cpu_says#*:} ]] || fail "the $cpu Windows program is $program"
done

(cd "$source_tree" && cmake --workflow --preset test && scripts/static-checks.sh) ||
  fail "the source archive does not build and pass its checks on its own"
echo "check-release.sh: the release is the same from both builders, and sound"
