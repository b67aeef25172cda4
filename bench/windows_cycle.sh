#!/usr/bin/env bash
# The attempt cycle of the Windows build under Wine beside the Linux build's,
# against the same simulator (zero delay, a card always present). Each tool
# makes one run of 100 and one of 1000 attempts; the difference of the two
# times over 900 is the cycle without the start-up and the connection.
# Prints milliseconds; asserts nothing. Needs the builds of
# scripts/test-windows.sh (build/ and build-win64/).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine.sh
start_wine

now_ms() { date +%s%3N; }
run_ms() {  # command...
  local start end
  start=$(now_ms)
  "$@" >/dev/null 2>&1 </dev/null
  end=$(now_ms)
  echo $((end - start))
}
cycle() {  # tool under-wine(yes/no) simulator-options...
  local tool=$1 windows=$2
  shift 2
  build/rwsim "$@" --link="$WINE_COM_DIR/com5" >/dev/null 2>&1 &
  local sim=$!
  sleep 0.5
  local short long
  if [ "$windows" = yes ]; then
    short=$(run_ms "$WINE" "build-win64/$tool.exe" c COM5 t 100)
    long=$(run_ms "$WINE" "build-win64/$tool.exe" c COM5 t 1000)
  else
    short=$(run_ms "build/$tool" c "$WINE_COM_DIR/com5" t 100)
    long=$(run_ms "build/$tool" c "$WINE_COM_DIR/com5" t 1000)
  fi
  kill "$sim"
  wait "$sim" 2>/dev/null || true
  awk -v s="$short" -v l="$long" 'BEGIN { printf "%8.2f", (l - s) / 900.0 }'
}

printf '%-22s %10s %10s\n' "attempt cycle (ms)" "Linux" "Wine"
for tool in kestrow brimlet; do
  reader=plain
  [ "$tool" = kestrow ] && reader=secured
  linux=$(cycle "$tool" no --reader=$reader)
  wine=$(cycle "$tool" yes --reader=$reader)
  printf '%-22s %10s %10s\n' "$tool ($reader)" "$linux" "$wine"
done
