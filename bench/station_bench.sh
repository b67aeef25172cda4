#!/usr/bin/env bash
# rwstation with 1, 8 and 32 simulated readers at once (one rwsim and one
# brimlet each): prints each reader's median attempt cycle and attempts per
# second, from the `t` stamps of its event log's attempts, and the station's
# own processor share. With STATION_HTTP=1 each count runs three ways: as
# it is; with --listen, /metrics scraped every second and the live page's
# /status.json fetched every 1.5 s (with the answer times of /metrics); and
# with --listen and 200 idle connections held open (bench/station_clients.py).
# Usage: [STATION_HTTP=1] bash bench/station_bench.sh [BUILD_DIR] [ATTEMPTS] [COUNTS...]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
attempts=${2:-300}
shift $(($# > 2 ? 2 : $#))
counts=("${@:-1 8 32}")
read -ra counts <<<"${counts[*]}"
scratch=$(mktemp -d)
sims=()
clients=
cleanup() {
  for pid in "${sims[@]}" $clients; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# The median gap between consecutive attempts of one run, in ms, and the
# attempts per second over the run, per log.
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
    rate = sum(len(run) - 1 for run in stamps.values()) / (sum(gaps) / 1e6) if gaps else 0
    print(f"{name} {statistics.median(gaps) / 1000:.2f} {rate:.2f}" if gaps else f"{name} - -")
PY
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# run_station COUNT WAY: one session of COUNT readers; WAY is plain, watched
# or idle200.
run_station() {
  local count=$1 way=$2 plan=$scratch/plan-$1-$2 port listen=()
  : >"$plan"
  sims=()
  for ((i = 1; i <= count; i++)); do
    out=$scratch/sim-$count-$way-$i
    "$build/rwsim" >"$out" &
    sims+=($!)
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
    printf 'r%02d brimlet c %s t %s\n' "$i" "$(head -1 "$out")" "$attempts" >>"$plan"
  done
  clients=
  if [ "$way" != plain ]; then
    port=$(free_port)
    listen=(--listen "$port")
  fi
  local session=$scratch/session-$count-$way tag=$count-$way
  "$build/rwstation" "${listen[@]}" --session "$session" "$plan" >"$scratch/station-$tag.out" \
    2>"$scratch/station-$tag.err" &
  local station=$!
  if [ "$way" != plain ]; then
    for _ in $(seq 100); do grep -q 'rwstation: serving' "$scratch/station-$tag.out" && break; sleep 0.05; done
    if [ "$way" = watched ]; then
      python3 "$here/station_clients.py" "$port" watch >"$scratch/clients-$tag" &
    else
      python3 "$here/station_clients.py" "$port" idle 200 >"$scratch/clients-$tag" &
    fi
    clients=$!
  fi
  wait "$station" || true
  if [ -n "$clients" ]; then
    kill "$clients" 2>/dev/null || true
    wait "$clients" 2>/dev/null || true
    clients=
  fi
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${sims[@]}" 2>/dev/null || true
  cycles=$(median_cycles "$session"/r*.log)
  echo "== $count reader(s), $attempts attempts each, $way"
  if ((count <= 8)); then
    sed 's/^/  median cycle ms, attempts per second: /' <<<"$cycles"
  else
    echo "  median cycle ms per reader: $(cut -d' ' -f2 <<<"$cycles" | paste -sd ' ')"
  fi
  awk '{ print $2 }' <<<"$cycles" | sort -n | awk '{ v[NR] = $1 } END {
    printf "  readers: median of medians %.2f ms, slowest %.2f ms\n", v[int((NR + 1) / 2)], v[NR] }'
  awk '{ s += $3 } END { printf "  attempts per second, mean over readers: %.3f\n", s / NR }' <<<"$cycles"
  grep '^rwstation: processor time' "$scratch/station-$tag.out" | sed 's/^rwstation: /  station /'
  [ -s "$scratch/clients-$tag" ] 2>/dev/null && cat "$scratch/clients-$tag"
  echo "  lines naming a failure: $(grep -c ' failed' "$scratch/station-$tag.out" || true)"
}

ways=(plain)
[ "${STATION_HTTP:-0}" = 1 ] && ways=(plain watched idle200)
for count in "${counts[@]}"; do
  for way in "${ways[@]}"; do run_station "$count" "$way"; done
done
