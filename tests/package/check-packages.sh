#!/usr/bin/env bash
# Builds the Debian package and the Windows zip from two finished builds and
# checks what a user gets from them: the files, the version, the manual pages,
# and that the programs in them run. Nothing is installed on this machine.
#
#   tests/package/check-packages.sh LINUX-BUILD-DIR WINDOWS-BUILD-DIR
#
# Prints one line per check and ends with "N passed, M failed"; exits non-zero
# when a check failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$(realpath -m "${1:?linux build folder}")
windows_build=$(realpath -m "${2:?windows build folder}")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/check-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

check() {  # check NAME COMMAND...: runs one check, counts it, shows why it failed
  local check_name=$1; shift
  local output
  if output=$("$@" 2>&1); then
    echo "ok   $check_name"
    passed=$((passed + 1))
  else
    echo "FAIL $check_name"
    [ -n "$output" ] && printf '%s\n' "$output" | sed 's/^/     /'
    failed=$((failed + 1))
  fi
}

same() {  # same EXPECTED ACTUAL: equal, or both shown
  [ "$1" = "$2" ] && return 0
  printf 'expected: %s\nactual:   %s\n' "$1" "$2"
  return 1
}

# The one version: the project's, as CMakeLists.txt declares it.
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
echo "project version: ${version:?no version in CMakeLists.txt}"

# ------------------------------------------------------------ Debian package
deb="$scratch/deb/tarvel-morrex_${version}_$(dpkg --print-architecture).deb"
root="$scratch/root"

# cpack_in BUILD-DIR GENERATOR OUTPUT-DIR: makes the package of a finished build.
cpack_in() {
  [ -f "$1/CPackConfig.cmake" ] || { echo "no configured build in $1"; return 1; }
  (cd "$1" && cpack -G "$2" -B "$3") >"$3.log" 2>&1 || { tail -n 20 "$3.log"; return 1; }
}

build_deb() {
  cpack_in "$linux_build" DEB "$scratch/deb" || return 1
  [ -f "$deb" ] || { ls "$scratch/deb"; return 1; }
  dpkg-deb -x "$deb" "$root"
}

deb_control() {
  same "tarvel-morrex $version" "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" &&
    dpkg-deb -f "$deb" Depends | grep -q libc6 &&
    same "bash-completion" "$(dpkg-deb -f "$deb" Recommends)"
}

deb_files() {
  local expected actual
  expected=$(printf '%s\n' ./usr/bin/morrex ./usr/bin/tarvel \
    ./usr/share/bash-completion/completions/morrex ./usr/share/bash-completion/completions/tarvel \
    ./usr/share/doc/tarvel-morrex/README.Debian ./usr/share/doc/tarvel-morrex/changelog.gz \
    ./usr/share/doc/tarvel-morrex/copyright ./usr/share/lintian/overrides/tarvel-morrex \
    ./usr/share/man/man1/morrex.1.gz ./usr/share/man/man1/tarvel.1.gz)
  actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
  same "$expected" "$actual"
}

# Debian's own checks: no error, no warning, and none of the informational
# tags either (hardening, stripping, the changelog's form).
deb_lintian() {
  lintian --display-info --fail-on error,warning,info "$deb"
}

# The licence in the copyright file is LICENSE's, and the changelog names
# this version.
deb_documents() {
  local doc="$root/usr/share/doc/tarvel-morrex" licence
  licence=$(awk '/^License:/ { text = "" } /^ / { text = text substr($0, 2) "\n" }
    END { printf "%s", text }' "$doc/copyright" | sed 's/^\.$//')
  same "$(sed -n '/^Permission is hereby/,$p' "$top/LICENSE")" "$licence" || return 1
  grep -q "^Copyright: .*the tarvel and morrex authors" "$doc/copyright" || return 1
  same "tarvel-morrex ($version)" "$(zcat "$doc/changelog.gz" | head -n 1 | cut -d' ' -f1,2)"
}

readme_debian() {
  grep -qw dialout "$root/usr/share/doc/tarvel-morrex/README.Debian"
}

# The first line of --version that names the program.
version_line() {  # version_line PROGRAM COMMAND...
  local program=$1; shift
  timeout 20 "$@" --version </dev/null | tr -d '\r' | grep -m 1 "^$program "
}

deb_version() {  # deb_version PROGRAM
  same "$1 $version" "$(version_line "$1" "$root/usr/bin/$1")"
}

# groff's warnings (-ww) and man's (--warnings) must both be silent, lexgrog
# must find the NAME line that whatis and apropos use, and the footer must
# carry the project version.
man_page() {  # man_page NAME
  local page="$root/usr/share/man/man1/$1.1.gz" warnings text
  warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -ww -z -man -Tutf8 2>&1) || return 1
  same "" "$warnings" || return 1
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  same "" "$warnings" || return 1
  lexgrog "$page" | grep -q " - " || return 1
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
  grep -q "tarvel-morrex $version" <<<"$text" || { echo "no version in the footer"; return 1; }
  # The German texts come out as German letters.
  grep -q "ü" <<<"$text" || { echo "no umlaut rendered"; return 1; }
}

# What "man tarvel" finds once the package's files are in place.
man_lookup() {
  same "$root/usr/share/man/man1/tarvel.1.gz" "$(MANPATH="$root/usr/share/man" man -w tarvel)"
}

# A plain install from the build: the programs, their pages and their bash
# completion, nothing else.
plain_install() {
  local prefix="$scratch/prefix" expected actual
  cmake --install "$linux_build" --prefix "$prefix" >/dev/null || return 1
  expected=$(printf '%s\n' bin/morrex bin/tarvel share/bash-completion/completions/morrex \
    share/bash-completion/completions/tarvel share/man/man1/morrex.1.gz share/man/man1/tarvel.1.gz)
  actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
  same "$expected" "$actual"
}

check "cmake --install: programs in bin/, pages in share/man/man1/" plain_install
check "debian package builds" build_deb
check "debian package: name, version, depends, recommends bash-completion" deb_control
check "debian package: exactly the programs, pages, README.Debian, copyright, changelog and lintian overrides" deb_files
check "README.Debian names the dialout group" readme_debian
check "debian package: copyright holds LICENSE, changelog this version" deb_documents
check "debian package: lintian reports nothing" deb_lintian
check "debian package: tarvel --version" deb_version tarvel
check "debian package: morrex --version" deb_version morrex
check "man page tarvel.1 renders without warnings" man_page tarvel
check "man page morrex.1 renders without warnings" man_page morrex
check "man finds tarvel in the package's man folder" man_lookup

# ------------------------------------------------------------ Windows zip
zip_name="tarvel-morrex-$version-windows-x64"
zip="$scratch/zip/$zip_name.zip"
unzipped="$scratch/unzipped"

build_zip() {
  cpack_in "$windows_build" ZIP "$scratch/zip" || return 1
  [ -f "$zip" ] || { ls "$scratch/zip"; return 1; }
  mkdir -p "$unzipped" && (cd "$unzipped" && cmake -E tar xf "$zip")
}

zip_files() {
  local expected actual
  expected=$(printf '%s\n' "$zip_name/LICENSE.txt" "$zip_name/README.txt" "$zip_name/morrex.exe" \
    "$zip_name/tarvel.exe")
  actual=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
  same "$expected" "$actual"
}

# Every line ends in CR LF, and apart from that it is the README.
zip_readme() {
  local readme="$unzipped/$zip_name/README.txt"
  if LC_ALL=C grep -q $'[^\r]$' "$readme" || LC_ALL=C grep -q $'^$' "$readme"; then
    echo "a line without CR LF"
    return 1
  fi
  tr -d '\r' <"$readme" | cmp - <(tr -d '\r' <"$top/README.md")
}

zip_license() {
  local licence="$unzipped/$zip_name/LICENSE.txt"
  if LC_ALL=C grep -q $'[^\r]$' "$licence" || LC_ALL=C grep -q $'^$' "$licence"; then
    echo "a line without CR LF"
    return 1
  fi
  tr -d '\r' <"$licence" | cmp - "$top/LICENSE"
}

# Static: nothing beyond the DLLs every Windows has (no libstdc++, libgcc or
# winpthread DLL beside the .exe).
zip_static() {
  local exe dlls
  for exe in tarvel morrex; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$unzipped/$zip_name/$exe.exe" |
      sed -n 's/^\s*DLL Name: //p') || return 1
    grep -qi '^kernel32.dll$' <<<"$dlls" || { echo "$exe.exe: no imports found"; return 1; }
    if grep -qiE '^lib|winpthread' <<<"$dlls"; then
      echo "$exe.exe needs: $dlls"
      return 1
    fi
  done
}

zip_version() {  # zip_version PROGRAM
  same "$1 $version" "$(version_line "$1" "$top/cmake/wine-run" "$unzipped/$zip_name/$1.exe")"
}

export WINEPREFIX="$windows_build/wineprefix"
check "windows zip builds" build_zip
check "windows zip: exactly tarvel.exe, morrex.exe, README.txt and LICENSE.txt" zip_files
check "windows zip: README.txt is the README with CR LF" zip_readme
check "windows zip: LICENSE.txt is LICENSE with CR LF" zip_license
check "windows zip: both .exe files are self-contained" zip_static
if [ -d "$windows_build" ] && "$top/cmake/wine-prefix" "$WINEPREFIX"; then
  check "windows zip: tarvel.exe --version under Wine" zip_version tarvel
  check "windows zip: morrex.exe --version under Wine" zip_version morrex
else
  check "wine prefix for the .exe files" false
fi

# ------------------------------------------------------------ the package list
check "every program the scripts and tests call comes from the package list" \
  "$top/tools/called-programs.sh"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
