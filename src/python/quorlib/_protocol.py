"""Stimulation protocols kept in TOML files: load one (every value checked by the library's
own rules, nothing sent), then program a connected stimulator with it.

    [paradigm.2]                 # paradigm 1 to 9; it is cleared, then programmed
    links = [[1, 2]]             # channels joined, as ConnectChannel(1, 2)

    [paradigm.2.channel.1]       # channel 1 to 9
    mode = "train"               # off, freerun, train, trig, dc, gate, twin (or 0 to 6)
    shape = "bipolar"            # monopolar, bipolar, ramp (or 0 to 2)
    delay = 0.025                # seconds; also duration and interval
    count = 10                   # pulses
    voltage = 2.5                # volts; step: the voltage step
"""

import os
import re
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

from . import _quorlib
from ._errors import Error, NotConnectedError

try:
    import tomllib
except ImportError:  # Python before 3.11
    tomllib = None  # type: ignore[assignment]

MODES = {"off": 0, "freerun": 1, "train": 2, "trig": 3, "dc": 4, "gate": 5, "twin": 6}
SHAPES = {"monopolar": 0, "bipolar": 1, "ramp": 2}
# A channel's settings in the order they are sent, with the member that sends each.
SETTINGS: Dict[str, str] = {
    "mode": "ChangeChannelMode", "shape": "SetChannelShape", "delay": "SetChannelDelay",
    "duration": "SetChannelDuration", "interval": "SetChannelInterval", "count": "SetChannelN",
    "voltage": "SetChannelVoltage", "step": "SetChannelDeltaV",
}
NAMED = {"mode": MODES, "shape": SHAPES}

Value = Union[int, float]


class ProtocolError(Error, ValueError):
    """A protocol file that cannot be used: unreadable, not TOML, or a value the library would
    refuse. ``filename`` names the file; ``problems`` lists (line, key, message), one for
    each problem found; the message shows them all."""

    def __init__(self, filename: str, problems: Sequence[Tuple[int, str, str]]) -> None:
        self.filename = filename
        self.problems = list(problems)
        super().__init__("\n".join(f"{filename}, line {line}, {key}: {message}" if line else f"{filename}: {message}"
                                   for line, key, message in problems))

    def __reduce__(self) -> Tuple[Any, ...]:
        return type(self), (self.filename, self.problems), dict(vars(self))


class RefusedError(Error):
    """The stimulator refused a setting of a protocol (its setter returned False); what came
    before it was programmed. ``setting`` is the refused one."""

    def __init__(self, setting: "Setting") -> None:
        self.setting = setting
        super().__init__(f"the stimulator refused {setting} ({setting.source})")

    def __reduce__(self) -> Tuple[Any, ...]:
        return type(self), (self.setting,), dict(vars(self))


@dataclass(frozen=True)
class Setting:
    """One value of a protocol: a channel's setting (``name`` one of SETTINGS) or a link
    (``name`` "link", ``value`` the second channel), with where the file gives it."""
    paradigm: int
    channel: int
    name: str
    value: Value
    source: str = field(default="", compare=False)  # "FILE, line N"

    def __str__(self) -> str:
        if self.name == "link":
            return f"paradigm {self.paradigm} link {self.channel} {self.value}"
        shown = next((n for n, v in NAMED.get(self.name, {}).items() if v == self.value), self.value)
        return f"paradigm {self.paradigm} channel {self.channel} {self.name} {shown}"


@dataclass(frozen=True)
class Protocol:
    """A loaded protocol: ``paradigms`` maps each paradigm number to its settings in the
    order they are sent (channels as the file gives them, then the links)."""
    filename: str
    paradigms: Dict[int, List[Setting]]

    def apply(self, pulsyn: Any, accepted: Optional[Callable[[Setting], None]] = None) -> None:
        """Programs the connected ``pulsyn``: for each paradigm, selects and clears it, then
        sends every setting. ``accepted`` is told each setting the stimulator took. A refused
        value stops it (RefusedError); the library's errors are raised as the members raise
        them."""
        for number, settings in self.paradigms.items():
            pulsyn.ChangeParadigm(number)
            pulsyn.ClearParadigm()
            for setting in settings:
                if _send(pulsyn, setting) is False:
                    raise RefusedError(setting)
                if accepted:
                    accepted(setting)


def _send(pulsyn: Any, setting: Setting) -> Optional[bool]:
    member = "ConnectChannel" if setting.name == "link" else SETTINGS[setting.name]
    result: Optional[bool] = getattr(pulsyn, member)(setting.channel, setting.value)
    return result


def _key_lines(text: str) -> Dict[Tuple[str, ...], int]:
    """The line of every table and key of a TOML text, by its full key path (first seen)."""
    lines: Dict[Tuple[str, ...], int] = {}
    table: Tuple[str, ...] = ()
    depth = 0  # brackets of a value that spans lines

    def path(dotted: str) -> Tuple[str, ...]:
        return tuple(part.strip().strip("\"'") for part in re.findall(r'"[^"]*"|\'[^\']*\'|[^.]+', dotted))

    for number, line in enumerate(text.splitlines(), 1):
        code = re.sub(r'"[^"]*"|\'[^\']*\'', '""', line).split("#", 1)[0]
        if depth:
            depth += code.count("[") - code.count("]")
            continue
        header = re.match(r"\s*\[\[?((?:[^\[\]\"']|\"[^\"]*\"|'[^']*')+)\]\]?\s*(#.*)?$", line)
        pair = re.match(r"\s*([^=]+?)\s*=(.*)", line)
        if header:
            table = path(header.group(1))
            keys = table
        elif pair:
            keys = table + path(pair.group(1))
        else:
            continue
        for end in range(1, len(keys) + 1):  # a table named by a longer key begins there too
            lines.setdefault(keys[:end], number)
        if pair and not header:
            value = re.sub(r'"[^"]*"|\'[^\']*\'', '""', pair.group(2)).split("#", 1)[0]
            depth = max(0, value.count("[") - value.count("]"))
    return lines


class _Checker:
    """Collects the problems of one file, each with its line."""

    def __init__(self, filename: str, text: str) -> None:
        self.filename = filename
        self.lines = _key_lines(text)
        self.problems: List[Tuple[int, str, str]] = []
        self.object = _quorlib.Pulsyn(None, 15.0)  # never connected: the members check, send nothing

    def line(self, path: Tuple[str, ...]) -> int:
        while path and path not in self.lines:
            path = path[:-1]
        return self.lines.get(path, 1)

    def problem(self, path: Tuple[str, ...], message: str) -> None:
        self.problems.append((self.line(path), ".".join(path), message))

    def table(self, value: Any, path: Tuple[str, ...]) -> Dict[str, Any]:
        if isinstance(value, dict):
            return value
        self.problem(path, "must be a table ([" + ".".join(path) + "])")
        return {}

    def number_key(self, key: str, path: Tuple[str, ...], member: str) -> Optional[int]:
        """A paradigm's or channel's number, checked by a member that takes it."""
        if not key.isdigit():
            self.problem(path + (key,), f"must be a number 1 to 9, not {key!r}")
            return None
        return int(key) if self.library_accepts(path + (key,), member, int(key)) else None

    def library_accepts(self, path: Tuple[str, ...], member: str, *args: Value) -> bool:
        """Asks the member itself: it checks its arguments before it looks for a connection."""
        try:
            getattr(self.object, member)(*args)
        except NotConnectedError:
            return True
        except (ValueError, TypeError, OverflowError) as refusal:
            self.problem(path, str(refusal).splitlines()[0])
        return False

    def value(self, name: str, raw: Any, path: Tuple[str, ...]) -> Optional[Value]:
        if name in NAMED and isinstance(raw, str):
            if raw.lower() not in NAMED[name]:
                self.problem(path, f"must be one of {', '.join(NAMED[name])} or a number, not {raw!r}")
                return None
            return NAMED[name][raw.lower()]
        whole = name in NAMED or name == "count"
        if isinstance(raw, bool) or not isinstance(raw, (int, float)) or (whole and not isinstance(raw, int)):
            self.problem(path, f"must be {'a whole number' if whole else 'a number'}, not {raw!r}")
            return None
        return raw

    def paradigm(self, number: int, body: Dict[str, Any], path: Tuple[str, ...]) -> List[Setting]:
        settings: List[Setting] = []
        for key in body:
            if key not in ("channel", "links"):
                self.problem(path + (key,), "unknown key: a paradigm has channel tables and links")
        for channel_key, raw_channel in self.table(body.get("channel", {}), path + ("channel",)).items():
            channel_path = path + ("channel", channel_key)
            channel = self.number_key(channel_key, path + ("channel",), "Trigger")  # checks, never sends
            for name, raw in self.table(raw_channel, channel_path).items():
                if name not in SETTINGS:
                    self.problem(channel_path + (name,), f"unknown setting: a channel has {', '.join(SETTINGS)}")
                    continue
                value = self.value(name, raw, channel_path + (name,))
                if channel is not None and value is not None and \
                        self.library_accepts(channel_path + (name,), SETTINGS[name], channel, value):
                    settings.append(Setting(number, channel, name, value, self.source(channel_path + (name,))))
        links = body.get("links", [])
        if not isinstance(links, list):
            self.problem(path + ("links",), "must be a list of channel pairs: links = [[1, 2]]")
            links = []
        for link in links:
            if not (isinstance(link, list) and len(link) == 2 and all(type(c) is int for c in link)):
                self.problem(path + ("links",), f"a link is a pair of channel numbers such as [1, 2], not {link!r}")
            elif self.library_accepts(path + ("links",), "ConnectChannel", *link):
                settings.append(Setting(number, link[0], "link", link[1], self.source(path + ("links",))))
        return settings

    def source(self, path: Tuple[str, ...]) -> str:
        return f"{self.filename}, line {self.line(path)}"


def load_protocol(path: Union[str, "os.PathLike[str]"]) -> Protocol:
    """Reads and checks a protocol file: every value against the same rules as the members
    that send it, and nothing sent. Raises ProtocolError naming the file, and each problem's
    line and key. The checks run through the library, so call it from the thread that
    drives the stimulator."""
    filename = os.fspath(path)
    if tomllib is None:
        raise ProtocolError(filename, [(0, "", "protocol files need Python 3.11 or later (tomllib)")])
    try:
        with open(filename, "rb") as file:
            text = file.read().decode("utf-8")
        document = tomllib.loads(text)
    except (OSError, UnicodeDecodeError) as error:
        raise ProtocolError(filename, [(0, "", f"cannot be read: {error}")]) from None
    except tomllib.TOMLDecodeError as error:
        line = re.search(r"line (\d+)", str(error))
        raise ProtocolError(filename, [(int(line.group(1)) if line else 0, "", f"not TOML: {error}")]) from None
    checker = _Checker(filename, text)
    for key in document:
        if key != "paradigm":
            checker.problem((key,), "unknown key: a protocol has [paradigm.N] tables")
    paradigms: Dict[int, List[Setting]] = {}
    for key, body in checker.table(document.get("paradigm", {}), ("paradigm",)).items():
        number = checker.number_key(key, ("paradigm",), "ChangeParadigm")
        if number is not None:
            paradigms[number] = checker.paradigm(number, checker.table(body, ("paradigm", key)), ("paradigm", key))
    if not paradigms and not checker.problems:
        checker.problem(("paradigm",), "names no paradigm: add a [paradigm.N] table")
    if checker.problems:
        raise ProtocolError(filename, checker.problems)
    return Protocol(filename, paradigms)
