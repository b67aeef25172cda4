#!/usr/bin/env bash
# Long soak (not run in CI): kestrow in its endless mode against the
# simulator for N reconnections (one after every run of 100 attempts),
# printing the tool's open descriptors and resident memory after each run.
# Both must stay flat. Usage: bash scripts/soak.sh [N] (default 1000).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
. scripts/deps.sh
require_packages
build_tree
dir=$(mktemp -d)
sim_pid=
tool_pid=
cleanup() {
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
"$BUILD_DIR/rwsim" --reader=secured --link="$dir/rw" >"$dir/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -e "$dir/rw" ] && break; sleep 0.1; done
mkfifo "$dir/keys"
"$BUILD_DIR/kestrow" c "$dir/rw" f "$dir/results.csv" <"$dir/keys" >"$dir/tool.out" 2>&1 &
tool_pid=$!
exec 3>"$dir/keys"  # holds the tool's input open; a byte on it stops the tool
first=
done_runs=0
while [ "$done_runs" -lt "$runs" ]; do
  sleep 1
  kill -0 "$tool_pid" 2>/dev/null || { echo "kestrow ended early" >&2; exit 1; }
  now=$(grep -c 'TOTAL' "$dir/tool.out" || true)
  [ "$now" -eq "$done_runs" ] && continue
  done_runs=$now
  fds=$(ls "/proc/$tool_pid/fd" | wc -l)
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$tool_pid/status")
  [ -z "$first" ] && first="$fds $rss"
  echo "reconnections $done_runs: descriptors $fds, resident ${rss} KiB"
done
echo q >&3
wait "$tool_pid"
tool_pid=
set -- $first
echo "first: descriptors $1, resident $2 KiB; last: descriptors $fds, resident $rss KiB"
echo "records: $(tr ',' '\n' <"$dir/results.csv" | grep -c '%')"
if [ "$fds" -ne "$1" ]; then echo "descriptors grew" >&2; exit 1; fi
