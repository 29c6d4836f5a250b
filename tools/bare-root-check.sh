#!/usr/bin/env bash
# Runs a set-up command of the README on a bare Debian 12: makes a fresh
# minimal root (debootstrap --variant=minbase, from the Debian mirror this
# machine's apt uses), copies this checkout into it without its build folders,
# and runs the command there as a new user would, as root and with no input.
#
#   tools/bare-root-check.sh [--demo] [--keep]        (as root)
#
# Without --demo: ./test.sh, which installs its packages with apt-get; the exit
# code and the last line ("tests: N passed, N failed") are its own.
# With --demo: ./demo.sh with no terminal (it builds and starts tarvel, which
# quits at the end of its input), then tools/called-programs.sh: every program
# the tests and scripts call comes from Debian's required packages or the
# package list.
# --keep leaves the root in place (its path is printed) instead of removing it.
# Exit code 70: no root could be made on this machine (see NO_ROOT below).
#
# The root lives in its own mount and process namespace: every mount in it and
# every process left running in it (a Wine server, a tmux server) ends with it,
# however this script ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=test keep=0
[ "${1:-}" = --inside ] || for arg in "$@"; do
  case $arg in
    --demo) mode=demo ;;
    --keep) keep=1 ;;
    *) echo "usage: $0 [--demo] [--keep]" >&2; exit 9 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "$0: must run as root (debootstrap, chroot, mount)" >&2; exit 9; }

# apt_sources: every "URI SUITE" pair the host's apt reads, one-line and deb822.
apt_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -nE 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+([^[:space:]]+).*/\2 \3/p' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # One stanza per blank-line-separated paragraph; binary ("deb") ones only.
    awk 'BEGIN { RS = ""; FS = "\n" }
      { types = uris = suites = ""; enabled = 1
        for (i = 1; i <= NF; i++) {
          line = $i; sub(/#.*/, "", line)
          if (line ~ /^Types:/) types = line
          if (line ~ /^URIs:/) { uris = line; sub(/^URIs:[ \t]*/, "", uris) }
          if (line ~ /^Suites:/) { suites = line; sub(/^Suites:[ \t]*/, "", suites) }
          if (line ~ /^Enabled:[ \t]*no/) enabled = 0
        }
        if (!enabled || types !~ /(^|[ \t:])deb([ \t]|$)/) next
        nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
        for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++) if (u[a] != "") print u[a], s[b] }' "$f"
  done
}

# mirror_for SUITE: the host's URI for that suite, or Debian's own.
mirror_for() {
  local uri
  uri=$(apt_sources | awk -v suite="$1" '$2 == suite { print $1; exit }')
  echo "${uri:-${2:-}}"
}

# ----------------------------------------------------------- inside the namespace
# Mounts what Wine, tmux and the pseudo-terminal tests need, runs the command in
# the root, and unmounts again on every way out.
mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
}

mount_at() {  # mount_at TARGET MOUNT-ARGS...
  local target=$1; shift
  mount "$@" "$target"
  mounted+=("$target")
}

# A /dev of its own: the usual nodes and a private pseudo-terminal instance, so
# that nothing of this machine's devices (its serial ports) is in the root.
make_dev() {
  local dev=$1/dev
  mount_at "$dev" -t tmpfs -o mode=0755,nosuid tmpfs
  mknod -m 666 "$dev/null" c 1 3
  mknod -m 666 "$dev/zero" c 1 5
  mknod -m 666 "$dev/full" c 1 7
  mknod -m 666 "$dev/random" c 1 8
  mknod -m 666 "$dev/urandom" c 1 9
  mknod -m 666 "$dev/tty" c 5 0
  ln -s /proc/self/fd "$dev/fd"
  ln -s /proc/self/fd/0 "$dev/stdin"
  ln -s /proc/self/fd/1 "$dev/stdout"
  ln -s /proc/self/fd/2 "$dev/stderr"
  mkdir -m 755 "$dev/pts"
  mount_at "$dev/pts" -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts
  ln -s pts/ptmx "$dev/ptmx"
  mkdir -m 1777 "$dev/shm"
  mount_at "$dev/shm" -t tmpfs -o mode=1777,nosuid,nodev tmpfs
}

inside() {  # inside ROOT MODE: runs in the new namespaces as their first process
  local root=$1 mode=$2 status=0
  trap unmount_all EXIT
  trap 'exit 143' TERM HUP
  trap 'exit 130' INT
  mount --make-rprivate /
  mount_at "$root/proc" -t proc -o nosuid,nodev,noexec proc
  mount_at "$root/sys" -t sysfs -o ro,nosuid,nodev,noexec sysfs
  make_dev "$root"
  mount_at "$root/tmp" -t tmpfs -o mode=1777,nosuid,nodev tmpfs
  local env=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
             CI="${CI:-}" LANG=C.UTF-8)
  [ -n "${TERM:-}" ] && env+=(TERM="$TERM")
  [ -n "${JOBS:-}" ] && env+=(JOBS="$JOBS")
  [ -n "${FUZZ_SECONDS:-}" ] && env+=(FUZZ_SECONDS="$FUZZ_SECONDS")
  local command='./test.sh'
  # No terminal and no input, as in CI: tarvel quits at the end of its input.
  [ "$mode" = demo ] && command='./demo.sh </dev/null && tools/called-programs.sh'
  chroot "$root" /usr/bin/env -i "${env[@]}" /bin/bash -c "cd /src && $command" </dev/null || status=$?
  exit "$status"
}

if [ "${1:-}" = --inside ]; then
  inside "$2" "$3"
fi

# ----------------------------------------------------------- outside
# The exit code when no root could be made here (no debootstrap, no mirror, no
# namespaces), as against the command's own failure in it.
NO_ROOT=70
command -v debootstrap >/dev/null || {
  echo "== installing debootstrap"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap ||
    exit "$NO_ROOT"
}
unshare --mount --pid --fork true 2>/dev/null || {
  echo "$0: no mount and process namespaces here (unshare)" >&2
  exit "$NO_ROOT"
}
mirror=$(mirror_for bookworm http://deb.debian.org/debian)
security=$(mirror_for bookworm-security)
root=$(mktemp -d "${BARE_ROOT_PARENT:-/var/tmp}/bare-root.XXXXXX")
chmod 755 "$root"

remove_root() {
  if [ "$keep" -eq 1 ]; then
    echo "the root is kept in $root" >&2
  elif grep -q " $root[/ ]" /proc/self/mountinfo; then
    echo "still mounted below $root; left in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap remove_root EXIT

started=$(date +%s)
echo "== debootstrap --variant=minbase bookworm $root $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -n 20 "$root.debootstrap.log"; rm -f "$root.debootstrap.log"; exit "$NO_ROOT"; }
rm -f "$root.debootstrap.log"
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  [ -n "$security" ] && echo "deb $security bookworm-security main"
} >"$root/etc/apt/sources.list"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# The checkout as a source archive would bring it: no build folders, no git.
mkdir "$root/src"
tar -C "$top" --exclude='./build*' --exclude=./.git --exclude=./.cache -cf - . | tar -C "$root/src" -xf -

echo "== bare root ready after $(($(date +%s) - started)) s; running the $mode command in it"
# In the background, so that a signal here ends the namespace (unshare's
# --kill-child takes every process in it along) before the root is removed.
status=0
unshare --mount --pid --fork --kill-child "$0" --inside "$root" "$mode" &
namespace=$!
end_namespace() { kill -KILL "$namespace" 2>/dev/null; wait "$namespace" 2>/dev/null; exit "$1"; }
trap 'end_namespace 143' TERM HUP
trap 'end_namespace 130' INT
wait "$namespace" || status=$?
exit "$status"
