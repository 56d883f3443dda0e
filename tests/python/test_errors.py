"""The exception classes Python code catches, and the reply wait (timeout=)."""
import errno
import pickle

import pytest

import quorlib


def test_a_port_that_cannot_be_opened_is_an_OSError_with_errno_and_the_path(tmp_path):
    missing = str(tmp_path / "ttyACM9")
    with pytest.raises(quorlib.PortError) as raised:
        quorlib.Pulsyn(port=missing).connect()
    error = raised.value
    assert isinstance(error, OSError) and error.errno == errno.ENOENT
    assert missing in str(error) and "(Error: 2)" in str(error)
    assert (error.port, error.member) == (missing, "connect")

    not_a_tty = tmp_path / "plain-file"
    not_a_tty.write_text("")
    not_a_tty.chmod(0)
    with pytest.raises(quorlib.PortError) as raised:
        quorlib.Pulsyn(port=str(not_a_tty)).Connect()
    if raised.value.errno == errno.EACCES:  # not when the tests run as root
        assert "dialout" in str(raised.value)


def test_every_exception_class_survives_pickling_with_its_message_and_attributes():
    made = [quorlib.Error("failed"), quorlib.ArgumentError("refused", "channel"),
            quorlib.PortError(errno.ENOENT, "no such port"), quorlib.PortError(None, "transfer failed"),
            quorlib.LogFileError(errno.EACCES, "Cannot create file", "/root/log.rtf"),
            quorlib.NotConnectedError("connect first"), quorlib.PortLostError("gone"), quorlib.NoReplyError("silent"),
            quorlib.ProtocolError("p.toml", [(3, "paradigm.2.channel.1.delay", "Range Error")]),
            quorlib.RefusedError(quorlib.Setting(1, 2, "delay", 0.5, "p.toml, line 4"))]
    classes = {c for c in vars(quorlib).values() if isinstance(c, type) and issubclass(c, quorlib.Error)}
    assert {type(e) for e in made} == classes
    for error in made:
        error.port, error.member = "COM7", "trigger"
        if isinstance(error, quorlib.NoReplyError):
            error.waited = 0.3
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error) and str(copy) == str(error) and vars(copy) == vars(error)
        assert (getattr(copy, "errno", None), getattr(copy, "filename", None)) == (
            getattr(error, "errno", None), getattr(error, "filename", None))


def test_a_reply_that_never_comes_is_a_TimeoutError_after_the_objects_timeout(sim, pulsyn):
    pulsyn.timeout = 0.3
    try:
        sim.command("fault silence")
        with pytest.raises(quorlib.NoReplyError) as raised:
            pulsyn.SetChannelVoltage(1, 2.0)
        assert isinstance(raised.value, TimeoutError)
        assert (raised.value.waited, raised.value.member, raised.value.port) == (
            0.3, "set_channel_voltage", pulsyn.port_name)
        assert str(raised.value).startswith('The stimulator did not answer "V1+2.000E+0" within 0.3 s')
        with pytest.raises(quorlib.NoReplyError):
            pulsyn.ChangeParadigm(3)
        sim.command("clear")
        assert pulsyn.SetChannelVoltage(1, 2.5) is True  # the late replies are skipped
    finally:
        pulsyn.timeout = 15
    assert pulsyn.timeout == 15.0


def test_a_lost_port_is_its_own_class(tmp_path):
    from conftest import Simulator
    device = Simulator()
    try:
        p = quorlib.Pulsyn(port=device.path)
        assert p.Connect()
        device.command("fault hangup")
        with pytest.raises(quorlib.PortLostError):
            p.SetChannelVoltage(1, 1.0)
        p.Connected = False
    finally:
        device.stop()
