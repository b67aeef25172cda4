#!/usr/bin/env bash
# The lab's Prometheus recipe in docs/prometheus: the configuration and its
# alert rules are valid (check), and the rules fire as their unit tests
# expect (test). Exits 77 (CTest: skipped) when promtool is missing.
# usage: check_prometheus.sh check|test FOLDER
set -euo pipefail
mode=$1
folder=$2
if ! command -v promtool >/dev/null 2>&1; then
  echo "promtool (package prometheus) is missing: the alert rules were not checked;" \
    "scripts/deps.sh installs it when run as root"
  exit 77
fi
cd "$folder"
case "$mode" in
  check)
    promtool check rules rules.yml
    promtool check config prometheus.yml
    ;;
  test) promtool test rules rules.test.yml ;;
  *)
    echo "check_prometheus.sh: no mode '$mode'" >&2
    exit 2
    ;;
esac
