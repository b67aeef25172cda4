#!/usr/bin/env bash
# Runs the whole suite N times (default 5) while 8 busy processes load the
# machine, to show that no test depends on a quiet machine. Not run in CI.
# Usage: bash scripts/stress.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
. scripts/deps.sh
require_packages stress-ng
build_tree
stress-ng --cpu 8 --timeout 3600s --quiet &
load=$!
trap 'kill $load 2>/dev/null || true; wait $load 2>/dev/null || true' EXIT
sleep 5
failed=0
for round in $(seq "$rounds"); do
  start=$(date +%s)
  if (cd "$BUILD_DIR" && ctest -j 2 --timeout 300 --output-on-failure -LE wine >"stress-$round.log" 2>&1); then
    result=passed
  else
    result=FAILED
    failed=1
  fi
  echo "round $round: $result in $(($(date +%s) - start)) s, load average $(cut -d' ' -f1 /proc/loadavg)," \
    "$(grep 'tests passed' "$BUILD_DIR/stress-$round.log")"
done
exit $failed
