"""Threads: a command's wait lets other Python threads run, and none of them can get into
the library meanwhile."""
import threading

import pytest

import quorlib

OTHER_THREAD = ("QuorLib.Pulsyn was called from another thread than the one that first used it: make every call "
                "from that thread (the class is apartment-threaded; another thread must go through a marshalled "
                "interface).")


def test_another_thread_runs_while_a_command_waits_and_is_refused_by_the_library(sim, pulsyn):
    sim.command("fault delay=2000")  # the reply comes 2 s after the command
    returned = threading.Event()
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
        seen["while waiting"] = not returned.is_set()

    worker = threading.Thread(target=another_thread)
    worker.start()
    accepted = pulsyn.SetChannelDelay(1, 0.5)
    returned.set()
    worker.join()

    assert accepted is True
    assert seen == {"trigger": OTHER_THREAD, "read": OTHER_THREAD, "disconnect": OTHER_THREAD,
                    "new object": OTHER_THREAD, "while waiting": True}
    assert sim.frames() == ["L1+500.0E-3R"]
    assert pulsyn.Connected


def test_a_with_block_on_another_thread_is_refused_and_leaves_the_connection(sim, pulsyn):
    errors = []

    def another_thread():
        try:
            with pulsyn:
                pass
        except quorlib.Error as error:
            errors.append(str(error))

    worker = threading.Thread(target=another_thread)
    worker.start()
    worker.join()
    assert errors == [OTHER_THREAD]
    assert pulsyn.SetChannelN(1, 5) is True
