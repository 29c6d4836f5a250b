#!/bin/bash
# The shape of the source tree: non-blank lines of code per folder (tests and
# the Win32 and POSIX halves apart), and which folder includes which.
# Usage: tools/house.sh   (from anywhere in the checkout)
set -eu
cd "$(dirname "$0")/.."

lines() {  # lines FILE...: non-blank lines
  if [ $# -eq 0 ]; then echo 0; return; fi
  cat "$@" | grep -c -v '^[[:space:]]*$' || true
}

echo "== non-blank lines of C++ per folder"
for folder in cvtool updater link console services services/posix services/win32 platform \
  platform/posix platform/win32 \
  virtual_receiver bench fuzz tests; do
  [ -d "$folder" ] || continue
  mapfile -t files < <(find "$folder" -maxdepth "$([ "$folder" = tests ] && echo 9 || echo 1)" \
    -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
  printf '%-22s %6s lines in %3s files\n' "$folder" "$(lines "${files[@]}")" "${#files[@]}"
done

echo "== includes between folders (from -> to: count)"
find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print |
  grep -v '^./tests/' | while read -r file; do
    from=$(dirname "${file#./}")
    grep -o '^#include "[^"]*"' "$file" | sed 's/#include "\(.*\)"/\1/' | while read -r included; do
      # From the root, or else beside the including file.
      if [ -e "$included" ]; then to=$(dirname "$included"); else to=$(dirname "$from/$included"); fi
      [ "$to" = "$from" ] || echo "$from -> $to"
    done
  done | sort | uniq -c | awk '{ printf "%-40s %4d\n", $2 " " $3 " " $4, $1 }'
