#!/usr/bin/env python3
"""The Windows programs' additions under Wine: --ports lists the COM ports Wine
knows (a port added under HKLM\\Software\\Wine\\Ports becomes a dosdevices link
and a COM device), with the FTDI driver's latency timer where its device
parameters name the port, and tarvel's one-job commands reach a port from COM10
up in both forms (17 and com17) on a pseudo-terminal linked in as COM17.
Wine has no USB adapters: usb:SERIAL is named as missing by both programs, and
TARVEL_PORT and MORREX_PORT give the port (the virtual receiver's) when the
command line names none. morrex names the cause of a failed write in the
system's words (FormatMessage).

Usage: jobs_and_ports_wine.py ports|program_17|program_com17|refused|verify|usb_and_variables|
       write_cause
       tarvel.exe morrex.exe wine-run
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import (QUIT, WAKE, Failure, check, collect_wire, link_com_port,  # noqa: E402
                          unlink_com_port)

PORT = "com17"


def wine(wine_run, *args, cwd=None, env=None):
    proc = subprocess.run([wine_run, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, cwd=cwd, env=env, timeout=120)
    return proc.returncode, proc.stdout.decode("cp850", "replace"), \
        proc.stderr.decode("cp850", "replace")


def wine_session(wine_run, ports):
    """Starts a Wine session that stays up until its standard input closes, and
    waits until Wine's device manager has made every one of ports. Wine makes
    its devices in the background at start-up and removes them at shutdown, so
    a program run alone can find none; and a second program started while the
    first one starts Wine can hang, so nothing else runs until the session
    answers."""
    session = subprocess.Popen([wine_run, "cmd"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        session.stdin.write(b"echo session-up\r\n")
        session.stdin.flush()
        wait_for_line(session.stdout, b"session-up", 60)
        deadline = time.monotonic() + 60
        while True:
            _, devices, _ = wine(wine_run, "reg", "query",
                                 "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM")
            if all(port in devices.split() for port in ports):
                return session
            check(time.monotonic() < deadline, "Wine did not make", ports, "within 60 s")
            time.sleep(0.2)
    except BaseException:
        end_session(session)
        raise


def wait_for_line(stream, line, seconds):
    """Waits for line on stream, alone or after cmd's prompt."""
    seen = b""
    deadline = time.monotonic() + seconds
    while not any(shown == line or shown.endswith(b">" + line)
                  for shown in seen.replace(b"\r", b"").split(b"\n")):
        left = deadline - time.monotonic()
        check(left > 0, "no", line.decode(), "from the Wine session within", seconds, "s:", seen)
        if select.select([stream], [], [], left)[0]:
            chunk = os.read(stream.fileno(), 4096)
            check(chunk != b"", "the Wine session ended:", seen)
            seen += chunk


def end_session(session):
    session.stdin.close()
    try:
        session.wait(timeout=60)
    except subprocess.TimeoutExpired:
        session.kill()
        session.wait()
    session.stdout.close()


# The FTDI driver's device parameters as its installer leaves them: the port's
# name and its latency timer in ms. COM23 has none.
FTDI_DEVICES = {"COM24": ("VID_0403+PID_6001+A9XK3Q1ZA", 16),
                "COM25": ("VID_0403+PID_6015+DK0AB1CDA", 1)}
FTDI_BUS = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"
PORT_LINES = ["COM23", "COM24  Latenz 16 ms (zu hoch: auf 1 ms stellen)", "COM25  Latenz 1 ms"]


def add_ports(wine_run, tmp):
    """COM23 to COM25 as FIFOs (opening one would hang the listing, so a
    listing that returns has opened none), two of them as FTDI ports."""
    for port in ("COM23", "COM24", "COM25"):
        fifo = os.path.join(tmp, port)
        os.mkfifo(fifo)
        wine(wine_run, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", port, "/d", fifo, "/f")
    for port, (device, latency) in FTDI_DEVICES.items():
        key = FTDI_BUS + "\\" + device + "\\0000\\Device Parameters"
        wine(wine_run, "reg", "add", key, "/v", "PortName", "/d", port, "/f")
        wine(wine_run, "reg", "add", key, "/v", "LatencyTimer", "/t", "REG_DWORD",
             "/d", str(latency), "/f")


def remove_ports(wine_run):
    for port in ("COM23", "COM24", "COM25"):
        wine(wine_run, "reg", "delete", "HKLM\\Software\\Wine\\Ports", "/v", port, "/f")
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", port.lower())
        if os.path.lexists(link):
            os.remove(link)
    wine(wine_run, "reg", "delete", FTDI_BUS, "/f")


def ports_case(tarvel, morrex, wine_run, tmp):
    session = None
    try:
        add_ports(wine_run, tmp)
        subprocess.run(["wineserver", "-k"], check=False)
        session = wine_session(wine_run, ["COM23", "COM24", "COM25"])
        for program in (tarvel, morrex):
            code, out, err = wine(wine_run, program, "--ports")
            check(code == 0, program, "exit", code, out, err)
            lines = out.replace("\r", "").split("\n")
            for line in PORT_LINES:
                check(line in lines, program, "does not list", repr(line), "in:", out)
            check(err == "", program, "stderr:", err)
    finally:
        if session is not None:
            end_session(session)
        remove_ports(wine_run)
        subprocess.run(["wineserver", "-k"], check=False)
    return "COM23 to COM25 listed by tarvel and morrex, FTDI latencies shown, no FIFO opened"


def run_on_port(command, cwd):
    """Runs command with COM17 linked to a pseudo-terminal; (exit, output, wire)."""
    master, slave, link = link_com_port(PORT)
    env = dict(os.environ, ORN_HOME="1")
    try:
        # Standard input stays an open pipe with no key in it: a job that
        # waited for a key would run into the time limit.
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, cwd=cwd, env=env)
        ended, received = collect_wire(proc, master, 60)
        if not ended:
            raise Failure("the job did not end within 60 s")
        output = proc.stdout.read().decode("cp850", "replace")
        proc.stdin.close()
    finally:
        unlink_com_port(master, slave, link)
    return proc.returncode, output, bytes(received)


def only_the_line_check(wire):
    """True when the wire holds the wake, the line's check (CV 1 bit by bit,
    then verifies of it) and the quit sequence, and no write."""
    if not (wire.startswith(WAKE) and wire.endswith(QUIT)):
        return False
    commands = wire[len(WAKE):len(wire) - len(QUIT)]
    return len(commands) > 0 and len(commands) % 4 == 0 and all(
        commands[at:at + 2] == b"\0\0" and commands[at + 3] in (0xB0, 0xAF)
        for at in range(0, len(commands), 4))


def program_case(port_argument):
    """Wine reads DSR on a pseudo-terminal as not asserted: no receiver
    answers the line's check, so the job writes nothing and ends with 1."""
    def case(tarvel, morrex, wine_run, tmp):
        with open(os.path.join(tmp, "cvs.txt"), "w") as f:
            f.write("CV 3 = 7\nCV 300 = 1\nCV 4a = b1010\n")
        code, output, wire = run_on_port(
            [wine_run, tarvel, "--program", "cvs.txt", port_argument], tmp)
        check(only_the_line_check(wire), "wire", wire.hex())
        check(code == 1, "exit", code, output)
        check("Der Empf\u00e4nger antwortet nicht" in output, "the line not named:", output)
        check("0 CVs geschrieben, Leitung unbrauchbar (Exit-Code 1)" in output, "summary:", output)
        return "tarvel --program ... %s: no receiver, nothing written, exit 1" % port_argument
    return case


def verify_case(tarvel, morrex, wine_run, tmp):
    """As without --verify: the line is checked before the first write."""
    with open(os.path.join(tmp, "cvs.txt"), "w") as f:
        f.write("CV 3 = 7\nCV 4a = b1010\n")
    code, output, wire = run_on_port(
        [wine_run, tarvel, "--verify", "--program", "cvs.txt", "17"], tmp)
    check(only_the_line_check(wire), "wire", wire.hex())
    check(code == 1, "exit", code, output)
    check("0 CVs geschrieben, 0 best\u00e4tigt, 0 nicht best\u00e4tigt, Leitung unbrauchbar"
          in output, "summary:", output)
    return "tarvel --verify --program ... 17: no receiver, nothing written, exit 1"


def refused_case(tarvel, morrex, wine_run, tmp):
    with open(os.path.join(tmp, "cvs.txt"), "w") as f:
        f.write("keep\n")
    code, output, wire = run_on_port([wine_run, tarvel, "--read-out", "cvs.txt", "17"], tmp)
    check(code == 3, "exit", code, output)
    check(wire == b"", "the port was used:", wire.hex())
    with open(os.path.join(tmp, "cvs.txt")) as f:
        check(f.read() == "keep\n", "the file was changed")
    return "--read-out onto an existing file: exit 3, port untouched, file kept"


def usb_and_variables_case(tarvel, morrex, wine_run, tmp):
    with open(os.path.join(tmp, "fw.bin"), "wb") as f:
        f.write(b"8\x5Au\x00" + b"\x42" * 64 + b"3")
    with open(os.path.join(tmp, "cvs.txt"), "w") as f:
        f.write("CV 3 = 7\n")
    missing = ": Error 2\r\nGrund: Kein USB-Adapter mit Seriennummer NOPE gefunden.\r\n" \
        "Vorhandene Schnittstellen zeigt: %s --ports\r\n"
    env = dict(os.environ, ORN_VIRTUAL_CLOCK="1")
    env.pop("TARVEL_PORT", None)
    env.pop("MORREX_PORT", None)
    rows = [
        # (what, variables, command, exit code, standard error or None, receiver used)
        ("tarvel usb:", {}, [tarvel, "--compare", "cvs.txt", "usb:NOPE"], 99,
         "Open_in usb:NOPE" + missing % "tarvel", None),
        ("morrex usb:", {}, [morrex, "usb:NOPE", "fw.bin"], 1,
         "Open usb:NOPE" + missing % "morrex", None),
        ("TARVEL_PORT usb:", {"TARVEL_PORT": "usb:NOPE"}, [tarvel, "--compare", "cvs.txt"], 99,
         "Open_in usb:NOPE" + missing % "tarvel", None),
        ("TARVEL_PORT", {"TARVEL_PORT": "sim:t"}, [tarvel, "--compare", "cvs.txt"], 1, "", "t"),
        ("TARVEL_PORT loses", {"TARVEL_PORT": "sim:t"},
         [tarvel, "--compare", "cvs.txt", "sim:line"], 1, "", "line"),
        ("MORREX_PORT", {"MORREX_PORT": "rsim:m"}, [morrex, "fw.bin"], 0, "", "m"),
        ("MORREX_PORT empty", {"MORREX_PORT": ""}, [morrex, "fw.bin"], 9, "", None),
    ]
    for what, variables, command, want_code, want_err, used in rows:
        for folder in ("t", "line", "m"):
            shutil.rmtree(os.path.join(tmp, folder), ignore_errors=True)
        code, out, err = wine(wine_run, *command, cwd=tmp, env=dict(env, **variables))
        check(code == want_code, what, "exit", code, out, err)
        check(want_err is None or err == want_err, what, "stderr:", repr(err))
        for folder in ("t", "line", "m"):
            wire = os.path.join(tmp, folder, "wire.log")
            check(os.path.exists(wire) == (folder == used), what, "receiver", folder, out, err)
    return "usb:NOPE named as missing by both programs (99, 1); the variables give the port"


def write_cause_case(tarvel, morrex, wine_run, tmp):
    """The adapter pulled after the fifth byte: each failed write is followed by
    the system's words for error 1167, the same text on every line."""
    with open(os.path.join(tmp, "fw.bin"), "wb") as f:
        f.write(b"8\x5Au\x00" + b"\x42" * 64 + b"3")
    env = dict(os.environ, ORN_VIRTUAL_CLOCK="1")
    code, out, err = wine(wine_run, morrex, "rsim:m?instant,unplug=5", "fw.bin", cwd=tmp, env=env)
    check(code == 1, "exit", code, out, err)
    lines = err.replace("\r", "").rstrip("\n").split("\n")
    causes = {line.partition("WriteFile returns 1167: ")[2] for line in lines}
    check(all(line.startswith("WriteFile returns 1167: ") for line in lines), "stderr:", err)
    # 13 wake bytes, 2 + 256 before the records, 67 record bytes; 5 went out.
    check(len(lines) == 13 + 2 + 256 + 67 - 5, len(lines), "failed writes told:", err)
    check(len(causes) == 1 and "" not in causes and "Error 1167" not in causes, "causes:", causes)
    return "each failed write named with its cause: %r" % causes.pop()


def main():
    cases = {"ports": ports_case, "program_17": program_case("17"),
             "program_com17": program_case("COM17"), "refused": refused_case,
             "verify": verify_case, "usb_and_variables": usb_and_variables_case,
             "write_cause": write_cause_case}
    case = cases[sys.argv[1]]
    tarvel, morrex, wine_run = (os.path.abspath(a) for a in sys.argv[2:5])
    with tempfile.TemporaryDirectory() as tmp:
        try:
            print("ok:", case(tarvel, morrex, wine_run, tmp))
        except Failure as failure:
            print("FAILED:", failure)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
