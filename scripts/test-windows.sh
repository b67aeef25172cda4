#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 (x86_64 into build-win64/, i686
# into build-win32/) and tests the x86_64 build under Wine: the unit tests
# through CTest, then kestrow.exe and brimlet.exe end to end against the
# native simulator. The i686 build holds the programs only, compiled and
# linked: 32-bit Windows programs cannot run on these machines, so its
# tests would never run (the x86_64 build compiles and runs them).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
require_packages "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
build_tree  # the native simulator and the end-to-end driver
native=$PWD/$BUILD_DIR

build_windows() {  # arch folder [cmake options]
  cmake -S . -B "$2" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$1-w64-mingw32.cmake" \
    -DGTEST_SOURCE_DIR=/usr/src/googletest "${@:3}" >/dev/null
  cmake --build "$2" -j "$(nproc 2>/dev/null || echo 2)" >&2
}
echo "== Windows i686 (build only)"
build_windows i686 build-win32 -DBUILD_TESTING=OFF
echo "== Windows x86_64"
build_windows x86_64 build-win64

echo "== Windows zip"
# The zip people unpack on Windows: the programs (no DLLs needed), the
# manual as text, the licence.
(cd build-win64 && rm -f ./*.zip && cpack -G ZIP >/dev/null)
zip=$(ls build-win64/*.zip)
listing=$(unzip -Z1 "$zip")
for file in kestrow.exe brimlet.exe rwreport.exe rwstation.exe manual/kestrow.txt \
  manual/brimlet.txt manual/rwreport.txt manual/rwstation.txt station-example.plan LICENSE.txt \
  README.md CHANGELOG.md; do
  grep -q "^[^/]*/$file\$" <<<"$listing" || { echo "$zip lacks $file" >&2; exit 1; }
done
echo "$zip: ok"

. scripts/wine.sh
start_wine

echo "== Windows unit tests under Wine"
(cd build-win64 && ctest --output-on-failure -j 2 --timeout 300)
echo "== Windows programs end to end under Wine"
(export WINDOWS_BIN_DIR=$PWD/build-win64 && cd "$native" && ctest --output-on-failure --timeout 300 -L wine)
