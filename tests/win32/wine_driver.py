#!/usr/bin/env python3
"""Runs Windows test programs of the cross build under Wine with a Linux-side peer.

  serial  RUNNER BUILD_DIR PROGRAM   a pty echo peer linked into Wine as COM41, the
                                     program gets its name in QUENTA_TEST_PORT
  console RUNNER BUILD_DIR PROGRAM   the console probe in a pty, typed at
  redirected RUNNER BUILD_DIR PROGRAM  the console probe with keys from a pipe and a file
  ombrel  RUNNER BUILD_DIR PROGRAM   ombrel.exe: usage, exit codes, a port that opens
                                     but whose modem lines Wine cannot drive

RUNNER is the Wine wrapper (cmake/wine-run.sh). Every wait is bounded.
"""

import os
import select
import subprocess
import sys
import tempfile
import threading
import time
import tty

TIMEOUT = 60


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


class PtyPort:
    """A pty whose slave Wine sees as COM<number>; echoes what the program writes."""

    def __init__(self, build_dir, number):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        devices = os.path.join(build_dir, "wine-prefix", "dosdevices")
        os.makedirs(devices, exist_ok=True)
        self.link = os.path.join(devices, "com%d" % number)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        self.received = bytearray()
        self.running = True
        self.thread = threading.Thread(target=self._echo, daemon=True)
        self.thread.start()

    def _echo(self):
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                return
            self.received += data
            os.write(self.master, data)

    def close(self):
        self.running = False
        self.thread.join(timeout=5)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.close(self.master)
        os.close(self.slave)


def run(runner, program, args, **kwargs):
    return subprocess.run([runner, program] + args, timeout=TIMEOUT, **kwargs)


def serial(runner, build_dir, program):
    port = PtyPort(build_dir, 41)
    try:
        env = dict(os.environ, QUENTA_TEST_PORT=r"\\.\COM41")
        result = run(runner, program, [], env=env)
    finally:
        port.close()
    if result.returncode != 0:
        fail("%s exited with %d" % (program, result.returncode))


def read_report(path):
    try:
        with open(path, encoding="ascii", errors="replace") as report:
            return report.read().splitlines()
    except FileNotFoundError:
        return []


def wait_for(path, predicate, what):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        lines = read_report(path)
        if predicate(lines):
            return lines
        time.sleep(0.05)
    fail("timed out waiting for %s; report so far: %r" % (what, read_report(path)))


def check_report(lines, expected):
    if lines != expected:
        fail("report differs\n  expected: %r\n  got:      %r" % (expected, lines))


def console(runner, build_dir, program):
    del build_dir
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.txt")
        master, slave = os.openpty()
        process = subprocess.Popen([runner, program, report], stdin=slave, stdout=slave,
                                   stderr=slave, start_new_session=True)
        os.close(slave)
        output = bytearray()

        def drain():
            while True:
                ready, _, _ = select.select([master], [], [], 0.05)
                if ready:
                    try:
                        data = os.read(master, 4096)
                    except OSError:
                        return
                    if not data:
                        return
                    output.extend(data)
                elif process.poll() is not None:
                    return

        reader = threading.Thread(target=drain, daemon=True)
        reader.start()
        try:
            wait_for(report, lambda lines: any(l.startswith("ready") for l in lines), "ready")
            # Each step: what is typed, and how many report lines it adds. Wine's
            # terminal input passes an escape sequence on only when the next byte
            # arrives (a lone Esc too), so every sequence is followed by a plain key.
            steps = [
                (b"a", 1),
                (b"\x1b[A" b"b", 3),       # Up
                (b"\x1b[B" b"b", 3),       # Down
                (b"\x1b[D" b"b", 3),       # Left
                (b"\x1b[C" b"b", 3),       # Right
                (b"\x1b[5~" b"b", 3),      # PgUp
                (b"\x1b[6~" b"b", 3),      # PgDn
                (b"\x1b[5;3~" b"b", 3),    # Alt+PgUp
                (b"\x1b[6;3~" b"b", 3),    # Alt+PgDn
                (b"\x1b[6;5~" b"b", 3),    # Ctrl+PgDn
                (b"\r", 1),
                (b" ", 1),
                (b"L", 1),
                (b"hello\r", 1),
                (b"L", 1),
                (b"0123456789\r", 1),
                (b"\x1b\x1b", 1),
            ]
            count = len(read_report(report))
            for keys, added in steps:
                os.write(master, keys)
                count += added
                wait_for(report, lambda lines, n=count: len(lines) >= n, repr(keys))
            process.wait(timeout=TIMEOUT)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            reader.join(timeout=5)
            os.close(master)
        check_report(read_report(report), [
            "cursor 1 1 1", "cursor 1 9 1", "cursor 1 3 1", "ready 0",
            "key 97",
            "key 0", "key 72", "key 98", "key 0", "key 80", "key 98",
            "key 0", "key 75", "key 98", "key 0", "key 77", "key 98",
            "key 0", "key 73", "key 98", "key 0", "key 81", "key 98",
            "key 0", "key 153", "key 98", "key 0", "key 161", "key 98",
            "key 0", "key 118", "key 98",
            "key 13", "key 32",
            "key 76", "line 1 0 [hello]",
            "key 76", "line 1 1 [0123456]",
            "key 27",
        ])
        if process.returncode != 0:
            fail("probe exited with %d" % process.returncode)


def redirected(runner, build_dir, program):
    del build_dir
    keys = b"ab\r\nL" + b"hello\r\n" + b"L0123456789\n" + b"z"
    expected = [
        "cursor 0 0 0", "cursor 0 0 0", "cursor 0 0 0",
        "key 97", "key 98", "key 13",
        "key 76", "line 1 0 [hello]",
        "key 76", "line 1 1 [0123456]",
        "key 122", "ended",
    ]
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.txt")
        # Through a pipe, while the writer is still there for a moment.
        process = subprocess.Popen([runner, program, report], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL)
        process.stdin.write(keys)
        process.stdin.flush()
        time.sleep(0.5)
        process.stdin.close()
        process.wait(timeout=TIMEOUT)
        lines = read_report(report)
        check_report([l for l in lines if not l.startswith("ready")], expected)
        # From a file.
        keys_file = os.path.join(work, "keys.txt")
        with open(keys_file, "wb") as f:
            f.write(keys)
        with open(keys_file, "rb") as stdin:
            run(runner, program, [report], stdin=stdin, stdout=subprocess.DEVNULL)
        lines = read_report(report)
        check_report([l for l in lines if not l.startswith("ready")], expected)


def ombrel(runner, build_dir, program):
    def expect(args, code, output, work, stdin=subprocess.DEVNULL):
        result = run(runner, program, args, cwd=work, stdin=stdin, stdout=subprocess.PIPE)
        text = result.stdout.decode("ascii", "replace").replace("\r\n", "\n")
        if result.returncode != code:
            fail("ombrel %s: exit code %d, expected %d; output:\n%s"
                 % (" ".join(args), result.returncode, code, text))
        if output not in text:
            fail("ombrel %s: %r not in output:\n%s" % (" ".join(args), output, text))
        return text

    with tempfile.TemporaryDirectory() as work:
        # Exit codes -1 and -2 arrive as 255 and 254.
        text = expect([], 255, "ombrel ver. 1.20, compilation date: ", work)
        if "\n\nTest utility for QUENTA devices\n\nUsage: ombrel COMNumber [switches]\n" \
                not in text:
            fail("usage screen:\n" + text)
        expect(["COM3"], 255, "Usage: ombrel COMNumber [switches]\n", work)
        expect(["0", "-T"], 254,
               "Wrong COMNumber specified: 0, allowed range: 1..255\nError opening the port\n",
               work)
        # A port that opens: the Win32 backend opens and configures it, then fails on
        # the first modem-line call, which Wine cannot make on a pty.
        port = PtyPort(build_dir, 42)
        try:
            expect(["42", "-G", "-T"], 254, "Error opening the port\n", work)
        finally:
            port.close()
        with open(os.path.join(work, "Debug.txt"), encoding="ascii") as trace:
            log = trace.read()
        for line in ("COMPort::Control: Error setting the control lines of the port\n",
                     "COMPort::Open: Error setting the control lines of the port\n",
                     "PortNumber: 7, TELVAR_Open: Error opening the port as COM42\n"):
            if line not in log:
                fail("Debug.txt lacks %r:\n%s" % (line, log))


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    mode, runner, build_dir, program = sys.argv[1:]
    modes = {"serial": serial, "console": console, "redirected": redirected, "ombrel": ombrel}
    if mode not in modes:
        fail("unknown mode " + mode)
    modes[mode](runner, build_dir, program)


if __name__ == "__main__":
    main()
