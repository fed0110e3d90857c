#!/usr/bin/python3
"""RFC 2217 server built on pyserial's own PortManager, with a small scripted device
behind it: an independent peer for the interoperability tests.

Listens on 127.0.0.1 (port 0 = any), prints the port on the first line of stdout,
serves one client and exits when it leaves. Like pyserial's example server it looks
at the modem lines once a second and otherwise reports them only when asked.

The device: CTS follows RTS, DSR and DCD are on, RI is off; "U\\r" is answered with
"U", ten hex digits and "\\r".
"""
import select
import socket
import sys
import time

import serial
import serial.rfc2217


class Device:
    """Stands in for a serial.Serial: the attributes PortManager reads and writes."""

    def __init__(self):
        self.baudrate = 9600
        self.bytesize = serial.EIGHTBITS
        self.parity = serial.PARITY_NONE
        self.stopbits = serial.STOPBITS_ONE
        self.xonxoff = False
        self.rtscts = False
        self.break_condition = False
        self.dtr = False
        self.rts = False
        self.to_host = bytearray()
        self._line = bytearray()
        self._replies = 0

    @property
    def cts(self):
        return self.rts

    @property
    def dsr(self):
        return True

    @property
    def ri(self):
        return False

    @property
    def cd(self):
        return True

    def write(self, data):
        for byte in data:
            if byte != 0x0D:
                self._line.append(byte)
                continue
            if bytes(self._line) == b"U":
                self._replies += 1
                self.to_host += b"U%010X\r" % (0x1234500000 + self._replies)
            self._line.clear()

    def reset_input_buffer(self):
        self.to_host.clear()

    def reset_output_buffer(self):
        self._line.clear()


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)

    sock, _ = listener.accept()
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    device = Device()
    manager = serial.rfc2217.PortManager(device, Connection(sock))
    next_check = time.monotonic() + 1.0
    while True:
        timeout = max(0.0, next_check - time.monotonic())
        readable, _, _ = select.select([sock], [], [], timeout)
        if readable:
            data = sock.recv(4096)
            if not data:
                break
            device.write(b"".join(manager.filter(data)))
            if device.to_host:
                sock.sendall(b"".join(manager.escape(bytes(device.to_host))))
                device.to_host.clear()
        if time.monotonic() >= next_check:
            manager.check_modem_lines()
            next_check += 1.0
    sock.close()


if __name__ == "__main__":
    main()
