# Checks for the build packages; installs the missing ones when run as root.
# Sourced by the other scripts.
require_packages() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v make >/dev/null 2>&1 || missing+=(make)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  [ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
  for extra in "$@"; do
    command -v "$extra" >/dev/null 2>&1 || missing+=("$extra")
  done
  install_packages "${missing[@]}"
}

# The cross compilers, Debian's GoogleTest sources and Wine.
require_windows_packages() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64-posix)
  command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-i686-posix)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  install_packages "${missing[@]}"
}

# Installs the named packages when run as root; otherwise names them and
# stops.
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

# Packages only the tests use: headless Chromium shows rwreport's page.
# Installed when run as root; without it that test is skipped, saying so.
offer_test_packages() {
  command -v chromium >/dev/null 2>&1 && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing chromium for the browser test"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq chromium >/dev/null ||
      echo "Could not install chromium: the browser test will be skipped" >&2
  else
    echo "chromium is missing: the browser test will be skipped" >&2
  fi
}

# Configures and builds into build/ (build-asan/ with SANITIZE=1).
build_tree() {
  local dir=build flags=()
  if [ "${SANITIZE:-0}" = 1 ]; then
    dir=build-asan
    flags+=(-DSANITIZE=ON)
  fi
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" >&2
  BUILD_DIR=$dir
}
