"""The calls of a session reach the device as the automation server sends them, and their
results come back as Python values."""
import enum
import inspect
import os
import re

import pytest

import quorlib
from check_session import EXPECTED_FRAMES
from conftest import check_lab_session_state


# The examples' lab session, call for call, by the Python names and keywords.
LAB_SESSION = [
    ("change_paradigm", dict(paradigm=2)), ("clear_paradigm", {}),
    ("change_channel_mode", dict(channel=1, mode=quorlib.cmTrain)),
    ("set_channel_shape", dict(channel=1, shape=quorlib.csBipolar)), ("set_channel_delay", dict(channel=1, delay=0.025)),
    ("set_channel_duration", dict(channel=1, duration=0.0004)), ("set_channel_interval", dict(channel=1, interval=0.05)),
    ("set_channel_n", dict(channel=1, count=10)), ("set_channel_voltage", dict(channel=1, voltage=2.5)),
    ("set_channel_delta_v", dict(channel=1, step=0.1)),
    ("change_channel_mode", dict(channel=2, mode=quorlib.ChannelModes.cmTrig)),
    ("set_channel_shape", dict(channel=2, shape=quorlib.ChannelShapes.csMonopolar)),
    ("set_channel_delay", dict(channel=2, delay=0.01)), ("set_channel_duration", dict(channel=2, duration=0.001)),
    ("set_channel_voltage", dict(channel=2, voltage=-1.25)), ("set_channel_delta_v", dict(channel=2, step=-0.05)),
    ("connect_channel", dict(channel1=1, channel2=2)), ("trigger", dict(channel=1)),
    ("disconnect_channel", dict(channel1=1, channel2=2)), ("trigger", dict(channel=2)),
    ("copy_paradigm", dict(destination=3)),
]
# Each Python name's alias, the automation interface's name, with its keywords in the same order.
ALIASES = {
    "change_paradigm": "ChangeParadigm", "clear_paradigm": "ClearParadigm", "change_channel_mode": "ChangeChannelMode",
    "set_channel_shape": "SetChannelShape", "set_channel_delay": "SetChannelDelay",
    "set_channel_duration": "SetChannelDuration", "set_channel_interval": "SetChannelInterval",
    "set_channel_n": "SetChannelN", "set_channel_voltage": "SetChannelVoltage", "set_channel_delta_v": "SetChannelDeltaV",
    "connect_channel": "ConnectChannel", "disconnect_channel": "DisconnectChannel", "trigger": "Trigger",
    "copy_paradigm": "CopyParadigm",
}


def test_a_whole_session_sends_the_servers_frames_by_either_name(sim, pulsyn):
    for automation_names in (False, True):
        sim.fresh()
        accepted = []
        for member, arguments in LAB_SESSION:
            if automation_names:  # the automation's keywords, in the Python keywords' order
                alias = getattr(pulsyn, ALIASES[member])
                keywords = list(inspect.signature(alias).parameters)
                result = alias(**dict(zip(keywords, arguments.values())))
            else:
                result = getattr(pulsyn, member)(**arguments)
            if result is not None:
                accepted.append(result)
        assert accepted == [True] * 12 and all(type(a) is bool for a in accepted)
        assert sim.frames() == EXPECTED_FRAMES, automation_names
        check_lab_session_state(sim.state())


def test_results_say_whether_the_device_took_the_value(sim, pulsyn):
    sim.command("limit voltage=10 count=100")
    assert pulsyn.SetChannelVoltage(1, 9.5) is True
    assert pulsyn.SetChannelVoltage(1, 20) is False   # sent, and refused by the device
    assert pulsyn.SetChannelN(3, 1000) is False
    assert pulsyn.Connected is True and pulsyn.Connect() is True
    # Channels 10 to 12 of a link go out as hexadecimal digits.
    pulsyn.ConnectChannel(9, 12)
    pulsyn.ChangeChannelMode(1, 0)
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


def test_a_misspelt_attribute_is_an_error_and_the_repr_shows_the_port_and_the_state(pulsyn):
    for name in ("Conected", "Timeout", "conected", "port"):
        with pytest.raises(AttributeError):
            setattr(pulsyn, name, False)
    assert repr(pulsyn) == f"<quorlib.Pulsyn port={pulsyn.port_name!r} connected=True>"
    assert repr(quorlib.Pulsyn(port="/dev/ttyACM7")) == "<quorlib.Pulsyn port='/dev/ttyACM7' connected=False>"
