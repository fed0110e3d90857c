#!/usr/bin/python3
"""Ombrel against quenta-sim when things go wrong, end to end and bounded.

device_lost: the simulator is killed in the middle of a test protocol. Ombrel must
report the failed call, keep in the protocol file everything written before the
failure, hang nowhere, and stay usable until it ends normally.

hostile_input: a table of hostile command lines and prompt replies (huge numbers, NaN,
text, very long file names, names in missing directories), each with the exact output
and exit code expected.

Usage: ombrel_reliability.py --ombrel PATH --sim PATH GROUP
"""

import argparse
import os
import pty
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

STEP_WAIT = 15.0  # seconds any awaited output may take

OPENED = "Communication port opened\n"
HINT = "Press '?' for help\n"
CLOSED = "Communication port closed\nProgram finished\n"
USAGE_START = "ombrel ver. 1.20, compilation date: "
USAGE_LINE = "Usage: ombrel COMNumber [switches]\n"
HELP_FIRST = "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,\n"
ERROR_REPORT = r"Error at (TELVAR_\w+): [A-Za-z][^,\n]*, I/O Error Message: [^\n]+\n"
WRONG_ARGUMENT = ("Error at TELVAR_Set_Amplitude: Wrong argument passed to the function, "
                  "I/O Error Message: No error\n")
PROTOCOL_HEADER = ("Amplitude\tAmplitude 1\tAmplitude 2\tDrain Voltage\tFrequency\tHeatsink "
                   "Temperature\tCoil Temperature\tVoltage\tCurrent\tHeatsink Temperature\n")


class Failure(Exception):
    pass


class Simulator:
    """quenta-sim on a free loopback port."""

    def __init__(self, path):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([path, "--listen", "127.0.0.1:0"],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.log)
        deadline = time.monotonic() + STEP_WAIT
        while True:
            self.log.seek(0)
            found = re.search(rb"listening on 127\.0\.0\.1:(\d+)", self.log.read())
            if found:
                self.url = "rfc2217://127.0.0.1:%d" % int(found.group(1))
                return
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.kill()
                raise Failure("quenta-sim did not start")
            time.sleep(0.02)

    def kill(self):
        """Gone at once, the way a device is pulled out: no goodbye on the line."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait(timeout=STEP_WAIT)


class Ombrel:
    """One run of ombrel, its output read as it comes; stdin a pipe or a terminal."""

    def __init__(self, path, args, url, cwd, terminal=False, stdin_bytes=None):
        env = dict(os.environ, TELVAR_COM3=url)
        self.output = b""
        self.master = None
        if terminal:
            self.master, slave = pty.openpty()
            self.process = subprocess.Popen([path, *args], stdin=slave, stdout=slave,
                                            stderr=slave, cwd=cwd, env=env, close_fds=True)
            os.close(slave)
            self.out = self.master
        else:
            self.process = subprocess.Popen([path, *args], stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                            cwd=cwd, env=env)
            self.out = self.process.stdout.fileno()
            if stdin_bytes is not None:
                self.send(stdin_bytes)
                self.process.stdin.close()

    def send(self, data):
        if self.master is not None:
            os.write(self.master, data)
        else:
            self.process.stdin.write(data)
            self.process.stdin.flush()

    def text(self):
        return self.output.decode("latin-1").replace("\r\n", "\n")

    def read_some(self, timeout):
        ready, _, _ = select.select([self.out], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(self.out, 65536)
        except OSError:  # a terminal whose program has ended
            chunk = b""
        self.output += chunk
        return bool(chunk)

    def expect(self, pattern, wait=STEP_WAIT):
        """Waits until the output so far matches pattern (a regex); returns the match."""
        deadline = time.monotonic() + wait
        while True:
            found = re.search(pattern, self.text())
            if found:
                return found
            left = deadline - time.monotonic()
            if left <= 0 or (not self.read_some(left) and self.process.poll() is not None):
                raise Failure("expected %r, output so far:\n%s" % (pattern, self.text()))

    def finish(self, wait=STEP_WAIT):
        """All output and the exit code, within the bound."""
        deadline = time.monotonic() + wait
        while self.read_some(max(0.0, deadline - time.monotonic())):
            pass
        try:
            code = self.process.wait(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure("ombrel did not end; output:\n" + self.text())
        while self.read_some(0.05):
            pass
        return code

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.master is not None:
            os.close(self.master)


def read_file(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def check_partial_protocol(path, console, last_section):
    """The file holds the complete protocol up to the failure and nothing after it."""
    text = read_file(path)
    if not text.startswith("Test protocol created at ") or not text.endswith("\n"):
        raise Failure("protocol file cut or missing its start:\n" + text)
    for marker in ("Testing finished", "Test protocol finished"):
        if marker in text:
            raise Failure("protocol file goes on past the failure:\n" + text)
    # The identity as the console showed it.
    for key in ("Product number: ", "Product identification: ", "Firmware version: "):
        shown = re.search(re.escape(key) + r"[^\n]*\n", console)
        if not shown or shown.group(0) not in text:
            raise Failure("%r missing from the file:\n%s" % (key, text))
    if last_section not in text:
        raise Failure("%r missing from the file:\n%s" % (last_section, text))
    return text


def group_device_lost(options, workdir):
    # Killed while the housekeeping readings are taken, by switch.
    sim = Simulator(options.sim)
    run = Ombrel(options.ombrel, ["3", "-x", "housekeeping.txt", "0", "20", "10", "1", "-T"],
                 sim.url, workdir, stdin_bytes=b"")
    try:
        run.expect(r"Device uptime: [^\n]*\n")
        time.sleep(1.5)
        sim.kill()
        found = run.expect(ERROR_REPORT)
        if found.group(1) != "TELVAR_Get_HousekeepingData":
            raise Failure("error report for %s, expected the housekeeping" % found.group(1))
        code = run.finish()
        console = run.text()
        if code != 0 or not console.endswith(CLOSED) or "Test protocol finished" in console:
            raise Failure("exit %d, output:\n%s" % (code, console))
        text = check_partial_protocol(os.path.join(workdir, "housekeeping.txt"), console,
                                      "\nDevice uptime: ")
        if "Housekeeping data:" in text:
            raise Failure("housekeeping block written for a failed reading:\n" + text)
    finally:
        run.close()
        sim.kill()
    print("killed during the housekeeping readings: reported, file kept, normal end")

    # Killed during the amplitude sweep of a protocol started by key; the loop then goes
    # on, reports the next failures and ends on Esc.
    sim = Simulator(options.sim)
    run = Ombrel(options.ombrel, ["3"], sim.url, workdir)
    try:
        run.expect(re.escape(OPENED + HINT))
        run.send(b"xsweep.txt\n0\n20\n10\n5\n")
        run.expect(r"Testing RF amplitude:\n", wait=30)
        run.expect(r"Setting RF amplitude: [^\n]*\n")
        time.sleep(0.5)
        sim.kill()
        found = run.expect(ERROR_REPORT)
        if found.group(1) not in ("TELVAR_Set_Amplitude", "TELVAR_Get_RFGData",
                                  "TELVAR_Get_PowerData"):
            raise Failure("error report for %s during the sweep" % found.group(1))
        check_partial_protocol(os.path.join(workdir, "sweep.txt"), run.text(),
                               "\nTesting RF amplitude:\n" + PROTOCOL_HEADER)
        mark = len(run.text())
        run.send(b"?")
        run.expect(re.escape(HELP_FIRST))
        run.send(b"a")
        if run.expect(ERROR_REPORT.replace("(TELVAR_\\w+)", "(TELVAR_Get_Amplitude)")).start() < mark:
            raise Failure("no error report for the key pressed after the loss")
        run.send(b"\x1b")
        run.expect(re.escape(CLOSED))
        code = run.finish()
        if code != 0 or "Test protocol finished" in run.text():
            raise Failure("exit %d, output:\n%s" % (code, run.text()))
    finally:
        run.close()
        sim.kill()
    print("killed during the sweep: reported, file kept, keys still work, Esc ends")


# (arguments, exit code, expected output as a regex of the whole output)
# The usage screen alone: the device is not even opened.
USAGE = (r"(?!.*Communication port)" + re.escape(USAGE_START) + r".*" + re.escape(USAGE_LINE) +
         r".*")

# (arguments, exit code, expected output as a regex of the whole output)
COMMAND_LINES = [
    (["99999999999999999999"], 255, USAGE),
    (["3", "-A", "volts", "-T"], 255, USAGE),
    (["3", "-A"], 255, USAGE),
    (["3", "-E", "maybe", "-T"], 255, USAGE),
    (["3", "-A", "1e400", "-T"], 0, re.escape(OPENED + WRONG_ARGUMENT + CLOSED)),
    (["3", "-A", "nan", "-T"], 0, re.escape(OPENED + WRONG_ARGUMENT + CLOSED)),
    (["3", "-A", "-inf", "-T"], 0, re.escape(OPENED + WRONG_ARGUMENT + CLOSED)),
    (["3", "-A", "1e300", "-T"], 0,
     re.escape(OPENED) + r"RF amplitude set to \d+\.\dV\n" + re.escape(CLOSED)),
    (["3", "-W", "0", "1", "nan", "-T"], 0,
     re.escape(OPENED + "Wrong period specified: nan, must be >= 0.ls\n" + CLOSED)),
    (["3", "-W", "0", "1", "-1e308", "-T"], 0,
     re.escape(OPENED) + r"Wrong period specified: -1\d{308}\.0, must be >= 0\.ls\n" +
     re.escape(CLOSED)),
    (["3", "-x", "/nonexistent/dir/p.txt", "0", "1", "1", "0", "-T"], 0,
     re.escape(OPENED + "Cannot open the data file /nonexistent/dir/p.txt\n" + CLOSED)),
    (["3", "-x", "n" * 5000, "0", "1", "1", "0", "-T"], 0,
     re.escape(OPENED + "Cannot open the data file " + "n" * 5000 + "\n" + CLOSED)),
    (["3", "-x", "nan.txt", "nan", "nan", "nan", "nan", "-T"], 0,
     re.escape(OPENED) + r"Test protocol created at .*\nTesting RF amplitude:\n"
     r"Testing finished\n.*Test protocol finished\n" + re.escape(CLOSED)),
    (["-3", "-T"], 254,
     re.escape("Wrong COMNumber specified: -3, allowed range: 1..255\nError opening the port\n")),
    (["3", "-T", "-J", "\xff"], 0, re.escape(OPENED + CLOSED)),
]

# (keys and lines on standard input, expected output after the greeting, as a regex)
PROMPT_REPLIES = [
    (b"Anan\n", re.escape("Enter the new RF amplitude in V: " + WRONG_ARGUMENT)),
    (b"A1e999\n", re.escape("Enter the new RF amplitude in V: " + WRONG_ARGUMENT)),
    (b"Avolts\n", re.escape("Enter the new RF amplitude in V: Invalid input: not a number\n")),
    (b"A\n", re.escape("Enter the new RF amplitude in V: Invalid input: not a number\n")),
    # A number longer than the reply line: refused, not cut into another number.
    (b"A" + b"9" * 100000 + b"\n",
     re.escape("Enter the new RF amplitude in V: Invalid input: too long\n")),
    (b"A", re.escape("Enter the new RF amplitude in V: \nInvalid input: end of input\n")),
    (b"E99999999999\n", re.escape("Enter the new RF state (0 for off, 1 for on): "
                                  "Invalid input: not a number\n")),
    (b"E-1\n", re.escape("Enter the new RF state (0 for off, 1 for on): ")),
    (b"w0\n1\nnan\n", re.escape("Enter the minimum RF amplitude in V: Enter the maximum RF "
                                "amplitude in V: Enter the period in s: Wrong period "
                                "specified: nan, must be >= 0.ls\n")),
    (b"x" + b"f" * 300 + b"\n0\n1\n1\n0\n",
     re.escape("Enter the filename for the test protocol: Invalid input: file name longer "
               "than 259 characters\n")),
    (b"xmissing/dir/p.txt\n0\n1\n1\n0\n",
     re.escape("Enter the filename for the test protocol: Enter the minimum RF amplitude in V: "
               "Enter the maximum RF amplitude in V: Enter the RF amplitude step in V: "
               "Enter the step duration in s: Cannot open the data file missing/dir/p.txt\n")),
    (b"\x00\x00\x00\xff\xfe\x01\x7f\x1b[99~\x1b", r""),
]


def group_hostile_input(options, workdir):
    sim = Simulator(options.sim)
    failures = []
    try:
        for args, exit_code, pattern in COMMAND_LINES:
            run = Ombrel(options.ombrel, args, sim.url, workdir, stdin_bytes=b"")
            try:
                code = run.finish(wait=30)
                if code != exit_code or not re.fullmatch(pattern, run.text(), re.S):
                    failures.append("%s: exit %d, output:\n%s" % (args[:4], code, run.text()))
            finally:
                run.close()
        for stdin_bytes, pattern in PROMPT_REPLIES:
            run = Ombrel(options.ombrel, ["3"], sim.url, workdir, stdin_bytes=stdin_bytes)
            try:
                code = run.finish()
                expected = re.escape(OPENED + HINT) + pattern + re.escape(CLOSED)
                if code != 0 or not re.fullmatch(expected, run.text(), re.S):
                    failures.append("%r: exit %d, output:\n%s" % (stdin_bytes[:40], code,
                                                                  run.text()))
            finally:
                run.close()

        # A period of 1e300 s: the cycle waits for Space, which a terminal can give.
        run = Ombrel(options.ombrel, ["3", "-W", "0", "1", "1e300"], sim.url, workdir,
                     terminal=True)
        try:
            run.expect(re.escape("Press SPACE to stop...\nRF amplitude: 1.0V\n"))
            run.send(b" ")
            run.expect(re.escape("Cycle stopped\n"))
            run.send(b"\x1b")
            run.expect(re.escape(CLOSED))
            if run.finish() != 0:
                failures.append("huge period: exit code " + str(run.process.returncode))
        except Failure as failure:
            failures.append("huge period: " + str(failure))
        finally:
            run.close()
    finally:
        sim.kill()
    if failures:
        raise Failure("\n\n".join(failures))
    print("%d hostile command lines, %d hostile replies and a huge period: as expected" %
          (len(COMMAND_LINES), len(PROMPT_REPLIES)))


GROUPS = {"device_lost": group_device_lost, "hostile_input": group_hostile_input}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ombrel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    options = parser.parse_args()
    # Runs happen in a scratch folder.
    options.ombrel = os.path.abspath(options.ombrel)
    options.sim = os.path.abspath(options.sim)
    with tempfile.TemporaryDirectory(prefix="ombrel-reliability-") as workdir:
        try:
            GROUPS[options.group](options, workdir)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
