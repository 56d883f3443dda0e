"""The traffic of every connection, to the standard logging module: logger quorlib.traffic,
DEBUG, one record per write or read, with the entry's time and direction."""

import logging
import sys
from typing import Any

from . import _quorlib

traffic = logging.getLogger("quorlib.traffic")


def _entry(port: str, sent: bool, text: bytes) -> None:
    if not traffic.isEnabledFor(logging.DEBUG):
        return
    # An entry is CR LF, the time "hh:nn:ss:zzz", ":.....", and the bytes.
    stamp, _, data = text.decode("latin-1").lstrip("\r\n").partition(":.....")
    direction = "->" if sent else "<-"
    traffic.debug("%s %s %s %s", stamp, port, direction, data,
                  extra={"quorlib_time": stamp, "quorlib_port": port, "quorlib_sent": sent, "quorlib_data": data})


_quorlib.set_traffic_listener(_entry)


def show_traffic(pulsyn: Any) -> None:
    """What ShowMonitor does on Linux: the logger shows DEBUG records from now on (with a
    handler to standard error when it has none of its own) and the log so far is replayed."""
    so_far = pulsyn._traffic_so_far()  # raises NotConnectedError before a connect
    if traffic.level == logging.NOTSET or traffic.level > logging.DEBUG:
        traffic.setLevel(logging.DEBUG)
    if not traffic.handlers:
        handler = logging.StreamHandler(sys.stderr)
        handler.setFormatter(logging.Formatter("%(message)s"))
        traffic.addHandler(handler)
    for entry in so_far:
        _entry(*entry)
