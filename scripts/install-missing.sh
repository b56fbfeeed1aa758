#!/usr/bin/env bash
# Installs those of the given Debian packages that are not installed yet, and
# nothing at all when every one is (so no package lists are fetched). A
# package named for another architecture (name:arm64) enables it first.
# Usage: scripts/install-missing.sh PACKAGE...
set -euo pipefail

missing=()
for package in "$@"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
((${#missing[@]} > 0)) || exit 0

for package in "${missing[@]}"; do
  [[ $package != *:* ]] || dpkg --add-architecture "${package#*:}"
done
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
