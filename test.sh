#!/usr/bin/env bash
# Installs what is missing, builds everything (Linux, the Windows cross-build,
# the sanitizer and fuzzer builds) and runs every test. Exits non-zero when any
# build or test fails.
set -uo pipefail
cd "$(dirname "$0")"
top=$PWD
# The terminal tests type and read UTF-8, whatever locale the caller has.
export LC_ALL=C.UTF-8
jobs=${JOBS:-2}
failures=()

packages=(cmake g++ clang clang-format googletest tmux
          g++-mingw-w64-x86-64-posix wine64 wine libclang-rt-14-dev python3)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}"
    echo "Install them with: sudo apt-get install --no-install-recommends ${missing[*]}"
    exit 1
  fi
  echo "== installing ${missing[*]}"
  apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    { echo "apt-get failed"; exit 1; }
}

step() {  # step NAME COMMAND...: runs one step, remembers a failure
  echo "== $1"
  local name=$1; shift
  if ! "$@"; then
    echo "!! $name failed"
    failures+=("$name")
  fi
}

check_format() {
  local files
  files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
  # shellcheck disable=SC2086
  clang-format --dry-run --Werror $files
}

build() {  # build DIR CMAKE-ARGS... [--target TARGETS...]
  local dir=$1; shift
  local args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != --target ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && targets=("$@")
  cmake -S "$top" -B "$dir" -DWARNINGS_AS_ERRORS=ON "${args[@]}" >/dev/null &&
    cmake --build "$dir" -j"$jobs" "${targets[@]}"
}

tests_passed=0
tests_failed=0
run_tests() {  # run_tests DIR CTEST-ARGS...
  local dir=$1; shift
  local log="$dir/ctest-summary.log"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    tests_failed=$((tests_failed + BASH_REMATCH[1]))
    tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  return "$status"
}

install_missing
step "format" check_format
step "linux build" build build/linux
step "linux tests" run_tests build/linux
step "windows build" build build/windows -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
step "windows tests (wine)" run_tests build/windows
step "asan+ubsan build (clang)" build build/asan -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE_ADDRESS=ON
step "asan+ubsan tests" run_tests build/asan
step "tsan build (clang)" build build/tsan -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE_THREAD=ON
step "tsan tests" run_tests build/tsan
if [ -f fuzz/CMakeLists.txt ]; then
  step "fuzzer build" build build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DBUILD_FUZZERS=ON -DBUILD_TESTS=OFF \
    --target fuzz_data_file_line fuzz_key_decoder fuzz_program_file
  step "fuzzing" fuzz/run-all build/fuzz "${FUZZ_SECONDS:-30}"
fi

echo
if [ ${#failures[@]} -ne 0 ]; then
  echo "failed steps: ${failures[*]}"
fi
echo "tests: $tests_passed passed, $tests_failed failed"
[ ${#failures[@]} -eq 0 ]
