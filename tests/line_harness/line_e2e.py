#!/usr/bin/env python3
"""End to end over the port code users run on hardware: the program opens a
pseudo-terminal that the preload library gives modem lines, and the virtual
receiver answers on its far end (pty_receiver). The receiver's files are then
checked: its CVs, its flash, and its wire.log (bytes, DTR/RTS phases and their
pauses, every DSR sample at least 1 ms after its opcode left the program).

Usage: line_e2e.py CASE PROGRAM PTY_RECEIVER PRELOAD [WINE_RUN]
CASE: tarvel, morrex_full, morrex_short, morrex_none, far_end (PROGRAM unused), and
adapter: both programs over lines like USB serial adapters' (bytes reach the
receiver after the write completed, the modem status comes late), PROGRAM being
TARVEL:MORREX. With WINE_RUN, PROGRAM is the Windows build, run under Wine with
the pseudo-terminal as COM7.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import AdapterLine, Failure, Line, check, read_wire_log, tx_bytes  # noqa: E402

PROGRAM_SECONDS = 150


class Run:
    """One program run over a Line, Linux or Windows build."""

    def __init__(self, program, far_end, preload, wine_run, tmp, adapter=None):
        self.program, self.far_end, self.preload = program, far_end, preload
        self.wine_run, self.tmp = wine_run, tmp
        self.adapter = adapter  # AdapterLine's options, or None: an ideal line

    def port(self, line, prefix=""):
        return prefix + ("7" if self.wine_run else line.slave)

    def run(self, receiver, arguments, keys=b"", extra_env=None):
        """Runs the program; arguments is a function of the port argument."""
        link = None
        if self.wine_run:
            link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com7")
        if self.adapter is None:
            line = Line(self.far_end, self.preload, self.tmp, receiver, link)
        else:
            line = AdapterLine(self.far_end, self.preload, self.tmp, receiver, link,
                               **self.adapter)
        command = ([self.wine_run] if self.wine_run else []) + [self.program]
        try:
            done = subprocess.run(command + arguments(line), input=keys, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, cwd=self.tmp,
                                  env=dict(line.env(), **(extra_env or {})),
                                  timeout=PROGRAM_SECONDS)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not finish within %d s" % PROGRAM_SECONDS)
        finally:
            if self.wine_run:
                # Stop Wine's server before the pseudo-terminal it holds goes away.
                subprocess.run(["wineserver", "-k"], check=False)
            line.stop()
            if link and os.path.lexists(link):
                os.remove(link)
        return done.returncode, done.stdout.decode("cp850", "replace")


# ---- the receiver's files ----------------------------------------------------

def wire_log(receiver):
    return read_wire_log(os.path.join(receiver, "wire.log"))


def expect_no_protocol_errors(events):
    errors = [value for _, name, value in events if name == "ERR"]
    check(not errors, "the receiver flagged:", errors[:5])


def answer_delays(events):
    """Microseconds from each opcode of the service mode to the DSR sample after it."""
    delays, in_service, count, opcode_at = [], False, 0, None
    for at, name, value in events:
        if name == "STATE":
            in_service, count, opcode_at = value == "service", 0, None
        elif name == "TX" and in_service:
            count += 1
            opcode_at = at if count % 4 == 0 else None
        elif name == "DSR" and opcode_at is not None:
            delays.append(at - opcode_at)
            opcode_at = None
    return delays


def cv_lines(path):
    """CV lines by their name ("17", "17a") from a data file or cvs.txt."""
    lines = {}
    with open(path, "rb") as f:
        for raw in f.read().decode("ascii").splitlines():
            if raw.startswith("CV"):
                lines[raw[2:7].strip()] = raw
    return lines


# ---- tarvel ------------------------------------------------------------------

def tarvel_case(run):
    receiver = os.path.join(run.tmp, "receiver")
    data = os.path.join(run.tmp, "data.txt")
    with open(data, "w") as f:
        f.write("CV 5 = 77\nCV 6a = b1010 1010\nCV 7 = 300\n")
    esc = "\x1b"
    keys = ("e17\rl" + esc + "e1017\rl" + esc +      # read CV 17 and alternative CV 17
            "e20\rp123\r" + esc + "e1020\rp45\r" + esc +  # write CV 20 and alternative CV 20
            "p" +                                     # program the data file
            "aj" +                                    # read everything back into it
            "q")
    code, output = run.run(receiver, lambda line: [run.port(line), "data.txt"], keys.encode())
    check(code == 0, "tarvel exit", code, output[-2000:])
    check("CV   17  = 16 (0001 0000)" in output, "CV 17 not read:", output[-2000:])
    check("CV   17a = 239 (1110 1111)" in output, "CV 17a not read:", output[-2000:])
    check("Wert muss zwischen 0 und 255 liegen" in output, "CV 7 = 300 not refused")

    held = cv_lines(os.path.join(receiver, "cvs.txt"))
    for name, value in (("20", 123), ("20a", 45), ("5", 77), ("6a", 170), ("7", 6)):
        check(held[name].split("=")[1].split("(")[0].strip() == str(value),
              "the receiver holds", held[name])
    read_out = cv_lines(data)
    check(len(read_out) == 398, "the read-out has %d CVs" % len(read_out))
    for name, text in read_out.items():
        check(text == held[name], "read-out", repr(text), "receiver", repr(held[name]))

    events = wire_log(receiver)
    expect_no_protocol_errors(events)
    wire = tx_bytes(events)
    check(bytes([0x00, 0x13, 123, 0xAE]) in wire and bytes([0x01, 0x13, 45, 0xAE]) in wire,
          "the two single writes are not on the wire")
    check(wire.endswith(bytes([0xEE] * 4)), "no quit sequence at the end")
    check(events[-1][1:] == ("STATE", "running"), "the receiver did not leave service mode")
    delays = answer_delays(events)
    reads = 2 + 398
    # Before the first read the line's check: CV 1 bit by bit and 16 pairs of
    # verifies; and 1a's 255 ends with the verify of its complement.
    samples = 9 * reads + 8 + 32 + 1
    check(len(delays) == samples, "%d DSR samples after opcodes, not %d" % (len(delays), samples))
    check(min(delays) >= 1000, "a DSR sample %d us after its opcode" % min(delays))
    return "%d CVs read, 2 written, 2 from the file; DSR %d..%d us after the opcode" % (
        reads, min(delays), max(delays))


# ---- morrex ------------------------------------------------------------------

def image(cpu, page):
    """A program file with pages 2, 0, 5, a single-byte record and the end
    record; and the flash it must leave."""
    body, flash = bytearray(), bytearray(b"\xff" * 6 * page)
    for number in (2, 0, 5):
        data = bytes((number * 37 + i * 7) & 0xFF for i in range(page))
        body += b"u" + bytes([number]) + data
        flash[number * page:(number + 1) * page] = data
    return cpu + b"\x5a" + bytes(body) + b"\xcc3", bytes(flash)


def first(events, name, value):
    return next(at for at, n, v in events if n == name and v == value)


def opened_lines_dropped(lines):
    """The line changes after the port's opening: the Linux build raises DTR and
    RTS as it opens a tty, as a serial driver does, and morrex drops them at once.
    The far end may see only some of those changes (a line raised and dropped
    before it looked); whatever came in the first 10 ms and left both lines
    low is the opening."""
    if not lines:
        return lines
    opening = [line for line in lines if line[0] - lines[0][0] < 10000]
    level = {}
    for _, name, value in opening:
        level[name] = value
    if all(v == "0" for v in level.values()):
        return lines[len(opening):]
    return lines


def morrex_case(run, mode):
    prefix, seconds, cpu, page = {"full": ("", 10, b"8", 64), "short": ("x", 2, b"6", 128),
                                  "none": ("r", 0, b"8", 64)}[mode]
    receiver = os.path.join(run.tmp, "receiver")
    program, flash = image(cpu, page)
    with open(os.path.join(run.tmp, "fw.bin"), "wb") as f:
        f.write(program)
    name = receiver + ("?cpu=6" if cpu == b"6" else "")
    # A virtual clock left in the environment must not hurry a real port: the
    # short reset runs with it set, and every pause below must still hold.
    hurry = mode == "short" and not run.wine_run
    extra_env = {"ORN_VIRTUAL_CLOCK": "1"} if hurry else None
    code, output = run.run(name, lambda line: [run.port(line, prefix), "fw.bin"],
                           extra_env=extra_env)
    check(code == 0 and "fertig" in output, "morrex exit", code, output[-2000:])
    if hurry:
        check("ORN_VIRTUAL_CLOCK gilt nur f" in output and "in Echtzeit" in output,
              "no word of real time:", output[:800])
    with open(os.path.join(receiver, "flash.bin"), "rb") as f:
        check(f.read() == flash, "flash.bin is not the image")

    events = wire_log(receiver)
    expect_no_protocol_errors(events)
    want = (b"A" if seconds else b"") + bytes(range(0xF3, 0x100)) + b"!" + program[1:2] + \
        bytes(range(256)) + program[2:]
    check(tx_bytes(events) == want, "the bytes on the wire differ from the protocol")
    wake = [at for at, n, v in events if n == "TX" and int(v, 16) >= 0xF3][:13]
    gaps = [b - a for a, b in zip(wake, wake[1:])]
    check(min(gaps) >= 20000, "a wake byte %d us after the one before" % min(gaps))
    lines = opened_lines_dropped([(at, n, v) for at, n, v in events if n in ("DTR", "RTS")])
    if not seconds:
        check(not lines, "mode r touched DTR or RTS:", lines)
        check("Sekunden Reset" not in output, "mode r shows a reset line")
        return "no reset; %d bytes; flash = file" % len(want)
    check("%d Sekunden Reset...." % seconds in output, "no reset line:", output[-2000:])
    check([n + v for _, n, v in lines] in (["DTR1", "RTS1", "DTR0", "RTS0"],
                                           ["RTS1", "DTR1", "RTS0", "DTR0"],
                                           ["DTR1", "RTS1", "RTS0", "DTR0"],
                                           ["RTS1", "DTR1", "DTR0", "RTS0"]),
          "DTR/RTS phases:", lines)
    check(abs(lines[0][0] - lines[1][0]) < 5000 and abs(lines[2][0] - lines[3][0]) < 5000,
          "DTR and RTS not switched together:", lines)
    on, off = max(lines[0][0], lines[1][0]), min(lines[2][0], lines[3][0])
    check(seconds * 1000000 <= off - on < seconds * 1000000 + 1000000,
          "a reset phase of %d us" % (off - on))
    check(min(lines[0][0], lines[1][0]) - first(events, "TX", "41") >= 200000,
          "less than 200 ms from 'A' to the reset")
    check(first(events, "TX", "F3") - max(lines[2][0], lines[3][0]) >= 500000,
          "less than 500 ms from the reset to the first wake byte")
    return "reset %.3f s; %d bytes; flash = file" % ((off - on) / 1e6, len(want))


# ---- lines like USB serial adapters' -------------------------------------------

# (what the line is like, AdapterLine's options, whether a full read-out runs
# there: on 16 ms ticks one would take over a minute).
ADAPTERS = [
    ("fresh status, as FTDI and CP210x chips on Linux",
     dict(byte_delay_us=1000, status_us=1000, jitter_us=200), True),
    ("status cached from the interrupt endpoint, as CH340 and PL2303",
     dict(byte_delay_us=1500, tick_us=1000, tick_delay_us=1000, jitter_us=500), True),
    ("a 16 ms latency timer, as FTDI's driver on Windows",
     dict(byte_delay_us=1000, tick_us=16000, tick_delay_us=1000, jitter_us=1000), False),
]

# Ten bit times at 38400 baud, as the receiver counts them.
BYTE_US = 260

SMALL_FILE = "CV 5 = 77\nCV 6a = b1010 1010\nCV 29 = 6\n"


def tarvel_job(run, receiver, *arguments):
    code, output = run.run(receiver, lambda line: list(arguments) + [run.port(line)])
    check(code == 0, "tarvel", " ".join(arguments), "exit", code, output[-1500:])
    expect_no_protocol_errors(wire_log(receiver))
    return output


def adapter_tarvel_case(run, full_read_out):
    """Programs a small file with every write confirmed, compares it, and on
    the faster lines reads everything out: each must agree with the receiver."""
    receiver = os.path.join(run.tmp, "receiver")
    with open(os.path.join(run.tmp, "small.txt"), "w") as f:
        f.write(SMALL_FILE)
    tarvel_job(run, receiver, "--verify", "--program", "small.txt")
    held = cv_lines(os.path.join(receiver, "cvs.txt"))
    for name, value in (("5", 77), ("6a", 170), ("29", 6)):
        check(held[name].split("=")[1].split("(")[0].strip() == str(value),
              "the receiver holds", held[name])
    tarvel_job(run, receiver, "--compare", "small.txt")
    if not full_read_out:
        return "3 CVs programmed, confirmed and compared"
    tarvel_job(run, receiver, "--read-out", "all.txt")
    read_out = cv_lines(os.path.join(run.tmp, "all.txt"))
    check(len(read_out) == 398, "the read-out has %d CVs" % len(read_out))
    for name, text in read_out.items():
        check(text == held[name], "read-out", repr(text), "receiver", repr(held[name]))
    return "3 CVs programmed, confirmed and compared; 398 read out"


def adapter_case(make_run):
    """tarvel, then morrex's short reset and update (its pauses as the receiver
    saw them), on every adapter line in turn; a failed row hides no other."""
    failed = 0
    for what, options, full_read_out in ADAPTERS:
        for program in ("tarvel", "morrex"):
            # morrex has no answer to measure a line by: it counts each pause
            # from the bytes' own line time, so its bytes arrive by that time
            # (a write that completes on hand-over, the bytes leaving after).
            line = dict(options, byte_delay_us=BYTE_US) if program == "morrex" else options
            run = make_run(program, line)
            try:
                if program == "tarvel":
                    result = adapter_tarvel_case(run, full_read_out)
                else:
                    result = morrex_case(run, "short")
                print("ok (%s, %s):" % (program, what), result, flush=True)
            except Failure as failure:
                failed += 1
                print("FAILED (%s, %s):" % (program, what), failure, flush=True)
                show_wire_log_end(run.tmp)
    check(failed == 0, "%d of %d rows failed" % (failed, 2 * len(ADAPTERS)))
    return "%d rows" % (2 * len(ADAPTERS))


# ---- the far end's own refusals ------------------------------------------------

def far_end_case(far_end, tmp):
    """Bad arguments end the far end at once, with a message and before any link."""
    not_a_dir = os.path.join(tmp, "file")
    open(not_a_dir, "w").close()
    link = os.path.join(tmp, "com7")
    cases = [([], 1, "Usage: pty_receiver"),
             (["state", "rx"], 1, "Usage: pty_receiver"),
             (["--byte-delay", "x", "state", "sim:"], 1, "Usage: pty_receiver"),
             (["--byte-delay=", "state", "sim:"], 1, "Usage: pty_receiver"),
             (["--byte-delay", "-5", "state", "sim:"], 1, "Usage: pty_receiver"),
             (["--byte-delay=1000", "state", "rx"], 1, "Usage: pty_receiver"),
             (["--byte-delay", "1000", "state", "sim:rx?bogus", link], 2, "does not open"),
             (["state", "sim:rx?bogus", link], 2, "does not open"),
             (["state", "sim:" + not_a_dir, link], 2, "does not open"),
             ([os.path.join(tmp, "no", "such", "state"), "sim:", link], 1, "No such file")]
    for arguments, want, text in cases:
        done = subprocess.run([far_end] + arguments, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, cwd=tmp, timeout=10)
        check(done.returncode == want, arguments, "exit", done.returncode, "not", want)
        check(text in done.stderr.decode(), arguments, "said", done.stderr)
        check(not done.stdout and not os.path.lexists(link), arguments, "went on")
        check(not os.path.exists(os.path.join(tmp, "state")), arguments, "left its state file")
    return "%d refusals" % len(cases)


def show_wire_log_end(tmp):
    log = os.path.join(tmp, "receiver", "wire.log")
    if os.path.exists(log):
        with open(log) as f:
            print("".join(f.readlines()[-40:]))


# ---- a port named by its adapter ---------------------------------------------

def fake_adapter(root, serial):
    """A sysfs tree under root (as ORN_PORTS_ROOT names it) with one USB adapter
    of that serial number behind ttyUSB0; returns where its device belongs."""
    usb = os.path.join(root, "sys", "devices", "usb1", "1-2")
    port = os.path.join(usb, "1-2:1.0", "ttyUSB0")
    os.makedirs(os.path.join(port, "tty", "ttyUSB0"))
    os.makedirs(os.path.join(root, "sys", "class", "tty"))
    os.makedirs(os.path.join(root, "dev"))
    for name, text in (("idVendor", "0403"), ("idProduct", "6001"), ("serial", serial)):
        with open(os.path.join(usb, name), "w") as f:
            f.write(text + "\n")
    os.symlink(port, os.path.join(port, "tty", "ttyUSB0", "device"))
    os.symlink(os.path.join(port, "tty", "ttyUSB0"),
               os.path.join(root, "sys", "class", "tty", "ttyUSB0"))
    return os.path.join(root, "dev", "ttyUSB0")


def usb_case(programs, far_end, preload, tmp):
    """Linux: usb:SERIAL, on the command line and in TARVEL_PORT and
    MORREX_PORT, reaches the line whose adapter has that serial number."""
    root = os.path.join(tmp, "root")
    link = fake_adapter(root, "LINE0001")
    with open(os.path.join(tmp, "data.txt"), "w") as f:
        f.write("CV 3 = 2\n")
    fw, flash = image(b"8", 64)
    with open(os.path.join(tmp, "fw.bin"), "wb") as f:
        f.write(fw)
    rows = (("tarvel", {}, ["--compare", "data.txt", "usb:line0001"], 0),
            ("tarvel", {"TARVEL_PORT": "usb:LINE0001"}, ["--compare", "data.txt"], 0),
            ("morrex", {"MORREX_PORT": "rusb:LINE0001"}, ["fw.bin"], 0))
    for name, variables, arguments, want in rows:
        receiver = tempfile.mkdtemp(dir=tmp)
        line = Line(far_end, preload, tmp, receiver, link)
        env = dict(line.env(), ORN_PORTS_ROOT=root, **variables)
        try:
            done = subprocess.run([programs[name]] + arguments, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, cwd=tmp,
                                  env=env, timeout=PROGRAM_SECONDS)
        finally:
            line.stop()
        output = done.stdout.decode("utf-8", "replace")
        check(done.returncode == want, name, arguments, variables, "exit", done.returncode, output)
        events = wire_log(receiver)
        expect_no_protocol_errors(events)
        check(len(tx_bytes(events)) > 0, name, "nothing reached the receiver")
        if name == "morrex":
            with open(os.path.join(receiver, "flash.bin"), "rb") as f:
                check(f.read()[:len(flash)] == flash, "the flash is not the program file's")
    return "usb:LINE0001 reached the line: tarvel's compare, TARVEL_PORT, MORREX_PORT's update"


def main():
    case = sys.argv[1]
    if case in ("adapter", "usb"):
        programs = dict(zip(("tarvel", "morrex"),
                            (os.path.abspath(p) for p in sys.argv[2].split(os.pathsep))))
    program, far_end, preload = (os.path.abspath(p) for p in sys.argv[2:5])
    wine_run = os.path.abspath(sys.argv[5]) if len(sys.argv) > 5 else None
    with tempfile.TemporaryDirectory() as tmp:
        run = Run(program, far_end, preload, wine_run, tmp)
        try:
            if case == "far_end":
                print("ok:", far_end_case(far_end, tmp))
            elif case == "usb":
                print("ok:", usb_case(programs, far_end, preload, tmp))
            elif case == "tarvel":
                print("ok:", tarvel_case(run))
            elif case == "adapter":
                def make_run(name, options):
                    fresh = tempfile.mkdtemp(dir=tmp)
                    return Run(programs[name], far_end, preload, wine_run, fresh, options)
                print("ok:", adapter_case(make_run))
            else:
                print("ok:", morrex_case(run, case.split("_")[1]))
        except Failure as failure:
            print("FAILED:", failure)
            show_wire_log_end(tmp)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
