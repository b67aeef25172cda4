#!/usr/bin/env bash
# Builds the .deb into build-deb/ with Debian's hardening flags and checks it
# with lintian; as root also installs it with dpkg, runs the installed
# programs (against each other, too) and removes it again, unless a kestrow
# package was installed before: the machine's packages are left as they
# were found. Then cross-builds the Windows programs with MinGW-w64, makes
# the Windows zip (in the Windows test stage's build-win64/ when there, else
# into build-zip/) and checks what it holds: 64-bit Windows
# programs (PE32+), never the Linux ones. Any error fails the script.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
require_packages "${PACKAGE_PACKAGES[@]}"

step() { echo "== $*"; }

# The bytes of FILE at OFFSET, COUNT of them, as one little-endian number.
read_le() {
  local bytes value=0 i
  read -ra bytes <<<"$(od -An -tu1 -j "$2" -N "$3" "$1")"
  [ ${#bytes[@]} -eq "$3" ] || return 1
  for ((i = $3 - 1; i >= 0; i--)); do value=$((value * 256 + bytes[i])); done
  echo "$value"
}

# True when FILE is a 64-bit Windows program: "MZ", the PE signature where
# the DOS header points, machine 8664h (x86-64), optional header magic 20Bh
# (PE32+).
is_pe32plus_x86_64() {
  local pe
  [ "$(head -c 2 "$1")" = MZ ] || return 1
  pe=$(read_le "$1" 60 4) || return 1
  [ "$(read_le "$1" "$pe" 4)" = $((0x4550)) ] || return 1
  [ "$(read_le "$1" $((pe + 4)) 2)" = $((0x8664)) ] || return 1
  [ "$(read_le "$1" $((pe + 24)) 2)" = $((0x20B)) ]
}
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

# What this script must undo on any path, and only that.
installed_here=0 sim='' scratch='' unpacked=''
clean_up() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
  if [ -n "$scratch" ]; then rm -rf "$scratch"; fi
  if [ -n "$unpacked" ]; then rm -rf "$unpacked"; fi
  if [ "$installed_here" = 1 ]; then dpkg -r kestrow >/dev/null || true; fi
}
trap clean_up EXIT

# A kestrow package already on the machine (any state but not installed or
# only its configuration left) is not ours to replace or remove.
found=$(dpkg-query -W -f='${db:Status-Abbrev} ${Version}' kestrow 2>/dev/null || true)
if [[ $found == ?[nc]* ]]; then found=; fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Not root: the installation check (dpkg -i) is skipped." >&2
elif [ -n "$found" ]; then
  echo "A kestrow package is installed already (dpkg status and version: $found): the" \
    "installation check (dpkg -i) is skipped, to leave it as it is." >&2
else
  step "installing with dpkg"
  installed_here=1
  dpkg -i "$deb"
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
  rwsim --reader=secured --card=ooo.o --link="$scratch/rw0" >/dev/null &
  sim=$!
  for _ in $(seq 100); do [ -e "$scratch/rw0" ] && break; sleep 0.1; done
  out=$(kestrow c "$scratch/rw0" t 10 </dev/null) || fail "installed kestrow against rwsim: $out"
  kill "$sim" 2>/dev/null || true
  wait "$sim" || true
  sim=
  grep -q '(TOTAL) \[   8/  10\]' <<<"$out" || fail "installed kestrow against rwsim: $out"
  echo "kestrow against rwsim: ok"
  dpkg -r kestrow >/dev/null
  installed_here=0
fi

step "building the Windows zip (MinGW-w64, x86_64)"
unset CXXFLAGS LDFLAGS
# The Windows test stage's x86_64 build holds the same programs: brought up
# to date, it makes the zip without building them a second time.
zipdir=build-zip
if grep -qs '^CMAKE_TOOLCHAIN_FILE:.*x86_64-w64-mingw32.cmake$' build-win64/CMakeCache.txt; then
  zipdir=build-win64
else
  rm -rf build-zip
  cmake -S . -B build-zip -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
    -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$zipdir" -j "$(nproc 2>/dev/null || echo 2)" >&2
(cd "$zipdir" && rm -f ./*.zip && cpack -G ZIP >/dev/null)
zip=$(ls "$zipdir"/*.zip)
echo "$zip"
[[ $zip == *-windows-x86_64.zip ]] || fail "$zip is not named for 64-bit Windows"
listing=$(unzip -Z1 "$zip")
for file in kestrow.exe brimlet.exe rwreport.exe rwstation.exe manual/kestrow.txt \
  manual/brimlet.txt manual/rwreport.txt manual/rwstation.txt LICENSE.txt README.md CHANGELOG.md \
  station-example.plan station-status.md prometheus/rules.yml; do
  grep -q "^[^/]*/$file\$" <<<"$listing" || fail "$zip lacks $file"
done
programs=$(grep -Ev '\.(txt|md|plan|yml|json)$|/$' <<<"$listing" || true)
[ "$(grep -c . <<<"$programs")" -eq 4 ] || fail "$zip holds other files: $programs"
unpacked=$(mktemp -d)
unzip -q "$zip" -d "$unpacked"
for program in "$unpacked"/*/*.exe; do
  is_pe32plus_x86_64 "$program" || fail "$(basename "$program") in $zip is not a 64-bit Windows program"
done
unzip -p "$zip" '*/manual/kestrow.txt' | grep -q 'PORT NAMES' || fail "manual text is empty"
echo "zip contents: ok (kestrow.exe, brimlet.exe, rwreport.exe, rwstation.exe: PE32+ x86-64)"
