#!/usr/bin/env bash
# Builds everything and runs every test. SANITIZE=1 builds with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
require_packages "${TEST_PACKAGES[@]}"
offer_test_packages
build_tree
cd "$BUILD_DIR"
ctest --output-on-failure -j 2 --timeout 300 -LE wine
