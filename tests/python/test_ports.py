"""quorlib.list_ports(): the ports pySerial lists on this machine, with the same fields, and
what sysfs says of USB, on-board and placeholder ports."""
import os

import pytest

import quorlib

FIELDS = ["device", "name", "description", "hwid", "vid", "pid", "serial_number", "location", "manufacturer",
          "product", "interface"]


@pytest.fixture
def no_port_variables(monkeypatch):
    for name in list(os.environ):
        if name == "QUORLIB_PORT" or name.startswith("QUORLIB_COM"):
            monkeypatch.delenv(name)


def test_the_same_ports_and_fields_as_pyserial(no_port_variables):
    list_ports = pytest.importorskip("serial.tools.list_ports", reason="pySerial (python3-serial) is not installed")
    theirs = {p.device: {f: getattr(p, f) for f in FIELDS} for p in list_ports.comports()}
    ours = {p.device: {f: getattr(p, f) for f in FIELDS} for p in quorlib.list_ports()}
    assert ours == theirs


def make_sysfs(root):
    """A sysfs and /dev with a USB modem, a USB serial adapter, an on-board port, a placeholder
    of the serial driver, a console, and a port whose device node is missing."""
    def write(path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as file:
            file.write(text + "\n")

    def link(path, target):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(target, path)

    for bus in ("usb", "usb-serial", "serial-base", "platform"):
        os.makedirs(f"{root}/bus/{bus}")
    usb = f"{root}/devices/usb1"
    for device, vid, pid, extra in (("1-1", "2341", "0043", {"serial": "A1B2", "product": "Uno",
                                                             "manufacturer": "Arduino"}),
                                    ("1-2", "0403", "6001", {})):
        for name, text in {"idVendor": vid, "idProduct": pid, **extra}.items():
            write(f"{usb}/{device}/{name}", text)
    write(f"{usb}/1-1/1-1:1.0/interface", "CDC Abstract Control Model")
    link(f"{usb}/1-1/1-1:1.0/subsystem", f"{root}/bus/usb")
    link(f"{usb}/1-2/1-2:1.0/ttyUSB0/subsystem", f"{root}/bus/usb-serial")
    link(f"{root}/devices/serial0/subsystem", f"{root}/bus/serial-base")
    link(f"{root}/devices/serial8250/subsystem", f"{root}/bus/platform")
    tty = f"{root}/class/tty"
    for name, device in (("ttyACM0", f"{usb}/1-1/1-1:1.0"), ("ttyUSB0", f"{usb}/1-2/1-2:1.0/ttyUSB0"),
                         ("ttyS0", f"{root}/devices/serial0"), ("ttyS1", f"{root}/devices/serial8250"),
                         ("ttyS2", f"{root}/devices/serial0")):
        link(f"{tty}/{name}/device", device)
    os.makedirs(f"{tty}/tty1")
    for name in ("ttyACM0", "ttyUSB0", "ttyS0", "ttyS1", "tty1"):  # no ttyS2
        write(f"{root}/dev/{name}", "")
    return tty, f"{root}/dev"


def test_sysfs_is_read_as_serial_port_tools_read_it(tmp_path, no_port_variables):
    ports = {p.device.rsplit("/", 1)[1]: p for p in quorlib.list_ports(*make_sysfs(str(tmp_path)))}
    assert sorted(ports) == ["ttyACM0", "ttyS0", "ttyUSB0"]  # no placeholder, console or missing node
    expected = {
        "ttyACM0": dict(vid=0x2341, pid=0x0043, serial_number="A1B2", product="Uno", manufacturer="Arduino",
                        interface="CDC Abstract Control Model", location="1-1:1.0",
                        description="Uno - CDC Abstract Control Model",
                        hwid="USB VID:PID=2341:0043 SER=A1B2 LOCATION=1-1:1.0"),
        "ttyUSB0": dict(vid=0x0403, pid=0x6001, serial_number=None, product=None, location="1-2:1.0",
                        description="ttyUSB0", hwid="USB VID:PID=0403:6001 LOCATION=1-2:1.0"),
        "ttyS0": dict(vid=None, description="n/a", hwid="n/a", location=None),
    }
    for name, fields in expected.items():
        assert {f: getattr(ports[name], f) for f in fields} == fields, name
        assert (ports[name].name, ports[name].chosen, ports[name].com_name) == (name, False, None)
    device, description, hwid = ports["ttyACM0"]  # unpacks as pySerial's ports do
    assert (description, hwid) == (ports["ttyACM0"].description, ports["ttyACM0"].hwid)


def test_the_candidates_are_listed_with_their_COM_names_and_the_one_a_connect_takes_is_marked(
        sim, monkeypatch, tmp_path):
    for number in range(1, 25):
        monkeypatch.setenv(f"QUORLIB_COM{number}", str(tmp_path / f"none{number}"))
    monkeypatch.setenv("QUORLIB_COM4", sim.path)
    monkeypatch.setenv("QUORLIB_COM6", "/dev/tty")
    monkeypatch.delenv("QUORLIB_PORT", raising=False)
    ports = {port.device: port for port in quorlib.list_ports()}
    assert (ports[sim.path].com_name, ports["/dev/tty"].com_name) == ("COM4", "COM6")
    assert ports["/dev/tty"].chosen and not ports[sim.path].chosen  # the highest first
    assert (ports[sim.path].vid, ports[sim.path].hwid) == (None, "n/a")  # a pseudo-terminal is no USB device
    for named, chosen in (("COM4", [sim.path]), (sim.path, [sim.path]), ("COM9", [])):  # COM9: no such device
        monkeypatch.setenv("QUORLIB_PORT", named)
        assert [port.device for port in quorlib.list_ports() if port.chosen] == chosen
