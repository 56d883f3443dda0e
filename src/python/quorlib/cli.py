"""quorlib on the command line: list ports, check a connection, program and trigger a
stimulator from a shell script.

Commands run in order over one connection: ``quorlib --port /dev/ttyACM0 paradigm 2 mode 1
train delay 1 0.025 trigger 1 log run.rtf``.
"""

import argparse
import sys
from typing import Callable, Dict, List, Optional, Sequence, Tuple

import quorlib

EXIT_OK = 0
EXIT_REFUSED = 1      # the stimulator refused a value (the setter returned False)
EXIT_USAGE = 2        # the command line is wrong, or the library refused an argument
EXIT_CONNECTION = 3   # no stimulator found, the port could not be opened, or it went away
EXIT_NO_REPLY = 4     # the stimulator did not answer in time
EXIT_FAILED = 5       # any other failure of the library
EXIT_SILENT = 6       # connect: the port opened, but no stimulator answered on it
EXIT_INTERRUPTED = 130

COMMANDS = """commands (run in order over one connection):
  ports                  list the serial ports; * marks the one a connect without --port takes
  connect                connect, check that the stimulator answers, and say on which port
                         (exit 3 when no port was found, 6 when nothing answers on it)
  paradigm N             select paradigm N (1-9)
  clear                  clear the selected paradigm
  copy N                 copy the selected paradigm to paradigm N
  mode CH MODE           MODE: off, freerun, train, trig, dc, gate, twin (or 0-6)
  shape CH SHAPE         SHAPE: monopolar, bipolar, ramp (or 0-2)
  delay CH SECONDS       the channel's delay
  duration CH SECONDS    the pulse duration
  interval CH SECONDS    the interval between pulses
  count CH N             the pulse count
  voltage CH VOLTS       the voltage
  step CH VOLTS          the voltage step
  trigger CH             fire channel CH
  log FILE               save this run's traffic log (Rich Text Format)

exit status: 0 done; 1 the stimulator refused a value; 2 wrong command line or argument;
3 no stimulator, port error or lost port; 4 no reply; 5 other failure; 6 connect found the
port silent; 130 interrupted."""

MODES = {name[2:].lower(): int(mode) for name, mode in quorlib.ChannelModes.__members__.items()}
SHAPES = {name[2:].lower(): int(shape) for name, shape in quorlib.ChannelShapes.__members__.items()}


class UsageError(Exception):
    pass


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


Action = Callable[[quorlib.Pulsyn], Optional[bool]]
Step = Tuple[str, Action]


def _channel_value(name: str, member: str, whole: bool) -> Callable[[List[str]], Step]:
    """A setter: CH and a number, the step named after the command line's words."""
    def make(args: List[str]) -> Step:
        channel = _integer(args[0], "CH")
        amount: float = _integer(args[1], name.upper()) if whole else _number(args[1], name.upper())

        def run(p: quorlib.Pulsyn) -> Optional[bool]:
            result: bool = getattr(p, member)(channel, amount)
            return result
        return (f"{name} {args[0]} {args[1]}", run)
    return make


def _paradigm(args: List[str]) -> Step:
    number = _integer(args[0], "N")
    return ("paradigm", lambda p: p.ChangeParadigm(number))


def _copy(args: List[str]) -> Step:
    number = _integer(args[0], "N")
    return ("copy", lambda p: p.CopyParadigm(number))


def _mode(args: List[str]) -> Step:
    channel, mode = _integer(args[0], "CH"), _named(args[1], MODES, "MODE")
    return ("mode", lambda p: p.ChangeChannelMode(channel, mode))


def _shape(args: List[str]) -> Step:
    channel, shape = _integer(args[0], "CH"), _named(args[1], SHAPES, "SHAPE")
    return (f"shape {args[0]} {args[1]}", lambda p: p.SetChannelShape(channel, shape))


def _trigger(args: List[str]) -> Step:
    channel = _integer(args[0], "CH")
    return ("trigger", lambda p: p.Trigger(channel))


def _log(args: List[str]) -> Step:
    return ("log", lambda p: p.SaveSessionCommands(args[0]))


def _connect(args: List[str]) -> Step:
    return ("connect", lambda p: None)


def _clear(args: List[str]) -> Step:
    return ("clear", lambda p: p.ClearParadigm())


# name: (number of arguments, maker of the step)
PARSERS: Dict[str, Tuple[int, Callable[[List[str]], Step]]] = {
    "connect": (0, _connect),
    "paradigm": (1, _paradigm),
    "clear": (0, _clear),
    "copy": (1, _copy),
    "mode": (2, _mode),
    "shape": (2, _shape),
    "delay": (2, _channel_value("delay", "SetChannelDelay", whole=False)),
    "duration": (2, _channel_value("duration", "SetChannelDuration", whole=False)),
    "interval": (2, _channel_value("interval", "SetChannelInterval", whole=False)),
    "count": (2, _channel_value("count", "SetChannelN", whole=True)),
    "voltage": (2, _channel_value("voltage", "SetChannelVoltage", whole=False)),
    "step": (2, _channel_value("step", "SetChannelDeltaV", whole=False)),
    "trigger": (1, _trigger),
    "log": (1, _log),
}


def _parse(words: Sequence[str]) -> List[Step]:
    steps: List[Step] = []
    at = 0
    while at < len(words):
        name = words[at]
        if name not in PARSERS:
            raise UsageError(f"unknown command {name!r} (quorlib --help lists them)")
        count, make = PARSERS[name]
        args = list(words[at + 1:at + 1 + count])
        if len(args) < count:
            raise UsageError(f"{name} needs {count} argument{'s' if count > 1 else ''}")
        steps.append(make(args))
        at += 1 + count
    return steps


def _print_ports() -> None:
    ports = quorlib.list_ports()
    if not ports:
        print("No serial ports found.")
    for port in ports:
        usb = f" USB {port.vid:04x}:{port.pid:04x}" if port.vid is not None and port.pid is not None else ""
        details = " ".join(filter(None, [port.name, usb.strip(), port.description, port.serial_number]))
        print(f"{'*' if port.chosen else ' '} {port.device}{'  ' + details if details else ''}")


def _exit_status(error: quorlib.Error) -> int:
    if isinstance(error, quorlib.ArgumentError):
        return EXIT_USAGE
    if isinstance(error, (quorlib.PortError, quorlib.PortLostError, quorlib.NotConnectedError)):
        return EXIT_CONNECTION
    if isinstance(error, quorlib.NoReplyError):
        return EXIT_NO_REPLY
    return EXIT_FAILED


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="quorlib", description="Drive a Pulsyn stimulator from the shell.", epilog=COMMANDS,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", help='the stimulator\'s port: "COM7" or a device path such as /dev/ttyACM0 '
                                       "(default: QUORLIB_PORT, else the search)")
    parser.add_argument("--timeout", type=float, default=15.0, help="seconds to wait for each reply (default 15)")
    parser.add_argument("--version", action="version", version=f"quorlib {quorlib.__version__}")
    parser.add_argument("command", nargs=argparse.REMAINDER, help="see below")
    options = parser.parse_args(argv)
    if not options.command:
        parser.print_usage(sys.stderr)
        print("quorlib: name a command (quorlib --help lists them)", file=sys.stderr)
        return EXIT_USAGE
    try:
        if options.command == ["ports"]:
            _print_ports()
            return EXIT_OK
        steps = _parse(options.command)
    except UsageError as error:
        print(f"quorlib: {error}", file=sys.stderr)
        return EXIT_USAGE
    try:
        with quorlib.Pulsyn(port=options.port, timeout=options.timeout) as pulsyn:
            if not pulsyn.Connected and not pulsyn.Connect():
                print("quorlib: no stimulator found: name its port with --port or QUORLIB_PORT "
                      "(quorlib ports lists them)", file=sys.stderr)
                return EXIT_CONNECTION
            for name, run in steps:
                if name == "connect":
                    try:
                        pulsyn.ping()  # an open port is not yet a stimulator
                    except quorlib.NoReplyError as error:
                        print(f"quorlib: {error}", file=sys.stderr)
                        return EXIT_SILENT
                    print(f"Connected to {pulsyn.port_name}.")
                if run(pulsyn) is False:
                    print(f"quorlib: the stimulator refused {name}", file=sys.stderr)
                    return EXIT_REFUSED
    except quorlib.Error as error:
        print(f"quorlib: {error}", file=sys.stderr)
        return _exit_status(error)
    except KeyboardInterrupt:
        print("quorlib: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    return EXIT_OK
