"""Threads: any thread may use any object. Calls on one connection wait their turn and never
interleave with a dialogue; connections to different devices work side by side."""
import concurrent.futures
import os
import signal
import threading

import pytest

import quorlib
from conftest import Simulator


def reply_sent_before(sim, frame):
    """Whether the device had answered before `frame` reached it."""
    answered = False
    for event in sim.command("transcript")["transcript"]:
        if event["ev"] == "tx" and "<" in event["bytes"]:
            answered = True
        if event["ev"] == "rx" and frame in event["bytes"]:
            return answered
    raise AssertionError(f"{frame} never reached the device")


def test_two_stimulators_from_two_threads_at_once():
    slow, fast = Simulator(), Simulator()
    try:
        slow_one, fast_one = quorlib.Pulsyn(port=slow.path), quorlib.Pulsyn(port=fast.path)
        assert slow_one.Connect() and fast_one.Connect()
        for device in (slow, fast):
            device.fresh()
        slow.command("fault delay=2000")  # its reply leaves 2 s after the command arrived
        seen = {}

        def on_the_other_device():
            slow.command("wait frames 1")  # the slow device's command waits for its reply
            seen["accepted"] = [fast_one.SetChannelDelay(channel, 0.5) for channel in (1, 2, 3)]
            fast_one.Trigger(4)
            events = slow.command("transcript")["transcript"]
            seen["slow reply still held back"] = not any(e["ev"] == "tx" and "<" in e["bytes"] for e in events)

        worker = threading.Thread(target=on_the_other_device)
        worker.start()
        assert slow_one.SetChannelDelay(1, 0.025) is True
        worker.join()
        assert seen == {"accepted": [True] * 3, "slow reply still held back": True}
        assert slow.frames() == ["L1+25.00E-3R"]
        assert fast.frames() == ["L1+500.0E-3R", "L2+500.0E-3R", "L3+500.0E-3R", "T4"]
    finally:
        slow.stop()
        fast.stop()


@pytest.mark.parametrize("second_call", ["same object", "another object on the port"])
def test_a_second_threads_call_on_one_connection_waits_for_the_dialogue(sim, pulsyn, second_call):
    other = pulsyn if second_call == "same object" else quorlib.Pulsyn(port=sim.path)
    assert other.Connect()
    sim.fresh()
    sim.command("fault delay=1000")
    done = []

    def trigger_once_the_command_is_at_the_device():
        sim.command("wait frames 1")
        done.append(other.port_name == sim.path)  # waits too, letting the dialogue log its reply
        other.Trigger(3)
        done.append(other.Connected)

    worker = threading.Thread(target=trigger_once_the_command_is_at_the_device)
    worker.start()
    assert pulsyn.SetChannelDelay(1, 0.5) is True
    worker.join()
    assert done == [True, True]
    assert sim.frames() == ["L1+500.0E-3R", "T3"]
    assert reply_sent_before(sim, ">0002T3")


def test_a_worker_first_program_then_the_main_thread_and_fresh_executor_threads(sim):
    with concurrent.futures.ThreadPoolExecutor(max_workers=1) as executor:
        made_in_a_worker = executor.submit(lambda: quorlib.Pulsyn(port=sim.path)).result()
        assert executor.submit(made_in_a_worker.Connect).result()
    # The worker and its thread are gone; the main thread uses its object and makes others.
    made_in_a_worker.ChangeParadigm(2)
    for number in range(1, 5):
        with concurrent.futures.ThreadPoolExecutor(max_workers=1) as fresh:  # a new thread each time
            fresh.submit(made_in_a_worker.Trigger, number).result()
    with quorlib.Pulsyn(port=sim.path) as main_object:
        main_object.ChangeParadigm(3)
    made_in_a_worker.Connected = False
    assert sim.frames() == ["Y2R", "T1", "T2", "T3", "T4", "Y3R"]


def test_ctrl_c_ends_a_wait_for_another_threads_dialogue_and_sends_nothing(sim, pulsyn):
    sim.command("fault delay=3000")

    def hold_the_connection():
        pulsyn.SetChannelDelay(1, 0.5)

    worker = threading.Thread(target=hold_the_connection)
    worker.start()
    sim.command("wait frames 1")
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            pulsyn.Trigger(2)  # waits for the worker's dialogue until Ctrl+C
    finally:
        timer.join()
        worker.join()
    assert sim.frames() == ["L1+500.0E-3R"]
