#!/usr/bin/env bash
# rwstation with 1, 8 and 32 simulated readers at once (one rwsim and one
# brimlet each): prints each reader's median attempt cycle, from the `t`
# stamps of its event log's attempts, and the station's own processor share.
# Usage: bash bench/station_bench.sh [BUILD_DIR] [ATTEMPTS] [COUNTS...]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
attempts=${2:-300}
shift $(($# > 2 ? 2 : $#))
counts=("${@:-1 8 32}")
read -ra counts <<<"${counts[*]}"
scratch=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# The median gap between consecutive attempts of one run, in ms, per log.
median_cycles() {
  python3 - "$@" <<'PY'
import json, statistics, sys
for path in sys.argv[1:]:
    stamps = {}
    with open(path) as log:
        for line in log:
            event = json.loads(line)
            if event.get("ev") == "attempt":
                stamps.setdefault(event["run"], []).append(event["t"])
    gaps = [b - a for run in stamps.values() for a, b in zip(run, run[1:])]
    name = path.rsplit("/", 1)[-1][:-4]
    print(f"{name} {statistics.median(gaps) / 1000:.2f}" if gaps else f"{name} -")
PY
}

for count in "${counts[@]}"; do
  plan=$scratch/plan-$count
  : >"$plan"
  sims=()
  for ((i = 1; i <= count; i++)); do
    out=$scratch/sim-$count-$i
    "$build/rwsim" >"$out" &
    sims+=($!)
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
    printf 'r%02d brimlet c %s t %s\n' "$i" "$(head -1 "$out")" "$attempts" >>"$plan"
  done
  session=$scratch/session-$count
  "$build/rwstation" --session "$session" "$plan" >"$scratch/station-$count.out" \
    2>"$scratch/station-$count.err" || true
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${sims[@]}" 2>/dev/null || true
  cycles=$(median_cycles "$session"/r*.log)
  echo "== $count reader(s), $attempts attempts each"
  if ((count <= 8)); then
    sed 's/^/  median cycle ms: /' <<<"$cycles"
  else
    echo "  median cycle ms per reader: $(cut -d' ' -f2 <<<"$cycles" | paste -sd ' ')"
  fi
  awk '{ print $2 }' <<<"$cycles" | sort -n | awk '{ v[NR] = $1 } END {
    printf "  readers: median of medians %.2f ms, slowest %.2f ms\n", v[int((NR + 1) / 2)], v[NR] }'
  grep '^rwstation: processor time' "$scratch/station-$count.out" | sed 's/^rwstation: /  station /'
  echo "  lines naming a failure: $(grep -c ' failed' "$scratch/station-$count.out" || true)"
done
