#!/usr/bin/env bash
# The attempt bench in one run, on a healthy R/W (the simulator with a card
# always present, no delay):
#   1. build/cycle_bench: the floor and both tools, median cycle, CPU share,
#      and their ratios to the floor;
#   2. system calls per attempt: each tool under `strace -f -c` for one run
#      of 1 and one of 500 attempts, the difference over 499, in total and
#      per system call;
#   3. event log bytes per attempt: the same two runs with `log FILE`, the
#      difference of the logs' sizes over 499.
# Standard input is /dev/null, as for a tool started by a script. Prints the
# figures; asserts nothing.
# Usage: bash bench/cycle_bench.sh [ATTEMPTS]   (ATTEMPTS for step 1, default
#        1000; BUILD_DIR names the build folder, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BUILD_DIR:-build}
attempts=${1:-1000}
long=500
for program in cycle_bench cycle_floor kestrow brimlet rwsim; do
  [ -x "$bin/$program" ] || {
    echo "cycle_bench.sh: $bin/$program is missing: cmake --build $bin first" >&2
    exit 1
  }
done
command -v strace >/dev/null || {
  echo "cycle_bench.sh: strace is missing (apt-get install strace)" >&2
  exit 1
}
scratch=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null; rm -rf "$scratch"' EXIT

echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
"$bin/cycle_bench" "$attempts"

# Starts a simulator with the given options on a private link.
start_sim() {
  "$bin/rwsim" "$@" --link="$scratch/rw" >/dev/null 2>&1 &
  sim=$!
  for _ in $(seq 200); do [ -e "$scratch/rw" ] && return 0; sleep 0.05; done
  echo "cycle_bench.sh: the simulator did not start" >&2
  exit 1
}
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=
}

# Calls per system call of one run under strace: "name calls" lines, and
# "total calls".
syscalls() {  # out tool args...
  local out=$1
  shift
  strace -f -c -o "$out.strace" "$@" </dev/null >/dev/null 2>&1
  awk '$1 ~ /^[0-9.]+$/ && NF >= 5 { print $NF, $4 }' "$out.strace" >"$out"
}

# Prints the system calls per attempt of `tool args...` and its log bytes.
measure() {  # label sim-options tool tool-args...
  local label=$1 simopts=$2 tool=$3
  shift 3
  local -a options
  read -ra options <<<"$simopts"
  rm -f "$scratch"/*.jsonl  # a log is appended to: each case starts without one
  start_sim "${options[@]}"
  syscalls "$scratch/short" "$bin/$tool" c "$scratch/rw" t 1 "$@"
  syscalls "$scratch/long" "$bin/$tool" c "$scratch/rw" t "$long" "$@"
  "$bin/$tool" c "$scratch/rw" t 1 log "$scratch/short.jsonl" "$@" </dev/null >/dev/null 2>&1 || true
  local cards
  cards=$("$bin/$tool" c "$scratch/rw" t "$long" log "$scratch/long.jsonl" "$@" </dev/null \
    2>/dev/null | grep -Eo '^[o.X]+' | tr -cd o | wc -c) || true
  stop_sim
  local perCall bytes
  perCall=$(join -a 2 -e 0 -o 0,1.2,2.2 <(sort "$scratch/short") <(sort "$scratch/long") |
    awk -v n=$((long - 1)) '{ d = ($3 - $2) / n; if ($1 != "total" && d >= 0.005)
      printf "%s %.2f\n", $1, d }' | sort -k2,2nr -k1,1 | paste -sd ' ')
  local total
  total=$(join -a 2 -e 0 -o 1.2,2.2 <(grep '^total ' "$scratch/short") \
    <(grep '^total ' "$scratch/long") | awk -v n=$((long - 1)) '{ printf "%.2f", ($2 - $1) / n }')
  bytes=$(($(stat -c %s "$scratch/long.jsonl") - $(stat -c %s "$scratch/short.jsonl")))
  printf '%-16s %5s %8s %8s   %s\n' "$label" "$cards" "$total" \
    "$(awk -v b="$bytes" -v n=$((long - 1)) 'BEGIN { printf "%.1f", b / n }')" "$perCall"
}

echo
echo "Per healthy attempt: system calls (strace -f -c, runs of $long and 1 attempts, the"
echo "difference over $((long - 1))) and event log bytes (the same runs with log FILE)."
echo "Generous time-outs (at 1000 rt 1000) keep a starved simulator from failing attempts;"
echo "'cards' counts the cards found in the run of $long with the log (all healthy: $long)."
printf '%-16s %5s %8s %8s   %s\n' program cards syscalls "log B" "calls per attempt by system call"
slow=(at 1000 rt 1000)
measure brimlet "" brimlet "${slow[@]}"
measure "kestrow DES on" --reader=secured kestrow "${slow[@]}"
measure "kestrow DES off" "--reader=secured --des=off" kestrow kagi off "${slow[@]}"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
