#!/usr/bin/env bash
# Builds tarvel and starts it on the virtual receiver, whose state lives in
# build/demo-receiver (cvs.txt, flash.bin, wire.log). Extra arguments go to
# tarvel after the port, e.g. ./demo.sh cvs.txt. DEMO_LINE gives the receiver's
# line options, e.g. DEMO_LINE=tick=16000 ./demo.sh for an FTDI adapter's 16 ms
# latency timer (the options of "sim:" in tarvel(1)).
set -euo pipefail
cd "$(dirname "$0")"
# shellcheck source=tools/debian-packages.sh
source tools/debian-packages.sh
install_missing "${demo_packages[@]}"
cmake -S . -B build/linux -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/linux -j"${JOBS:-2}" --target tarvel morrex
mkdir -p build/demo-receiver
# ORN_HOME shortens the reset wait from 10 to 2 seconds.
port=sim:build/demo-receiver${DEMO_LINE:+?$DEMO_LINE}
ORN_HOME= exec build/linux/cvtool/tarvel "$port" "$@"
