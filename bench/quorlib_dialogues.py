"""Dialogues per second through the quorlib module, how much another Python thread gets done
while a command waits for a late reply, and how two threads on two stimulators paced at the
line's real speed compare with one thread on one.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/quorlib_dialogues.py \
        build/native/tools/pulsyn-sim/pulsyn-sim [DIALOGUES]
"""
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import quorlib


def main(simulator, dialogues=5000):
    sim = subprocess.Popen([simulator, "--quiet"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    path = sim.stdout.readline().strip()
    control = socket.create_connection(("127.0.0.1", int(sim.stdout.readline().rsplit(":", 1)[1])))
    answers = control.makefile("r")

    def command(line):
        control.sendall(line.encode() + b"\n")
        return json.loads(answers.readline())

    p = quorlib.Pulsyn(port=path)
    p.Connect()
    start, cpu = time.perf_counter(), time.process_time()
    for i in range(dialogues):
        p.SetChannelVoltage(1 + i % 9, 1.0)
    elapsed, cpu = time.perf_counter() - start, time.process_time() - cpu
    print(f"unpaced simulator: {dialogues / elapsed:,.0f} dialogues/s, {elapsed / dialogues * 1000:.3f} ms each "
          f"({cpu / elapsed * 100:.0f} % of a core in this process)")

    # A thread that counts while the main thread's command waits 1 s for its reply, and
    # the same thread counting for 1 s with nothing else running.
    def count_for(seconds, result):
        n, end = 0, time.perf_counter() + seconds
        while time.perf_counter() < end:
            n += 1
        result.append(n)

    alone = []
    count_for(1.0, alone)
    command("fault delay=1000")
    during = []
    counter = threading.Thread(target=count_for, args=(1.0, during))
    counter.start()
    p.SetChannelVoltage(1, 2.0)
    counter.join()
    print(f"another thread while a command waits 1 s: {during[0] / alone[0] * 100:.0f} % of its pace alone")

    # Ctrl+C while a command waits for a silent device: from the signal to KeyboardInterrupt.
    command("clear")
    command("fault silence")
    latencies = []
    for _ in range(10):
        command("reset")
        command("fault silence")
        sent = []

        def press():
            command("wait frames 1")
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)

        presser = threading.Thread(target=press)
        presser.start()
        try:
            p.SetChannelVoltage(1, 2.0)
        except KeyboardInterrupt:
            latencies.append(time.perf_counter() - sent[0])
        presser.join()
    command("clear")
    print(f"Ctrl+C during a 15 s wait: KeyboardInterrupt after {max(latencies) * 1000:.0f} ms at most "
          f"({sum(latencies) / len(latencies) * 1000:.0f} ms on average, {len(latencies)} tries)")

    p.Connected = False
    command("quit")
    sim.wait()
    two_threads_on_two_paced_stimulators(simulator)


def two_threads_on_two_paced_stimulators(simulator, seconds=3.0):
    devices = []
    for _ in range(2):
        process = subprocess.Popen([simulator, "--quiet"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        path = process.stdout.readline().strip()
        control = socket.create_connection(("127.0.0.1", int(process.stdout.readline().rsplit(":", 1)[1])))
        control.sendall(b"fault pace\n")  # 38400 baud, 8N1: about 260 us a byte, as the real line
        control.makefile("r").readline()
        devices.append((process, control, quorlib.Pulsyn(port=path)))
    for _, _, p in devices:
        p.Connect()

    def drive(p, counts):
        n, end = 0, time.perf_counter() + seconds
        while time.perf_counter() < end:
            p.SetChannelVoltage(1 + n % 9, 1.0)
            n += 1
        counts.append(n)

    one = []
    drive(devices[0][2], one)
    both = []
    workers = [threading.Thread(target=drive, args=(p, both)) for _, _, p in devices]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    alone, together = one[0] / seconds, sum(both) / seconds
    print(f"paced stimulators: one thread on one {alone:,.0f} dialogues/s, two threads on two {together:,.0f} "
          f"dialogues/s ({together / alone:.2f}x)")
    for process, control, p in devices:
        p.Connected = False
        control.sendall(b"quit\n")
        process.wait()


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1], *(int(a) for a in sys.argv[2:3]))
