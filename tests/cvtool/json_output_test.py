#!/usr/bin/env python3
"""tarvel --json from the outside: the built program on the virtual receiver
(on the virtual clock, but for the signal case), its standard output parsed by
Python's json module, which refuses anything after the document, and every
value checked against the receiver's CVs and the data file.

Usage: json_output_test.py CASE tarvel
"""
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from test_support import Failure, check  # noqa: E402

TARVEL = None


def run(args, cwd, virtual_clock=True):
    """Runs tarvel with an open standard input that never brings a key;
    returns (exit code, standard output bytes, standard error text)."""
    env = dict(os.environ, ORN_HOME="1")
    if virtual_clock:
        env["ORN_VIRTUAL_CLOCK"] = "1"
    keys_read, keys_write = os.pipe()
    try:
        proc = subprocess.run([TARVEL, *args], stdin=keys_read, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, cwd=cwd, env=env, timeout=120)
    finally:
        os.close(keys_read)
        os.close(keys_write)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def document(code, out, err):
    """The one document on standard output, checked for what every one holds."""
    check(out.startswith(b"{") and out.endswith(b"}\n"), "not one document alone:", out, err)
    doc = json.loads(out.decode("ascii"))  # only ASCII; raises on anything after it
    check(doc["schema_version"] == 1 and doc["program"] == "tarvel", "head:", doc)
    check(re.fullmatch(r"\d+\.\d+\.\d+", doc["version"]), "version:", doc["version"])
    check(doc["exit_code"] == code, "exit code", code, "but the document says", doc["exit_code"])
    check("(Exit-Code %d)" % code in err or code in (3, 99), "no summary on stderr:", err)
    for cv in doc["cvs"]:
        name = "%d%s" % (cv["cv"], "a" if cv["bank"] == "alternative" else "")
        check(cv["name"] == name and cv["bank"] in ("normal", "alternative"), "record:", cv)
    return doc


def receiver_cvs(folder):
    """The receiver's CVs by name ("7", "7a")."""
    cvs = {}
    with open(os.path.join(folder, "cvs.txt")) as f:
        for line in f:
            m = re.match(r"CV\s+(\d+)(a?)\s*=\s*(\d+)", line)
            check(m, "receiver line:", line)
            cvs[m.group(1) + m.group(2)] = int(m.group(3))
    return cvs


def write(path, text):
    with open(path, "wb") as f:
        f.write(text)


def counts(doc, **expected):
    for name, value in expected.items():
        check(doc["counts"][name] == value, name, "is", doc["counts"][name], "not", value)


def line_verdicts(doc):
    return [c["verdict"] for c in doc["line_checks"]]


# ---- the jobs ----------------------------------------------------------------

def read_out_case(tmp):
    doc = document(*run(["--json", "--read-out", "cvs.txt", "sim:r"], tmp))
    check(doc["job"] == {"name": "read-out", "file": "cvs.txt", "backup": None, "cvs": None,
                          "verify": False},
          doc["job"])
    check(doc["port"] == "sim:r", doc["port"])
    held = receiver_cvs(os.path.join(tmp, "r"))
    check(len(doc["cvs"]) == 398, len(doc["cvs"]))
    for cv in doc["cvs"]:
        check(cv["action"] == "read" and cv["outcome"] == "read", cv)
        check(cv["value"] == held[cv["name"]], cv, "receiver holds", held[cv["name"]])
    check(doc["cvs"][1]["name"] == "1a" and doc["cvs"][-1]["name"] == "199a", "order")
    counts(doc, cvs_read=398, read_failures=0, cvs_written=0, writes_confirmed=None)
    check(line_verdicts(doc) == ["serves"], doc["line_checks"])
    check(doc["line_checks"][0]["answers"] == 16 and doc["line_checks"][0]["answer_wait_us"] > 0,
          doc["line_checks"])


def program_case(tmp):
    write(os.path.join(tmp, "p.txt"), b"CV 3 = 7\nCV 300 = 1\nCV 4a = b1010\nCV 3 = 9\n")
    code, out, err = run(["--json", "--verify", "--program", "p.txt", "sim:r"], tmp)
    doc = document(code, out, err)
    check(code == 2, "exit code", code)
    check("Zeile 2: CV 300 = 1" in err, "the refused line is on stderr:", err)
    held = receiver_cvs(os.path.join(tmp, "r"))
    written = [(cv["name"], cv["written_value"], cv["outcome"]) for cv in doc["cvs"]]
    check(written == [("3", 7, "confirmed"), ("4a", 10, "confirmed"), ("3", 9, "confirmed")],
          written)
    check(held["3"] == 9 and held["4a"] == 10, "receiver:", held["3"], held["4a"])
    counts(doc, cvs_written=3, writes_confirmed=3, writes_unconfirmed=0, lines_refused=1,
           cv_lines=3)


def read_list_case(tmp):
    """--read: each CV of the list once, in its order, as the receiver holds it;
    the CV lines go to standard error with the rest."""
    code, out, err = run(["--json", "--read", "3,1a,256a,3", "sim:r"], tmp)
    doc = document(code, out, err)
    check(code == 0 and doc["job"]["name"] == "read" and doc["job"]["file"] is None, doc["job"])
    check(doc["job"]["cvs"] == "3,1a,256a,3", doc["job"])
    held = receiver_cvs(os.path.join(tmp, "r"))
    read = [(cv["name"], cv["value"], cv["outcome"]) for cv in doc["cvs"]]
    check(read == [(n, held[n], "read") for n in ("3", "1a", "256a")], read)
    check("CV   1a = 255 (b1111 1111)" in err, err)
    counts(doc, cvs_read=3, read_failures=0)


def write_list_case(tmp):
    """--write with --verify: every value confirmed and in the receiver."""
    code, out, err = run(["--json", "--verify", "--write", "7=12,200a=0", "sim:r"], tmp)
    doc = document(code, out, err)
    check(code == 0 and doc["job"]["name"] == "write", code, doc["job"])
    check(doc["job"]["cvs"] == "7=12,200a=0" and doc["job"]["verify"] is True, doc["job"])
    written = [(cv["name"], cv["written_value"], cv["outcome"]) for cv in doc["cvs"]]
    check(written == [("7", 12, "confirmed"), ("200a", 0, "confirmed")], written)
    held = receiver_cvs(os.path.join(tmp, "r"))
    check(held["7"] == 12 and held["200a"] == 0, held["7"], held["200a"])
    counts(doc, cvs_written=2, writes_confirmed=2, writes_unconfirmed=0)


def unconfirmed_case(tmp):
    """Every second verify fails: one write stays unconfirmed."""
    write(os.path.join(tmp, "p.txt"), b"CV 3 = 7\nCV 300 = 1\nCV 4a = b1010\n")
    code, out, err = run(["--json", "--verify", "--program", "p.txt", "sim:r?fail=2"], tmp)
    doc = document(code, out, err)
    check(code == 1, "exit code", code)
    outcomes = sorted(cv["outcome"] for cv in doc["cvs"])
    check(outcomes == ["confirmed", "unconfirmed"], outcomes)
    check("nicht best\u00e4tigt!" in err, "the unconfirmed write is on stderr:", err)
    counts(doc, cvs_written=2, writes_confirmed=1, writes_unconfirmed=1, lines_refused=1)


def backup_case(tmp):
    write(os.path.join(tmp, "p.txt"), b"CV 7a = 12\nCV 3 = 99\n")
    run(["--program", "p.txt", "sim:r"], tmp)  # known values first
    write(os.path.join(tmp, "q.txt"), b"CV 7a = 13\nCV 3 = 98\n")
    doc = document(*run(["--json", "--program", "q.txt", "--backup", "old.txt", "sim:r"], tmp))
    check(doc["job"]["backup"] == "old.txt", doc["job"])
    seen = [(cv["action"], cv["name"], cv.get("value"), cv.get("written_value"), cv["outcome"])
            for cv in doc["cvs"]]
    check(seen == [("backup", "7a", 12, None, "read"), ("backup", "3", 99, None, "read"),
                   ("write", "7a", None, 13, "written"), ("write", "3", None, 98, "written")],
          seen)
    counts(doc, cvs_backed_up=2, cvs_written=2, writes_confirmed=None)


def compare_case(tmp):
    write(os.path.join(tmp, "p.txt"), b"CV 3 = 7\nCV 4a = 10\n")
    run(["--program", "p.txt", "sim:r"], tmp)
    write(os.path.join(tmp, "c.txt"), b"CV 3 = 7\nCV 4a = 11\nCV 5 = 1\nhallo\n")
    code, out, err = run(["--json", "--compare", "c.txt", "sim:r"], tmp)
    doc = document(code, out, err)
    check(code == 1, "exit code", code)
    held = receiver_cvs(os.path.join(tmp, "r"))
    for cv in doc["cvs"]:
        check(cv["action"] == "compare" and cv["value"] == held[cv["name"]], cv)
    seen = [(cv["name"], cv["file_value"], cv["outcome"]) for cv in doc["cvs"]]
    check(seen == [("3", 7, "same"), ("4a", 11, "differs"),
                   ("5", 1, "same" if held["5"] == 1 else "differs")], seen)
    check("Datei  11" in err, "the difference is on stderr:", err)
    same = sum(cv["outcome"] == "same" for cv in doc["cvs"])
    counts(doc, cvs_compared=3, cvs_same=same, cvs_differed=3 - same, read_failures=0,
           lines_refused=1)


def line_test_case(tmp):
    doc = document(*run(["--json", "--line-test", "sim:r"], tmp))
    check(doc["job"]["name"] == "line-test" and doc["job"]["file"] is None, doc["job"])
    check(doc["cvs"] == [] and line_verdicts(doc) == ["serves"], doc)
    check(doc["line_checks"][0]["answers"] == 150, doc["line_checks"])
    check(doc["line_checks"][0]["median_us"] == 1000, doc["line_checks"])


def line_refused_case(tmp):
    """A line that does not serve: nothing read, exit 1, what it found."""
    for option, verdict in (("absent", "silent"), ("stuck", "stuck")):
        code, out, err = run(["--json", "--read-out", "cvs.txt", "sim:r?" + option], tmp)
        doc = document(code, out, err)
        check(code == 1 and doc["cvs"] == [], code, doc["cvs"])
        check(line_verdicts(doc) == [verdict], option, doc["line_checks"])
        check("Leitung unbrauchbar" in err, err)


def read_failure_case(tmp):
    """Answers up to 40 ms late (the generator's first seed): CV 2 is not
    read, the line's checks that follow find it no longer serves."""
    write(os.path.join(tmp, "c.txt"), b"CV 1 = 0\nCV 2 = 1\nCV 3 = 2\n")
    code, out, err = run(["--json", "--compare", "c.txt", "sim:r?jitter=40000,seed=1"], tmp)
    doc = document(code, out, err)
    check(code == 1, "exit code", code)
    seen = [(cv["name"], cv["value"], cv["outcome"]) for cv in doc["cvs"]]
    check(seen == [("1", 0, "same"), ("2", None, "read_failed")], seen)
    check("CV   2: Lesefehler!" in err, err)
    verdicts = line_verdicts(doc)
    check(len(verdicts) > 1 and verdicts[0] == "serves" and verdicts[-1] == "no_confirm",
          verdicts)
    check(doc["line_checks"][-1]["max_us"] <= 40000, doc["line_checks"])
    counts(doc, cvs_compared=2, cvs_same=1, read_failures=1)


def port_fails_case(tmp):
    write(os.path.join(tmp, "c.txt"), b"CV 3 = 2\nCV 4a = 252\nCV 5 = 4\n")
    code, out, err = run(["--json", "--compare", "c.txt", "sim:r?unplug=230"], tmp)
    doc = document(code, out, err)
    check(code == 4 and len(doc["cvs"]) == 1, code, doc["cvs"])
    check("Schreibfehler" in err, err)


def no_file_case(tmp):
    """Ends before the port: still one document, with the exit code."""
    code, out, err = run(["--json", "--program", "none.txt", "sim:r"], tmp)
    doc = document(code, out, err)
    check(code == 3 and doc["cvs"] == [] and doc["line_checks"] == [], code, doc)
    check("none.txt" in err, err)
    code, out, err = run(["--json", "--read-out", "x.txt", "sim:r?nonsense"], tmp)
    doc = document(code, out, err)
    check(code == 99 and doc["port"] == "sim:r?nonsense", code, doc["port"])


def unwritable_case(tmp):
    """A document that cannot be written (a full disk) is said on standard
    error, and the exit code is no longer the job's success."""
    write(os.path.join(tmp, "c.txt"), b"CV 3 = 7\n")
    write(os.path.join(tmp, "many.txt"), b"".join(b"CV %d = 1\n" % n for n in range(1, 101)))
    env = dict(os.environ, ORN_HOME="1", ORN_VIRTUAL_CLOCK="1")
    for args, job_code, code in ((["--program", "c.txt"], 0, 3),
                                 (["--compare", "c.txt"], 0, 3),
                                 (["--program", "many.txt"], 4, 4)):
        port = "sim:r?unplug=230" if job_code == 4 else "sim:r"
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([TARVEL, "--json", *args, port], stdin=subprocess.DEVNULL,
                                  stdout=full, stderr=subprocess.PIPE, cwd=tmp, env=env,
                                  timeout=120)
        err = proc.stderr.decode("utf-8", "replace")
        check(proc.returncode == code, args, job_code, "ended with", proc.returncode, err)
        check("Standardausgabe: No space left on device" in err, err)
        check("(Exit-Code %d)" % job_code in err, err)


def usage_case(tmp):
    """--json needs a job; without --json nothing of it shows."""
    for args in (["--json", "sim:r"], ["--json", "--check", "--compare", "c.txt"]):
        code, out, err = run(args, tmp)
        check(code == 9 and out == b"", args, code, out)
        check("--json" in err, err)
    write(os.path.join(tmp, "c.txt"), b"CV 3 = 7\n")
    code, out, _ = run(["--compare", "c.txt", "sim:r"], tmp)
    check(not out.startswith(b"{") and b"CVs verglichen" in out, out)
    code, out, _ = run(["--json", "--help"], tmp)
    check(code == 0 and b"--json" in out and not out.startswith(b"{"), out)


# Names as bytes, and what the document must give back for them.
NAMES = [
    (b'quote".txt', 'quote".txt'),
    (b"back\\slash.txt", "back\\slash.txt"),
    (b"tab\tnew\nline\x01\x1f\x7f.txt", "tab\tnew\nline\x01\x1f\x7f.txt"),
    ("Gr\u00fc\u00dfe \u20ac \U0001F600.txt".encode(), "Gr\u00fc\u00dfe \u20ac \U0001F600.txt"),
    # Bytes that form no UTF-8 are taken as Latin-1.
    (b"M\xfcller \xc3.txt", "M\u00fcller \u00c3.txt"),
    (b"\xed\xa0\x80 \xc0\xaf.txt", "\u00ed\u00a0\u0080 \u00c0\u00af.txt"),
]


def names_case(tmp):
    for raw, expected in NAMES:
        write(os.path.join(tmp.encode(), raw), b"CV 3 = 7\n")
        port = b"sim:" + raw + b".r"
        code, out, err = run([b"--json", b"--compare", raw, port], tmp)
        doc = document(code, out, err)
        check(doc["job"]["file"] == expected, raw, doc["job"]["file"])
        check(doc["port"] == "sim:" + expected + ".r", raw, doc["port"])
        check(max(out) < 0x80, "not ASCII:", out)


def signal_case(tmp):
    """Ended by a signal midway: standard output holds nothing."""
    env = dict(os.environ, ORN_HOME="1")
    proc = subprocess.Popen([TARVEL, "--json", "--read-out", "cvs.txt", "sim:r"], cwd=tmp,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    # Past the 2 s reset and the wake, into the reads.
    seen = b""
    deadline = time.monotonic() + 60
    while b"sollte kurz hupen" not in seen and time.monotonic() < deadline:
        if select.select([proc.stderr], [], [], 1)[0]:
            seen += os.read(proc.stderr.fileno(), 4096)
    time.sleep(0.5)
    proc.send_signal(signal.SIGTERM)
    out, err = proc.communicate(timeout=60)
    # Ended by the signal itself, after the clean-up (the shell's 143).
    check(proc.returncode == -signal.SIGTERM, "not ended by the signal:", proc.returncode, err)
    check(b"sollte kurz hupen" in seen, "the job did not start:", seen)
    check(out == b"", "stdout holds:", out)


CASES = {name[:-5]: f for name, f in globals().items() if name.endswith("_case")}


def main():
    global TARVEL
    case, TARVEL = sys.argv[1], os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        try:
            CASES[case](tmp)
        except Failure as failure:
            print("FAIL:", case, failure)
            return 1
    print("ok:", case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
