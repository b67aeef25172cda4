#!/usr/bin/env bash
# Builds the tools and the R/W simulator (not the tests), starts the simulator on a
# pseudo-terminal, runs one polling run of 100 attempts against it with a
# result file, shows the file, and stops the simulator.
# Usage: scripts/demo.sh [kestrow|brimlet]   (default: kestrow)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-kestrow}
. scripts/deps.sh
require_packages
build_tree kestrow brimlet rwsim rwreport
reader=secured
[ "$tool" = brimlet ] && reader=plain
result=$BUILD_DIR/demo-result.csv
rm -f "$result"
exec 3< <(exec "$BUILD_DIR/rwsim" --reader=$reader --card=p=0.9 --seed=7)
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
read -r port <&3
echo "R/W simulator ($reader) on $port"
"$BUILD_DIR/$tool" c "$port" t 100 f "$result" </dev/null
echo "Result file $result:"
cat "$result"
echo
echo "Figures (build/rwreport $result):"
"$BUILD_DIR/rwreport" "$result"
