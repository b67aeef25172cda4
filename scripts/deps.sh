# Checks for the build packages; installs the missing ones when run as root.
# Sourced by the other scripts.
require_packages() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v make >/dev/null 2>&1 || missing+=(make)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  for extra in "$@"; do
    command -v "$extra" >/dev/null 2>&1 || missing+=("$extra")
  done
  install_packages "${missing[@]}"
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

# The fuzz targets need clang++ with its libFuzzer runtime.
require_fuzz_packages() {
  local missing=() dir
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v make >/dev/null 2>&1 || missing+=(make)
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
