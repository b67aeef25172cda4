#!/usr/bin/env bash
# rwreport on large event logs (not run in CI): generates realistic logs of
# 100 MB and 1 GB (bench/make_event_log.py: both tools, four tags, runs of
# 100 attempts with failures and their frames, reconnections, stops) and
# prints, for each, the throughput in MB/s and the peak resident memory.
# Each log is read once beforehand so that the page cache holds it and the
# figure is rwreport's own, not the disk's.
# Usage: bash bench/log_bench.sh [SIZE_MB...] (default 100 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
require_packages python3 /usr/bin/time:time
build_tree rwreport
rwreport=$PWD/$BUILD_DIR/rwreport
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100 1000)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in "${sizes[@]}"; do
  log=$dir/soak-$size.jsonl
  python3 bench/make_event_log.py "$size" "$log"
  bytes=$(stat -c %s "$log")
  cat "$log" >/dev/null
  best=
  for _ in 1 2 3; do
    /usr/bin/time -f '%e %U %S %M' -o "$dir/time" "$rwreport" "$log" >/dev/null 2>"$dir/err" ||
      { cat "$dir/err" >&2; exit 1; }
    read -r elapsed user system peak <"$dir/time"
    if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$elapsed best_user=$user best_system=$system best_peak=$peak
    fi
  done
  awk -v bytes="$bytes" -v e="$best" -v u="$best_user" -v s="$best_system" -v kb="$best_peak" \
    'BEGIN { printf "%7.1f MB log: %6.1f MB/s (best of 3: %.2f s elapsed, %.2f s user, %.2f s system), peak memory %.1f MB\n",
             bytes / 1e6, bytes / 1e6 / e, e, u, s, kb / 1024 }'
  rm -f "$log"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
