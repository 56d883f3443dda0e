"""The command line (python3 -m quorlib) against the simulator, and traffic to logging."""
import logging
import os
import subprocess
import sys
import time

import pytest

import quorlib
from conftest import Simulator
from quorlib import _traffic, cli


@pytest.fixture(scope="module")
def device():
    """A simulator of its own: this process holds the shared one's port."""
    simulator = Simulator()
    yield simulator
    simulator.stop()


EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "protocol.toml")


def quorlib_command(*words, env=None):
    return subprocess.run([sys.executable, "-m", "quorlib", *words], capture_output=True, text=True, timeout=60,
                          env=env or os.environ)


def test_each_subcommand_sends_its_frame_and_the_exit_status_says_how_it_went(device, tmp_path):
    device.fresh()
    log = tmp_path / "run.rtf"
    run = quorlib_command("--port", device.path, "connect", "paradigm", "2", "clear", "mode", "1", "train",
                          "shape", "1", "bipolar", "delay", "1", "0.025", "duration", "1", "0.001",
                          "interval", "1", "0.01", "count", "1", "5", "voltage", "1", "2.5", "step", "1", "0.5",
                          "link", "1", "11", "unlink", "1", "2", "trigger", "1", "copy", "3", "log", str(log))
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout == f"Connected to {device.path}.\n"
    assert device.frames() == ["GPR", "Y2R", "ER", "MN1R", "S1BR", "L1+25.00E-3R", "D1+1.000E-3R", "I1+10.00E-3R",
                               "N1+5.000E+0R", "V1+2.500E+0R", "J1+500.0E-3R", "X1BR", "Z12R", "T1", "GPR", "C23"]
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
    (("link", "1", "1"), 2, "Error: ConnectChannel cant Connect a channel to itself."),
    (("program", "--check", "/nonexistent.toml"), 2, "/nonexistent.toml: cannot be read"),
    (("program", "--check", EXAMPLE, "trigger", "1"), 2, "program --check runs alone"),
    (("--port", "/nonexistent/tty", "trigger", "1"), 3, "Error accessing specified device /nonexistent/tty: there is"),
])
def test_mistakes_give_a_message_and_a_status_for_shell_scripts(device, words, status, message):
    run = quorlib_command(*(words if "--port" in words or not words else ("--port", device.path, *words)))
    assert run.returncode == status and message in run.stderr and "Traceback" not in run.stderr, run.stderr


@pytest.mark.parametrize("name", sorted(cli.COMMANDS))
def test_each_subcommands_help_says_what_it_sends(name, capsys):
    assert cli.main([name, "--help"]) == 0
    shown = " ".join(capsys.readouterr().out.split())
    assert f"{name} {cli.COMMANDS[name].arguments}".strip() in shown and "Sends: " + cli.COMMANDS[name].sends in shown


@pytest.mark.parametrize("words", [("paradigm", "2"), ("clear",), ("mode", "1", "train"), ("shape", "1", "bipolar"),
                                   ("delay", "1", "0.025"), ("duration", "1", "0.001"), ("interval", "1", "0.01"),
                                   ("count", "1", "5"), ("voltage", "1", "2.5"), ("step", "1", "0.5"),
                                   ("link", "1", "2"), ("link", "1", "11"), ("unlink", "1", "2"), ("trigger", "1")])
def test_the_example_a_subcommands_help_gives_is_what_it_sends(device, words, capsys):
    device.fresh()
    assert cli.main(["--port", device.path, *words]) == 0
    cli.main([words[0], "--help"])
    assert device.frames()[-1] in capsys.readouterr().out


def test_help_ports_and_a_silent_device(device, tmp_path):
    run = quorlib_command("--help")
    assert run.returncode == 0 and "trigger CH" in run.stdout and "exit status" in run.stdout
    assert "link A B" in run.stdout and "program FILE" in run.stdout
    run = quorlib_command("ports", env=dict(os.environ, QUORLIB_PORT=device.path))
    assert run.returncode == 0 and f"* {device.path}" in run.stdout.splitlines()
    device.fresh()
    device.command("fault silence")
    run = quorlib_command("--port", device.path, "--timeout", "0.2", "paradigm", "4")
    assert run.returncode == 4 and "did not answer" in run.stderr
    run = quorlib_command("--port", device.path, "--timeout", "0.2", "connect")  # the port opens, nobody answers
    device.command("clear")
    assert (run.returncode, run.stdout) == (6, "") and f"No stimulator answered on {device.path}" in run.stderr


def test_the_command_line_checks_first_then_programs_and_prints_what_was_accepted(device, tmp_path):
    def program(*words):
        return quorlib_command("--port", device.path, "program", *words)

    device.fresh()
    bad = tmp_path / "bad.toml"
    bad.write_text("[paradigm.2.channel.1]\nmode = 'train'\n[paradigm.3.channel.1]\ndelay = -1\n")
    run = program(str(bad))
    assert run.returncode == 2 and f"{bad}, line 4, paradigm.3.channel.1.delay: Range Error" in run.stderr
    assert device.frames() == []  # not even the valid paradigm before it

    run = program("--check", EXAMPLE)
    assert (run.returncode, run.stdout) == (0, f"{EXAMPLE}: 18 settings of paradigms 2, 3 checked; nothing was sent.\n")
    assert device.frames() == []

    run = program(EXAMPLE)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0] == "accepted: paradigm 2 channel 1 mode train" and len(lines) == 19
    assert lines[-1] == f"Programmed 18 settings of paradigms 2, 3 from {EXAMPLE}."
    assert device.frames()[:3] == ["Y2R", "ER", "MN1R"]


@pytest.fixture
def records():
    """The records of the traffic loggers, with every level let through."""
    seen = []
    handler = logging.Handler(level=1)
    handler.emit = seen.append
    loggers = [logging.getLogger("quorlib.traffic"), logging.getLogger("quorlib.traffic.bytes")]
    levels = [logger.level for logger in loggers]
    loggers[0].addHandler(handler)
    loggers[0].setLevel(1)
    yield seen
    loggers[0].removeHandler(handler)
    for logger, level in zip(loggers, levels):
        logger.setLevel(level)


@pytest.mark.parametrize("entries, exchanges", [
    ([">=", ">>0012L2+500.0E-3R", "<=", "<<", "<0003", "<OK."], [("L2+500.0E-3R", "OK.")]),
    ([">=", "<=", ">>0003ER", "<=<0003OK."], [("ER", "OK.")]),  # the prompt answered before the frame
    ([">=", "<=", ">=", ">>0002T6"], [("T6", None)]),  # a lone prompt (a connect's probe) is no exchange
    ([">=", ">>0003GPR", "<xx<0004OK.2"], [("GPR", "OK.2")]),  # noise before the reply frame
    ([">=", ">>0003ER", ">>0003C23"], [("ER", None), ("C23", None)]),  # no reply, then a frame at once
    ([">=", ">>0003ER", "<<00", ">=", "<03OK.", ">>0002T1"], [("ER", None), ("T1", None)]),  # cut short
])
def test_entries_are_grouped_into_exchanges(entries, exchanges):
    grouped = _traffic._Exchanges()
    finished = [f for e in entries for f in grouped.entry("p", e[0] == ">", e[1:], 0.0)]
    assert [(exchange.command, reply) for _, exchange, reply in finished] == exchanges


def test_one_record_per_exchange_with_its_fields_and_the_bytes_below_debug(sim, pulsyn, records):
    pulsyn.ChangeParadigm(1)  # reads what an earlier test's trigger still had coming
    records.clear()
    before = time.time()
    assert pulsyn.SetChannelDelay(2, 0.5)
    pulsyn.Trigger(6)
    exchanges = [r for r in records if r.name == "quorlib.traffic"]
    assert [(r.levelno, r.command, r.reply, r.port) for r in exchanges] == [
        (logging.DEBUG, "L2+500.0E-3R", "OK.", sim.path), (logging.DEBUG, "T6", None, sim.path)]
    assert exchanges[0].duration > 0 and exchanges[1].duration is None
    assert before <= exchanges[0].created <= exchanges[1].created <= time.time()
    assert exchanges[0].getMessage().startswith(f"{sim.path} L2+500.0E-3R -> OK. (")
    detail = [r for r in records if r.name == "quorlib.traffic.bytes"]
    assert [(r.levelno, r.sent, r.data) for r in detail[:6]] == [
        (5, True, "="), (5, True, ">0012L2+500.0E-3R"), (5, False, "="), (5, False, "<"), (5, False, "0003"),
        (5, False, "OK.")]

    sim.command("fault silence")  # a reply that never comes: logged as such when the next exchange begins
    pulsyn.timeout = 0.2
    try:
        with pytest.raises(quorlib.NoReplyError):
            pulsyn.SetChannelVoltage(1, 2.0)
        sim.command("clear")
        records.clear()
        pulsyn.ChangeParadigm(2)
    finally:
        pulsyn.timeout = 15
    assert [(r.command, r.reply, r.duration) for r in records if r.name == "quorlib.traffic"][:1] == [
        ("V1+2.000E+0R", None, None)]


def test_ShowMonitor_shows_the_exchanges_with_a_handler_of_its_own_until_the_connection_ends(sim, pulsyn, capfd):
    logger = logging.getLogger("quorlib.traffic")
    configuration = (logger.level, list(logger.handlers), logger.propagate, logging.getLogger().handlers[:])
    pulsyn.Connected = False  # a connection of its own, which no earlier test showed
    assert pulsyn.Connect()
    pulsyn.SetChannelDelay(3, 0.25)
    capfd.readouterr()
    pulsyn.ShowMonitor()
    pulsyn.ShowMonitor()  # once is enough
    pulsyn.Trigger(6)
    shown = capfd.readouterr().err.splitlines()
    assert any(f"{sim.path} L3+250.0E-3R -> OK." in line for line in shown)  # the log so far
    assert shown[-1].endswith(f"{sim.path} T6") and shown[-1][:4] == time.strftime("%Y")  # date and time
    assert shown.count(shown[-1]) == 1
    assert (logger.level, logger.handlers, logger.propagate, logging.getLogger().handlers) == configuration

    pulsyn.Connected = False
    assert pulsyn.Connect()
    pulsyn.Trigger(5)
    assert capfd.readouterr().err == ""  # the monitor ended with its connection
