"""Threads: a command's wait lets other Python threads run, and none of them can get into
the library meanwhile."""
import threading

import pytest

import quorlib

OTHER_THREAD = ("QuorLib.Pulsyn was called from another thread than the one that first used it: make every call "
                "from that thread (the class is apartment-threaded; another thread must go through a marshalled "
                "interface).")


def test_another_thread_runs_while_a_command_waits_and_is_refused_by_the_library(sim, pulsyn):
    sim.command("fault delay=2000")  # the reply leaves 2 s after the command arrived
    seen = {}

    def another_thread():
        sim.command("wait frames 1")  # the owner's command is at the device: its call waits
        for name, call in (("trigger", lambda: pulsyn.Trigger(1)), ("read", lambda: pulsyn.Connected),
                           ("disconnect", lambda: setattr(pulsyn, "Connected", False)),
                           ("new object", lambda: quorlib.Pulsyn(port=sim.path))):
            try:
                call()
                seen[name] = "not refused"
            except quorlib.Error as error:
                seen[name] = str(error)
        # Had the owner's call kept the interpreter, this thread would only have run after
        # the reply had come.
        events = sim.command("transcript")["transcript"]
        seen["reply still held back"] = not any(e["ev"] == "tx" and "<" in e["bytes"] for e in events)

    worker = threading.Thread(target=another_thread)
    worker.start()
    accepted = pulsyn.SetChannelDelay(1, 0.5)
    worker.join()

    assert accepted is True
    assert seen == {"trigger": OTHER_THREAD, "read": OTHER_THREAD, "disconnect": OTHER_THREAD,
                    "new object": OTHER_THREAD, "reply still held back": True}
    assert sim.frames() == ["L1+500.0E-3R"]
    assert pulsyn.Connected
