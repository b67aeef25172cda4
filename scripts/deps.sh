# Checks for the packages a script needs; installs the missing ones when run
# as root. Sourced by the other scripts.

# Header-only libraries every build uses, the MinGW cross build included
# (cmake/HostHeaders.cmake makes them visible to it): Boost.Math for
# rwreport's statistical distributions, RapidJSON for its event log reader,
# Boost.Beast (with Asio) for rwstation's HTTP server.
HEADER_PACKAGES=(/usr/include/boost/math/distributions/chi_squared.hpp:libboost-math-dev
  /usr/include/rapidjson/reader.h:rapidjson-dev /usr/include/boost/beast.hpp:libboost-dev)

# require_packages [ITEM]...: the build packages (cmake, make, g++, the
# header-only libraries) and each ITEM: a command that comes with the package
# of the same name, COMMAND:PACKAGE, or /FILE:PACKAGE.
require_packages() {
  local missing
  mapfile -t missing < <(missing_packages cmake make g++ "${HEADER_PACKAGES[@]}" "$@")
  install_packages "${missing[@]}"
}

# missing_packages ITEM...: prints the package of each ITEM (as for
# require_packages) that is not there, one a line.
missing_packages() {
  local item need
  for item in "$@"; do
    need=${item%%:*}
    if [[ $need == /* ]]; then
      [ -e "$need" ] && continue
    else
      command -v "$need" >/dev/null 2>&1 && continue
    fi
    echo "${item#*:}"
  done
}

# Installs the named packages when run as root; otherwise names them and
# exits.
install_packages() {
  local missing=("$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing build packages: ${missing[*]}" >&2
    echo "Install them (e.g. sudo apt-get install ${missing[*]}) and run again." >&2
    exit 1
  fi
}

# What the tests need: GoogleTest, zlib (the browser test reads PNG
# screenshots), groff and man to check the man pages.
TEST_PACKAGES=(/usr/include/gtest/gtest.h:libgtest-dev /usr/include/zlib.h:zlib1g-dev
  groff:groff-base man:man-db)
# What scripts/package.sh needs to build, check and install the .deb, and
# to cross-build the Windows zip.
PACKAGE_PACKAGES=(dpkg-shlibdeps:dpkg-dev lintian groff:groff-base man:man-db unzip
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix)
# What scripts/test-windows.sh needs: the MinGW-w64 cross compilers (the
# -posix thread model), Debian's GoogleTest sources and Wine.
WINDOWS_PACKAGES=(x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
  i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix
  /usr/src/googletest/CMakeLists.txt:googletest /usr/lib/wine/wine64:wine64 unzip)

# Packages only the tests use: headless Chromium shows rwreport's page and
# rwstation's live page, poppler-utils reads the page printed to PDF,
# the package prometheus brings the server that scrapes two stations in the
# native stage's end-to-end test and promtool, which lints rwstation's
# metrics and tests the lab's alert rules, Python's Prometheus client and jsonschema read its
# metrics and status JSON, xmllint (libxml2-utils) validates rwreport's
# JUnit file against its schema, and pandas runs the README's snippet (R's,
# r-base-core, runs where R is). Installed when run as root; without them
# those tests are skipped, saying so.
OPTIONAL_TEST_PACKAGES=(chromium pdftoppm:poppler-utils prometheus promtool:prometheus
  /usr/lib/python3/dist-packages/prometheus_client:python3-prometheus-client
  /usr/lib/python3/dist-packages/jsonschema:python3-jsonschema xmllint:libxml2-utils
  /usr/lib/python3/dist-packages/pandas:python3-pandas)
offer_test_packages() {
  local missing
  mapfile -t missing < <(missing_packages "${OPTIONAL_TEST_PACKAGES[@]}")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing ${missing[*]} for the browser and format tests"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" \
      >/dev/null || echo "Could not install ${missing[*]}: their tests will be skipped" >&2
  else
    echo "${missing[*]} missing: their tests will be skipped" >&2
  fi
}

# The fuzz targets need clang++ with its libFuzzer runtime.
require_fuzz_packages() {
  local missing=() dir item
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v make >/dev/null 2>&1 || missing+=(make)
  for item in "${HEADER_PACKAGES[@]}"; do
    [ -e "${item%%:*}" ] || missing+=("${item#*:}")
  done
  if ! command -v clang++ >/dev/null 2>&1; then
    missing+=(clang libclang-rt-dev)
  else
    dir=$(mktemp -d)
    echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' \
      >"$dir/probe.cpp"
    clang++ -fsanitize=fuzzer "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1 ||
      missing+=(libclang-rt-dev)
    rm -rf "$dir"
  fi
  install_packages "${missing[@]}"
}

# build_tree [TARGET]...: configures and builds into build/ (build-asan/ with
# SANITIZE=1). With TARGETs, builds only those, without the tests.
build_tree() {
  local dir=build flags=() targets=()
  if [ "${SANITIZE:-0}" = 1 ]; then
    dir=build-asan
    # -O1 with line tables only: what the sanitizers' reports need, in half
    # the compile time of -O2 -g (a Beast translation unit took 140 s).
    flags+=(-DSANITIZE=ON "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
  fi
  if [ $# -gt 0 ]; then
    flags+=(-DBUILD_TESTING=OFF)
    targets+=(--target "$@")
  else
    flags+=(-DBUILD_TESTING=ON)
  fi
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]}" >&2
  BUILD_DIR=$dir
}
