"""What the Python test scripts share: failing with a reason, the receiver's
wire log (and the programs' ORN_TRACE, in the same form) as events, a
pseudo-terminal linked into the Wine prefix as a COM port and what reaches it,
and the line harness's far end (pty_receiver) with its modem-line state, on an
ideal line or one like a USB serial adapter's.

The scripts find it by putting this folder on sys.path.
"""
import os
import pty
import select
import signal
import subprocess
import time
import tty

# What tarvel sends as it opens the receiver's service mode, and as it quits.
WAKE = bytes([0x41]) + bytes(range(0xF3, 0xFF)) + bytes([0x55])
QUIT = bytes([0xEE] * 4)


class Failure(Exception):
    pass


def check(condition, *what):
    if not condition:
        raise Failure(" ".join(str(w) for w in what))


# ---- the wire log ------------------------------------------------------------

def read_wire_log(path):
    """The log's whole lines as (microseconds, event, value), each checked for
    its form: "MICROSECONDS EVENT VALUE"."""
    events = []
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n")[:-1]:
            parts = raw.decode("ascii").split(" ", 2)
            check(len(parts) == 3 and parts[0].isdigit(), "malformed line", raw)
            events.append((int(parts[0]), parts[1], parts[2]))
    return events


def values(events, event):
    return [value for _, name, value in events if name == event]


def tx_bytes(events):
    """The bytes of the TX events."""
    return bytes(int(value, 16) for value in values(events, "TX"))


# ---- a COM port of the Wine prefix on a pseudo-terminal ----------------------

def link_com_port(name):
    """A raw pseudo-terminal linked into the Wine prefix as name ("com7");
    returns (master, slave, link). The master does not block."""
    master, slave = pty.openpty()
    tty.setraw(slave)  # no line-end translation before the program sets the line up
    os.set_blocking(master, False)
    link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", name)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    return master, slave, link


def unlink_com_port(master, slave, link):
    # Stop Wine's server before the pseudo-terminal it holds goes away.
    subprocess.run(["wineserver", "-k"], check=False)
    os.remove(link)
    os.close(slave)
    os.close(master)


def collect_wire(proc, master, seconds):
    """Reads what reaches the pseudo-terminal's master until proc ends or
    seconds pass (then proc is killed). Returns (ended, the bytes read)."""
    received = bytearray()
    deadline = time.monotonic() + seconds
    while proc.poll() is None and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                received += os.read(master, 4096)
            except BlockingIOError:
                pass
    if proc.poll() is None:
        proc.kill()
        proc.wait()
        return False, received
    try:
        received += os.read(master, 4096)
    except (BlockingIOError, OSError):
        pass
    return True, received


# ---- the line harness's far end ----------------------------------------------

class Line:
    """A pseudo-terminal with modem lines and the receiver in DIR on its far end."""

    def __init__(self, far_end, preload, tmp, receiver, link, far_end_options=()):
        self.state = os.path.join(tmp, "line.state")
        self.preload = preload
        self.far_log = open(os.path.join(tmp, "far_end.log"), "w+")
        command = [far_end] + list(far_end_options) + [self.state, "sim:" + receiver] + \
            ([link] if link else [])
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self.far_log)
        self.slave = self.proc.stdout.readline().decode().strip()
        check(self.slave.startswith("/dev/pts/"), "the far end did not start:", self.report())

    def env(self):
        return dict(os.environ, LD_PRELOAD=self.preload, ORN_PTY_MODEM=self.state, ORN_HOME="1")

    def stop(self):
        """Ends the far end; its exit code is 0 when every sample agreed with the receiver."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the far end did not stop")
        check(code == 0, "far end exit", code, self.report())

    def report(self):
        self.far_log.seek(0)
        return self.far_log.read()


class AdapterLine(Line):
    """A Line like a USB serial adapter's. The far end gives each byte to the
    receiver byte_delay_us after it left the program (a write completes before
    the byte is on the wire); the program's preload library answers the modem
    status late: each TIOCMGET takes status_us and shows the level at its
    middle, less tick_delay_us and a jitter of up to jitter_us (drawn from
    seed), taken at the latest tick when ticks come every tick_us."""

    def __init__(self, far_end, preload, tmp, receiver, link, byte_delay_us=0, status_us=0,
                 tick_us=0, tick_delay_us=0, jitter_us=0, seed=1):
        self.status = {"ORN_PTY_STATUS_US": str(status_us), "ORN_PTY_TICK_US": str(tick_us),
                       "ORN_PTY_TICK_DELAY_US": str(tick_delay_us),
                       "ORN_PTY_JITTER_US": str(jitter_us), "ORN_PTY_SEED": str(seed)}
        # An adapter line: a sample taken before an answer shows reads the line
        # as it is, no protocol error (a program that measures the line polls).
        receiver += ("," if "?" in receiver else "?") + "jitter=0"
        Line.__init__(self, far_end, preload, tmp, receiver, link,
                      ["--byte-delay", str(byte_delay_us)])

    def env(self):
        return dict(Line.env(self), **self.status)
