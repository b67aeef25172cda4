#!/usr/bin/env bash
# Event log bytes per attempt of both tools against the simulator, with the
# default frames (logframes failures) and with every frame (logframes all):
# the log of one run of N+1 attempts less that of one attempt, over N, so
# that the start and the connection do not count. "card" attempts find a
# card, "no card" attempts find none (brimlet's plain R/W then sends no
# answer, so those wait out the response time-out and are fewer).
# Prints bytes; asserts nothing.
#
#   bench/log_bytes.sh [BUILD_DIR]     (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure ATTEMPTS LABEL TOOL SIMULATOR-OPTION... -- TOOL-OPTION...
measure() {
  local attempts=$1 label=$2 tool=$3 sim=() pid port size
  shift 3
  while [ "$1" != -- ]; do
    sim+=("$1")
    shift
  done
  shift
  rm -f "$work/sim"
  "$bin/rwsim" "${sim[@]}" >"$work/sim" 2>/dev/null &
  pid=$!
  until [ -s "$work/sim" ]; do sleep 0.05; done
  port=$(head -n 1 "$work/sim")
  for run in 1 $((attempts + 1)); do
    rm -f "$work/log$run"
    "$bin/$tool" c "$port" t "$run" log "$work/log$run" "$@" >/dev/null </dev/null
  done
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  size=$(($(stat -c %s "$work/log$((attempts + 1))") - $(stat -c %s "$work/log1")))
  printf '%-9s %-8s %-8s %6d\n' "$tool" "$label" "${*: -1}" $((size / attempts))
}

printf '%-9s %-8s %-8s %6s\n' tool attempts frames bytes
for frames in failures all; do
  measure 500 card brimlet -- at 2000 rt 2000 logframes "$frames"
  measure 100 "no card" brimlet --card=. -- logframes "$frames"
  measure 500 card kestrow --reader=secured -- at 2000 rt 2000 logframes "$frames"
  measure 100 "no card" kestrow --reader=secured --card=. -- at 2000 rt 2000 logframes "$frames"
done
