"""Which port a Pulsyn opens, and when it lets it go."""
import os
import subprocess
import sys
import textwrap

import pytest

import quorlib
from conftest import Simulator


def open_paths():
    """The files this process holds open."""
    paths = set()
    for fd in os.listdir("/proc/self/fd"):
        try:
            paths.add(os.readlink(f"/proc/self/fd/{fd}"))
        except OSError:
            pass  # the descriptor listdir itself used
    return paths


def test_a_port_is_named_as_COMn_or_by_its_path_and_nothing_else(sim, monkeypatch):
    monkeypatch.setenv("QUORLIB_COM7", sim.path)  # on Linux, QUORLIB_COMn names port n's device
    for port in ("COM7", "com7", sim.path):
        p = quorlib.Pulsyn(port=port)
        assert p.Connect() is True
        p.Trigger(port.lower() == "com7" and 7 or 8)
    assert [t["channel"] for t in sim.state()["triggers"]] == [7, 7, 8]
    for port in ("ttyACM0", "COM", "COM0", "COM7x", ""):
        with pytest.raises(quorlib.Error) as raised:
            quorlib.Pulsyn(port=port)
        assert str(raised.value) == (f'"{port}" is not a port: name the stimulator\'s port as COM1, COM2, ... '
                                     '(e.g. "COM7") or by its device path (e.g. "/dev/ttyACM0").')


def test_a_with_block_lets_the_port_go_at_its_end_also_after_an_exception():
    sim = Simulator()  # a device no other test's object holds
    try:
        with quorlib.Pulsyn(port=sim.path) as p:
            assert p.Connect()
            assert sim.path in open_paths()
        assert not p.Connected and sim.path not in open_paths()

        with pytest.raises(ZeroDivisionError):
            with quorlib.Pulsyn(port=sim.path) as p:
                p.Connected = True
                p.Trigger(3)
                1 / 0
        assert not p.Connected and sim.path not in open_paths()
        with pytest.raises(quorlib.Error, match="^Not connected"):
            p.Trigger(3)
        assert sim.frames() == ["T3"]
    finally:
        sim.stop()


def test_a_port_that_goes_away_is_named_and_connecting_opens_it_again(tmp_path):
    link = str(tmp_path / "stimulator")
    device = Simulator("--link", link)
    try:
        p = quorlib.Pulsyn(port=link)
        assert p.Connect()
        device.command("fault hangup")
        with pytest.raises(quorlib.Error) as raised:
            p.SetChannelVoltage(1, 1.0)
        assert str(raised.value) == (f"The stimulator's port {link} was closed, perhaps unplugged: check its cable "
                                     "and power, then connect again (Connect, or set Connected to True).")
        assert p.Connected is False
        device.command("clear")
        device.command("reopen")
        assert p.Connect() is True
        assert p.SetChannelVoltage(1, 1.0) is True
        p.Connected = False
    finally:
        device.stop()


def test_a_program_may_end_while_connected_and_its_port_argument_wins_over_its_command_line(tmp_path):
    # COM3 on the command line names a device that does not exist: the port= argument wins.
    # (A simulator of its own: this process may still hold the shared one's port.)
    device = Simulator()
    try:
        script = textwrap.dedent(f"""
            import quorlib
            p = quorlib.Pulsyn(port={device.path!r})
            assert p.Connect()
            p.Trigger(5)
            print("ending while connected")
        """)
        environment = dict(os.environ, QUORLIB_COM3=str(tmp_path / "no-such-device"))
        run = subprocess.run([sys.executable, "-c", script, "COM3"], env=environment, capture_output=True,
                             text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        assert run.stdout == "ending while connected\n"
        assert [t["channel"] for t in device.state()["triggers"]] == [5]
    finally:
        device.stop()


def test_the_interpreters_command_line_names_no_port(tmp_path, sim):
    # A script whose name begins with "com" (once: ''pare.py'' is not a valid integer value)
    # and a COM argument: neither is read; QUORLIB_PORT names the port, else the search runs.
    script = tmp_path / "compare.py"
    script.write_text("import quorlib, sys\nprint(quorlib.Pulsyn().Connect())\n")
    environment = dict(os.environ, **{f"QUORLIB_COM{n}": str(tmp_path / "none") for n in range(1, 25)})
    environment.pop("QUORLIB_PORT", None)
    run = subprocess.run([sys.executable, str(script), "COM3"], env=environment, capture_output=True, text=True,
                         timeout=60)
    assert (run.returncode, run.stdout, run.stderr) == (0, "False\n", "")


@pytest.mark.parametrize("fault, answer", [(None, "OK.4"), ("silence", None)])
def test_ping_tells_a_stimulator_from_a_port_that_merely_opened(sim, pulsyn, fault, answer):
    pulsyn.ChangeParadigm(4)
    pulsyn.timeout = 0.3
    try:
        if fault:
            sim.command(f"fault {fault}")
            silent = f"^No stimulator answered on {sim.path}: the port is open"
            with pytest.raises(quorlib.NoReplyError, match=silent) as raised:
                pulsyn.ping()
            assert (raised.value.member, raised.value.port, raised.value.waited) == ("ping", sim.path, 0.3)
            sim.command("clear")
            assert pulsyn.Connected  # the port is still open
        else:
            assert pulsyn.ping() == answer
    finally:
        pulsyn.timeout = 15
    assert sim.frames() == ["Y4R", "GPR"]


def test_a_file_that_is_no_serial_port_says_what_was_opened_and_why(tmp_path):
    regular = tmp_path / "notes.txt"
    regular.write_text("")
    for path in ("/dev/null", str(regular)):
        with pytest.raises(quorlib.PortError) as raised:
            quorlib.Pulsyn(port=path).Connect()
        assert str(raised.value).startswith(f"Cannot use {path} as the stimulator's port: it is no serial port")
        assert raised.value.errno == 25  # ENOTTY: not a terminal
