#!/usr/bin/env bash
# The Vietnamese manual page and README, made by po4a from the English ones
# and the translation in po/vi.po (po/po4a.cfg names the files). An English
# sentence that changed turns its entry fuzzy, and the Vietnamese documents
# then keep the English sentence until it is translated again.
#   scripts/translation.sh           brings po/vi.po up to the English
#                                    documents and makes the Vietnamese ones
#   scripts/translation.sh --check   changes nothing; fails while any entry is
#                                    fuzzy or untranslated, showing each, or
#                                    while a committed Vietnamese document
#                                    differs from what po4a makes of them
# Installs po4a and gettext where they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case ${1:-} in
--check) check=true ;;
"") ;;
*)
  echo "usage: scripts/translation.sh [--check]" >&2
  exit 2
  ;;
esac
scripts/install-missing.sh po4a gettext

# po4a works on a copy: the template it writes on the way is no file of ours.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/po" "$work/man"
cp po/po4a.cfg po/vi.po "$work/po/"
cp README.md "$work/"
cp man/countdown.1.in "$work/man/"
(cd "$work" && po4a --quiet po/po4a.cfg)
documents=(README.vi.md man/countdown.vi.1.in)

if ! $check; then
  cp "$work/po/vi.po" po/vi.po
  for document in "${documents[@]}"; do
    cp "$work/$document" "$document"
  done
  msgfmt --check --statistics -o /dev/null po/vi.po
  exit 0
fi

failed=false
for kind in only-fuzzy untranslated; do
  entries=$(msgattrib --$kind --no-obsolete --no-wrap "$work/po/vi.po" | sed '1,/^$/d')
  if [[ -n $entries ]]; then
    printf 'translation.sh: %s entries in po/vi.po:\n%s\n' "${kind#only-}" "$entries" >&2
    failed=true
  fi
done
for document in "${documents[@]}"; do
  if ! cmp -s "$work/$document" "$document"; then
    echo "translation.sh: $document is not what po4a makes of po/vi.po (run scripts/translation.sh):" >&2
    diff -u "$document" "$work/$document" >&2 || true
    failed=true
  fi
done
! $failed || exit 1
msgfmt --check --statistics -o /dev/null "$work/po/vi.po"
