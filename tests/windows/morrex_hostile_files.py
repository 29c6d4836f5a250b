#!/usr/bin/env python3
"""morrex.exe under Wine, with COM7 a pseudo-terminal: program files that are
no regular file (a directory, the NUL device) or that never end are refused
like a file that cannot be opened (exit 2, the message), and not one byte
reaches the port.

Usage: morrex_hostile_files.py morrex.exe wine-run
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import collect_wire, link_com_port, unlink_com_port  # noqa: E402


def run(wine_run, morrex, master, argument, cwd):
    proc = subprocess.Popen([wine_run, morrex, "r7", argument], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, cwd=cwd)
    ended, received = collect_wire(proc, master, 60)
    if not ended:
        return None, "", received
    return proc.returncode, proc.stdout.read().decode("utf-8", "replace"), received


def main():
    morrex, wine_run = sys.argv[1], sys.argv[2]
    master, slave, link = link_com_port("com7")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        os.mkdir(os.path.join(tmp, "firmware"))
        with open(os.path.join(tmp, "huge.bin"), "wb") as f:
            f.write(b"8U" + b"\xcc" * (3 * 1024 * 1024))
        # argument, exit code, text in the output
        cases = [
            ("firmware", 2, "firmware: Is a directory"),
            ("NUL", 2, "NUL: Not a regular file"),
            ("huge.bin", 2, "huge.bin: Programmdatei zu gro"),
        ]
        for argument, code, text in cases:
            got, output, received = run(wine_run, morrex, master, argument, tmp)
            if got != code or text not in output or received:
                print("FAIL %s: exit %s, %d bytes sent, output %r" %
                      (argument, got, len(received), output))
                failures += 1
            else:
                print("ok: %s" % argument)
    unlink_com_port(master, slave, link)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
