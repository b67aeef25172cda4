#!/usr/bin/env bash
# Runs the README's pandas and R snippets on the runs of a short soak
# (bench/make_soak_logs.py: one reader losing its R/W) and checks that each
# gives every file's card-finding successes and attempts as rwreport --by
# file does. A snippet whose tool is missing is skipped, saying so; with
# neither, the test is skipped (exit status 77).
# Usage: check_readme_snippets.sh README RWREPORT MAKE_SOAK_LOGS
set -uo pipefail
readme=$1 rwreport=$2 generator=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failed=0 ran=0

# The indented block after the line "<!-- snippet NAME", its indentation
# taken off.
snippet() {
  awk -v name="$1" '
    index($0, "<!-- snippet " name) == 1 { found = 1; next }
    found && /^    / { inside = 1; print substr($0, 5); next }
    found && inside && !/^$/ { exit }' "$readme"
}

python3 "$generator" . --hours 0.5 --readers 2 --per-second 2 || exit 1
files=(unit1.txt unit1.log unit2.txt unit2.log)
"$rwreport" --csv runs "${files[@]}" >runs.csv || exit 1
# file,runs,attempts,successes,...: the figures to find in each snippet's
# output, the file's successes and card-finding attempts.
mapfile -t expected < <("$rwreport" --by file --csv "${files[@]}" |
  awk -F, 'NR > 1 && $1 != "all" { print $1 ".txt +" $4 " +" $3 }')
grep -q loss_attempts runs.csv || { echo "FAIL: runs.csv has no loss_attempts"; exit 1; }

check() {
  local name=$1 out=$2 line
  ran=1
  for line in "${expected[@]}"; do
    grep -Eq "$line" <<<"$out" || { echo "FAIL: the $name snippet gives no '$line':"; echo "$out"; failed=1; }
  done
}

pandas_python=
for python in python3 /usr/bin/python3; do
  if "$python" -c 'import pandas' 2>/dev/null; then pandas_python=$python; break; fi
done
if [ -n "$pandas_python" ]; then
  snippet pandas >snippet.py
  [ -s snippet.py ] || { echo "FAIL: no pandas snippet in $readme"; exit 1; }
  check pandas "$("$pandas_python" snippet.py 2>&1)"
else
  echo "SKIP: pandas is missing (Debian package python3-pandas): its snippet was not run"
fi

if command -v Rscript >/dev/null 2>&1; then
  snippet R >snippet.R
  [ -s snippet.R ] || { echo "FAIL: no R snippet in $readme"; exit 1; }
  check R "$(Rscript snippet.R 2>&1)"
else
  echo "SKIP: R is missing (Debian package r-base-core): its snippet was not run"
fi

[ $ran = 1 ] || exit 77
exit $failed
