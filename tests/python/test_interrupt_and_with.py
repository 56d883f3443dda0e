"""Ctrl+C during a wait, and with-blocks that connect."""
import os
import signal
import threading

import pytest

import quorlib
from conftest import Simulator


def test_ctrl_c_interrupts_a_wait_for_a_silent_device_and_the_link_stays_usable():
    device = Simulator()
    try:
        p = quorlib.Pulsyn(port=device.path)  # the default 15 s reply wait
        assert p.Connect()
        device.command("wait idle")
        device.command("reset")
        device.command("fault silence")

        def press_ctrl_c_once_the_command_arrived():
            device.command("wait frames 1")
            os.kill(os.getpid(), signal.SIGINT)

        presser = threading.Thread(target=press_ctrl_c_once_the_command_arrived)
        presser.start()
        try:
            with pytest.raises(KeyboardInterrupt):
                p.SetChannelDelay(1, 0.5)
        finally:
            presser.join()
        device.command("clear")
        assert p.Connected and p.SetChannelDelay(1, 0.25) is True
        assert device.frames() == ["L1+500.0E-3R", "L1+250.0E-3R"]
        p.Connected = False
    finally:
        device.stop()


def test_a_with_block_connects_to_a_named_port_and_disconnects(sim, monkeypatch):
    with quorlib.Pulsyn(port=sim.path) as p:
        assert p.Connected
        p.Trigger(2)
    assert not p.Connected
    monkeypatch.setenv("QUORLIB_PORT", f" {sim.path} ")  # a device path, blanks around it
    with quorlib.Pulsyn() as p:
        assert p.Connected and p.port_name == sim.path
        p.Trigger(3)
    assert sim.frames() == ["T2", "T3"]
    monkeypatch.setenv("QUORLIB_PORT", "COM5")
    monkeypatch.setenv("QUORLIB_COM5", sim.path)
    with quorlib.Pulsyn() as p:
        assert p.Connected
    monkeypatch.delenv("QUORLIB_PORT")
    # Without a named port, entering connects nothing (Connect then searches).
    with quorlib.Pulsyn() as p:
        assert not p.Connected

