"""Fixtures of the quorlib tests: the simulator program on a pseudo-terminal, and a
connected quorlib.Pulsyn. ctest sets QUOR_PULSYN_SIM to the simulator and PYTHONPATH to
the built module."""
import json
import os
import socket
import subprocess
import sys

import pytest

import quorlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "clients"))
from check_session import EXPECTED_CHANNELS  # noqa: E402 (the examples' session, checked for every client)


def check_lab_session_state(state):
    """What the device holds after the examples' lab session: paradigm 2 selected, channels 1
    and 2 programmed there and in its copy, paradigm 3, and both channels triggered."""
    assert state["paradigm"] == 2
    assert [t["channel"] for t in state["triggers"]] == [1, 2]
    paradigms = {p["number"]: p for p in state["paradigms"]}
    for number in (2, 3):
        channels = {c["channel"]: c for c in paradigms[number]["channels"]}
        for channel, expected in EXPECTED_CHANNELS.items():
            assert {k: channels[channel][k] for k in expected} == expected, f"paradigm {number} channel {channel}"


class Simulator:
    """One pulsyn-sim process, driven through its control port."""

    def __init__(self, *options):
        program = os.environ.get("QUOR_PULSYN_SIM")
        if not program:
            raise RuntimeError("QUOR_PULSYN_SIM names no simulator program: run these tests through ctest")
        self.process = subprocess.Popen([program, "--quiet", *options], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, text=True)
        # The first line is the client's end of the line, the second the control port.
        self.path = self.process.stdout.readline().strip()
        port = int(self.process.stdout.readline().rsplit(":", 1)[1])
        self.control = socket.create_connection(("127.0.0.1", port))
        self.answers = self.control.makefile("r")

    def command(self, line):
        self.control.sendall(line.encode() + b"\n")
        answer = json.loads(self.answers.readline())
        assert answer["ok"], f"simulator command {line!r} failed: {answer}"
        return answer

    def frames(self):
        """Every command frame received since the last reset, once all traffic is handled."""
        self.command("wait idle")
        return self.command("frames")["frames"]

    def state(self):
        self.command("wait idle")
        return self.command("state")["state"]

    def fresh(self):
        self.command("wait idle")  # a trigger written just before must not arrive after the reset
        self.command("reset")
        self.command("clear")
        self.command("limit delay=off duration=off interval=off count=off voltage=off step=off")

    def stop(self):
        self.command("quit")
        self.process.wait(timeout=30)
        self.control.close()


@pytest.fixture(scope="session")
def session_simulator():
    simulator = Simulator()
    yield simulator
    simulator.stop()


@pytest.fixture
def sim(session_simulator):
    """The simulator, a fresh device for every test."""
    session_simulator.fresh()
    return session_simulator


@pytest.fixture(scope="session")
def session_pulsyn(session_simulator):
    return quorlib.Pulsyn(port=session_simulator.path)


@pytest.fixture
def pulsyn(sim, session_pulsyn):
    """A Pulsyn connected to the simulator (the connection is kept from test to test)."""
    if not session_pulsyn.Connected:
        assert session_pulsyn.Connect()
    sim.fresh()  # connecting sends a prompt of its own
    return session_pulsyn
