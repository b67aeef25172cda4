#!/usr/bin/env bash
# Builds and runs every test, stage by stage; as root, installs what a stage
# is missing. With stage names, runs only those:
#   native    the build in build/ and its CTest suite: unit tests, the serial
#             layer on pseudo-terminals, the programs end to end against the
#             simulator, man pages, completion, install layout
#   format    clang-format on every C++ file
#   windows   the i686 and x86_64 Windows builds, tests under Wine
#             (scripts/test-windows.sh)
#   sanitize  the native suite again under AddressSanitizer and
#             UndefinedBehaviorSanitizer, in build-asan/
#   fuzz      each libFuzzer target for FUZZ_SECONDS (default 15) seconds
#             (scripts/fuzz.sh)
#   package   the .deb, installed and run, and the Windows zip
#             (scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

native() {
  require_packages "${TEST_PACKAGES[@]}"
  offer_test_packages
  build_tree
  (cd "$BUILD_DIR" && ctest --output-on-failure -j 2 --timeout 300 -LE wine)
}

format() {
  require_packages clang-format
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}

windows() { bash scripts/test-windows.sh; }
sanitize() { SANITIZE=1 native; }
fuzz() { bash scripts/fuzz.sh "${FUZZ_SECONDS:-15}"; }
package() { bash scripts/package.sh; }

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native format windows sanitize fuzz package)
for stage in "${stages[@]}"; do
  case "$stage" in
    native | format | windows | sanitize | fuzz | package) ;;
    *)
      echo "scripts/test.sh: no stage '$stage' (native format windows sanitize fuzz package)" >&2
      exit 2
      ;;
  esac
  echo "== $stage"
  started=$SECONDS
  "$stage"
  echo "== $stage: $((SECONDS - started)) s"
done
echo "== every stage passed: ${stages[*]}"
