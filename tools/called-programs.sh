#!/usr/bin/env bash
# Checks that every program the scripts and tests call comes with a bare
# Debian (its required or essential packages) or with the package list in
# tools/debian-packages.sh, with what those packages depend on: a program
# this machine happens to have (xxd, zip, ...) must not slip into a test.
#
#   tools/called-programs.sh [-v]
#
# The calls are found by reading: the command words of the shell scripts,
# CMake files and .ci/run (comments left out), and the first element of the
# argument lists the Python tests run. A word counts when this machine has a
# program of that name. -v lists every program found with its package. Exits
# with 1 and names each program that comes from elsewhere.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 2
verbose=0
[ "${1:-}" = -v ] && verbose=1

# shellcheck source=tools/debian-packages.sh
source tools/debian-packages.sh
# A bare Debian's search path: nothing in /usr/local or a user's own folders.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

# Words that look like programs but are not called: Python's zip(), words in
# messages and variable names.
not_calls=(zip more dir time)
# Called only where present, with a fallback without them: git (test.sh and
# this script read the files from disk in a source archive).
optional=(git)
# Scripts that name and install their own packages, outside the test command:
# the screenshots (xvfb, imagemagick, ...) and the bare root's debootstrap.
own_packages='^(docs/take-screenshots\.sh|tools/bare-root-check\.sh)$'

source_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -- '*.sh' '*.py' '*CMakeLists.txt' '*.cmake' .ci/run cmake/wine-run cmake/wine-prefix fuzz/run-all
  else
    find . -path ./build -prune -o -type f \( -name '*.sh' -o -name '*.py' -o -name CMakeLists.txt \
      -o -name '*.cmake' \) -print | sed 's|^\./||'
    printf '%s\n' .ci/run cmake/wine-run cmake/wine-prefix fuzz/run-all
  fi | grep -vE "$own_packages"
}

# The words in command position or after a separator, comments removed.
candidate_words() {
  local f
  while read -r f; do
    [ -f "$f" ] || continue
    case $f in
      *.py)
        sed -E 's/(^|[[:space:]])#.*//' "$f" |
          grep -oE "[[(][[:space:]]*[\"'][a-z][a-z0-9_.+-]{1,30}[\"'][[:space:]]*[],)]" |
          grep -oE "[a-z][a-z0-9_.+-]+" ;;
      *)
        sed -E 's/(^|[[:space:]])#.*//' "$f" |
          grep -oE '(^|[ ;|&(`{])[a-z][a-z0-9_.+-]{1,30}' | sed -E 's/^[ ;|&(`{]//' ;;
    esac
  done < <(source_files) | sort -u
}

# What the list brings: its packages and everything they depend on.
listed_closure() {
  { printf '%s\n' "${test_packages[@]}"
    apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
      --no-replaces --no-enhances "${test_packages[@]}" 2>/dev/null | grep -E '^[a-z0-9]'
  } | sed 's/:.*//' | sort -u
}

# The programs, one "WORD PATH" a line: words this machine has a program for
# (not shell builtins or keywords, not the words above).
programs() {
  local word path
  for word in $(candidate_words); do
    case " ${not_calls[*]} ${optional[*]} " in *" $word "*) continue ;; esac
    [ "$(type -t "$word")" = file ] || continue
    path=$(type -P "$word") && echo "$word $(readlink -f "$path")"
  done
}

# "PATH PACKAGE" for each path dpkg knows, in one query: a path under /usr
# may be registered without it (/bin/cat for /usr/bin/cat, merged /usr).
packages_of() {  # packages_of PATH...
  local queries=() path
  for path in "$@"; do
    queries+=("$path")
    [[ $path == /usr/* ]] && queries+=("${path#/usr}")
  done
  dpkg -S "${queries[@]}" 2>/dev/null |
    sed -nE 's|^([^:, ]+).*: (/.*)$|\2 \1|p' | sed -E 's|^/(bin\|sbin\|lib)/|/usr/\1/|'
}

bare_debian() {  # bare_debian PACKAGE: in every Debian (required or essential)
  local fields
  fields=$(dpkg-query -W -f='${Priority} ${Essential}' "$1" 2>/dev/null) || return 1
  case $fields in required*|*yes) return 0 ;; esac
  return 1
}

closure=$(listed_closure)
[ -n "$closure" ] || { echo "apt-cache knows none of the listed packages"; exit 2; }
strays=()
found=$(programs)
# shellcheck disable=SC2046  # one path a word
owners=$(packages_of $(cut -d' ' -f2 <<<"$found"))
while read -r word path; do
  [ -n "$word" ] || continue
  package=$(awk -v p="$path" '$1 == p { print $2; exit }' <<<"$owners")
  if [ -z "$package" ]; then
    strays+=("$word ($path, from no Debian package)")
    continue
  fi
  if bare_debian "$package"; then
    origin="bare Debian"
  elif grep -qx -- "$package" <<<"$closure"; then
    origin="package list"
  else
    strays+=("$word ($package)")
    continue
  fi
  [ "$verbose" -eq 1 ] && echo "$word: $package ($origin)"
done <<<"$found"
if [ ${#strays[@]} -gt 0 ]; then
  echo "Called by the scripts or tests, but in neither a bare Debian nor tools/debian-packages.sh:"
  printf '  %s\n' "${strays[@]}"
  exit 1
fi
exit 0
