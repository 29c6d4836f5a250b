#!/usr/bin/env python3
"""The wire trace (ORN_TRACE) of both Windows programs under Wine, on a
pseudo-terminal linked into the Wine prefix as COM7: the TX lines must be the
bytes that arrived on the other side, in order, and the line events must
follow the programs' reset phases.

Usage: wire_trace_over_pty.py morrex|tarvel program.exe wine-run
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import (QUIT, WAKE, Failure, check, collect_wire, link_com_port,  # noqa: E402
                          read_wire_log, tx_bytes, unlink_com_port, values)

PAGE = 64


def program_file():
    """A CPU '8' file: handshake byte, two page records, a single-byte record, end."""
    body = bytearray()
    for page in range(2):
        body += b"u" + bytes([page]) + bytes((page * 5 + i) & 0xFF for i in range(PAGE))
    body += bytes([0xCC]) + b"3"
    return b"8\x5a" + bytes(body)


def run_on_com7(command, cwd, keys, seconds):
    """Runs command with ORN_TRACE=trace.log in cwd; returns (exit, output, wire bytes)."""
    master, slave, link = link_com_port("com7")
    env = dict(os.environ, ORN_TRACE="trace.log", ORN_HOME="1")
    try:
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, cwd=cwd, env=env)
        proc.stdin.write(keys)
        proc.stdin.close()
        ended, received = collect_wire(proc, master, seconds)
        if not ended:
            raise Failure("the program did not finish within %d s" % seconds)
        output = proc.stdout.read().decode("cp850", "replace")
    finally:
        unlink_com_port(master, slave, link)
    return proc.returncode, output, bytes(received)


def read_trace(path):
    """The trace's lines as (microseconds, event, value), checked for form and order."""
    check(os.path.exists(path), "no trace file")
    events = read_wire_log(path)
    check(events, "empty trace")
    times = [at for at, _, _ in events]
    check(times == sorted(times), "times go backwards")
    check(times[-1] > times[0], "times do not grow")
    return events


def checked_tx_bytes(events):
    for value in values(events, "TX"):
        check(len(value) == 2 and value == value.upper(), "TX value not two hex digits:", value)
    return tx_bytes(events)


def morrex_case(program, wine_run, tmp):
    data = program_file()
    with open(os.path.join(tmp, "fw.bin"), "wb") as f:
        f.write(data)
    # r7: no reset phase, so the run takes seconds.
    code, output, wire = run_on_com7([wine_run, program, "r7", "fw.bin"], tmp, b"", 90)
    check(code == 0 and "fertig" in output, "morrex exit", code, output)
    events = read_trace(os.path.join(tmp, "trace.log"))
    check(len(wire) > 2 * PAGE, "too few bytes on the wire:", len(wire))
    check(checked_tx_bytes(events) == wire, "TX lines differ from the wire (%d lines, %d bytes)"
          % (len(values(events, "TX")), len(wire)))
    check(values(events, "LINE") == ["38400 8N1"], "LINE", values(events, "LINE"))
    check(values(events, "DTR") == ["0"] and values(events, "RTS") == ["0"],
          "DTR/RTS", values(events, "DTR"), values(events, "RTS"))
    return "%d TX lines equal the wire" % len(wire)


def tarvel_case(program, wine_run, tmp):
    # Start-up, then CV 1 read once (Enter, Enter), ESC, and q to quit.
    code, output, wire = run_on_com7([wine_run, program, "7"], tmp, b"e\r\r\x1bq", 60)
    check("Reset" in output and "CV Nr 1" in output, "no reset or no read:", output)
    events = read_trace(os.path.join(tmp, "trace.log"))
    sent = checked_tx_bytes(events)
    check(sent == wire, "TX", sent.hex(), "wire", wire.hex())
    check(wire.startswith(WAKE) and wire.endswith(QUIT), "wire", wire.hex())
    # Before the first read the line is checked (CV 1 bit by bit, then
    # verifies of it); a line without DSR has no receiver, so no read follows.
    commands = wire[len(WAKE):len(wire) - len(QUIT)]
    check(len(commands) > 0 and len(commands) % 4 == 0, "wire", wire.hex())
    for at in range(0, len(commands), 4):
        check(commands[at:at + 2] == b"\0\0" and commands[at + 3] in (0xB0, 0xAF),
              "not the line's check:", commands[at:at + 4].hex())
    check("antwortet nicht" in output and "Lesefehler" in output, "the line not named:", output)
    check(values(events, "LINE") == ["38400 8N1"], "LINE", values(events, "LINE"))
    # Opened with DTR on; then the service line (off), the reset (on), the release (off).
    check(values(events, "DTR") == ["1", "0", "1", "0"], "DTR", values(events, "DTR"))
    dtr_times = [at for at, name, _ in events if name == "DTR"]
    check(dtr_times[3] - dtr_times[2] >= 1900000, "reset lasted", dtr_times[3] - dtr_times[2])
    # Wine cannot read DSR on a pseudo-terminal: every sample reads 0, and
    # each command is sampled after its four bytes.
    dsr = values(events, "DSR")
    check(dsr and set(dsr) == {"0"}, "DSR", dsr)
    names = "".join({"TX": "T", "DSR": "S"}.get(name, "x") for _, name, _ in events)
    check(names.count("TTTTS") == len(commands) // 4, "DSR samples not after their commands:",
          names)
    check(code == 0, "tarvel exit", code, output)
    return "TX = wire (A, F3..FE, 55, the line's check, EE x4); DTR 1 0 1 0; DSR 0"


def main():
    case = sys.argv[1]
    program, wine_run = os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    cases = {"morrex": morrex_case, "tarvel": tarvel_case}
    with tempfile.TemporaryDirectory() as tmp:
        try:
            print("ok:", cases[case](program, wine_run, tmp))
        except Failure as failure:
            print("FAILED:", failure)
            trace = os.path.join(tmp, "trace.log")
            if os.path.exists(trace):
                with open(trace) as f:
                    print(f.read()[-3000:])
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
