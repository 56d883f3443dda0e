"""The calls of a session reach the device as the automation server sends them, and their
results come back as Python values."""
import enum
import inspect
import os
import re

import quorlib
from check_session import EXPECTED_FRAMES
from conftest import check_lab_session_state


def run_lab_session(p):
    """The examples' lab session, call for call, as a Python client writes it."""
    accepted = []
    p.ChangeParadigm(2)
    p.ClearParadigm()
    p.ChangeChannelMode(1, quorlib.cmTrain)
    accepted += [p.SetChannelShape(1, quorlib.csBipolar), p.SetChannelDelay(1, 0.025),
                 p.SetChannelDuration(1, 0.0004), p.SetChannelInterval(1, 0.05), p.SetChannelN(1, 10),
                 p.SetChannelVoltage(1, 2.5), p.SetChannelDeltaV(1, 0.1)]
    p.ChangeChannelMode(2, quorlib.ChannelModes.cmTrig)
    accepted += [p.SetChannelShape(2, quorlib.ChannelShapes.csMonopolar), p.SetChannelDelay(2, 0.01),
                 p.SetChannelDuration(2, 0.001), p.SetChannelVoltage(2, -1.25), p.SetChannelDeltaV(2, -0.05)]
    p.ConnectChannel(1, 2)
    p.Trigger(1)
    p.DisconnectChannel(1, 2)
    p.Trigger(2)
    p.CopyParadigm(3)
    return accepted


def test_a_whole_session_sends_the_servers_frames_and_programs_the_device(sim, pulsyn):
    accepted = run_lab_session(pulsyn)
    assert accepted == [True] * 12 and all(type(a) is bool for a in accepted)
    assert sim.frames() == EXPECTED_FRAMES
    check_lab_session_state(sim.state())


def test_results_say_whether_the_device_took_the_value(sim, pulsyn):
    sim.command("limit voltage=10 count=100")
    assert pulsyn.SetChannelVoltage(1, 9.5) is True
    assert pulsyn.SetChannelVoltage(1, 20) is False   # sent, and refused by the device
    assert pulsyn.SetChannelN(3, 1000) is False
    assert pulsyn.Connected is True and pulsyn.Connect() is True
    # Channels 10 to 12 of a link go out as hexadecimal digits; numbers of the other types
    # that Python holds exactly are taken as well.
    pulsyn.ConnectChannel(9, 12)
    pulsyn.ChangeChannelMode(True, 0)
    assert pulsyn.SetChannelDelay(1, 2) is True
    assert sim.frames() == ["V1+9.500E+0R", "V1+20.00E+0R", "N3+1.000E+3R", "X9CR", "MO1R", "L1+2.000E+0R"]


def test_the_names_are_those_of_the_type_library():
    idl = open(os.path.join(os.environ["QUOR_SOURCE_DIR"], "src", "server", "QuorLib.idl")).read()
    interface = re.search(r"interface IPulsyn : IDispatch\s*\{(.*?)\}", idl, re.S).group(1)
    for attributes, member, parameters in re.findall(r"\[([^]]*)\] HRESULT (\w+)\(([^)]*)\)", interface):
        if "propget" in attributes or "propput" in attributes:
            assert isinstance(getattr(quorlib.Pulsyn, member), property)
            continue
        # The same parameters in the same order (they may be passed by name, too); the
        # out-value is the result.
        names = [p.split()[-1].split("*")[-1] for p in parameters.split(",") if "[in]" in p]
        assert callable(getattr(quorlib.Pulsyn, member))
        signature = inspect.signature(getattr(quorlib.Pulsyn, member))
        assert list(signature.parameters)[1:] == names, signature

    for name in ("ChannelModes", "ChannelShapes"):
        body = re.search(r"enum %s\s*\{(.*?)\}" % name, idl, re.S).group(1)
        declared = {m: int(v) for m, v in re.findall(r"(\w+)\s*=\s*(\d+)", body)}
        python_enum = getattr(quorlib, name)
        assert issubclass(python_enum, enum.IntEnum)
        assert {m.name: m.value for m in python_enum} == declared
        for member, value in declared.items():
            assert getattr(quorlib, member) is python_enum[member] and getattr(quorlib, member) == value


def test_the_traffic_log_is_saved_and_shown(sim, pulsyn, tmp_path, capfd):
    pulsyn.SetChannelDelay(7, 0.123)  # the log goes back to the connection, shared by the tests
    saved = tmp_path / "séance.rtf"
    pulsyn.SaveSessionCommands(saved)          # any path-like object, any characters
    document = saved.read_bytes()
    assert document.startswith(b"{\\rtf") and b">0012L7+123.0E-3R" in document
    pulsyn.SaveSessionCommands(str(saved))     # replaced, not appended to
    assert saved.read_bytes().count(b">0012L7+123.0E-3R") == 1

    pulsyn.ShowMonitor()
    pulsyn.Trigger(4)
    shown = capfd.readouterr().err
    assert "L7+123.0E-3R -> OK." in shown and shown.endswith(" T4\n")
