"""The Pulsyn nine-channel pulse stimulator from Python on Linux.

``quorlib.Pulsyn`` controls one stimulator; its members have Python names (snake_case, with
snake_case keywords)::

    import quorlib
    with quorlib.Pulsyn(port="/dev/ttyACM0") as p:     # connects here, disconnects at the end
        p.change_paradigm(2)
        p.change_channel_mode(1, quorlib.cmTrain)
        p.set_channel_delay(1, 0.025)                  # seconds; True: the stimulator took it
        p.trigger(1)

The members of the Windows automation object "QuorLib.Pulsyn" (``ChangeParadigm``,
``SetChannelDelay(Channel=, Delay=)``, ``Connected``, ...) are aliases with the same argument
order, keywords and results, so that a script written for Windows runs here by changing the
line that makes the object.

Numbers, one rule for every member: a whole-number parameter (paradigm, channel, count, mode,
shape) takes an ``int`` or any real number whose exact value is whole (``2.0``,
``numpy.float32(2)``, ``Decimal("2")``, ``Fraction(4, 2)``); a value parameter (delay,
duration, interval, voltage, step) takes any real number. A ``bool`` (also numpy's), text,
``None``, a sequence or an array, and an enumeration member where it does not belong (a
``ChannelShapes`` member as a mode) are refused with ``ArgumentError``, and nothing is sent.

Failures raise ``quorlib.Error`` or one of its subclasses (``ArgumentError``, ``PortError``,
``LogFileError``, ``NotConnectedError``, ``PortLostError``, ``NoReplyError``), which carry
``port``, ``member`` and per class ``parameter``, ``waited``, ``errno`` and ``filename``, and
survive pickling. ``quorlib.list_ports()`` lists the serial ports and marks the one a connect
without a port would take. Every byte exchanged with a stimulator is logged to the logger
``quorlib.traffic`` at DEBUG level.
"""

import enum
import errno
import os
from types import TracebackType
from typing import Any, Callable, Optional, Type, TypeVar, Union

from . import _quorlib
from ._errors import (ArgumentError, Error, LogFileError, NoReplyError, NotConnectedError, PortError,
                      PortLostError)
from ._ports import PortInfo, list_ports
from ._protocol import Protocol, ProtocolError, RefusedError, Setting, load_protocol
from ._traffic import end_monitor, show_traffic

__version__: str = _quorlib.__version__

__all__ = [
    "Pulsyn", "ChannelModes", "ChannelShapes", "Error", "ArgumentError", "PortError", "LogFileError", "NotConnectedError",
    "PortLostError", "NoReplyError", "PortInfo", "list_ports", "__version__",
    "Protocol", "ProtocolError", "RefusedError", "Setting", "load_protocol",
    "cmOff", "cmFreeRun", "cmTrain", "cmTrig", "cmDC", "cmGate", "cmTwin", "csMonopolar", "csBipolar", "csRamp",
]


class ChannelModes(enum.IntEnum):
    """A channel's mode (change_channel_mode), as the type library names them."""
    cmOff = 0
    cmFreeRun = 1
    cmTrain = 2
    cmTrig = 3
    cmDC = 4
    cmGate = 5
    cmTwin = 6


class ChannelShapes(enum.IntEnum):
    """A channel's pulse shape (set_channel_shape), as the type library names them."""
    csMonopolar = 0
    csBipolar = 1
    csRamp = 2


cmOff, cmFreeRun, cmTrain, cmTrig, cmDC, cmGate, cmTwin = ChannelModes
csMonopolar, csBipolar, csRamp = ChannelShapes

_PORT_VARIABLE = "QUORLIB_PORT"


def _port_from_environment() -> Optional[str]:
    value = os.environ.get(_PORT_VARIABLE, "").strip()
    return value or None


# The automation's parameter names, as the library's messages name them, and their Python names.
_PYTHON_PARAMETERS = {
    "ParadigmNumber": "paradigm", "DestParadigm": "destination", "Channel": "channel", "Channel1": "channel1",
    "Channel2": "channel2", "Mode": "mode", "Shape": "shape", "Delay": "delay", "Duration": "duration",
    "Interval": "interval", "N": "count", "Voltage": "voltage", "DeltaV": "step", "FileName": "filename",
    "Connected": "connected",
}

_Result = TypeVar("_Result")


class Pulsyn(_quorlib.Pulsyn):
    """The stimulator control object: one Pulsyn stimulator on one serial port.

    ``port``: "COM7" (on Linux port n is the device in QUORLIB_COMn, else /dev/ttyACM<n-1>) or a
    device path such as "/dev/ttyACM0"; without it the environment variable QUORLIB_PORT names
    it (the same two forms), else connect searches COM1 to COM24 (the highest that opens), or
    shares the process's latest open connection. The interpreter's command line is never read.
    A port that names nothing is refused here (ArgumentError).

    ``timeout``: how long a command waits for the stimulator's reply, in seconds (default 15,
    the device's own limit); a reply that never comes raises NoReplyError.

    Objects on the same device (under any of its names: a by-id link, a relative path) share one
    connection and its traffic log; it closes when the last of them disconnects or is released,
    and each object's Connected says whether that object holds it. Objects on different devices
    have independent connections. ``with Pulsyn(port=...) as p:`` connects on entry when a port
    is named (or QUORLIB_PORT is set) and lets go at the end of the block, also when the block
    raises; the log of that connection can still be saved afterwards, until the object connects
    again. Connected says that the port is open; ``ping()`` asks whether a stimulator answers.

    Any thread may use any object (worker threads, executors, Qt workers): calls on one
    connection run one at a time, a second thread's call waiting its turn, while different
    devices are driven in parallel. Ctrl+C raises KeyboardInterrupt in the main thread also
    while its call waits for the stimulator or for its turn; the connection stays usable.

    Every command checks its arguments before anything is sent (ArgumentError, a ValueError;
    see the module for the rule on numbers); a command without a connection raises
    NotConnectedError; a port that cannot be opened or fails raises PortError (an OSError, with
    errno); a device that went away PortLostError. An attribute the class does not have cannot
    be set (``p.Conected = False`` raises AttributeError).

    The members with CamelCase names (ChangeParadigm, SetChannelDelay, Connected, ...) are the
    automation interface's names, kept as aliases with its keywords (Channel=, Delay=).
    """

    __slots__ = ("_port_named", "_port")

    def __init__(self, port: Optional[Union[str, os.PathLike[str]]] = None, timeout: float = 15.0) -> None:
        named = port if port is not None else _port_from_environment()
        super().__init__(named, timeout)  # refuses a port that is no text (ArgumentError)
        named = os.fsdecode(named) if named is not None else None
        self._port: Optional[str] = named
        self._port_named = named is not None

    def __enter__(self) -> "Pulsyn":
        """Connects when a port is named (port= or QUORLIB_PORT); raises as connect does."""
        if self._port_named and not self.connected:
            self.connect()
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        """Disconnects (connected = False); an exception of the block goes on."""
        self.connected = False

    def __repr__(self) -> str:
        return f"<quorlib.Pulsyn port={self._port_shown()!r} connected={self.connected}>"

    def _port_shown(self) -> Optional[str]:
        return self.port_name or self._port

    def _call(self, member: str, native: Callable[..., _Result], *arguments: Any) -> _Result:
        """Runs a native member; its failure says which member failed, on which port, and for
        an argument which parameter, by their Python names."""
        try:
            return native(self, *arguments)
        except Error as error:
            error.member = member
            error.port = self._port_shown()
            if isinstance(error, ArgumentError) and error.parameter:
                error.parameter = _PYTHON_PARAMETERS.get(error.parameter, error.parameter)
            if isinstance(error, NoReplyError):
                error.waited = self.timeout
            raise

    def connect(self) -> bool:
        """Opens the stimulator's port (see the class for which one) and returns True when
        connected. False: the search found no stimulator (commands then raise
        NotConnectedError). A named port that cannot be opened raises PortError (errno set, the
        message names the device and what to do). Connecting an object that is connected does
        nothing."""
        return self._call("connect", _quorlib.Pulsyn.Connect)

    def change_paradigm(self, paradigm: int) -> None:
        """Selects the stored program (paradigm) 1 to 9 that the next commands program and the
        triggers run. Checked: 1 to 9 (ArgumentError). Waits for the stimulator's reply
        (NoReplyError when none comes); the reply's content is not looked at."""
        self._call("change_paradigm", _quorlib.Pulsyn.ChangeParadigm, paradigm)

    def change_channel_mode(self, channel: int, mode: int) -> None:
        """Sets channel 1 to 9's mode in the selected paradigm: a ChannelModes member or its
        number 0 to 6 (cmOff, cmFreeRun, cmTrain, cmTrig, cmDC, cmGate, cmTwin). Checked: the
        channel and the mode (ArgumentError). Waits for the reply (NoReplyError)."""
        self._call("change_channel_mode", _quorlib.Pulsyn.ChangeChannelMode, channel, mode)

    def ping(self) -> str:
        """Asks the stimulator something harmless (the selected paradigm) and returns its reply,
        e.g. "OK.2": connected only says that the port is open. Raises NoReplyError, naming the
        port, when nothing answers within the timeout; NotConnectedError before a connect."""
        return self._call("ping", _quorlib.Pulsyn.ping)

    def clear_paradigm(self) -> None:
        """Clears the selected paradigm on the stimulator. Waits for the reply (NoReplyError)."""
        self._call("clear_paradigm", _quorlib.Pulsyn.ClearParadigm)

    def copy_paradigm(self, destination: int) -> None:
        """Copies the selected paradigm to paradigm ``destination``, 1 to 9 and not the selected
        one. Asks the stimulator for the selected paradigm first (a missing answer raises
        NoReplyError), then checks the destination (ArgumentError), then sends the copy, which
        the stimulator does not answer."""
        self._call("copy_paradigm", _quorlib.Pulsyn.CopyParadigm, destination)

    def trigger(self, channel: int) -> None:
        """Fires channel 1 to 9 now. Checked: the channel (ArgumentError). Only writes: the
        stimulator does not answer a trigger. A write the line does not take within a second
        raises PortError."""
        self._call("trigger", _quorlib.Pulsyn.Trigger, channel)

    def connect_channel(self, channel1: int, channel2: int) -> None:
        """Joins two channels: channel1 1 to 9, channel2 1 to 12 (10 to 12 are the extra
        outputs), never the same (ArgumentError). Waits for the reply (NoReplyError)."""
        self._call("connect_channel", _quorlib.Pulsyn.ConnectChannel, channel1, channel2)

    def disconnect_channel(self, channel1: int, channel2: int) -> None:
        """Separates two channels joined by connect_channel; the same ranges and checks."""
        self._call("disconnect_channel", _quorlib.Pulsyn.DisconnectChannel, channel1, channel2)

    def set_channel_delay(self, channel: int, delay: float) -> bool:
        """Sets channel 1 to 9's delay in seconds, 0 to 3999 (checked: ArgumentError). The value
        goes out with four significant digits (0.025 as +25.00E-3). Returns True when the
        stimulator accepted it, False when it refused it; NoReplyError when it did not answer."""
        return self._call("set_channel_delay", _quorlib.Pulsyn.SetChannelDelay, channel, delay)

    def set_channel_duration(self, channel: int, duration: float) -> bool:
        """Sets channel 1 to 9's pulse duration in seconds, 4e-6 (4 us) to 3999 (checked).
        Returns True when the stimulator accepted it, False when it refused it."""
        return self._call("set_channel_duration", _quorlib.Pulsyn.SetChannelDuration, channel, duration)

    def set_channel_interval(self, channel: int, interval: float) -> bool:
        """Sets channel 1 to 9's interval between pulses in seconds, 4e-5 (40 us) to 3999
        (checked). Returns True when the stimulator accepted it, False when it refused it."""
        return self._call("set_channel_interval", _quorlib.Pulsyn.SetChannelInterval, channel, interval)

    def set_channel_n(self, channel: int, count: int) -> bool:
        """Sets channel 1 to 9's pulse count. A count the device's four significant digits would
        round (12345) is refused, naming the nearest exact counts (ArgumentError); the range is
        the stimulator's to decide. Returns True when it accepted the count."""
        return self._call("set_channel_n", _quorlib.Pulsyn.SetChannelN, channel, count)

    def set_channel_voltage(self, channel: int, voltage: float) -> bool:
        """Sets channel 1 to 9's voltage in volts. The library checks only that the value has a
        device number form; the range is the stimulator's to decide: False when it refused the
        value, True when it accepted it."""
        return self._call("set_channel_voltage", _quorlib.Pulsyn.SetChannelVoltage, channel, voltage)

    def set_channel_delta_v(self, channel: int, step: float) -> bool:
        """Sets channel 1 to 9's voltage step from pulse to pulse in volts (checked and answered
        as set_channel_voltage). Returns True when the stimulator accepted it."""
        return self._call("set_channel_delta_v", _quorlib.Pulsyn.SetChannelDeltaV, channel, step)

    def set_channel_shape(self, channel: int, shape: int) -> bool:
        """Sets channel 1 to 9's pulse shape: a ChannelShapes member or 0 to 2 (csMonopolar,
        csBipolar, csRamp); checked (ArgumentError). Returns True when the stimulator accepted
        it."""
        return self._call("set_channel_shape", _quorlib.Pulsyn.SetChannelShape, channel, shape)

    def show_monitor(self) -> None:
        """Shows the traffic of this object's connection: the log so far, then every new entry,
        through the logger ``quorlib.traffic`` (a handler to standard error is added when the
        logger has none). Raises NotConnectedError before a connect."""
        self._call("show_monitor", show_traffic)

    def save_session_commands(self, filename: Union[str, os.PathLike[str]]) -> None:
        """Saves this connection's traffic log as a Rich Text Format document (sent lines red,
        received green, with their times); an existing file is replaced. A file that cannot be
        written raises LogFileError (an OSError with errno and filename, the message naming the
        file and the system's reason)."""
        try:
            self._call("save_session_commands", _quorlib.Pulsyn.SaveSessionCommands, filename)
        except LogFileError as error:
            error.filename = os.fsdecode(filename)
            if error.errno is None:  # a name the library refuses by its own rule
                error.errno = errno.EINVAL
            raise

    @property
    def connected(self) -> bool:
        """True while the object is connected to its stimulator. Setting True connects (as
        connect); setting False lets go of this object's connection, which closes when the last
        object on the device lets go. Takes True or False (or a whole number, 0 for False)."""
        return bool(_quorlib.Pulsyn.Connected.__get__(self))

    @connected.setter
    def connected(self, value: bool) -> None:
        port = self.port_name
        self._call("connected", _quorlib.Pulsyn.Connected.__set__, value)
        if not value:
            end_monitor(port)  # the monitor's handler goes with the connection

    @property
    def timeout(self) -> float:
        """How long a command waits for the stimulator's reply, in seconds (above 0, at most
        3600; default 15)."""
        return float(_quorlib.Pulsyn.timeout.__get__(self))

    @timeout.setter
    def timeout(self, seconds: float) -> None:
        self._call("timeout", _quorlib.Pulsyn.timeout.__set__, seconds)

    @property
    def port_name(self) -> str:
        """The port this object connected to, as messages name it ("COM7", "/dev/ttyACM0");
        empty before its first connect."""
        return str(_quorlib.Pulsyn.port_name.__get__(self))

    # The automation interface's names, with its keywords: a script written for Windows runs
    # unchanged but for the line that makes the object.
    Connected = connected

    def Connect(self) -> bool:
        """connect() under the automation interface's name, kept for scripts written for Windows."""
        return self.connect()

    def ChangeParadigm(self, ParadigmNumber: int) -> None:
        """change_paradigm(paradigm) under the automation interface's name, kept for scripts written for Windows."""
        self.change_paradigm(ParadigmNumber)

    def ChangeChannelMode(self, Channel: int, Mode: int) -> None:
        """change_channel_mode(channel, mode) under the automation interface's name, kept for scripts written for Windows."""
        self.change_channel_mode(Channel, Mode)

    def ClearParadigm(self) -> None:
        """clear_paradigm() under the automation interface's name, kept for scripts written for Windows."""
        self.clear_paradigm()

    def CopyParadigm(self, DestParadigm: int) -> None:
        """copy_paradigm(destination) under the automation interface's name, kept for scripts written for Windows."""
        self.copy_paradigm(DestParadigm)

    def Trigger(self, Channel: int) -> None:
        """trigger(channel) under the automation interface's name, kept for scripts written for Windows."""
        self.trigger(Channel)

    def ConnectChannel(self, Channel1: int, Channel2: int) -> None:
        """connect_channel(channel1, channel2) under the automation interface's name, kept for scripts written for Windows."""
        self.connect_channel(Channel1, Channel2)

    def DisconnectChannel(self, Channel1: int, Channel2: int) -> None:
        """disconnect_channel(channel1, channel2) under the automation interface's name, kept for scripts written for Windows."""
        self.disconnect_channel(Channel1, Channel2)

    def SetChannelDelay(self, Channel: int, Delay: float) -> bool:
        """set_channel_delay(channel, delay) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_delay(Channel, Delay)

    def SetChannelDuration(self, Channel: int, Duration: float) -> bool:
        """set_channel_duration(channel, duration) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_duration(Channel, Duration)

    def SetChannelInterval(self, Channel: int, Interval: float) -> bool:
        """set_channel_interval(channel, interval) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_interval(Channel, Interval)

    def SetChannelN(self, Channel: int, N: int) -> bool:
        """set_channel_n(channel, count) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_n(Channel, N)

    def SetChannelVoltage(self, Channel: int, Voltage: float) -> bool:
        """set_channel_voltage(channel, voltage) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_voltage(Channel, Voltage)

    def SetChannelDeltaV(self, Channel: int, DeltaV: float) -> bool:
        """set_channel_delta_v(channel, step) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_delta_v(Channel, DeltaV)

    def SetChannelShape(self, Channel: int, Shape: int) -> bool:
        """set_channel_shape(channel, shape) under the automation interface's name, kept for scripts written for Windows."""
        return self.set_channel_shape(Channel, Shape)

    def ShowMonitor(self) -> None:
        """show_monitor() under the automation interface's name, kept for scripts written for Windows."""
        self.show_monitor()

    def SaveSessionCommands(self, FileName: Union[str, os.PathLike[str]]) -> None:
        """save_session_commands(filename) under the automation interface's name, kept for scripts written for Windows."""
        self.save_session_commands(FileName)
