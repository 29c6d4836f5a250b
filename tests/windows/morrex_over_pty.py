#!/usr/bin/env python3
"""morrex.exe under Wine updates through a pseudo-terminal linked into the Wine
prefix as COM7; every byte must arrive on the other side, in order.

Usage: morrex_over_pty.py morrex.exe wine-run
"""
import os
import pty
import select
import subprocess
import sys
import tempfile
import tty
import time

PAGE = 64


def program_file():
    """A CPU '8' file: handshake byte, two page records, a single-byte record, end."""
    body = bytearray()
    for page in range(2):
        body += b"u" + bytes([page]) + bytes((page * 7 + i) & 0xFF for i in range(PAGE))
    body += bytes([0xCC]) + b"3" + b"ignored after the end"
    return b"8\x5a" + bytes(body)


def expected_wire(data):
    wake = bytes(range(0xF3, 0x100))
    handshake = b"!" + data[1:2] + bytes(range(256))
    records = data[2:data.index(b"3", 2 + 2 * (PAGE + 2)) + 1]
    return wake + handshake + records


def main():
    morrex, wine_run = sys.argv[1], sys.argv[2]
    prefix = os.environ["WINEPREFIX"]
    master, slave = pty.openpty()
    tty.setraw(slave)  # no line-end translation before morrex sets the line up
    os.set_blocking(master, False)
    slave_name = os.ttyname(slave)
    link = os.path.join(prefix, "dosdevices", "com7")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(slave_name, link)
    data = program_file()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "fw.bin")
        with open(path, "wb") as f:
            f.write(data)
        # r7: no reset phase, so the run takes seconds, not ten of them.
        proc = subprocess.Popen([wine_run, morrex, "r7", path], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, cwd=tmp)
        received = bytearray()
        deadline = time.monotonic() + 90
        while proc.poll() is None and time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                try:
                    received += os.read(master, 4096)
                except BlockingIOError:
                    pass
        if proc.poll() is None:
            proc.kill()
            print("morrex did not finish")
            return 1
        output = proc.stdout.read().decode("utf-8", "replace")
    # Stop Wine's server before the pseudo-terminal it holds goes away.
    subprocess.run(["wineserver", "-k"], check=False)
    os.remove(link)
    os.close(slave)
    os.close(master)
    want = expected_wire(data)
    if proc.returncode != 0 or "fertig" not in output:
        print("exit", proc.returncode, output)
        return 1
    if bytes(received) != want:
        print("wire differs: got %d bytes, want %d" % (len(received), len(want)))
        for i, (a, b) in enumerate(zip(received, want)):
            if a != b:
                print("first difference at %d: %02X != %02X" % (i, a, b))
                break
        return 1
    print("ok: %d bytes in order" % len(received))
    return 0


if __name__ == "__main__":
    sys.exit(main())
