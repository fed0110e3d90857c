#!/usr/bin/python3
"""The uptime exchange written with pyserial over RFC 2217: a peer doing the same job
as TELVAR_GetUptime (without the library's handshake checks, which only make its job
bigger), measured against the same simulator for a ratio.

    bench_pyserial.py rfc2217://127.0.0.1:7003 [count]
"""
import statistics
import sys
import time

import serial

CHARACTER_US = 11 * 1e6 / 230400
UPTIME_CHARACTERS = 2 + 12


def main():
    url = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    port = serial.serial_for_url(url, baudrate=230400, bytesize=serial.EIGHTBITS,
                                 parity=serial.PARITY_EVEN, stopbits=serial.STOPBITS_ONE,
                                 timeout=1.0)
    port.rts = True
    port.dtr = True
    port.reset_input_buffer()

    def exchange():
        port.write(b"U\r")
        reply = port.read(12)
        return len(reply) == 12 and reply[:1] == b"U" and reply[-1:] == b"\r"

    for _ in range(50):
        exchange()
    samples = []
    failures = 0
    cpu0 = time.process_time()
    start = time.perf_counter()
    for _ in range(count):
        t0 = time.perf_counter()
        if not exchange():
            failures += 1
        samples.append(time.perf_counter() - t0)
    seconds = time.perf_counter() - start
    cpu_us = (time.process_time() - cpu0) * 1e6 / count
    port.close()

    samples.sort()
    median = samples[len(samples) // 2] * 1e6
    p99 = samples[min(len(samples) - 1, int(0.99 * (len(samples) - 1) + 0.5))] * 1e6
    per_second = count / seconds
    wire_per_second = 1e6 / (UPTIME_CHARACTERS * CHARACTER_US)
    print("%-34s n=%d  median %.2f us  p99 %.2f us  mean %.2f us" %
          ("pyserial uptime", count, median, p99, statistics.fmean(samples) * 1e6))
    print("  %.1f transactions/s, ratio to the wire limit %.3f; CPU %.1f us per transaction; "
          "failures %d" % (per_second, per_second / wire_per_second, cpu_us, failures))
    print("RESULT pyserial_per_second=%.1f ratio=%.3f median_us=%.1f p99_us=%.1f cpu_us=%.1f "
          "failures=%d" % (per_second, per_second / wire_per_second, median, p99, cpu_us,
                           failures))
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
