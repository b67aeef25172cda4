#!/usr/bin/env bash
# Builds the .deb into build-deb/ with Debian's hardening flags and checks it
# with lintian; as root also installs it with dpkg, runs the installed
# programs (against each other, too) and removes it again. Then builds the
# zip in the Windows layout into build-zip/ and checks what it holds. Any
# error fails the script.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
require_packages "${PACKAGE_PACKAGES[@]}"

step() { echo "== $*"; }
fail() {
  echo "package.sh: $*" >&2
  exit 1
}

step "building the .deb"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
rm -rf build-deb
cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF >/dev/null
cmake --build build-deb -j "$(nproc 2>/dev/null || echo 2)" >&2
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/*.deb)
version=$(dpkg-deb -f "$deb" Version)
echo "$deb"
dpkg-deb -f "$deb" Package Version Architecture Depends Section

step "lintian"
# Errors and warnings fail; informational tags are shown.
lintian --fail-on error,warning --display-level '>=info' "$deb" 2>&1 |
  { grep -v '^running with root' || true; }

if [ "$(id -u)" -ne 0 ]; then
  echo "Not root: the installation check (dpkg -i) is skipped." >&2
else
  step "installing with dpkg"
  dpkg -i "$deb"
  trap 'dpkg -r kestrow >/dev/null || true' EXIT
  step "running the installed programs"
  [ "$(command -v kestrow)" = /usr/bin/kestrow ] || fail "kestrow is not /usr/bin/kestrow"
  kestrow v | grep -q 'Polling for Serial Port' || fail "kestrow v"
  brimlet v | grep -q 'Polling for TQ' || fail "brimlet v"
  rwsim --help >/dev/null || fail "rwsim --help"
  [ "$(rwsim --version)" = "rwsim $version" ] || fail "rwsim --version is not $version"
  rwreport --version >/dev/null || fail "rwreport --version"
  rwstation --version >/dev/null || fail "rwstation --version"
  for page in kestrow brimlet rwsim rwreport rwstation; do
    man -w "$page" || fail "man -w $page"
  done
  for program in kestrow brimlet rwsim rwreport rwstation; do
    bash -c "source /usr/share/bash-completion/completions/$program && complete -p $program" \
      >/dev/null || fail "bash completion of $program"
  done
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"; dpkg -r kestrow >/dev/null || true' EXIT
  rwsim --reader=secured --card=ooo.o --link="$scratch/rw0" >/dev/null &
  sim=$!
  trap 'kill "$sim" 2>/dev/null || true; rm -rf "$scratch"; dpkg -r kestrow >/dev/null || true' EXIT
  for _ in $(seq 100); do [ -e "$scratch/rw0" ] && break; sleep 0.1; done
  out=$(kestrow c "$scratch/rw0" t 10 </dev/null) || fail "installed kestrow against rwsim: $out"
  kill "$sim"
  wait "$sim" || true
  grep -q '(TOTAL) \[   8/  10\]' <<<"$out" || fail "installed kestrow against rwsim: $out"
  echo "kestrow against rwsim: ok"
fi

step "building the zip in the Windows layout"
unset CXXFLAGS LDFLAGS
rm -rf build-zip
cmake -S . -B build-zip -DWINDOWS_LAYOUT=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-zip -j "$(nproc 2>/dev/null || echo 2)" >&2
(cd build-zip && cpack -G ZIP >/dev/null)
zip=$(ls build-zip/*.zip)
echo "$zip"
listing=$(unzip -Z1 "$zip")
exe=$(sed -n 's/^CMAKE_EXECUTABLE_SUFFIX:[A-Z]*=//p' build-zip/CMakeCache.txt)
for file in "kestrow$exe" "brimlet$exe" manual/kestrow.txt manual/brimlet.txt LICENSE.txt \
  README.md CHANGELOG.md; do
  grep -q "^[^/]*/$file\$" <<<"$listing" || fail "$zip lacks $file"
done
unzip -p "$zip" '*/manual/kestrow.txt' | grep -q 'PORT NAMES' || fail "manual text is empty"
echo "zip contents: ok"
