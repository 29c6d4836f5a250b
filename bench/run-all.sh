#!/usr/bin/env bash
# Builds and runs every benchmark of the Linux build once, in real time on the
# virtual receiver, and prints one Markdown table: each measurement against the
# protocol's own minimum, with the machine, its load before and after, and the
# commit. docs/BENCHMARKS.md holds its latest output.
#   bench/run-all.sh [BUILD-DIR]       (default build/linux; about 3 minutes)
# Run it on an otherwise idle machine: every pause is a wake-up of the kernel,
# and a busy machine wakes its sleepers late.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/linux}
benches=(cv_read_bench readout_bench service_jobs_bench updater_bench verify_bench trace_bench
         pause_bench adapter_bench)
cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${benches[@]}" tarvel >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)

# run NAME ARGS...: the benchmark's output, kept for the rows below.
run() {
  local name=$1; shift
  echo "running $name" >&2
  "$build/bench/$name" "$@" >"$work/$name.out" 2>&1 || echo "($name ended with $?)" >>"$work/$name.out"
}
run cv_read_bench
run readout_bench
run service_jobs_bench
run updater_bench
run verify_bench
run trace_bench
run pause_bench
run adapter_bench
load_after=$(load)

# field NAME REGEX: the first match of REGEX (with one group) in NAME's output.
field() {
  sed -nE "s/.*$2.*/\\1/p" "$work/$1.out" | head -n 1
}
row() { printf '| %s | %s | %s | %s |\n' "$@"; }

echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown),"
echo "on $(nproc) cores of $(sed -nE 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1 || echo "an unknown processor"),"
echo "load average $load_before before and $load_after after; every row from this one run."
echo
row benchmark measured "protocol's minimum" ratio
row --- --- --- ---
row "one CV read (\`read_cv\`, mean of 250)" "$(field cv_read_bench 'mean ([0-9.]+ ms)')" \
  "$(field cv_read_bench 'minimum ([0-9.]+ ms)')" "$(field cv_read_bench 'ratio ([0-9.]+)')"
row "read-out of 398 CVs" "$(field readout_bench 'in ([0-9.]+ s)')" \
  "$(field readout_bench '= ([0-9.]+ s)')" "$(field readout_bench 'ratio: +([0-9.]+)')"
row "\`--compare\` of 398 CVs" "$(field service_jobs_bench 'compare: .* in ([0-9.]+ s)')" \
  "$(field service_jobs_bench 'compare: .*= ([0-9.]+ s)')" "$(field service_jobs_bench 'compare: .*ratio ([0-9.]+)')"
row "backup of 398 CVs for \`--backup\`, file saved" "$(field service_jobs_bench 'backup: .* in ([0-9.]+ s)')" \
  "$(field service_jobs_bench 'backup: .*= ([0-9.]+ s)')" "$(field service_jobs_bench 'backup: .*ratio ([0-9.]+)')"
row "firmware update, 256 pages of 64 bytes" "$(field updater_bench 'transfer: ([0-9.]+ s)')" \
  "$(field updater_bench 'minimum: .*= ([0-9.]+ s)')" "$(field updater_bench 'transfer: .*ratio ([0-9.]+)')"
row "\`--verify\`: added to one CV write (mean of 250)" "$(field verify_bench 'added mean ([0-9.]+ ms)')" \
  "$(field verify_bench 'minimum ([0-9.]+ ms)')" "$(field verify_bench 'ratio ([0-9.]+)')"
row "the pauses of one CV read alone, no line" "$(field pause_bench 'pauses alone: ([0-9.]+ ms)')" \
  "36 ms" "$(field pause_bench 'ratio ([0-9.]+)')"
row "\`ORN_TRACE\` on a pseudo-terminal, a byte" "$(field trace_bench 'adds ([0-9.]+ us)')" \
  "260.4 us on the line" "+$(field trace_bench ', ([0-9.]+%) of a byte')"
row "tarvel idle at its menu" "$(field cv_read_bench ', ([0-9.]+% of one core)')" "" "(target < 1%)"
# One row a line model: a CV read against what that line allows (target 1.1).
while IFS= read -r line; do
  row "adapter line: ${line%% (*}, a CV read" "$(sed -nE 's/.* ([0-9.]+ ms) a CV.*/\1/p' <<<"$line")" \
    "$(sed -nE 's/.*allows ([0-9.]+ ms).*/\1/p' <<<"$line") (the line's)" \
    "$(sed -nE 's/.*ratio ([0-9.]+).*/\1/p' <<<"$line") (target 1.1)"
done < <(grep ' a CV;' "$work/adapter_bench.out")
echo
echo "Each benchmark's own output:"
echo
echo '```'
for name in "${benches[@]}"; do
  # Progress lines (CV values, page counts) are left out.
  tr '\r' '\n' <"$work/$name.out" | grep -v -e '^CV ' -e '^ *$' -e '^[ 0-9]*$' | sed "s/^/$name: /"
done
echo '```'
