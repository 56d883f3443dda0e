"""Wrong calls raise quorlib.Error with the library's own message, and send nothing."""
import pytest

import quorlib

CHANNEL = "Channel Error: Channel Parameter must be between 1 and 9."
NO_DEVICE_NUMBER = "has no device number form: the stimulator takes 0 and magnitudes from 1.000E-9 to 9.999E+9"

REFUSALS = [
    (lambda p: p.ChangeParadigm(10), "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9."),
    (lambda p: p.ChangeChannelMode(0, quorlib.cmOff), CHANNEL),
    (lambda p: p.ChangeChannelMode(1, -1), "ChannelMode Error: Wrong Mode Parameter."),
    (lambda p: p.SetChannelShape(1, 3), "ChannelShape Error: Wrong Shape Parameter."),
    (lambda p: p.Trigger(-1), CHANNEL),
    (lambda p: p.SetChannelDelay(10, 0.5), CHANNEL),
    (lambda p: p.SetChannelDelay(1, float("inf")), "Range Error: Delay Value must be between 0 and 3999s."),
    (lambda p: p.SetChannelDuration(1, 0.0000039), "Range Error: Duration Value must be between 4us and 3999s."),
    (lambda p: p.SetChannelInterval(1, 4000), "Range Error: Interval Value must be between 40us and 3999s."),
    (lambda p: p.SetChannelN(1, 12345), "Range Error: N Value 12345 has more than four significant digits, "
                                        "which the stimulator cannot take exactly: use 12340 or 12350."),
    (lambda p: p.SetChannelVoltage(1, float("nan")), "'nan' " + NO_DEVICE_NUMBER),
    (lambda p: p.SetChannelDeltaV(1, 1e10), "'1e+10' " + NO_DEVICE_NUMBER),
    (lambda p: p.ConnectChannel(0, 2), "Error: First Parameter must be between 1 and 9."),
    (lambda p: p.ConnectChannel(1, 13), "Error: Second Parameter must be between 1 and 12."),
    (lambda p: p.ConnectChannel(3, 3), "Error: ConnectChannel cant Connect a channel to itself."),
    (lambda p: p.DisconnectChannel(4, 4), "Error: DisconnectChannel cant disconnect a channel from itself."),
]


def test_each_wrong_argument_is_refused_with_the_librarys_message_and_nothing_sent(sim, pulsyn):
    for call, message in REFUSALS:
        with pytest.raises(quorlib.Error) as raised:
            call(pulsyn)
        assert str(raised.value) == message
        assert isinstance(raised.value, RuntimeError)
    assert sim.frames() == []
    assert pulsyn.Connected  # a refusal leaves the connection as it was


def test_copying_needs_the_current_paradigm_and_another_destination(sim, pulsyn):
    pulsyn.ChangeParadigm(4)
    for destination, message in ((4, "CopyParadigm Error: Cannot copy paradigm to itself."),
                                 (0, "CopyParadigm Error: Paradigm Parameter must be between 1 and 9.")):
        with pytest.raises(quorlib.Error, match="^" + message + "$"):
            pulsyn.CopyParadigm(destination)
    # The device is asked for its paradigm first; no copy goes out.
    assert sim.frames() == ["Y4R", "GPR", "GPR"]


def test_numbers_python_cannot_pass_as_the_interfaces_types_are_type_errors(sim, pulsyn):
    for call in (lambda p: p.Trigger(2 ** 31), lambda p: p.Trigger(1.0), lambda p: p.SetChannelDelay(1, "0.5"),
                 lambda p: p.SaveSessionCommands(None)):
        with pytest.raises(TypeError):
            call(pulsyn)
    assert sim.frames() == []


def test_without_a_connection_every_command_says_to_connect_first(sim, pulsyn, tmp_path):
    pulsyn.ChangeParadigm(2)
    pulsyn.Connected = False
    assert pulsyn.Connected is False
    never = quorlib.Pulsyn(port=sim.path)
    for p, call in ((pulsyn, lambda p: p.ChangeParadigm(1)), (pulsyn, lambda p: p.Trigger(1)),
                    (pulsyn, lambda p: p.SetChannelDelay(1, 0.5)), (never, lambda p: p.ShowMonitor()),
                    (never, lambda p: p.SaveSessionCommands(tmp_path / "never.rtf"))):
        with pytest.raises(quorlib.NotConnectedError,
                           match=r"^Not connected to the stimulator: call Connect \(or set Connected to True\) first\.$"):
            call(p)
    assert not (tmp_path / "never.rtf").exists()
    assert sim.frames() == ["Y2R"]
    # The log of the connection an object let go of can still be saved, until it connects again.
    pulsyn.SaveSessionCommands(tmp_path / "log.rtf")
    assert ">0003Y2R" in (tmp_path / "log.rtf").read_text(encoding="cp1252")



def test_the_log_is_saved_only_to_a_file_of_the_name_given(sim, pulsyn, tmp_path):
    pulsyn.ChangeParadigm(2)
    for name, reason in ((tmp_path / "COM7.rtf", "COM7 is a device name"), ("\\\\.\\COM7", "is a device path"),
                         (str(tmp_path / "log") + "\0.rtf", "contains a NUL character"),
                         ("/dev/null", "not a file on disk")):
        with pytest.raises(quorlib.Error, match="^Cannot create file ") as raised:
            pulsyn.SaveSessionCommands(name)
        assert reason in str(raised.value)
    assert sorted(tmp_path.iterdir()) == []
    pulsyn.SaveSessionCommands(tmp_path / "log.rtf")
    assert ">0003Y2R" in (tmp_path / "log.rtf").read_text(encoding="cp1252")
    assert sim.frames() == ["Y2R"]
