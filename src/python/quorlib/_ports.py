"""The serial ports Linux knows, as quorlib.list_ports() reports them."""

import glob
import os
from dataclasses import dataclass
from typing import Dict, List, Optional, Tuple

from . import _quorlib


@dataclass(frozen=True)
class PortInfo:
    """One serial port: its device path, the "COMn" name QuorLib gives it (None when none),
    what the USB device says of itself (vendor and product id, description, manufacturer,
    serial number; None for a device that is not USB or does not say), and whether it is the
    port a connect without a named port would take (``chosen``)."""
    device: str
    name: Optional[str]
    vid: Optional[int]
    pid: Optional[int]
    description: Optional[str]
    manufacturer: Optional[str]
    serial_number: Optional[str]
    chosen: bool


def _read(path: str) -> Optional[str]:
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            return file.read().strip() or None
    except OSError:
        return None


def _usb_details(device: str) -> Tuple[Optional[int], Optional[int], Optional[str], Optional[str], Optional[str]]:
    """Vendor id, product id, product text, manufacturer and serial number of the USB device
    behind a tty, from sysfs; Nones for one that is not USB."""
    tty = os.path.basename(os.path.realpath(device))
    node = os.path.realpath(f"/sys/class/tty/{tty}/device")
    # The tty's device is a USB interface; its parents lead to the USB device with idVendor.
    for _ in range(4):
        if os.path.exists(os.path.join(node, "idVendor")):
            vid, pid = _read(os.path.join(node, "idVendor")), _read(os.path.join(node, "idProduct"))
            return (int(vid, 16) if vid else None, int(pid, 16) if pid else None,
                    _read(os.path.join(node, "product")), _read(os.path.join(node, "manufacturer")),
                    _read(os.path.join(node, "serial")))
        parent = os.path.dirname(node)
        if parent == node:
            break
        node = parent
    return None, None, None, None, None


def list_ports() -> List[PortInfo]:
    """The candidate serial ports: the devices of COM1 to COM24 that exist (QUORLIB_COMn, else
    /dev/ttyACM<n-1>), and every other USB serial device (/dev/ttyACM*, /dev/ttyUSB*). The
    port a connect without a named port would take is marked ``chosen``: the one QUORLIB_PORT
    names, else the highest-numbered candidate (the search tries it first and takes it when it
    opens). Nothing is opened."""
    names: Dict[str, str] = {}
    highest: Optional[str] = None
    for number, device in _quorlib.candidate_ports():
        names.setdefault(device, f"COM{number}")
        highest = device
    chosen = highest
    named = os.environ.get("QUORLIB_PORT", "").strip()
    if named:
        try:
            chosen = _quorlib.port_device(named)
        except RuntimeError:
            chosen = None  # a connect would refuse it
    devices = list(names)
    for device in sorted(glob.glob("/dev/ttyACM*") + glob.glob("/dev/ttyUSB*")):
        if device not in names:
            devices.append(device)
    if chosen and chosen not in devices and os.path.exists(chosen):
        devices.append(chosen)
    ports = []
    for device in devices:
        vid, pid, description, manufacturer, serial = _usb_details(device)
        ports.append(PortInfo(device, names.get(device), vid, pid, description, manufacturer, serial,
                              device == chosen))
    return ports
