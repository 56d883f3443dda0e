"""The serial ports Linux knows, as quorlib.list_ports() reports them: read from sysfs, with
the fields serial-port tools (pySerial's list_ports) give, plus the library's own view."""

import os
from dataclasses import dataclass, replace
from typing import Dict, Iterator, List, Optional, Tuple

from . import _quorlib

SYS_CLASS_TTY = "/sys/class/tty"
DEV = "/dev"


@dataclass(frozen=True)
class PortInfo:
    """One serial port.

    ``device`` is its path; ``name`` the device's own name ("ttyACM0"); ``description`` what
    the device says it is ("n/a" when it says nothing); ``hwid`` "USB VID:PID=2341:0043
    SER=... LOCATION=1-1.2:1.0" for a USB device, else "n/a"; ``vid``, ``pid``,
    ``serial_number``, ``location``, ``manufacturer``, ``product`` and ``interface`` come from
    a USB device (None otherwise). ``com_name`` is the "COMn" name QuorLib gives the port (None
    when it has none), and ``chosen`` marks the port a connect without a named port would
    take. Unpacks as (device, description, hwid)."""
    device: str
    name: str
    description: str = "n/a"
    hwid: str = "n/a"
    vid: Optional[int] = None
    pid: Optional[int] = None
    serial_number: Optional[str] = None
    location: Optional[str] = None
    manufacturer: Optional[str] = None
    product: Optional[str] = None
    interface: Optional[str] = None
    com_name: Optional[str] = None
    chosen: bool = False

    def __iter__(self) -> Iterator[str]:
        return iter((self.device, self.description, self.hwid))

    def __str__(self) -> str:
        return f"{self.device} - {self.description}"


def _read(folder: str, name: str) -> Optional[str]:
    try:
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as file:
            return file.read().strip() or None
    except OSError:
        return None


def _subsystem(folder: str) -> str:
    return os.path.basename(os.path.realpath(os.path.join(folder, "subsystem")))


def _hex(text: Optional[str]) -> Optional[int]:
    try:
        return int(text, 16) if text else None
    except ValueError:
        return None


def _describe(device: str, sys_tty: str) -> Optional[PortInfo]:
    """The port behind one tty of sysfs; None for a tty that is no serial port (a console,
    a pseudo-terminal) or a placeholder of the serial driver with no hardware behind it."""
    name = os.path.basename(device)
    link = os.path.join(sys_tty, name, "device")
    if not os.path.islink(link):
        return None
    node = os.path.realpath(link)
    subsystem = _subsystem(node)
    if subsystem == "platform":
        return None
    # A USB serial adapter's tty hangs below its interface (usb-serial), a modem's (cdc-acm)
    # is the interface itself; the USB device is the interface's parent.
    interface_dir = {"usb-serial": os.path.dirname(node), "usb": node}.get(subsystem)
    if interface_dir is None or not _read(os.path.dirname(interface_dir), "idVendor"):
        return PortInfo(device, name)
    usb_dir = os.path.dirname(interface_dir)
    vid, pid = _hex(_read(usb_dir, "idVendor")), _hex(_read(usb_dir, "idProduct"))
    serial, product = _read(usb_dir, "serial"), _read(usb_dir, "product")
    interface, location = _read(interface_dir, "interface"), os.path.basename(interface_dir)
    description = product or name
    if interface:
        description = f"{description} - {interface}"
    hwid = f"USB VID:PID={vid or 0:04X}:{pid or 0:04X}" + (f" SER={serial}" if serial else "") + f" LOCATION={location}"
    return PortInfo(device, name, description, hwid, vid, pid, serial, location, _read(usb_dir, "manufacturer"),
                    product, interface)


def _hardware_ports(sys_tty: str, dev: str) -> List[PortInfo]:
    try:
        names = sorted(os.listdir(sys_tty))
    except OSError:
        return []
    ports = []
    for name in names:
        port = _describe(os.path.join(dev, name), sys_tty)
        if port and os.path.exists(port.device):
            ports.append(port)
    return ports


def _chosen_device(candidates: List[Tuple[int, str]]) -> Optional[str]:
    """The device a connect without a named port takes: the one QUORLIB_PORT names, else the
    highest-numbered candidate (the search tries it first and takes it when it opens)."""
    named = os.environ.get("QUORLIB_PORT", "").strip()
    if not named:
        return candidates[-1][1] if candidates else None
    try:
        return str(_quorlib.port_device(named))
    except RuntimeError:
        return None  # a connect would refuse it


def list_ports(sys_tty: str = SYS_CLASS_TTY, dev: str = DEV) -> List[PortInfo]:
    """The serial ports: every tty with hardware behind it (on-board, USB, Bluetooth...), as
    serial-port tools list them, and the devices of COM1 to COM24 QuorLib knows
    (QUORLIB_COMn, else /dev/ttyACM<n-1>) and of QUORLIB_PORT, which may be other devices
    such as a pseudo-terminal. Nothing is opened."""
    candidates: List[Tuple[int, str]] = list(_quorlib.candidate_ports())
    com_names: Dict[str, str] = {}
    for number, device in candidates:
        com_names.setdefault(device, f"COM{number}")
    chosen = _chosen_device(candidates)
    ports = {port.device: port for port in _hardware_ports(sys_tty, dev)}
    for device in [*com_names, *([chosen] if chosen else [])]:
        if device not in ports and os.path.exists(device):
            ports[device] = _describe(device, sys_tty) or PortInfo(device, os.path.basename(device))
    return [replace(port, com_name=com_names.get(device), chosen=device == chosen) for device, port in ports.items()]
