"""Wrong calls raise quorlib.Error with the library's own message, and send nothing."""
import errno

import pytest

import quorlib

CHANNEL = "Channel Error: Channel Parameter must be between 1 and 9."
NO_DEVICE_NUMBER = "has no device number form: the stimulator takes 0 and magnitudes from 1.000E-9 to 9.999E+9"

# (call, the library's message, the parameter it names)
REFUSALS = [
    (lambda p: p.change_paradigm(10), "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.",
     "paradigm"),
    (lambda p: p.change_channel_mode(0, quorlib.cmOff), CHANNEL, "channel"),
    (lambda p: p.change_channel_mode(1, -1), "ChannelMode Error: Wrong Mode Parameter.", "mode"),
    (lambda p: p.set_channel_shape(1, 3), "ChannelShape Error: Wrong Shape Parameter.", "shape"),
    (lambda p: p.trigger(-1), CHANNEL, "channel"),
    (lambda p: p.set_channel_delay(10, 0.5), CHANNEL, "channel"),
    (lambda p: p.set_channel_delay(1, float("inf")), "Range Error: Delay Value must be between 0 and 3999s.", "delay"),
    (lambda p: p.set_channel_delay(1, 1e-12), "'1e-12' " + NO_DEVICE_NUMBER, "delay"),
    (lambda p: p.set_channel_duration(1, 0.0000039), "Range Error: Duration Value must be between 4us and 3999s.",
     "duration"),
    (lambda p: p.set_channel_interval(1, 4000), "Range Error: Interval Value must be between 40us and 3999s.",
     "interval"),
    (lambda p: p.set_channel_n(1, 12345), "Range Error: N Value 12345 has more than four significant digits, "
                                          "which the stimulator cannot take exactly: use 12340 or 12350.", "count"),
    (lambda p: p.set_channel_voltage(1, float("nan")), "'nan' " + NO_DEVICE_NUMBER, "voltage"),
    (lambda p: p.set_channel_delta_v(1, 1e10), "'1e+10' " + NO_DEVICE_NUMBER, "step"),
    (lambda p: p.connect_channel(0, 2), "Error: First Parameter must be between 1 and 9.", "channel1"),
    (lambda p: p.connect_channel(1, 13), "Error: Second Parameter must be between 1 and 12.", "channel2"),
    (lambda p: p.connect_channel(3, 3), "Error: ConnectChannel cant Connect a channel to itself.", "channel2"),
    (lambda p: p.disconnect_channel(4, 4), "Error: DisconnectChannel cant disconnect a channel from itself.",
     "channel2"),
]


def test_each_wrong_argument_is_refused_with_the_librarys_message_and_nothing_sent(sim, pulsyn):
    for call, message, parameter in REFUSALS:
        with pytest.raises(quorlib.ArgumentError) as raised:
            call(pulsyn)
        assert str(raised.value) == message and isinstance(raised.value, ValueError)
        assert raised.value.parameter == parameter, message
    assert sim.frames() == []
    assert pulsyn.connected  # a refusal leaves the connection as it was


def test_copying_needs_the_current_paradigm_and_another_destination(sim, pulsyn):
    pulsyn.ChangeParadigm(4)
    for destination, message in ((4, "CopyParadigm Error: Cannot copy paradigm to itself."),
                                 (0, "CopyParadigm Error: Paradigm Parameter must be between 1 and 9.")):
        with pytest.raises(quorlib.Error, match="^" + message + "$"):
            pulsyn.CopyParadigm(destination)
    # The device is asked for its paradigm first; no copy goes out.
    assert sim.frames() == ["Y4R", "GPR", "GPR"]


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
    pulsyn.change_paradigm(2)
    nul_name = str(tmp_path / "log") + "\0.rtf"
    # (name, the reason the message gives, errno): the library's own refusals are EINVAL.
    for name, reason, number in ((tmp_path / "COM7.rtf", "COM7 is a device name", errno.EINVAL),
                                 ("\\\\.\\COM7", "is a device path", errno.EINVAL),
                                 (nul_name, "contains a NUL character", errno.EINVAL),
                                 ("/dev/null", "not a file on disk", errno.EINVAL),
                                 (tmp_path / "missing" / "log.rtf", "No such file or directory", errno.ENOENT)):
        with pytest.raises(quorlib.LogFileError, match="^Cannot create file ") as raised:
            pulsyn.save_session_commands(name)
        error = raised.value
        assert reason in str(error) and isinstance(error, OSError), str(error)
        assert (error.errno, error.filename, error.member) == (number, str(name), "save_session_commands")
    assert sorted(tmp_path.iterdir()) == []
    pulsyn.save_session_commands(tmp_path / "log.rtf")
    assert ">0003Y2R" in (tmp_path / "log.rtf").read_text(encoding="cp1252")
    assert sim.frames() == ["Y2R"]
