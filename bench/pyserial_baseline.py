#!/usr/bin/env python3
"""A plain pyserial script doing what `tarvo-cli read` does for each reading: discard stale
input, send the position command, read the reply up to its CR, print it as a line
(RxData=REPLY) on standard output, buffered as Python buffers it into a pipe. The yardstick of
the CLI's throughput in bench_cli.

    pyserial_baseline.py PORT COUNT [COMMAND]
"""
import sys

import serial


def main():
    port, count = sys.argv[1], int(sys.argv[2])
    command = (sys.argv[3] if len(sys.argv) > 3 else "?04:000").encode("ascii")
    link = serial.Serial(port, 115200, bytesize=8, parity="N", stopbits=1, timeout=0.4)
    failed = 0
    for _ in range(count):
        link.reset_input_buffer()
        link.write(command)
        reply = link.read_until(b"\r")
        if not reply.endswith(b"\r"):
            failed += 1
        print("RxData=" + reply.rstrip(b"\r").decode("latin-1"))
    link.close()
    if failed:
        print(f"pyserial_baseline: {failed} of {count} readings got no whole reply", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
