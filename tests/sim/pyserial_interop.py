#!/usr/bin/python3
"""pyserial's RFC 2217 client, an independent implementation, drives quenta-sim.

Usage: pyserial_interop.py PATH-TO-QUENTA-SIM
Exits 77 (skipped) when pyserial is not installed, 0 on success, 1 on failure.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

try:
    import serial
except ImportError:
    print("pyserial (python3-serial) is not installed: skipped")
    sys.exit(77)

# The whole run is bounded: a hung server or client fails the test, never stalls it.
signal.alarm(50)


def wait_for(predicate, seconds=3.0, step=0.01):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def open_port(port):
    return serial.serial_for_url("rfc2217://127.0.0.1:%d" % port, baudrate=230400,
                                 parity=serial.PARITY_EVEN, timeout=2)


def transact(link, command, length):
    link.write(command + b"\r")
    reply = link.read(length)
    check(len(reply) == length, "%r: %d bytes instead of %d: %r" % (command, len(reply), length, reply))
    return reply


def main():
    simulator = sys.argv[1]
    with tempfile.TemporaryFile() as log:
        server = subprocess.Popen([simulator, "--listen", "127.0.0.1:0", "--verbose"],
                                  stdout=log, stderr=log)

        def log_text():
            log.seek(0)
            return log.read().decode("utf-8", "replace")

        try:
            check(wait_for(lambda: "listening on 127.0.0.1:" in log_text(), 5),
                  "quenta-sim did not start:\n" + log_text())
            port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", log_text()).group(1))

            link = open_port(port)
            check(link.dsr and link.cd, "DSR and DCD should be active")
            check(wait_for(lambda: link.cts), "CTS should be active")

            # The host purge's handshake: CTS follows RTS.
            link.rts = False
            check(wait_for(lambda: not link.cts), "CTS stayed active after RTS dropped")
            link.reset_input_buffer()
            link.rts = True
            check(wait_for(lambda: link.cts), "CTS did not return with RTS")

            reply = transact(link, b"U", 12)
            check(re.fullmatch(rb"U[0-9A-F]{10}\r", reply), "uptime reply %r" % reply)
            check(transact(link, b"A07D0", 6) == b"A07D0\r", "amplitude set")
            check(transact(link, b"V", 6) == b"V0114\r", "firmware version")
            row = transact(link, b"l2", 259)
            check(bytes.fromhex(row[2:258].decode()).startswith(b"> Amplitude   200.0 V"),
                  "display row 2: %r" % row)

            # A second client is turned away while the first is connected.
            with socket.create_connection(("127.0.0.1", port), timeout=3) as second:
                check(second.recv(64) == b"", "a second client was not refused")
            check(wait_for(lambda: "refused client" in log_text()), "no refusal logged")
            check(transact(link, b"I", 3) == b"IY\r", "first client disturbed")

            # One that leaves makes way for the next, and the device keeps its settings.
            link.write(b"A00")
            link.close()
            check(wait_for(lambda: "disconnected" in log_text()), "no disconnect logged")
            link = open_port(port)
            check(wait_for(lambda: link.cts), "CTS not active for the next client")
            check(transact(link, b"A", 6) == b"A07D0\r", "next client")
            link.close()
        finally:
            server.send_signal(signal.SIGTERM)
            try:
                status = server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                server.kill()
                status = None
        check(status == 0, "quenta-sim exited with %r:\n%s" % (status, log_text()))
    print("pyserial and quenta-sim agree")


if __name__ == "__main__":
    try:
        main()
    except AssertionError as error:
        print("FAILED:", error)
        sys.exit(1)
