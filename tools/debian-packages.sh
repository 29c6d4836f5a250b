# The Debian packages the set-up commands need, in one place; sourced by
# demo.sh and test.sh.
# shellcheck shell=bash disable=SC2034  # the lists are used by the scripts that source this

# Enough to build the two programs and run the demo on the virtual receiver.
demo_packages=(cmake make g++)

# Everything test.sh builds and checks: the demo's packages, the tests'
# tools, the Windows cross-build and Wine, the sanitizer runtime, and the
# tools that build and check the install packages.
test_packages=("${demo_packages[@]}" clang clang-format googletest tmux python3
               g++-mingw-w64-x86-64-posix wine64 wine libclang-rt-14-dev
               dpkg-dev file groff-base man-db lintian)

# install_missing PACKAGE...: installs the packages that are not installed yet
# with apt-get when run as root; otherwise names them and exits with 1.
install_missing() {
  local missing=() p
  for p in "$@"; do
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
