#!/usr/bin/env bash
# System calls per healthy attempt of kestrow against a zero-delay simulator
# (a card always present): strace -f -c of a run of 1 attempt and of one of
# 500, the difference over 499, so that start-up and connection drop out.
# Standard input is /dev/null, as in a script. Prints the figure and the
# calls of the long run; asserts nothing. Needs build/ (or BUILD_DIR) and
# strace.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BUILD_DIR:-build}
work=$(mktemp -d)
"$bin/rwsim" --reader=secured >"$work/sim.out" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/sim.out")

calls() {  # attempts
  strace -f -c -o "$work/calls.$1" "$bin/kestrow" c "$port" t "$1" s off </dev/null >/dev/null
  awk '$NF == "total" { print $(NF - 2) }' "$work/calls.$1"
}
one=$(calls 1)
many=$(calls 500)
awk -v a="$one" -v b="$many" \
  'BEGIN { printf "system calls per healthy attempt: %.2f (t 1: %d, t 500: %d)\n", (b - a) / 499, a, b }'
sed -n '/^--/,$p' "$work/calls.500" | sed '1d;$d' | sort -k4 -n -r | head -n 6
