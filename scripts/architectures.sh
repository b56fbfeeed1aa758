# Reads the table of processors, cmake/architectures.txt, for the scripts
# that source this file. Sets, in the table's order:
#   native_architecture    the build machine's own (built by the native presets)
#   architectures          the Debian names of the others, built with cross compilers
# and, for every architecture by its Debian name, its columns:
#   triplet[ARCH] qemu[ARCH] qemu_cpu[ARCH] tarball_name[ARCH]
#   file_says[ARCH]
# shellcheck disable=SC2034 # read by the scripts that source this file
native_architecture=
architectures=()
declare -A triplet=() qemu=() qemu_cpu=() tarball_name=() file_says=()

read_architecture_table() {
  local line arch
  local -a column
  while IFS= read -r line; do
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    # Each column without the blanks that line the table up.
    IFS='|' read -r -a column <<<"$line"
    column=("${column[@]/#+([[:space:]])/}")
    column=("${column[@]/%+([[:space:]])/}")
    arch=${column[0]}
    triplet[$arch]=${column[1]}
    qemu[$arch]=${column[2]}
    qemu_cpu[$arch]=${column[3]}
    tarball_name[$arch]=${column[4]}
    file_says[$arch]=${column[5]}
    if [[ ${qemu[$arch]} == - ]]; then
      native_architecture=$arch
    else
      architectures+=("$arch")
    fi
  done <"$(dirname "${BASH_SOURCE[0]}")/../cmake/architectures.txt"
}
shopt -s extglob
read_architecture_table
unset -f read_architecture_table
