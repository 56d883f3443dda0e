#!/usr/bin/env python3
"""The example protocol file as the reference tells a user to run it: checked, then
programmed into a simulated stimulator with the quorlib command; the device then holds what
the file says, and nothing else of those paradigms.

    check-protocol.py SOURCE_DIR   (QUOR_PULSYN_SIM: the simulator; QUOR_QUORLIB_DIR: the module)
"""
import json
import os
import socket
import subprocess
import sys
import tomllib

MODE_LETTERS = dict(zip(["off", "freerun", "train", "trig", "dc", "gate", "twin"], "OFNGCTW"))
SHAPE_LETTERS = dict(zip(["monopolar", "bipolar", "ramp"], "MBR"))


def differences(document, state):
    """Each value of the file the device does not hold (to the device's four digits)."""
    paradigms = {p["number"]: p for p in state["paradigms"]}
    found = []
    for number, paradigm in document["paradigm"].items():
        held = paradigms[int(number)]
        wanted_links = sorted(tuple(link) for link in paradigm.get("links", []))
        if sorted(tuple(link) for link in held["links"]) != wanted_links:
            found.append(f"paradigm {number} links: {held['links']} instead of {wanted_links}")
        channels = {c["channel"]: c for c in held["channels"]}
        for channel, settings in paradigm.get("channel", {}).items():
            for name, value in settings.items():
                has = channels[int(channel)][name]
                if name in ("mode", "shape"):
                    ok = has == (MODE_LETTERS if name == "mode" else SHAPE_LETTERS)[value]
                else:
                    ok = abs(float(has) - value) <= abs(value) * 5e-4
                if not ok:
                    found.append(f"paradigm {number} channel {channel} {name}: {has!r} instead of {value!r}")
    return found


def main(source_dir):
    example = os.path.join(source_dir, "examples", "protocol.toml")
    environment = dict(os.environ, PYTHONPATH=os.environ["QUOR_QUORLIB_DIR"])
    sim = subprocess.Popen([os.environ["QUOR_PULSYN_SIM"], "--quiet"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, text=True)
    try:
        path = sim.stdout.readline().strip()
        control = socket.create_connection(("127.0.0.1", int(sim.stdout.readline().rsplit(":", 1)[1])))
        answers = control.makefile("r")

        def ask(line):
            control.sendall(line.encode() + b"\n")
            return json.loads(answers.readline())

        # The device holds settings of its own before: programming must clear them.
        quorlib = [sys.executable, "-m", "quorlib", "--port", path]
        subprocess.run(quorlib + ["paradigm", "2", "voltage", "3", "1", "link", "5", "6"], env=environment, check=True)
        for words in (["program", "--check", example], ["program", example]):
            run = subprocess.run(quorlib + words, env=environment, capture_output=True, text=True)
            print(f"$ quorlib {' '.join(words)}\n{run.stdout}{run.stderr}", end="")
            if run.returncode != 0:
                return f"quorlib {' '.join(words)} failed ({run.returncode})"
        ask("wait idle")
        state = ask("state")["state"]
        ask("quit")
    finally:
        sim.wait(timeout=30)
    with open(example, "rb") as file:
        document = tomllib.load(file)
    found = differences(document, state)
    paradigm2 = {c["channel"]: c for c in next(p for p in state["paradigms"] if p["number"] == 2)["channels"]}
    if float(paradigm2[3]["voltage"]) != 0:
        found.append(f"paradigm 2 channel 3 still holds the voltage {paradigm2[3]['voltage']!r} set before")
    for line in found:
        print("FAILED:", line)
    print(f"{'ok' if not found else 'FAILED'}: the simulator holds what {example} says")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
