"""quorlib on the command line: list ports, check a connection, program and trigger a
stimulator from a shell script, or program it from a protocol file.

Commands run in order over one connection: ``quorlib --port /dev/ttyACM0 paradigm 2 mode 1
train delay 1 0.025 trigger 1 log run.rtf``. ``quorlib COMMAND --help`` says what a command
sends.
"""

import argparse
import sys
import textwrap
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Sequence, Tuple

import quorlib
from ._protocol import MODES, SHAPES, Protocol, ProtocolError, RefusedError, load_protocol

EXIT_OK = 0
EXIT_REFUSED = 1      # the stimulator refused a value (the setter returned False)
EXIT_USAGE = 2        # the command line is wrong, or the library refused an argument or a file
EXIT_CONNECTION = 3   # no stimulator found, the port could not be opened, or it went away
EXIT_NO_REPLY = 4     # the stimulator did not answer in time
EXIT_FAILED = 5       # any other failure of the library
EXIT_SILENT = 6       # connect: the port opened, but no stimulator answered on it
EXIT_INTERRUPTED = 130

FRAMING = ('Every command goes out as the prompt byte "=" and then its frame, ">" + its length in four '
           "digits + the command text (for example =>0012L1+25.00E-3R); values go out as the device's "
           "nine-character numbers with four significant digits.")
EXIT_STATUS = ("exit status: 0 done; 1 the stimulator refused a value; 2 wrong command line, argument or "
               "protocol file; 3 no stimulator, port error or lost port; 4 no reply; 5 other failure; "
               "6 connect found the port silent; 130 interrupted.")


class UsageError(Exception):
    pass


Action = Callable[[quorlib.Pulsyn], Optional[bool]]
Step = Tuple[str, Action]


def _integer(text: str, what: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise UsageError(f"{what} must be a whole number, not {text!r}") from None


def _number(text: str, what: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise UsageError(f"{what} must be a number, not {text!r}") from None


def _named(text: str, names: Dict[str, int], what: str) -> int:
    if text.lower() in names:
        return names[text.lower()]
    if text.isdigit():
        return int(text)
    raise UsageError(f"{what} must be one of {', '.join(names)} or a number, not {text!r}")


@dataclass(frozen=True)
class Command:
    arguments: str               # as usage shows them: "CH SECONDS"
    does: str                    # one line for the list of commands
    sends: str                   # what goes to the stimulator, for the command's --help
    make: Callable[[List[str]], Step]

    @property
    def count(self) -> int:
        return len(self.arguments.split())


def _member(name: str, member: str, *kinds: str) -> Callable[[List[str]], Step]:
    """A step that calls one member; ``kinds`` convert the arguments: "int", "float",
    "mode", "shape" or "path"."""
    def make(args: List[str]) -> Step:
        converted: List[object] = []
        for text, kind, what in zip(args, kinds, COMMANDS[name].arguments.split()):
            converted.append(_integer(text, what) if kind == "int" else _number(text, what) if kind == "float"
                             else _named(text, MODES, what) if kind == "mode"
                             else _named(text, SHAPES, what) if kind == "shape" else text)

        def run(p: quorlib.Pulsyn) -> Optional[bool]:
            result: Optional[bool] = getattr(p, member)(*converted)
            return result
        return (" ".join([name, *args]), run)
    return make


class SilentPort(Exception):
    """connect: the port opened, but no stimulator answered on it."""


def _connect(args: List[str]) -> Step:
    def run(p: quorlib.Pulsyn) -> None:
        try:
            p.ping()  # an open port is not yet a stimulator
        except quorlib.NoReplyError as error:
            raise SilentPort(str(error)) from error
        print(f"Connected to {p.port_name}.")
    return ("connect", run)


def _program(args: List[str]) -> Step:
    protocol = load_protocol(args[0])  # checked whole before anything is sent

    def run(p: quorlib.Pulsyn) -> None:
        protocol.apply(p, accepted=lambda setting: print(f"accepted: {setting}"))
        print(f"Programmed {_summary(protocol)} from {protocol.filename}.")
    return (f"program {args[0]}", run)


def _summary(protocol: Protocol) -> str:
    settings = sum(len(s) for s in protocol.paradigms.values())
    numbers = ", ".join(str(n) for n in protocol.paradigms)
    return f"{settings} setting{'s' if settings != 1 else ''} of paradigm{'s' if len(protocol.paradigms) > 1 else ''} {numbers}"


def _value(name: str, member: str, letter: str, example: str, unit: str, whole: bool = False,
           what: str = "") -> Command:
    return Command(f"CH {unit}", f"the channel's {what or name}",
                   f'{letter}<CH><{unit}>R, for example {example}, and waits for the reply: "OK." means '
                   "accepted, anything else refused (exit status 1).",
                   _member(name, member, "int", "int" if whole else "float"))


COMMANDS: Dict[str, Command] = {
    "ports": Command("", "list the serial ports; * marks the one a connect without --port takes",
                     "nothing: no port is opened.", lambda args: ("ports", lambda p: None)),
    "connect": Command("", "connect, check that the stimulator answers, and say on which port (exit 3 when no "
                       "port was found, 6 when nothing answers on it)",
                       'the prompt byte "=" to each port it tries, and takes the first that answers; then GPR '
                       "(which paradigm is selected) and waits for the reply.", _connect),
    "paradigm": Command("N", "select paradigm N (1-9)", "Y<N>R, for example Y2R, and waits for the reply.",
                        _member("paradigm", "ChangeParadigm", "int")),
    "clear": Command("", "clear the selected paradigm", "ER, and waits for the reply.",
                     _member("clear", "ClearParadigm")),
    "copy": Command("N", "copy the selected paradigm to paradigm N",
                    "GPR (which paradigm is selected), waits for the reply, then C<selected><N>, for example "
                    "C23, which the stimulator does not answer.", _member("copy", "CopyParadigm", "int")),
    "mode": Command("CH MODE", "MODE: off, freerun, train, trig, dc, gate, twin (or 0-6)",
                    "M<letter><CH>R, the letter O, F, N, G, C, T or W for off to twin (train on channel 1 is "
                    "MN1R), and waits for the reply.", _member("mode", "ChangeChannelMode", "int", "mode")),
    "shape": Command("CH SHAPE", "SHAPE: monopolar, bipolar, ramp (or 0-2)",
                     'S<CH><letter>R, the letter M, B or R (bipolar on channel 1 is S1BR), and waits for the '
                     'reply: "OK." means accepted, anything else refused (exit status 1).',
                     _member("shape", "SetChannelShape", "int", "shape")),
    "delay": _value("delay", "SetChannelDelay", "L", "L1+25.00E-3R for 0.025 s", "SECONDS"),
    "duration": _value("duration", "SetChannelDuration", "D", "D1+1.000E-3R for 0.001 s", "SECONDS",
                       what="pulse duration"),
    "interval": _value("interval", "SetChannelInterval", "I", "I1+10.00E-3R for 0.01 s", "SECONDS",
                       what="interval between pulses"),
    "count": _value("count", "SetChannelN", "N", "N1+5.000E+0R for 5 pulses", "N", whole=True, what="pulse count"),
    "voltage": _value("voltage", "SetChannelVoltage", "V", "V1+2.500E+0R for 2.5 V", "VOLTS"),
    "step": _value("step", "SetChannelDeltaV", "J", "J1+500.0E-3R for 0.5 V", "VOLTS", what="voltage step"),
    "link": Command("A B", "join channel A (1-9) to channel B (1-12)",
                    "X<A><B>R, channels 10 to 12 as A to C (1 to 2 is X12R, 1 to 11 X1BR), and waits for the "
                    "reply.", _member("link", "ConnectChannel", "int", "int")),
    "unlink": Command("A B", "separate channels joined by link",
                      "Z<A><B>R, channels 10 to 12 as A to C (Z12R), and waits for the reply.",
                      _member("unlink", "DisconnectChannel", "int", "int")),
    "trigger": Command("CH", "fire channel CH", "T<CH>, for example T1, which the stimulator does not answer.",
                       _member("trigger", "Trigger", "int")),
    "program": Command("FILE", "program paradigms from a protocol file (--check: only check it)",
                       "nothing before the whole file is checked; then for each paradigm Y<N>R and ER (select "
                       "and clear), each channel's settings as mode, shape, delay, duration, interval, count, "
                       "voltage and step send them, and the links as link sends them. With --check (quorlib "
                       "program --check FILE) nothing is sent and no port is opened.", _program),
    "log": Command("FILE", "save this run's traffic log (Rich Text Format)", "nothing: writes the file.",
                   _member("log", "SaveSessionCommands", "path")),
}


def _command_list() -> str:
    lines = ["commands (run in order over one connection; quorlib COMMAND --help says what it sends):"]
    for name, command in COMMANDS.items():
        lines.append(f"  {(name + ' ' + command.arguments).strip():<22} {command.does}")
    return "\n".join(lines) + "\n\n" + textwrap.fill(EXIT_STATUS, 100, break_on_hyphens=False)


def _command_help(name: str) -> str:
    command = COMMANDS[name]
    paragraphs = [f"{name}: {command.does}.", f"Sends: {command.sends}", FRAMING, EXIT_STATUS]
    return (f"usage: quorlib [--port PORT] [--timeout SECONDS] {name} {command.arguments}".rstrip() + "\n\n"
            + "\n\n".join(textwrap.fill(paragraph, 100, break_on_hyphens=False) for paragraph in paragraphs) + "\n")


def _parse(words: Sequence[str]) -> Tuple[List[Step], List[Protocol]]:
    """The steps, and the protocols given with --check (checked, not to be sent)."""
    steps: List[Step] = []
    checks: List[Protocol] = []
    at = 0
    while at < len(words):
        name = words[at]
        if name not in COMMANDS:
            raise UsageError(f"unknown command {name!r} (quorlib --help lists them)")
        command = COMMANDS[name]
        args = list(words[at + 1:at + 1 + command.count])
        checking = name == "program" and "--check" in words[at + 1:at + 3]
        if checking:
            args = [w for w in words[at + 1:at + 3] if w != "--check"]
            at += 1
        if len(args) < command.count:
            raise UsageError(f"{name} needs {command.count} argument{'s' if command.count > 1 else ''}")
        if checking:
            checks.append(load_protocol(args[0]))
        else:
            steps.append(command.make(args))
        at += 1 + command.count
    if checks and steps:
        raise UsageError("program --check runs alone: it opens no port")
    return steps, checks


def _print_ports() -> None:
    ports = quorlib.list_ports()
    if not ports:
        print("No serial ports found.")
    for port in ports:
        details = "  ".join(filter(None, [port.com_name, port.description if port.description != "n/a" else None,
                                          port.hwid if port.hwid != "n/a" else None]))
        print(f"{'*' if port.chosen else ' '} {port.device}{'  ' + details if details else ''}")


def _exit_status(error: quorlib.Error) -> int:
    if isinstance(error, RefusedError):
        return EXIT_REFUSED
    if isinstance(error, (quorlib.ArgumentError, ProtocolError)):
        return EXIT_USAGE
    if isinstance(error, (quorlib.PortError, quorlib.PortLostError, quorlib.NotConnectedError)):
        return EXIT_CONNECTION
    if isinstance(error, quorlib.NoReplyError):
        return EXIT_NO_REPLY
    return EXIT_FAILED


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="quorlib", description="Drive a Pulsyn stimulator from the shell.", epilog=_command_list(),
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", help='the stimulator\'s port: "COM7" or a device path such as /dev/ttyACM0 '
                                       "(default: QUORLIB_PORT, else the search)")
    parser.add_argument("--timeout", type=float, default=15.0, help="seconds to wait for each reply (default 15)")
    parser.add_argument("--version", action="version", version=f"quorlib {quorlib.__version__}")
    parser.add_argument("command", nargs=argparse.REMAINDER, help="see below")
    options = parser.parse_args(argv)
    words: List[str] = options.command
    if not words:
        parser.print_usage(sys.stderr)
        print("quorlib: name a command (quorlib --help lists them)", file=sys.stderr)
        return EXIT_USAGE
    asks_help = [i for i, w in enumerate(words) if w in ("-h", "--help")]
    if asks_help:
        named = [w for w in words[:asks_help[0]] if w in COMMANDS]
        if not named:
            parser.print_help()
        else:
            print(_command_help(named[-1]), end="")
        return EXIT_OK
    try:
        if words == ["ports"]:
            _print_ports()
            return EXIT_OK
        steps, checks = _parse(words)
    except UsageError as error:
        print(f"quorlib: {error}", file=sys.stderr)
        return EXIT_USAGE
    except quorlib.Error as error:  # a protocol file that cannot be used
        print(f"quorlib: {error}", file=sys.stderr)
        return _exit_status(error)
    for protocol in checks:
        print(f"{protocol.filename}: {_summary(protocol)} checked; nothing was sent.")
    if checks:
        return EXIT_OK
    try:
        with quorlib.Pulsyn(port=options.port, timeout=options.timeout) as pulsyn:
            if not pulsyn.Connected and not pulsyn.Connect():
                print("quorlib: no stimulator found: name its port with --port or QUORLIB_PORT "
                      "(quorlib ports lists them)", file=sys.stderr)
                return EXIT_CONNECTION
            for name, run in steps:
                if run(pulsyn) is False:
                    print(f"quorlib: the stimulator refused {name}", file=sys.stderr)
                    return EXIT_REFUSED
    except SilentPort as error:
        print(f"quorlib: {error}", file=sys.stderr)
        return EXIT_SILENT
    except quorlib.Error as error:
        print(f"quorlib: {error}", file=sys.stderr)
        return _exit_status(error)
    except KeyboardInterrupt:
        print("quorlib: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    return EXIT_OK
