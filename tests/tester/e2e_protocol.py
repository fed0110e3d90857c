#!/usr/bin/python3
"""End-to-end runs of ombrel's test protocols, live screens and cycling against quenta-sim.

Runs without a terminal use standard input from /dev/null and a pipe for the output;
the others run in a pseudo-terminal where keys are typed and cursor queries answered.
What the device saw comes from quenta-sim's --verbose command log. Every wait is
bounded.

Usage: e2e_protocol.py --ombrel PATH --sim PATH GROUP
"""

import argparse
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

WAIT = 20.0  # seconds any one step may take before the case fails

DAY = r"(Sun|Mon|Tue|Wed|Thu|Fri|Sat)"
NUM = r"-?\d+\.\d"


def spread(unit, decimals_sd, decimals):
    """The " ± sd (+above, -below)" part of a field: numbers never negative."""
    return (r" \xb1 \d+\.\d{%d}%s \(\+\d+\.\d{%d}%s, -\d+\.\d{%d}%s\)"
            % (decimals_sd, unit, decimals, unit, decimals, unit))


TEMPERATURE = r"\t-?\d+\.\d{3}\xb0C" + spread("mK", 1, 1)
ROW = ("(?P<amplitude>\\d{4,}\\.\\d)V"
       "\\t(?P<amplitude1>\\d{4,}\\.\\d{4})V" + spread("mV", 2, 1) +
       "\\t\\d{4,}\\.\\d{4}V" + spread("mV", 2, 1) +
       "\\t\\d{3,}\\.\\d{4}V" + spread("mV", 2, 1) +
       "\\t(?P<frequency>\\d+\\.\\d{5})MHz" + spread("kHz", 3, 2) +
       TEMPERATURE + TEMPERATURE +
       "\\t-?\\d{2,}\\.\\d{4}V" + spread("mV", 2, 1) +
       "\\t-?\\d+\\.\\d{4}A" + spread("mA", 2, 1) +
       TEMPERATURE)

HEAD = [
    r"Test protocol created at %s, \d\d/\d\d/\d{4}, \d\d:\d\d:\d\d" % DAY,
    "",
    r"Product number: -?\d+",
    r"Product identification: .*",
    r"Firmware version: \d+\.\d\d",
    r"Firmware date: .{11}",
    "",
    "Hardware capabilities:",
    r"\tMinimum amplitude: \d+V",
    r"\tMaximum amplitude: \d+V",
    r"\tMaximum supply voltage: \d+\.\dV",
    "",
    r"Device uptime: \d+:\d\d:\d\d\.\d\d sec\.",
    "",
    "Housekeeping data:",
    r"\t12V: \d+\.\d{3}V" + spread("mV", 2, 2),
    r"\t5V:  \d+\.\d{3}V" + spread("mV", 2, 2),
    r"\t3V:  \d+\.\d{3}V" + spread("mV", 2, 2),
    r"\tCPU: -?\d+\.\d{3}\xb0C" + spread("mK", 1, 1),
    "",
    "Interlock is closed",
    "",
    r"Set RF amplitude: \d+\.\dV",
    "",
    "Testing RF amplitude:",
    "Amplitude\tAmplitude 1\tAmplitude 2\tDrain Voltage\tFrequency\tHeatsink Temperature"
    "\tCoil Temperature\tVoltage\tCurrent\tHeatsink Temperature",
]
TAIL = [
    "Testing finished",
    "",
    r"Device uptime: \d+:\d\d:\d\d\.\d\d sec\.",
    "",
    "Test protocol finished",
]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Simulator:
    """quenta-sim on a free loopback port, its command log in a file."""

    def __init__(self, path, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="quenta-sim-", suffix=".log", delete=False)
        self.process = subprocess.Popen([path, "--listen", "127.0.0.1:0", "--verbose"]
                                        + list(options), stdout=subprocess.DEVNULL,
                                        stderr=self.log)
        deadline = time.monotonic() + WAIT
        while True:
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", self.text())
            if found:
                self.port = int(found.group(1))
                break
            check(self.process.poll() is None, "quenta-sim ended: " + self.text())
            check(time.monotonic() < deadline, "quenta-sim does not listen")
            time.sleep(0.02)
        self.env = dict(os.environ, TELVAR_COM3="rfc2217://127.0.0.1:%d" % self.port)

    def text(self):
        with open(self.log.name, encoding="latin-1") as log:
            return log.read()

    def commands(self):
        """Every command line the device received, in order."""
        return re.findall(r'command "([^"]*)" ->', self.text())

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.unlink(self.log.name)


def run(ombrel, sim, *args):
    """ombrel without a terminal: no input, output to a pipe."""
    done = subprocess.run([ombrel, "3"] + list(args), env=sim.env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    out = done.stdout.decode("latin-1")
    check(done.returncode == 0, "exit code %d:\n%s" % (done.returncode, out))
    return out


class Terminal:
    """ombrel in a pseudo-terminal that answers cursor queries with row 10."""

    def __init__(self, ombrel, sim, *args):
        self.master, slave = os.openpty()
        self.process = subprocess.Popen([ombrel, "3"] + list(args), env=sim.env, stdin=slave,
                                        stdout=slave, stderr=slave, close_fds=True)
        os.close(slave)
        self.output = ""

    def pump(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return
        try:
            data = os.read(self.master, 65536).decode("latin-1")
        except OSError:  # the program ended and closed its side
            data = ""
        queries = data.count("\x1b[6n")
        self.output += data
        for _ in range(queries):
            os.write(self.master, b"\x1b[10;1R")

    def expect(self, pattern, count=1):
        """Waits until pattern occurs count times in the output so far."""
        deadline = time.monotonic() + WAIT
        while len(re.findall(pattern, self.output)) < count:
            check(time.monotonic() < deadline,
                  "no %r (x%d) in:\n%s" % (pattern, count, self.output[-3000:]))
            self.pump(0.05)

    def type(self, keys):
        os.write(self.master, keys.encode("latin-1"))

    def finish(self):
        deadline = time.monotonic() + WAIT
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                self.process.kill()
                self.process.wait()
                raise Failure("ombrel does not end:\n" + self.output[-3000:])
            self.pump(0.05)
        self.pump(0)
        os.close(self.master)
        check(self.process.returncode == 0, "exit code %d" % self.process.returncode)
        # The screen as plain text: escape sequences out, carriage returns to line ends.
        return re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", self.output).replace("\r\n", "\n")


def protocol_lines(path):
    with open(path, "rb") as f:
        data = f.read()
    # The plus-minus and degree signs are single bytes, as in Windows-1252.
    check(b"\xc2" not in data, "UTF-8 in the protocol file")
    return data.decode("latin-1").split("\n")


def check_layout(path, rows, interlock_open=False):
    """The protocol file line by line; rows: the expected amplitude texts. Returns
    the row matches."""
    lines = protocol_lines(path)
    check(lines[-1] == "", "no line end at the end of the file")
    lines = lines[:-1]
    if interlock_open:
        expected = HEAD[:20] + ["Interlock is open", "",
                                "Interlock is open, amplitude test skipped!", "",
                                "Test protocol finished"]
    else:
        expected = HEAD + [ROW] * len(rows) + TAIL
    check(len(lines) == len(expected),
          "%d lines instead of %d:\n%s" % (len(lines), len(expected), "\n".join(lines)))
    matches = []
    for number, (line, pattern) in enumerate(zip(lines, expected), 1):
        match = re.fullmatch(pattern, line)
        check(match is not None, "line %d %r does not match %r" % (number, line, pattern))
        if pattern == ROW:
            matches.append(match)
    got = [m.group("amplitude") for m in matches]
    check(got == rows, "rows %s instead of %s" % (got, rows))
    return matches


def settings(sim):
    """The commands that changed RF state or amplitude."""
    return [c for c in sim.commands() if c[:1] in ("A", "B") and len(c) > 1]


def amplitude_command(volts):
    return "A%04X" % int(volts * 10 + 0.5)


# --- Cases.

def case_short_protocol(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        run(ombrel, sim, "-A", "7.5", "-T")
        before = len(sim.commands())
        path = os.path.join(work, "short.txt")
        out = run(ombrel, sim, "-x", path, "1", "3", "1", "0", "-T")
        check_layout(path, ["0001.0", "0002.0", "0003.0"])
        check("Test protocol finished\n" in out, out)
        # RF on before the sweep, off after it, the amplitude found before restored.
        changes = [c for c in sim.commands()[before:] if c[:1] in ("A", "B") and len(c) > 1]
        check(changes == ["BY", "A000A", "A0014", "A001E", "BN", "A004B"], changes)
        check(run(ombrel, sim, "-a", "-e", "-T").startswith(
            "Communication port opened\nRF amplitude: 7.5V\nRF state: off\n"), "state after")
    finally:
        sim.close()


def case_negative_step_and_clamp(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        path = os.path.join(work, "down.txt")
        run(ombrel, sim, "-x", path, "3", "1", "-1", "0", "-T")
        check_layout(path, ["0003.0", "0002.0", "0001.0"])
        # The device clamps at its maximum: the sweep ends when the amplitude stays.
        path = os.path.join(work, "clamp.txt")
        out = run(ombrel, sim, "-x", path, "399", "1000", "0.5", "0", "-T")
        check_layout(path, ["0399.0", "0399.5", "0400.0", "0400.0"])
        check("RF amplitude no longer changes (400.0V), sweep ended\n" in out, out)
        check(settings(sim)[-2:] == ["BN", "A0000"], settings(sim)[-2:])
    finally:
        sim.close()


def case_interlock_open(ombrel, sim_path, work):
    sim = Simulator(sim_path, "--interlock", "open")
    try:
        path = os.path.join(work, "open.txt")
        out = run(ombrel, sim, "-x", path, "1", "3", "1", "0", "-T")
        check_layout(path, [], interlock_open=True)
        check("Interlock is open\nInterlock is open, voltage test skipped!\n"
              "Test protocol finished\n" in out, out)
        check(settings(sim) == [], settings(sim))
    finally:
        sim.close()


def case_settled_step(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        path = os.path.join(work, "settled.txt")
        started = time.monotonic()
        run(ombrel, sim, "-x", path, "100", "100", "1", "6", "-T")
        elapsed = time.monotonic() - started
        (row,) = check_layout(path, ["0100.0"])
        # Settled readings count: amplitude 1 follows the set amplitude.
        amplitude1 = float(row.group("amplitude1"))
        check(90 < amplitude1 < 110, "amplitude 1 %s" % amplitude1)
        check(float(row.group("frequency")) > 0, "frequency")
        # Ten housekeeping readings and 13 samples, 500 ms apart.
        check(elapsed > 11, "took only %.1f s" % elapsed)
    finally:
        sim.close()


def case_zero_step_space(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        path = os.path.join(work, "zero.txt")
        term = Terminal(ombrel, sim, "-x", path, "2", "2", "0", "0", "-T")
        term.expect(r"Zero step specified, press SPACE to stop the infinite loop\.\.\.")
        term.expect(r"Setting RF amplitude: \+002\.0V", 3)
        term.type(" ")
        screen = term.finish()
        check("Test protocol finished\n" in screen, screen)
        lines = protocol_lines(path)
        rows = [l for l in lines if l.startswith("0002.0V\t")]
        check(len(rows) >= 3, "%d rows" % len(rows))
        check_layout(path, ["0002.0"] * len(rows))
        check(settings(sim)[-2:] == ["BN", "A0000"], settings(sim))
    finally:
        sim.close()


def case_interrupted_keeps_rows(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        path = os.path.join(work, "interrupted.txt")
        process = subprocess.Popen([ombrel, "3", "-x", path, "1", "9", "1", "0", "-T"],
                                   env=sim.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = b""
        deadline = time.monotonic() + WAIT
        while b"Setting RF amplitude: +004.0V" not in output:
            check(time.monotonic() < deadline, "no fourth step:\n" + output.decode("latin-1"))
            ready, _, _ = select.select([process.stdout], [], [], 0.1)
            if ready:
                output += os.read(process.stdout.fileno(), 65536)
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=WAIT)
        # Ctrl+C ends the program, but the rows measured so far are in the file.
        rows = [l[:7] for l in protocol_lines(path) if re.match(r"\d{4}\.\dV\t", l)]
        check(rows[:3] == ["0001.0V", "0002.0V", "0003.0V"], rows)
    finally:
        sim.close()


def case_keypad_and_display(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        whole = run(ombrel, sim, "-L", "-T").split("\n")[1]
        check(re.fullmatch(r"[0-9A-F]{2048}", whole) is not None, whole)
        term = Terminal(ombrel, sim, "-g", "-K", "-T")
        term.expect(r"Press 'Esc' to quit, arrow keys")
        keys = [("\x1b[A", "K10", "148"), ("\x1b[B", "K02", "150"), ("\x1b[D", "K01", "14B"),
                ("\x1b[C", "K08", "14D"), ("\r", "K04", "00D"), (" ", "E", "020"),
                ("\x1b[6~", "E0", "151"), ("\x1b[6;3~", "E1", "1A1"),
                ("\x1b[6;5~", "E2", "176"), ("\x1b[5~", "E8", "149"),
                ("\x1b[5;3~", "E9", "199"), ("\x1b[5;5~", "EA", "184")]
        for key, command, code in keys:
            term.type(key)
            term.expect("KeyCode: " + code)
            deadline = time.monotonic() + WAIT
            while command not in sim.commands():
                check(time.monotonic() < deadline, "device did not see " + command)
                term.pump(0.02)
        term.type("\x1b")
        screen = term.finish()
        check("Keypad simulation stopped\n" in screen, screen)
        panel = [c for c in sim.commands() if c[:1] in ("K", "E")]
        check(panel == [k[1] for k in keys], panel)
        # The keys moved the device's menu: the display memory reads differently.
        check(run(ombrel, sim, "-L", "-T").split("\n")[1] != whole, "display unchanged")
        out = run(ombrel, sim, "-l", "-T").split("\n")
        for row in range(8):
            check(re.fullmatch(r"LDC row %d: [0-9A-F]{256}" % row, out[1 + row]) is not None,
                  out[1 + row])
        check("".join(line[11:] for line in out[1:9]) ==
              run(ombrel, sim, "-L", "-T").split("\n")[1], "rows differ from the whole")
    finally:
        sim.close()


def case_uptime_until_esc(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        term = Terminal(ombrel, sim, "-U", "-T")
        term.expect(r"Press 'Esc' to quit")
        term.expect(r"\d+\.\d\d sec\.", 20)
        term.type("x")  # swallowed
        term.type("\x1b")
        screen = term.finish()
        check("Device uptime: " in screen, screen)
        check(len([c for c in sim.commands() if c == "U"]) >= 20, "too few refreshes")
        check(screen.endswith("sec.\nCommunication port closed\nProgram finished\n"),
              screen[-300:])
    finally:
        sim.close()


def case_cycle_until_space(ombrel, sim_path, work):
    sim = Simulator(sim_path)
    try:
        term = Terminal(ombrel, sim, "-W", "1", "2", "0.2", "-T")
        term.expect(r"Press SPACE to stop\.\.\.")
        term.expect(r"RF amplitude: \d\.\dV", 5)
        term.type(" ")
        screen = term.finish()
        check("Cycle stopped\n" in screen, screen)
        shown = re.findall(r"RF amplitude: (\d\.\d)V", screen)
        sets = [c for c in sim.commands() if c.startswith("A") and len(c) > 1]
        check(sets[:4] == ["A0014", "A000A", "A0014", "A000A"], sets)
        # The amplitude stays at the value sent last.
        check(sets[-1] == amplitude_command(float(shown[-1])), (sets[-1], shown[-1]))
        check(run(ombrel, sim, "-a", "-T").split("\n")[1] == "RF amplitude: %sV" % shown[-1],
              "amplitude after the cycle")
    finally:
        sim.close()


GROUPS = {
    "protocol": [case_short_protocol, case_negative_step_and_clamp, case_interlock_open],
    "protocol_timing": [case_settled_step, case_zero_step_space, case_interrupted_keeps_rows],
    "screens": [case_keypad_and_display, case_uptime_until_esc, case_cycle_until_space],
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ombrel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    options = parser.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory(prefix="ombrel-e2e-") as work:
        for case in GROUPS[options.group]:
            started = time.monotonic()
            try:
                case(options.ombrel, options.sim, work)
                print("ok   %s (%.1f s)" % (case.__name__, time.monotonic() - started))
            except (Failure, subprocess.TimeoutExpired) as error:
                failed += 1
                print("FAIL %s: %s" % (case.__name__, error))
            sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
