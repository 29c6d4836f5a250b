#!/usr/bin/env python3
"""The port layer's test program under Wine on COM7, linked to a
pseudo-terminal whose master this driver holds: every written byte must
arrive here in order, and the bytes sent from here must land in the program's
receive ring (which the program checks).

Usage: serial_port_over_pty.py serial_port_wine_test.exe wine-run
"""
import os
import select
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import link_com_port, unlink_com_port  # noqa: E402

FIRST_PART = 1000
TOTAL_SENT = 16384 + 100
PIECES = 5


def pattern(k):
    return ((k * 2654435761) & 0xFFFFFFFF) >> 13 & 0xFF


def expected_wire():
    """256 byte values, then read_cv's eight bit questions and its verify."""
    wire = bytes(range(256))
    for mask in (1, 2, 4, 8, 16, 32, 64, 128):
        wire += bytes([0, 0, mask, 0xB0])
    return wire + bytes([0, 0, 0, 0xAF])


class Link:
    def __init__(self):
        self.master, self.slave, self.path = link_com_port("com7")
        self.received = bytearray()

    def drain(self, wait):
        ready, _, _ = select.select([self.master], [], [], wait)
        if ready:
            try:
                self.received += os.read(self.master, 4096)
            except (BlockingIOError, OSError):
                pass

    def send(self, data):
        while data:
            try:
                data = data[os.write(self.master, data):]
            except BlockingIOError:
                self.drain(0.01)

    def close(self):
        unlink_com_port(self.master, self.slave, self.path)


def converse(link, proc, deadline):
    """Sends the program's data once its 256 bytes are here, in pieces."""
    sent = 0
    pieces = [FIRST_PART * (i + 1) // PIECES for i in range(PIECES)] + [TOTAL_SENT]
    while proc.poll() is None and time.monotonic() < deadline:
        link.drain(0.05)
        if len(link.received) >= 256 and sent < TOTAL_SENT:
            end = pieces.pop(0)
            link.send(bytes(pattern(k) for k in range(sent, end)))
            sent = end
            time.sleep(0.2)  # a pause the program sees its count grow over
    link.drain(0.1)


def main():
    program, wine_run = sys.argv[1], sys.argv[2]
    link = Link()
    proc = subprocess.Popen([wine_run, program], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    converse(link, proc, time.monotonic() + 45)
    if proc.poll() is None:
        proc.kill()
        print("the test program did not finish")
    output = proc.stdout.read().decode("utf-8", "replace")
    proc.wait()
    link.close()
    print(output)
    want = expected_wire()
    if bytes(link.received) != want:
        print("wire differs: got %d bytes, want %d" % (len(link.received), len(want)))
        for i, (a, b) in enumerate(zip(link.received, want)):
            if a != b:
                print("first difference at %d: %02X != %02X" % (i, a, b))
                break
        return 1
    if proc.returncode != 0:
        return 1
    print("ok: %d bytes in order on the wire" % len(link.received))
    return 0


if __name__ == "__main__":
    sys.exit(main())
