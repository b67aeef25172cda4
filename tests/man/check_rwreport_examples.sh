#!/usr/bin/env bash
# Checks what rwreport's manual says against what rwreport prints: z with
# the digits of the normal quantile (checked here with Python), and the
# manual's examples of a short run, of verdicts with --by file and of a very
# large plan, each reproduced by the program on matching input.
# Usage: check_rwreport_examples.sh PAGE RWREPORT
set -uo pipefail
page=$1 rwreport=$2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The page as one line: no hyphenation, no line breaks, blanks squeezed.
manual=$(groff -man -Tutf8 -P-cbou -rHY=0 -rLL=5000n "$page" 2>/dev/null | tr -s ' \n' '  ')
says() { [[ $manual == *"$1"* ]] || fail "the manual does not say: $1"; }

# z as the manual writes it: every digit a double holds (16), and the
# normal distribution function there is 0.975 (Python's math.erfc).
z=$(grep -o 'z = [0-9.]*' <<<"$manual" | head -1)
z=${z#z = }
python3 -c '
import math, sys
z = sys.argv[1]
sys.exit(len(z.replace(".", "")) < 16 or abs(math.erfc(-float(z) / math.sqrt(2)) / 2 - 0.975) > 1e-15)
' "$z" || fail "the manual's z is not the 97.5 % point to a double's digits: '$z'"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
# prints TEXT ARGS...: rwreport's output on ARGS holds TEXT, and so does the
# manual.
prints() {
  local text=$1 out
  shift
  out=$("$rwreport" "$@" 2>&1)
  [[ $out == *"$text"* ]] || fail "rwreport $* does not print: $text"$'\n'"$out"
  says "$text"
}

printf '100.00%%,  50,  50,   3\n 91.11%%,  41,  45,   3\n' >results.csv
prints "short run: tag 3, results.csv:2:2: 45 of 50 attempts made, 41 successes" results.csv

printf '100.00%%,2000,2000,\n' >unit-a.csv
printf ' 90.00%%, 180, 200,\n' >unit-b.csv
prints "unit-a: pass (99.81 % to 100.00 %)" --by file --require 99 --compare unit-a.csv unit-b.csv
prints "unit-b is lower" --by file --require 99 --compare unit-a.csv unit-b.csv

printf ' 99.00%%,990000001,1000000000,2\n' >large.csv
prints "38030442324871840" --plan 99 large.csv
exit $failed
