"""Several stimulators from one script: each object sends only to the device it connected to;
objects on one device share its connection, which closes when the last of them lets go."""
import os

from conftest import Simulator

import quorlib


def test_two_ports_have_independent_connections_and_logs_and_one_port_is_shared(tmp_path):
    first, second = Simulator(), Simulator()
    try:
        a, b = quorlib.Pulsyn(port=first.path), quorlib.Pulsyn(port=second.path)
        assert a.Connect() and b.Connect()
        also_first = quorlib.Pulsyn(port=first.path)
        assert also_first.Connect()
        first.command("wait idle")
        second.command("wait idle")
        first.command("reset")
        second.command("reset")

        a.ChangeParadigm(2)
        b.ChangeParadigm(3)
        assert b.SetChannelDelay(1, 0.5)
        also_first.Trigger(4)
        assert a.SetChannelDelay(1, 0.025)
        b.Trigger(2)
        assert first.frames() == ["Y2R", "T4", "L1+25.00E-3R"]
        assert second.frames() == ["Y3R", "L1+500.0E-3R", "T2"]
        assert (a.port_name, b.port_name) == (first.path, second.path)

        a.SaveSessionCommands(tmp_path / "first.rtf")
        b.SaveSessionCommands(tmp_path / "second.rtf")
        log_a, log_b = (tmp_path / "first.rtf").read_bytes(), (tmp_path / "second.rtf").read_bytes()
        assert b">0002T4" in log_a and b"L1+500.0E-3R" not in log_a
        assert b">0002T2" in log_b and b"Y2R" not in log_b

        # Ending one device's connection leaves the other's alone; on a shared port each object
        # lets go for itself.
        b.Connected = False
        assert a.Connected and also_first.Connected and not b.Connected
        a.Connected = False
        assert also_first.Connected and not a.Connected
        also_first.Trigger(5)
        assert a.Connect()
        a.Trigger(1)
        assert first.frames()[-2:] == ["T5", "T1"] and "T1" not in second.frames()
        a.Connected = False
        also_first.Connected = False
    finally:
        first.stop()
        second.stop()


def open_paths():
    return {os.readlink(f"/proc/self/fd/{fd}") for fd in os.listdir("/proc/self/fd")
            if os.path.exists(f"/proc/self/fd/{fd}")}


def test_a_helper_with_its_own_with_block_and_a_second_name_share_the_callers_connection(tmp_path):
    device = Simulator()
    alias = tmp_path / "by-id-stimulator"
    os.symlink(device.path, alias)  # one device under two names, as /dev/serial/by-id/... is
    try:
        def helper(name):
            with quorlib.Pulsyn(port=name) as mine:
                mine.Trigger(2)

        with quorlib.Pulsyn(port=device.path) as caller:
            for name in (device.path, str(alias), os.path.relpath(alias)):
                helper(name)
                assert caller.Connected
                caller.ChangeParadigm(3)  # still the caller's connection
            with quorlib.Pulsyn(port=str(alias)) as other_name:
                assert other_name.Connected and caller.Connected
        assert not caller.Connected and device.path not in open_paths()
        assert device.frames() == ["T2", "Y3R"] * 3
        # The log of the connection outlives its with block, until the object connects again.
        caller.SaveSessionCommands(tmp_path / "log.rtf")
        assert (tmp_path / "log.rtf").read_text(encoding="cp1252").count(">0002T2") == 3
    finally:
        device.stop()
