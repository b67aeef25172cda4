#!/usr/bin/env bash
# Checks a built man page: groff formats it without a single warning, no
# placeholder is left unfilled, and it documents every option of its program.
# Usage: check_manual.sh PAGE PROGRAM [WORD...]
#   With WORDs (kestrow, brimlet): each must have an entry in OPTIONS.
#   Without (rwsim): every --option and fault kind of PROGRAM --help must
#   appear in the page.
set -uo pipefail
page=$1 program=$2
shift 2
failed=0
fail() { echo "FAIL: $page: $*"; failed=1; }

warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null) || fail "groff failed"
[ -z "$warnings" ] || fail "groff warnings:"$'\n'"$warnings"
left=$(grep -n '@[A-Za-z_]*@' "$page") && fail "unfilled placeholders:"$'\n'"$left"

text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
options=$(sed -n '/^OPTIONS/,/^[A-Z]/p' <<<"$text")
if [ $# -gt 0 ]; then
  # An entry's tag is the first word of the line after .TP or .TQ.
  entries=$(awk '/^\.SH/ { inside = ($2 == "OPTIONS") }
                 inside && tag { sub(/^\.[A-Z]+ /, ""); gsub(/"/, ""); print $1 }
                 { tag = /^\.(TP|TQ)$/ }' "$page")
  for word in "$@"; do
    grep -qx -- "$word" <<<"$entries" || fail "no entry for option '$word'"
  done
else
  help=$("$program" --help) || fail "$program --help failed"
  for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -q -- "$option" <<<"$options" || fail "option $option not documented"
  done
  # The simulator's fault kinds are listed after "KIND:" up to "May be repeated".
  [[ $help == *KIND:* ]] || exit $failed
  kinds=$(tr -s ' \n' ' ' <<<"$help" | sed -n 's/.*KIND: \(.*\) May be repeated.*/\1/p' |
    sed 's/([^)]*)//g' | grep -Eo '[a-z]+(-[a-z]+)*(=MS)?' | grep -v -e '^secured$' -e '^only$' | sed 's/=MS$//')
  [ -n "$kinds" ] || fail "no fault kinds found in $program --help"
  for kind in $kinds; do
    grep -Eq "^ {14}$kind(=| |$)" <<<"$options" || fail "fault kind $kind not documented"
  done
fi
exit $failed
