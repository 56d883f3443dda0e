"""The traffic of every connection, to the standard logging module.

Logger ``quorlib.traffic``, level DEBUG: one record per exchange, a command and the reply it
got, with ``command``, ``reply``, ``port`` and ``duration`` (seconds) as attributes of the
record. Logger ``quorlib.traffic.bytes``, level 5 (below DEBUG): one record per write or read,
with ``port``, ``sent`` and ``data``.

An exchange begins with the prompt byte the library writes before a command; it ends with
the reply frame, at once for a command the stimulator does not answer (a trigger, a copy),
or, for a reply that never came, when the next exchange begins or the connection ends
(``reply`` and ``duration`` are then None; a reply that comes late is still joined to it).
"""

import atexit
import datetime
import logging
import sys
import time
import weakref
from typing import Any, Dict, Iterable, List, Optional, Tuple

from . import _quorlib

BYTES = 5
traffic = logging.getLogger("quorlib.traffic")
traffic_bytes = logging.getLogger("quorlib.traffic.bytes")


class _Exchange:
    __slots__ = ("start", "end", "created", "command", "received")

    def __init__(self, start: float, created: Optional[float]) -> None:
        self.start = self.end = start
        self.created = created  # None: the record's own creation time
        self.command: Optional[str] = None
        self.received = ""


def _reply(received: str) -> Optional[str]:
    """The payload of the reply frame ("<" + four length digits + payload) once it is whole;
    what comes before the frame (the answer to the prompt byte) is not part of it."""
    at = received.find("<")
    if at < 0 or len(received) < at + 5 or not received[at + 1:at + 5].isdigit():
        return None
    end = at + 5 + int(received[at + 1:at + 5])
    return received[at + 5:end] if len(received) >= end else None


Finished = Tuple[str, _Exchange, Optional[str]]  # the port, the exchange, its reply


class _Exchanges:
    """Groups each port's entries into exchanges."""

    def __init__(self) -> None:
        self.open: Dict[str, _Exchange] = {}

    def entry(self, port: str, sent: bool, data: str, at: float, created: Optional[float] = None) -> List[Finished]:
        """Takes one entry, logged at time ``at`` (and wall-clock time ``created``); returns
        the exchanges it finished."""
        exchange = self.open.get(port)
        if not sent:
            if exchange is None or exchange.command is None:
                return []  # the answer to a lone prompt byte, or input nobody asked for
            exchange.received += data
            exchange.end = at
            reply = _reply(exchange.received)
            return [self.close(port, reply)] if reply is not None else []
        finished = []
        if exchange is not None and exchange.command is not None:
            finished.append(self.close(port, None))  # its reply never came
            exchange = None
        if exchange is None:
            exchange = self.open[port] = _Exchange(at, created)
        if data.startswith(">") and data[1:5].isdigit():
            exchange.command = data[5:]
            if not exchange.command.endswith("R"):  # the stimulator answers no other command
                exchange.end = at
                finished.append(self.close(port, None))
        return finished

    def close(self, port: str, reply: Optional[str]) -> Finished:
        return port, self.open.pop(port), reply


_live = _Exchanges()
# ShowMonitor's handlers by port, each with the object that showed it.
_monitors: Dict[str, List[Tuple[logging.Handler, "weakref.ref[Any]"]]] = {}


def _record(port: str, exchange: _Exchange, reply: Optional[str]) -> logging.LogRecord:
    command = exchange.command or ""
    duration: Optional[float] = None
    args: Tuple[object, ...]
    if reply is not None:
        duration = exchange.end - exchange.start
        message, args = "%s %s -> %s (%.2f ms)", (port, command, reply, duration * 1000)
    elif command.endswith("R"):
        message, args = "%s %s -> no reply", (port, command)
    else:
        message, args = "%s %s", (port, command)
    record = traffic.makeRecord(traffic.name, logging.DEBUG, __file__, 0, message, args, None,
                                extra={"command": command, "reply": reply, "port": port, "duration": duration})
    if exchange.created is not None:
        record.created = exchange.created
        record.msecs = (exchange.created % 1) * 1000
    return record


def _emit(finished: Finished) -> None:
    record = _record(*finished)
    if traffic.isEnabledFor(logging.DEBUG):
        traffic.handle(record)
    monitors = _monitors.get(finished[0], [])
    for monitor in list(monitors):
        pulsyn = monitor[1]()
        if pulsyn is None or not pulsyn.Connected:  # it ended without telling
            monitors.remove(monitor)
            monitor[0].close()
        else:
            monitor[0].handle(record)


def _data(text: bytes) -> str:
    # An entry is CR LF, the time "hh:nn:ss:zzz", ":.....", and the bytes.
    return text.decode("latin-1").partition(":.....")[2]


def _entry(port: str, sent: bool, text: bytes) -> None:
    if traffic_bytes.isEnabledFor(BYTES):
        data = _data(text)
        traffic_bytes.log(BYTES, "%s %s %s", port, "->" if sent else "<-", data,
                          extra={"port": port, "sent": sent, "data": data})
    if not (port in _monitors or traffic.isEnabledFor(logging.DEBUG)):
        _live.open.pop(port, None)  # nobody listens: nothing is kept
        return
    for finished in _live.entry(port, sent, _data(text), time.perf_counter()):
        _emit(finished)


_quorlib.set_traffic_listener(_entry)


def end_monitor(port: str) -> None:
    """The connection on port ended: its exchange still waiting for a reply is logged, and
    ShowMonitor's handler for it is removed."""
    if port in _live.open and _live.open[port].command is not None:
        _emit(_live.close(port, None))
    _live.open.pop(port, None)
    for handler, _ in _monitors.pop(port, ()):
        handler.close()


@atexit.register
def _end_all() -> None:
    for port in list(_live.open):
        end_monitor(port)


def _stamp_time(text: bytes) -> Optional[float]:
    """The wall-clock time of a logged entry: its "hh:nn:ss:zzz" on the latest day that does
    not put it in the future."""
    try:
        clock = datetime.datetime.strptime(text.decode("latin-1").strip()[:12], "%H:%M:%S:%f").time()
    except ValueError:
        return None
    now = datetime.datetime.now()
    moment = datetime.datetime.combine(now.date(), clock)
    if moment > now:
        moment -= datetime.timedelta(days=1)
    return moment.timestamp()


def _replay(handler: logging.Handler, so_far: Iterable[Tuple[str, bool, bytes]]) -> None:
    exchanges = _Exchanges()
    for port, sent, text in so_far:
        at = _stamp_time(text)
        for finished in exchanges.entry(port, sent, _data(text), at or 0.0, at):
            handler.handle(_record(*finished))


def show_traffic(pulsyn: Any) -> None:
    """What ShowMonitor does on Linux: the exchanges of the object's connection so far, then
    each new one, to standard error through a handler of its own. The logging configuration
    of the program is left as it is; the handler goes when the connection ends."""
    so_far = pulsyn._traffic_so_far()  # raises NotConnectedError before a connect
    port = pulsyn.port_name
    if any(owner() is pulsyn for _, owner in _monitors.get(port, [])):
        return  # shown already
    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("%(asctime)s %(message)s"))
    _replay(handler, so_far)
    _monitors.setdefault(port, []).append((handler, weakref.ref(pulsyn)))
