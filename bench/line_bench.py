#!/usr/bin/env python3
"""tarvel's read-out over a real line: the Linux build and the Windows build
(under Wine, the pseudo-terminal as COM7), each on a pseudo-terminal that the
preload library gives modem lines, with the virtual receiver on its far end.

Reports the time per CV (from the first byte of the first CV's command to the
first byte of the last CV's, over the 397 CVs between, taken from the
receiver's wire.log), the protocol's minimum (36 ms of pauses: a
pseudo-terminal has no line time) and the ratio. Then the floor of the same
build on the same line (bench/port_floor: a CV's port calls without pauses),
and the ratio against the minimum plus that floor: what the program's pauses
cost beyond what the platform's port calls take anyway.

Usage: bench/line_bench.py [LINUX_BUILD [WINDOWS_BUILD]]   (build/linux, build/windows)
"""
import os
import re
import subprocess
import sys
import tempfile

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "support"))
from test_support import Line, read_wire_log  # noqa: E402

PAUSES_PER_CV_MS = 36.0  # eight bit questions of 1 + 3 ms, the verify's 1 + 3 ms
CVS = 398


def questions(events):
    """(first byte, opcode, DSR sample) times of each CV question (bit query or verify)."""
    found, in_service, command = [], False, []
    for at, name, value in events:
        if name == "STATE":
            in_service, command = value == "service", []
        elif name == "TX" and in_service:
            command.append((at, value))
        elif name == "DSR" and len(command) == 4:
            if command[3][1] in ("B0", "AF"):
                found.append((command[0][0], command[3][0], at))
            command = []
    return found


def breakdown(found):
    """Mean microseconds: the four bytes, opcode to sample (1 ms), sample to the next command (3 ms)."""
    count = len(found) - 1
    send = sum(op - first for first, op, _ in found) / len(found)
    answer = sum(sample - op for _, op, sample in found) / len(found)
    after = sum(found[i + 1][0] - found[i][2] for i in range(count)) / count
    return "bytes %.0f us, opcode->sample %.0f us (1000), sample->next %.0f us (3000)" % (
        send, answer, after)


def on_line(command, after_port, far_end, preload, link, tmp, receiver, **run):
    """Runs command PORT AFTER_PORT... on a fresh line; the run and the far end's report."""
    line = Line(far_end, preload, tmp, receiver, link)
    port = "7" if link else line.slave
    try:
        done = subprocess.run(command + [port] + after_port, stderr=subprocess.DEVNULL,
                              env=line.env(), cwd=tmp, timeout=300, **run)
    finally:
        if link:
            subprocess.run(["wineserver", "-k"], check=False)
        line.stop()
        if link and os.path.lexists(link):
            os.remove(link)
    return done, line.report()


def read_out(command, far_end, preload, link, tmp):
    receiver = os.path.join(tmp, "receiver")
    out = os.path.join(tmp, "readout.txt")
    if os.path.exists(out):
        os.remove(out)
    done, far_report = on_line(command, [out], far_end, preload, link, tmp, receiver,
                               input=b"aq", stdout=subprocess.DEVNULL)
    waited = re.search(r"samples waited (\d+) us", far_report)
    if done.returncode != 0:
        raise SystemExit("the program ended with %d" % done.returncode)
    # Each CV is read as 9 questions; the read-out reads 398 of them.
    found = questions(read_wire_log(os.path.join(receiver, "wire.log")))
    starts = [first for first, _, _ in found][::9]
    if len(found) != 9 * CVS:
        raise SystemExit("%d questions, not %d" % (len(found), 9 * CVS))
    os.rename(os.path.join(receiver, "wire.log"), os.path.join(tmp, "wire.%d.log" % len(os.listdir(tmp))))
    per_cv_ms = (starts[-1] - starts[0]) / (CVS - 1) / 1000.0
    parts = breakdown(found)
    if waited:
        wait_ms = int(waited.group(1)) / 1000.0 / CVS
        parts += ("\n    the harness's own cost: samples waited %.3f ms per CV for the far end;"
                  " without it %.3f ms, ratio %.3f" % (wait_ms, per_cv_ms - wait_ms,
                                                       (per_cv_ms - wait_ms) / PAUSES_PER_CV_MS))
    return per_cv_ms, parts


def floor(command, far_end, preload, link, tmp):
    """Milliseconds per CV of the port calls alone (port_floor), on a fresh line."""
    receiver = os.path.join(tmp, "floor-receiver")
    done, _ = on_line(command, [], far_end, preload, link, tmp, receiver, stdout=subprocess.PIPE)
    found = re.search(r"([0-9.]+) ms per CV", done.stdout.decode())
    if done.returncode != 0 or not found:
        raise SystemExit("port_floor ended with %d" % done.returncode)
    return float(found.group(1))


def report_floor(floor_ms, measured):
    per_cv_ms = measured[0]
    print("    floor %.3f ms per CV (port calls without pauses); against the minimum plus the"
          " floor (%.3f ms): ratio %.3f" % (floor_ms, PAUSES_PER_CV_MS + floor_ms,
                                           per_cv_ms / (PAUSES_PER_CV_MS + floor_ms)))


def pauses_here(linux):
    """The machine's own share: how much longer the short pauses take than asked."""
    bench = os.path.join(linux, "bench/pause_bench")
    if os.path.exists(bench):
        out = subprocess.run([bench, "500"], stdout=subprocess.PIPE, check=False).stdout.decode()
        print("this machine's pauses (%s):\n    %s" % (bench, out.strip().replace("\n", "\n    ")))


def report(name, measured):
    per_cv_ms, parts = measured
    print("%-32s %7.3f ms per CV  minimum %6.3f ms  ratio %.3f\n    %s"
          % (name, per_cv_ms, PAUSES_PER_CV_MS, per_cv_ms / PAUSES_PER_CV_MS, parts))


def main():
    linux = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build/linux"))
    windows = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(top, "build/windows"))
    far_end = os.path.join(linux, "tests/line_harness/pty_receiver")
    preload = os.path.join(linux, "tests/line_harness/pty_modem_preload.so")
    print("load average before: %.2f %.2f %.2f on %d cores" % (os.getloadavg() + (os.cpu_count(),)))
    pauses_here(linux)
    with tempfile.TemporaryDirectory() as tmp:
        measured = read_out([os.path.join(linux, "cvtool/tarvel")], far_end, preload, None, tmp)
        report("Linux build, /dev/pts/N", measured)
        linux_floor = os.path.join(linux, "bench/port_floor")
        if os.path.exists(linux_floor):
            report_floor(floor([linux_floor], far_end, preload, None, tmp), measured)
        prefix = os.path.join(windows, "wineprefix")
        if os.path.exists(os.path.join(windows, "cvtool/tarvel.exe")) and os.path.isdir(prefix):
            os.environ["WINEPREFIX"] = prefix
            os.environ.setdefault("WINEDEBUG", "-all")
            command = [os.path.join(top, "cmake/wine-run"), os.path.join(windows, "cvtool/tarvel.exe")]
            link = os.path.join(prefix, "dosdevices", "com7")
            measured = read_out(command, far_end, preload, link, tmp)
            report("Windows build under Wine, COM7", measured)
            windows_floor = os.path.join(windows, "bench/port_floor.exe")
            if os.path.exists(windows_floor):
                report_floor(floor([command[0], windows_floor], far_end, preload, link, tmp),
                             measured)
        else:
            print("no Windows build with a Wine prefix in", windows)
    print("load average after:  %.2f %.2f %.2f" % os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
