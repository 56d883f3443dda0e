#!/usr/bin/env python3
"""The dialogue as a lab's own script would run it with pySerial, for dialogue_bench.

usage: pyserial_dialogues.py PORT COUNT

Writes the prompt byte and the frame of a delay command, reads until the reply frame is
complete, COUNT times; prints one line: "<count> <seconds> <acknowledged>".
"""
import sys
import time

import serial


def main():
    port, count = sys.argv[1], int(sys.argv[2])
    line = serial.Serial(port, 38400, timeout=1)
    acknowledged = 0
    start = time.perf_counter()
    for i in range(count):
        command = b"L%d+25.00E-3R" % (1 + i % 9)
        line.write(b"=")
        line.write(b">%04d" % len(command) + command)
        received = b""
        while True:
            received += line.read(max(1, line.in_waiting))
            at = received.find(b"<")
            if at >= 0 and len(received) >= at + 5 and len(received) >= at + 5 + int(received[at + 1:at + 5]):
                break
        acknowledged += received[at + 5:at + 6] == b"O"
    print(count, time.perf_counter() - start, acknowledged)


main()
