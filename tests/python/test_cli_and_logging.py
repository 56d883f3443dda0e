"""The command line (python3 -m quorlib) against the simulator, and traffic to logging."""
import logging
import os
import subprocess
import sys

import pytest

import quorlib
from conftest import Simulator


@pytest.fixture(scope="module")
def device():
    """A simulator of its own: this process holds the shared one's port."""
    simulator = Simulator()
    yield simulator
    simulator.stop()


def quorlib_command(*words, env=None):
    return subprocess.run([sys.executable, "-m", "quorlib", *words], capture_output=True, text=True, timeout=60,
                          env=env or os.environ)


def test_each_subcommand_sends_its_frame_and_the_exit_status_says_how_it_went(device, tmp_path):
    device.fresh()
    log = tmp_path / "run.rtf"
    run = quorlib_command("--port", device.path, "connect", "paradigm", "2", "clear", "mode", "1", "train",
                          "shape", "1", "bipolar", "delay", "1", "0.025", "duration", "1", "0.001",
                          "interval", "1", "0.01", "count", "1", "5", "voltage", "1", "2.5", "step", "1", "0.5",
                          "trigger", "1", "copy", "3", "log", str(log))
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout == f"Connected to {device.path}.\n"
    assert device.frames() == ["GPR", "Y2R", "ER", "MN1R", "S1BR", "L1+25.00E-3R", "D1+1.000E-3R", "I1+10.00E-3R",
                               "N1+5.000E+0R", "V1+2.500E+0R", "J1+500.0E-3R", "T1", "GPR", "C23"]
    assert b">0003C23" in log.read_bytes()

    device.fresh()
    device.command("limit voltage=1")
    run = quorlib_command("--port", device.path, "voltage", "1", "5", "trigger", "2")
    assert run.returncode == 1 and "refused voltage 1 5" in run.stderr
    assert device.frames() == ["V1+5.000E+0R"]  # it stops at the refusal


@pytest.mark.parametrize("words, status, message", [
    ((), 2, "name a command"),
    (("frobnicate",), 2, "unknown command 'frobnicate'"),
    (("delay", "1"), 2, "delay needs 2 arguments"),
    (("delay", "x", "1"), 2, "CH must be a whole number"),
    (("trigger", "10"), 2, "Channel Error: Channel Parameter must be between 1 and 9."),
    (("--port", "/nonexistent/tty", "trigger", "1"), 3, "Error accessing specified device /nonexistent/tty: there is"),
])
def test_mistakes_give_a_message_and_a_status_for_shell_scripts(device, words, status, message):
    run = quorlib_command(*(words if "--port" in words or not words else ("--port", device.path, *words)))
    assert run.returncode == status and message in run.stderr and "Traceback" not in run.stderr, run.stderr


def test_help_ports_and_a_silent_device(device, tmp_path):
    run = quorlib_command("--help")
    assert run.returncode == 0 and "trigger CH" in run.stdout and "exit status" in run.stdout
    run = quorlib_command("ports", env=dict(os.environ, QUORLIB_PORT=device.path))
    assert run.returncode == 0 and f"* {device.path}" in run.stdout.splitlines()
    device.fresh()
    device.command("fault silence")
    run = quorlib_command("--port", device.path, "--timeout", "0.2", "paradigm", "4")
    assert run.returncode == 4 and "did not answer" in run.stderr
    run = quorlib_command("--port", device.path, "--timeout", "0.2", "connect")  # the port opens, nobody answers
    device.command("clear")
    assert (run.returncode, run.stdout) == (6, "") and f"No stimulator answered on {device.path}" in run.stderr


def test_every_traffic_entry_goes_to_logging_and_ShowMonitor_writes_nothing_to_stderr_itself(
        sim, pulsyn, caplog, capfd):
    pulsyn.ChangeParadigm(1)  # reads what an earlier test's trigger still had coming
    with caplog.at_level(logging.DEBUG, logger="quorlib.traffic"):
        caplog.clear()
        assert pulsyn.SetChannelDelay(2, 0.5)
    records = [r for r in caplog.records if r.name == "quorlib.traffic"]
    assert [(r.quorlib_sent, r.quorlib_data) for r in records] == [
        (True, "="), (True, ">0012L2+500.0E-3R"), (False, "="), (False, "<"), (False, "0003"), (False, "OK.")]
    assert all(r.levelno == logging.DEBUG and r.quorlib_port == sim.path for r in records)
    assert records[1].getMessage() == f"{records[1].quorlib_time} {sim.path} -> >0012L2+500.0E-3R"

    logger = logging.getLogger("quorlib.traffic")
    seen = []
    handler = logging.Handler()
    handler.emit = seen.append
    kept, logger.handlers = logger.handlers, [handler]  # a handler of the program's own
    try:
        capfd.readouterr()
        pulsyn.ShowMonitor()
        pulsyn.Trigger(6)
        assert capfd.readouterr().err == ""  # the logger has a handler: nothing else is written
        assert any(r.quorlib_data == ">0002T6" for r in seen)
    finally:
        logger.handlers = kept
