"""Several stimulators from one script: each object sends only to the device it connected to."""
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

        # Ending one device's connection leaves the other's alone; it ends for every object
        # on that port.
        b.Connected = False
        assert a.Connected and also_first.Connected and not b.Connected
        a.Connected = False
        assert not also_first.Connected
        assert a.Connect()
        a.Trigger(1)
        assert first.frames()[-1] == "T1" and "T1" not in second.frames()
        a.Connected = False
    finally:
        first.stop()
        second.stop()
