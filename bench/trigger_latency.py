#!/usr/bin/env python3
"""Trigger latency: how long from a client's Trigger call until the stimulator holds the
whole trigger frame, on a line paced at 38400 baud 8N1 (the simulator's pace fault: each byte
arrives one byte time, 10/38400 s, after the one before it).

    trigger_latency.py --sim PULSYN_SIM --label NAME --clock monotonic|wall [--link PATH] -- CLIENT...
    trigger_latency.py --client COUNT          (the Python client, through the quorlib module)

The simulator is started paced, its line's path in QUORLIB_COM7; CLIENT runs and prints
"call START RETURN" for each trigger (seconds: on the monotonic clock, or for a script under
Wine on the wall clock, whose Date counts whole milliseconds). The simulator stamps each frame
when its last byte has arrived, on its own clock; its `clock` answer gives one moment on its
clock and on both system clocks, which lines the two up. Prints one row of figures; with
--header, the table's heading first.
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import time

BYTE_TIME = 10 / 38400
# What a trigger puts on the line: the prompt byte and the frame >0002T1. The device's "="
# answer travels the other way at the same time, and the library does not wait for it.
LINE_TIME = len("=>0002T1") * BYTE_TIME


def python_client(count):
    import quorlib
    p = quorlib.Pulsyn(port="COM7")
    if not p.Connect():
        sys.exit("trigger_latency: no stimulator")
    for i in range(count):
        p.SetChannelDelay(1, 0.025)  # its reply says that the line is quiet
        start = time.monotonic()
        p.Trigger(1)
        print(f"call {start:.6f} {time.monotonic():.6f}")
    p.Connected = False


def ask(port, command):
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        s.sendall(command.encode() + b"\n")
        answer = b""
        while not answer.endswith(b"\n"):
            piece = s.recv(1 << 20)
            if not piece:
                break
            answer += piece
    return json.loads(answer)


def percentiles(values):
    ordered = sorted(values)
    pick = lambda q: ordered[min(len(ordered) - 1, int(q * len(ordered)))]
    return pick(0.5), pick(0.99), ordered[-1]


def legs(transcript):
    """For each trigger frame: when the device read its prompt byte, when it read the frame's
    first byte, and when the frame was complete, on the simulator's clock. A command's bytes
    may be read while an earlier frame is still arriving on the paced line, so reads are
    matched to frames through the byte stream: each "=" begins a command (a bare "=" is the
    connection's probe), and the n-th frame is the n-th command that has a ">"."""
    prompt_read, framed, out = None, [], []
    for event in transcript:
        if event["ev"] == "rx":
            for byte in event["bytes"]:
                if byte == "=":
                    prompt_read = event["t"]
                elif byte == ">" and prompt_read is not None:
                    framed.append((prompt_read, event["t"]))
                    prompt_read = None
        elif event["ev"] == "frame":
            read = framed.pop(0)
            if event["cmd"] == "T1":
                out.append((*read, event["t"]))
    return out


HEADER = (f"{'client':<22} {'triggers':>8}  {'latency p50 / p99 / max ms':>27}  {'x line':>13}  "
          f"{'to the line':>13}  {'prompt-frame':>13}  {'on the line':>13}  {'call returns':>13}")


def measure(args, client):
    # The simulator reads at real-time priority where the system allows it: its read then
    # stands for a serial driver, which takes the bytes as they are written, also on a busy
    # machine; without it a busy machine's delay in waking the simulator counts as latency.
    realtime = ["chrt", "--fifo", "10"] if subprocess.run(["chrt", "--fifo", "10", "true"],
                                                            capture_output=True).returncode == 0 else []
    sim = subprocess.Popen(realtime + [args.sim, "--quiet", "--fault", "pace"] +
                           (["--link", args.link] if args.link else []),
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    try:
        line = sim.stdout.readline().strip()
        port = int(sim.stdout.readline().rsplit(":", 1)[1])
        run = subprocess.run(client, env={**os.environ, "QUORLIB_COM7": line}, capture_output=True, text=True)
        calls = [tuple(map(float, l.split()[1:3])) for l in run.stdout.splitlines() if l.startswith("call ")]
        if run.returncode != 0 or not calls:
            sys.exit(f"{args.label}: the client failed ({run.returncode}): {(run.stdout + run.stderr)[-800:]}")
        ask(port, "wait idle 10000")
        clock = ask(port, "clock")["clock"]
        transcript = ask(port, "transcript")["transcript"]
        ask(port, "quit")
    finally:
        try:
            sim.wait(timeout=30)
        except subprocess.TimeoutExpired:  # the run failed before the simulator was asked to end
            sim.kill()
            sim.wait()
    offset = clock[args.clock] - clock["t"]  # the simulator's stamp s is at s + offset on the client's clock
    frames = legs(transcript)
    if len(frames) != len(calls):
        sys.exit(f"{args.label}: {len(calls)} calls, but the simulator saw {len(frames)} trigger frames")
    ms = lambda values: [1000 * v for v in values]
    latency = ms(done + offset - start for (start, _), (_, _, done) in zip(calls, frames))
    to_line = ms(first + offset - start for (start, _), (first, _, _) in zip(calls, frames))
    between = ms(frame - first for first, frame, _ in frames)
    on_line = ms(done - frame for _, frame, done in frames)
    returns = ms(end - start for start, end in calls)
    p50, p99, top = percentiles(latency)
    pair = lambda values: "{:5.2f} / {:5.2f}".format(*percentiles(values)[:2])
    label = args.label + ("" if realtime else " (*)")
    return (f"{label:<22} {len(calls):>8}  {p50:7.2f} / {p99:7.2f} / {top:7.2f}  "
            f"{p50 / (1000 * LINE_TIME):5.2f} / {p99 / (1000 * LINE_TIME):5.2f}  {pair(to_line)}  {pair(between)}  "
            f"{pair(on_line)}  {pair(returns)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", type=int)
    parser.add_argument("--sim")
    parser.add_argument("--label")
    parser.add_argument("--clock", choices=["monotonic", "wall"], default="monotonic")
    parser.add_argument("--link")
    parser.add_argument("--header", action="store_true")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.client:
        return python_client(args.client)
    if args.header:
        print(f"line's own time for a trigger (8 bytes at 38400 baud 8N1): {1000 * LINE_TIME:.3f} ms")
        print("figures p50 / p99 in ms; x line: latency over the line's own time; (*): the simulator"
              " could not read at real-time priority, so the machine's delay in waking it counts too")
        print(HEADER)
    if args.command:
        print(measure(args, args.command), flush=True)


if __name__ == "__main__":
    main()
