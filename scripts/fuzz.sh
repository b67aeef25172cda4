#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ and runs each of them for the
# given number of seconds (default 20) over a copy of its seed corpus
# (fuzz/corpus/<target>), one after the other. Fails when a target finds a
# crash, a sanitizer report, a broken promise or a hang; the input that did
# it is kept in build-fuzz/findings/<target>/.
#
# The seed corpus is written by the targets themselves:
#   FUZZ_SEED_DIR=fuzz/corpus/exchange build-fuzz/fuzz/fuzz_exchange
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
case "$seconds" in '' | *[!0-9]*)
  echo "usage: scripts/fuzz.sh [seconds-per-target]" >&2
  exit 2
  ;;
esac
. scripts/deps.sh
require_fuzz_packages
cmake -S . -B build-fuzz -DFUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets -j 2 >&2

status=0
for target in exchange secured plain options sim_frames event_log; do
  corpus=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  log=build-fuzz/fuzz_$target.log
  rm -rf "$corpus" "$findings"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/$target/* "$corpus"/
  # Standard output and error of the code under test are closed (its
  # diagnostics would flood the log); the fuzzer's own report still comes.
  if build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: ${runs:-?} runs, no finding"
  else
    status=1
    echo "fuzz_$target: FINDING (log $log)" >&2
    for input in "$findings"/*; do
      [ -e "$input" ] || continue
      # Again with its output open, which names a broken promise.
      build-fuzz/fuzz/fuzz_$target "$input" 2>&1 |
        grep -E 'broken promise|ERROR|SUMMARY|^ +#[0-9]+ ' | head -30 >&2 || true
      echo "  reproduce: build-fuzz/fuzz/fuzz_$target $input" >&2
    done
  fi
done
exit $status
