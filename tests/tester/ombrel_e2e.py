#!/usr/bin/python3
"""End-to-end runs of ombrel against quenta-sim.

Each group is a table of cases: the arguments, the keys typed (in a pseudo-terminal)
or no input at all (standard input from /dev/null), and the exact output and exit
code, with measured values matched by pattern. Every wait is bounded.

Usage: ombrel_e2e.py --ombrel PATH --sim PATH GROUP
"""

import argparse
import errno
import fcntl
import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time

WAIT = 10.0  # seconds any one step may take before the case fails

USAGE = (
    "ombrel ver. 1.20, compilation date: <date>\n"
    "\n"
    "Test utility for QUENTA devices\n"
    "\n"
    "Usage: ombrel COMNumber [switches]\n"
    "  switch: { -option, /option }\n"
    "    options:\n"
    "      Q/q:  quiet mode,\n"
    "      G/g:  debug mode, G: additional I/O debug into Debug.txt,\n"
    "      B/b:  get device buffer status,      Z/z: purge communication,\n"
    "      U/u:  get uptime, U: continuous,     K/k: simulate the keypad,\n"
    "      L/l:  get display data, L: whole display at once,\n"
    "      D/d:  get firmware date,             V/v: get firmware version,\n"
    "      P/p:  get product identification,    N/n: get product number,\n"
    "      C/c:  get hardware capabilities,     H/h:  get housekeeping data\n"
    "      F/f:  get RF-generator data,         S/s: get power supply data,\n"
    "      I/i:  get interlock state,\n"
    "      A f:  set RF amplitude,              a:   get RF amplitude,\n"
    "      En b: set RF state,                  e:   get RF state,\n"
    "      W/w f f n: cycle the RF amplitude,\n"
    "      X/x s f f f f: create test protocol, X: pause after each voltage step,\n"
    "      T/t:  terminate the program,         ?: get this help\n"
    "    parameters: n=integer, f=float, b=Boolean (Y/N), s=string\n"
)

HELP = (
    "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,\n"
    "      'u','U' to get uptime, U: continuous,  'k','K' to simulate the keypad,\n"
    "      'l','L' to get display data, L: whole display at once,\n"
    "      'd','D' to get firmware date,          'v','V' to get firmware version,\n"
    "      'p','P' to get product identification, 'n','N' to get product number,\n"
    "      'c','C' to get hardware capabilities,  'h','H' to get housekeeping data,\n"
    "      'f','F' to get RF-generator data,      's','S' to get power supply data,\n"
    "      'i','I' to get interlock state,\n"
    "      'a','A' to get/set RF amplitude,       'e','E' to get/set RF state,\n"
    "      'w','W' to cycle the RF amplitude,\n"
    "      'x','X' to create test protocol, X: pause after each voltage step,\n"
    "      'q','Q' to set quiet mode off/on,\n"
    "      'Esc' to stop,                             '?' to get this help...\n"
)

OPENED = "Communication port opened\n"
HINT = "Press '?' for help\n"
CLOSED = "Communication port closed\nProgram finished\n"
DEBUG_OPEN = ("Checking the DLL Version...\nDLL Version: 1.20\n"
              "Opening the communication port...\n" + OPENED)
DEBUG_CLOSE = "Closing the communication port...\n" + CLOSED

# Measured values carry noise: numbers are matched by form.
N3 = r"-?\d+\.\d{3}"
N2 = r"-?\d+\.\d{2}"
HOUSEKEEPING = (r"Housekeeping data:\t12V: " + N3 + r"V\t5V: " + N3 + r"V\t3V: " + N3 +
                r"V\tCPU: " + N2 + r"degC\n")
RFG = (r"RF-generator data:\tAmplitudes: " + N3 + r"V, " + N3 + r"V\tDrain voltage: " + N3 +
       r"V\tFrequency: \d+\.\d{4}MHz\n\tHeatsink temperature: " + N2 +
       r"degC\tCoil temperature: " + N2 + r"degC\n")
POWER = (r"Power supply data:\tVoltage: " + N3 + r"V\tCurrent: " + N3 + r"A\tHeatsink: " +
         N2 + r"degC\n")
# An error report: the label, then the library's status text and the port's text.
ERROR_REPORT = r"Error at {label}: [A-Za-z][^,\n]*, I/O Error Message: [^\n]+\n"


class Failure(Exception):
    pass


def literal(text):
    return re.escape(text)


def normalise(raw):
    text = raw.decode("latin-1").replace("\r\n", "\n")
    # The compilation date varies with the build.
    return re.sub(r"compilation date: [A-Z][a-z]{2} [ 0-9]\d \d{4}", "compilation date: <date>",
                  text)


class Simulator:
    """quenta-sim on a free loopback port, its log in a file."""

    def __init__(self, path, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="quenta-sim-", suffix=".log")
        self.process = subprocess.Popen([path, "--listen", "127.0.0.1:0", *options],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.log)
        deadline = time.monotonic() + WAIT
        while True:
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", self.log_text())
            if found:
                self.port = int(found.group(1))
                break
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise Failure("quenta-sim did not start: " + self.log_text())
            time.sleep(0.01)

    def url(self):
        return "rfc2217://127.0.0.1:%d" % self.port

    def log_text(self):
        with open(self.log.name, "r", errors="replace") as f:
            return f.read()

    def connections(self):
        return self.log_text().count(" connected")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def free_port():
    """A loopback port with nothing listening on it."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Runner:
    def __init__(self, ombrel, sim):
        self.ombrel = ombrel
        self.sim_path = sim
        self.failures = []
        self.cases = 0

    def environment(self, urls):
        env = dict(os.environ)
        for name in list(env):
            if name.startswith("TELVAR_COM"):
                del env[name]
        for com, url in urls.items():
            env["TELVAR_COM%d" % com] = url
        return env

    def check(self, name, function):
        self.cases += 1
        try:
            function()
            print("ok   " + name)
        except Failure as failure:
            self.failures.append(name)
            print("FAIL " + name + "\n     " + str(failure).replace("\n", "\n     "))

    # ---- Runs without a terminal -------------------------------------------------------

    def run_plain(self, arguments, urls, cwd=None):
        try:
            done = subprocess.run([self.ombrel, *arguments], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  env=self.environment(urls), cwd=cwd, timeout=WAIT)
        except subprocess.TimeoutExpired:
            raise Failure("no end within %g s" % WAIT)
        return done.returncode, normalise(done.stdout)

    def expect_plain(self, arguments, urls, exit_code, pattern, cwd=None):
        code, output = self.run_plain(arguments, urls, cwd)
        if code != exit_code or not re.fullmatch(pattern, output):
            raise Failure("ombrel %s\nexit %d, expected %d\noutput:\n%r\nexpected (pattern):\n%r"
                          % (" ".join(arguments), code, exit_code, output, pattern))
        return output

    # ---- Runs in a pseudo-terminal -------------------------------------------------------

    def start_terminal(self, arguments, urls):
        return Terminal([self.ombrel, *arguments], self.environment(urls))


class Terminal:
    """ombrel on a pseudo-terminal that is its controlling terminal, so that Ctrl+C and
    the cursor query work as at a console. Answers cursor queries like a terminal."""

    def __init__(self, command, env):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
        self.before = termios.tcgetattr(self.slave)
        self.process = subprocess.Popen(command, stdin=self.slave, stdout=self.slave,
                                        stderr=self.slave, env=env, start_new_session=True,
                                        preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        self.output = b""
        self.seen = 0  # output up to here was matched already
        self.column = 1

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.master, 65536)
        except OSError as e:
            if e.errno == errno.EIO:  # the program has gone and the terminal with it
                return False
            raise
        for query in re.finditer(rb"\x1b\[6n", data):
            # Column after the text before the query on its line.
            before = (self.output + data[:query.start()]).rsplit(b"\n", 1)[-1]
            before = re.sub(rb"\x1b\[[0-9;]*[A-Za-z]", b"", before).rsplit(b"\r", 1)[-1]
            os.write(self.master, b"\x1b[12;%dR" % (len(before) + 1))
        self.output += data
        return True

    def send(self, keys):
        os.write(self.master, keys)

    def expect(self, pattern, wait=WAIT):
        """Waits until the new output matches pattern (a regex on normalised text) at its
        start; what matched is consumed."""
        deadline = time.monotonic() + wait
        while True:
            text = normalise(self.output[self.seen:])
            found = re.match(pattern, text)
            if found:
                consumed = found.group(0)
                # Map the consumed normalised text back to raw bytes.
                raw = self.output[self.seen:]
                taken = 0
                while normalise(raw[:taken]) != consumed and taken < len(raw):
                    taken += 1
                self.seen += taken
                return consumed
            left = deadline - time.monotonic()
            if left <= 0 or (not self._read(min(left, 0.1)) and self.process.poll() is not None
                             and not self._read(0)):
                raise Failure("expected (pattern):\n%r\ngot:\n%r" % (pattern, text))

    def expect_quiet(self, wait=0.3):
        """Nothing more is printed for a while."""
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            self._read(deadline - time.monotonic())
        text = normalise(self.output[self.seen:])
        if text:
            raise Failure("expected no output, got %r" % text)

    def finish(self, exit_code, rest=""):
        deadline = time.monotonic() + WAIT
        while self.process.poll() is None and time.monotonic() < deadline:
            self._read(0.05)
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
            raise Failure("no end within %g s; output %r" % (WAIT, normalise(self.output)))
        while self._read(0.05):
            pass
        left = normalise(self.output[self.seen:])
        if not re.fullmatch(rest, left):
            raise Failure("unexpected output at the end: %r" % left)
        if self.process.returncode != exit_code:
            raise Failure("exit %d, expected %d" % (self.process.returncode, exit_code))
        after = termios.tcgetattr(self.slave)
        # iflag, oflag, lflag and the control characters as they were.
        if after[0] != self.before[0] or after[1] != self.before[1] or \
                after[3] != self.before[3] or after[6] != self.before[6]:
            raise Failure("terminal not restored: before %r, after %r" % (self.before, after))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)


# ---- Groups ------------------------------------------------------------------------------

def group_command_line(runner):
    sim = Simulator(runner.sim_path)
    try:
        urls = {3: sim.url(), 44: sim.url()}
        usage = literal(USAGE)
        # (arguments, exit code, output pattern, connects)
        cases = [
            ([], 255, usage, False),
            (["COM3"], 255, usage, False),
            (["3", "-?"], 255, usage, False),
            (["3", "-A"], 255, usage, False),
            (["3", "-A", "volts"], 255, usage, False),
            (["3", "-E", "yes"], 255, usage, False),
            (["3", "-Ex", "Y"], 255, usage, False),
            (["3", "-J"], 255, usage, False),
            (["3", "-Bx"], 255, literal(OPENED + "Buffer is empty\n") + usage, True),
            (["3", "-T"], 0, literal(OPENED + CLOSED), True),
            (["3", "-Q", "-T"], 0, "", True),
            (["3", "-B", "-T", "-J"], 0, literal(OPENED + "Buffer is empty\n" + CLOSED), True),
            (["3", "-Q", "-G", "-B"], 0,
             literal(DEBUG_OPEN + "Getting the buffer status of the device...\n"
                     "Buffer of the device is empty\n" + HINT + DEBUG_CLOSE), True),
            (["3", "-G", "-B", "-Q"], 0,
             literal(DEBUG_OPEN + "Getting the buffer status of the device...\n"
                     "Buffer of the device is empty\nClosing the communication port...\n"),
             True),
            # 300 reaches the library as 8 bits: COM44.
            (["300", "-T"], 0,
             literal("Wrong COMNumber specified: 300, allowed range: 1..255\n" + OPENED +
                     CLOSED), True),
            (["0"], 254,
             literal("Wrong COMNumber specified: 0, allowed range: 1..255\n"
                     "Error opening the port\n"), False),
            # Only a COMNumber: the loop, which ends with the input.
            (["3"], 0, literal(OPENED + HINT + CLOSED), True),
            (["3x", "/t"], 0, literal(OPENED + CLOSED), True),
        ]
        for arguments, exit_code, pattern, connects in cases:
            def case():
                before = sim.connections()
                with tempfile.TemporaryDirectory() as cwd:
                    runner.expect_plain(arguments, urls, exit_code, pattern, cwd=cwd)
                    trace = os.path.exists(os.path.join(cwd, "Debug.txt"))
                    if trace != ("-G" in arguments):
                        raise Failure("Debug.txt written: %s" % trace)
                if (sim.connections() > before) != connects:
                    raise Failure("connected to the device: %s, expected %s"
                                  % (sim.connections() > before, connects))
            runner.check("ombrel " + " ".join(arguments), case)
    finally:
        sim.stop()


def group_operations(runner):
    sim = Simulator(runner.sim_path)
    try:
        urls = {3: sim.url()}
        # (switches, progress line, result pattern; None: the result as in plain mode,
        # printed in quiet mode too)
        operations = [
            (["-b"], "Getting the buffer status of the device...\n",
             literal("Buffer is empty\n"), literal("Buffer of the device is empty\n"), ""),
            (["-Z"], "Purging the buffers of the communication port...\n",
             literal("Port purged\n"), literal("Buffers of the communication port were purged\n"),
             ""),
            (["-d"], "Getting the firmware date:\n", literal("Firmware date: Apr 20 2015\n"),
             None, None),
            (["-V"], "Getting the firmware version:\n", literal("Firmware version: 1.20\n"),
             None, None),
            (["-p"], "Getting the product identification:\n",
             literal("Product identification: QUENTA HV RF generator, simulated\n"), None, None),
            (["-N"], "Getting the product number:\n", literal("Product number: 334380\n"),
             None, None),
            (["-c"], "Getting hardware capabilities:\n",
             literal("Hardware capabilities:\n\tMinimum amplitude: 0V\n\tMaximum amplitude: "
                     "400V\n\tMaximum supply voltage: 100.0V\n"), None, None),
            (["-H"], "Getting the housekeeping data:\n", HOUSEKEEPING, None, None),
            (["-f"], "Getting the RF-generator data:\n", RFG, None, None),
            (["-s"], "Getting the power supply data:\n", POWER, None, None),
            (["-I"], "Getting the interlock state:\n", literal("Interlock is closed\n"), None,
             None),
            (["-A", "100.04"], "Setting the amplitude:\n",
             literal("RF amplitude set to 100.0V\n"), None, None),
            (["-a"], "Getting the RF amplitude:\n", literal("RF amplitude: 100.0V\n"), None,
             None),
            (["-E", "Y"], "Setting the RF state:\n", literal("RF state set to on \n"), None,
             None),
            (["-e"], "Getting the RF state:\n", literal("RF state: on \n"), None, None),
            (["-E", "n"], "Setting the RF state:\n", literal("RF state set to off\n"), None,
             None),
            (["-e"], "Getting the RF state:\n", literal("RF state: off\n"), None, None),
        ]
        for switches, progress, plain, debug, quiet in operations:
            debug = plain if debug is None else debug
            quiet = plain if quiet is None else quiet
            modes = [
                ("plain", [], literal(OPENED) + plain + literal(CLOSED)),
                ("quiet", ["-Q"], quiet),
                ("debug", ["-g"], literal(DEBUG_OPEN + progress) + debug + literal(DEBUG_CLOSE)),
            ]
            for mode, switch, pattern in modes:
                arguments = ["3", *switch, *switches, "-T"]
                runner.check("%s %s" % (" ".join(switches), mode),
                             lambda: runner.expect_plain(arguments, urls, 0, pattern))
    finally:
        sim.stop()
    # The interlock as the device's input has it.
    sim = Simulator(runner.sim_path, "--interlock", "open")
    try:
        runner.check("-i with the interlock open", lambda: runner.expect_plain(
            ["3", "-Q", "-i", "-t"], {3: sim.url()}, 0, literal("Interlock is open\n")))
    finally:
        sim.stop()


def group_failures(runner):
    # Nothing listening: the port does not open.
    url = {3: "rfc2217://127.0.0.1:%d" % free_port()}
    runner.check("open fails: short error report, -2", lambda: runner.expect_plain(
        ["3", "-b"], url, 254, literal("Error opening the port\n")))
    runner.check("open fails in debug mode", lambda: runner.expect_plain(
        ["3", "-g"], url, 254, literal("Checking the DLL Version...\nDLL Version: 1.20\n"
                                       "Opening the communication port...\n"
                                       "Error opening the port\n")))

    # A device that stops answering mid-run: every command fails with its error report,
    # the program goes on and closes normally.
    def vanished():
        sim = Simulator(runner.sim_path)
        terminal = runner.start_terminal(["3"], {3: sim.url()})
        try:
            terminal.expect(literal(OPENED + HINT))
            terminal.send(b"a")
            terminal.expect(literal("RF amplitude: 0.0V\n"))
            sim.stop()
            for key, label in [(b"a", "TELVAR_Get_Amplitude"), (b"v", "TELVAR_FW_Ver"),
                               (b"p", "TELVAR_prod_ID"), (b"h", "TELVAR_Get_HousekeepingData")]:
                terminal.send(key)
                terminal.expect(ERROR_REPORT.format(label=label), wait=30)
            terminal.send(b"b")
            terminal.expect(r"[A-Za-z][^\n]*\n", wait=30)  # the short error report
            terminal.send(b"\x1b")
            terminal.expect(r"(?:[A-Za-z][^\n]*\n)?" + literal(CLOSED))
            terminal.finish(0)
        finally:
            terminal.close()
            sim.stop()
    runner.check("device gone: error reports, then a normal end", vanished)

    # One command made to fail: the library repairs and tries once more. A fault that
    # stays fails the retry too, and its status is reported; one that happens once is
    # hidden. The device's log shows the echoes it sent, so the retry is seen to happen.
    def command_fault(fault, pattern, echoes):
        def case():
            sim = Simulator(runner.sim_path, "--fault", fault, "--verbose")
            try:
                runner.expect_plain(["3", "-a", "-T"], {3: sim.url()}, 0,
                                    literal(OPENED) + pattern + literal(CLOSED))
                sent = re.findall(r'command "A" -> "(.)0000', sim.log_text())
                if sent != echoes:
                    raise Failure("echoes sent for A: %r, expected %r" % (sent, echoes))
            finally:
                sim.stop()
        return case
    runner.check("A always answered with a wrong echo: error report, normal end",
                 command_fault("A:wrong-echo",
                               literal("Error at TELVAR_Get_Amplitude: Wrong command received, "
                                       "I/O Error Message: No error\n"), ["a", "a"]))
    runner.check("A answered once with a wrong echo: the retry hides it",
                 command_fault("A:wrong-echo:1", literal("RF amplitude: 0.0V\n"), ["a", "A"]))

    # Replies garbled at random: repair and retry hide most faults, and whatever gets
    # through is reported on one line; the run always ends normally. Corrupted values
    # may pass as numbers, so only the lines' forms are checked.
    def garbled():
        sim = Simulator(runner.sim_path, "--fault-rate", "0.15", "--seed", "7")
        try:
            operations = ["-a", "-v", "-h", "-f", "-s"] * 4
            output = runner.expect_plain(["3", "-Q", *operations, "-T"], {3: sim.url()}, 0,
                                         r"(?:[^\n]*\n)*")
            starts = ("RF amplitude: ", "Firmware version: ", "Housekeeping data:\t",
                      "RF-generator data:\t", "Power supply data:\t", "Error at TELVAR_")
            lines = [line for line in output.splitlines()
                     if not line.startswith("\tHeatsink temperature: ")]
            if len(lines) != len(operations) or not all(l.startswith(starts) for l in lines):
                raise Failure("one line per operation expected, got:\n" + output)
        finally:
            sim.stop()
    runner.check("garbled replies", garbled)


def group_keys(runner):
    sim = Simulator(runner.sim_path)
    urls = {3: sim.url()}

    def session():
        terminal = runner.start_terminal(["3"], urls)
        try:
            terminal.expect(literal(OPENED + HINT))
            terminal.send(b"?")
            terminal.expect(literal(HELP))
            terminal.send(b"B")
            terminal.expect(literal("Buffer is empty\n"))
            # Arrows, page keys, function keys, Alt+letter, T, digits and Enter do nothing.
            terminal.send(b"\x1b[A\x1b[B\x1b[5;5~\x1b[6;3~\x1bOP\x1b[15~\x1b[1;5D")
            terminal.send(b"\x1bbtT7\r")
            terminal.expect_quiet()
            terminal.send(b"A")
            terminal.expect(literal("Enter the new RF amplitude in V: "))
            terminal.send(b"150\r")
            terminal.expect(literal("150\nRF amplitude set to 150.0V\n"))
            terminal.send(b"a")
            terminal.expect(literal("RF amplitude: 150.0V\n"))
            terminal.send(b"E")
            terminal.expect(literal("Enter the new RF state (0 for off, 1 for on): "))
            terminal.send(b"2\r")
            terminal.expect(literal("2\n"))
            terminal.expect_quiet()
            terminal.send(b"e")
            terminal.expect(literal("RF state: off\n"))
            terminal.send(b"E")
            terminal.expect(literal("Enter the new RF state (0 for off, 1 for on): "))
            # Line editing at the prompt: the backspaced character is gone.
            terminal.send(b"9\x7f1\r")
            terminal.expect(r"9[^\n]*1\n" + literal("RF state set to on \n"))
            terminal.send(b"E")
            terminal.expect(literal("Enter the new RF state (0 for off, 1 for on): "))
            terminal.send(b"on\r")
            terminal.expect(literal("on\nInvalid input: not a number\n"))
            terminal.send(b"Q")
            terminal.expect(literal("Quiet mode is on\n"))
            terminal.send(b"b")
            terminal.expect_quiet()
            terminal.send(b"f")
            terminal.expect(RFG)
            terminal.send(b"q")
            terminal.expect(literal("Quiet mode is off\n"))
            terminal.send(b"u")
            terminal.expect(r"Device uptime: [0-9:.]+ sec\.\n")
            terminal.send(b"\x1b")
            terminal.expect(literal(CLOSED))
            terminal.finish(0)
        finally:
            terminal.close()
    runner.check("keys in the loop, then Esc", session)

    def quiet_loop():
        terminal = runner.start_terminal(["3", "-Q", "-v"], urls)
        try:
            terminal.expect(literal("Firmware version: 1.20\n"))
            terminal.send(b"i")
            terminal.expect(literal("Interlock is closed\n"))
            terminal.send(b"\x1b")
            terminal.finish(0)
        finally:
            terminal.close()
    runner.check("quiet from the start: no hint, no closing lines", quiet_loop)

    def ctrl_c(keys, prompt):
        def case():
            terminal = runner.start_terminal(["3"], urls)
            try:
                terminal.expect(literal(OPENED + HINT))
                terminal.send(keys)
                if prompt:
                    terminal.expect(literal(prompt))
                else:
                    time.sleep(0.1)
                terminal.send(b"\x03")
                # At a prompt the terminal itself echoes the Ctrl+C.
                terminal.finish(-signal.SIGINT, rest=r"(?:\^C)?")
            finally:
                terminal.close()
        return case
    runner.check("Ctrl+C in the loop restores the terminal", ctrl_c(b"", None))
    runner.check("Ctrl+C at a prompt restores the terminal",
                 ctrl_c(b"w", "Enter the minimum RF amplitude in V: "))

    def bad_after_keypad():
        # The keypad simulation holds the keyboard raw; the bad switch after it ends the
        # run with -1, and the terminal is as it was.
        terminal = runner.start_terminal(["3", "-k", "-J"], urls)
        try:
            terminal.expect(literal(OPENED) + r"Press 'Esc' to quit[^\n]*\n")
            terminal.send(b"\x1b[A")
            terminal.send(b"\x1b")
            terminal.expect(literal("Keypad simulation stopped\n" + USAGE))
            terminal.finish(255)
        finally:
            terminal.close()
    runner.check("bad switch after the keypad: -1, terminal restored", bad_after_keypad)

    def open_fails_on_terminal():
        terminal = runner.start_terminal(["3"], {3: "rfc2217://127.0.0.1:%d" % free_port()})
        try:
            terminal.expect(literal("Error opening the port\n"))
            terminal.finish(254)
        finally:
            terminal.close()
    runner.check("open fails on a terminal: -2, terminal as it was", open_fails_on_terminal)
    sim.stop()


GROUPS = {
    "command_line": group_command_line,
    "operations": group_operations,
    "failures": group_failures,
    "keys": group_keys,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ombrel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    options = parser.parse_args()
    runner = Runner(os.path.abspath(options.ombrel), os.path.abspath(options.sim))
    try:
        GROUPS[options.group](runner)
    except Failure as failure:
        print("FAIL setup: %s" % failure)
        return 1
    print("%d of %d cases passed" % (runner.cases - len(runner.failures), runner.cases))
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
