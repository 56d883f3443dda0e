"""The Pulsyn nine-channel pulse stimulator from Python on Linux.

``quorlib.Pulsyn`` has the members of the Windows automation object "QuorLib.Pulsyn" with
the same names, argument order and results, so that a script written for Windows runs here
by changing the line that makes the object::

    import quorlib
    with quorlib.Pulsyn(port="/dev/ttyACM0") as p:     # connects here, disconnects at the end
        p.ChangeParadigm(2)
        p.ChangeChannelMode(1, quorlib.cmTrain)
        p.SetChannelDelay(1, 0.025)                    # seconds; True: the stimulator took it
        p.Trigger(1)

Failures raise ``quorlib.Error`` or one of its subclasses (``ArgumentError``, ``PortError``,
``NotConnectedError``, ``PortLostError``, ``NoReplyError``). ``quorlib.list_ports()`` lists the
serial ports and marks the one a connect without a port would take. Every byte exchanged with a
stimulator is logged to the logger ``quorlib.traffic`` at DEBUG level.
"""

import enum
import os
from types import TracebackType
from typing import Optional, Type, Union

from . import _quorlib
from ._errors import ArgumentError, Error, NoReplyError, NotConnectedError, PortError, PortLostError
from ._ports import PortInfo, list_ports
from ._traffic import show_traffic

__version__: str = _quorlib.__version__

__all__ = [
    "Pulsyn", "ChannelModes", "ChannelShapes", "Error", "ArgumentError", "PortError", "NotConnectedError",
    "PortLostError", "NoReplyError", "PortInfo", "list_ports", "__version__",
    "cmOff", "cmFreeRun", "cmTrain", "cmTrig", "cmDC", "cmGate", "cmTwin", "csMonopolar", "csBipolar", "csRamp",
]


class ChannelModes(enum.IntEnum):
    """A channel's mode (ChangeChannelMode), as the type library names them."""
    cmOff = 0
    cmFreeRun = 1
    cmTrain = 2
    cmTrig = 3
    cmDC = 4
    cmGate = 5
    cmTwin = 6


class ChannelShapes(enum.IntEnum):
    """A channel's pulse shape (SetChannelShape), as the type library names them."""
    csMonopolar = 0
    csBipolar = 1
    csRamp = 2


cmOff, cmFreeRun, cmTrain, cmTrig, cmDC, cmGate, cmTwin = ChannelModes
csMonopolar, csBipolar, csRamp = ChannelShapes

_PORT_VARIABLE = "QUORLIB_PORT"


def _port_from_environment() -> Optional[str]:
    value = os.environ.get(_PORT_VARIABLE, "").strip()
    return value or None


class Pulsyn(_quorlib.Pulsyn):
    """The stimulator control object: one Pulsyn stimulator on one serial port.

    ``port``: "COM7" (on Linux port n is the device in QUORLIB_COMn, else /dev/ttyACM<n-1>) or a
    device path such as "/dev/ttyACM0"; without it the environment variable QUORLIB_PORT names
    it (the same two forms), else Connect searches COM1 to COM24 (the highest that opens), or
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

    Every command checks its arguments before anything is sent (ArgumentError, a ValueError);
    a command without a connection raises NotConnectedError; a port that cannot be opened or
    fails raises PortError (an OSError, with errno); a device that went away PortLostError.
    """

    def __init__(self, port: Optional[Union[str, os.PathLike[str]]] = None, timeout: float = 15.0) -> None:
        named = os.fspath(port) if port is not None else _port_from_environment()
        super().__init__(named, timeout)
        self._port_named = named is not None

    def __enter__(self) -> "Pulsyn":
        """Connects when a port is named (port= or QUORLIB_PORT); raises as Connect does."""
        if self._port_named and not self.Connected:
            self.Connect()
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        """Disconnects (Connected = False); an exception of the block goes on."""
        self.Connected = False

    def __repr__(self) -> str:
        state = f"connected to {self.port_name}" if self.Connected else "not connected"
        return f"<quorlib.Pulsyn {state}>"

    def Connect(self) -> bool:
        """Opens the stimulator's port (see the class for which one) and returns True when
        connected. False: the search found no stimulator (commands then raise
        NotConnectedError). A named port that cannot be opened raises PortError (errno set, the
        message names the device and what to do). Connecting an object that is connected does
        nothing."""
        return super().Connect()

    def ChangeParadigm(self, ParadigmNumber: int) -> None:
        """Selects the stored program (paradigm) 1 to 9 that the next commands program and the
        triggers run. Checked: 1 to 9 (ArgumentError). Waits for the stimulator's reply
        (NoReplyError when none comes); the reply's content is not looked at."""
        super().ChangeParadigm(ParadigmNumber)

    def ChangeChannelMode(self, Channel: int, Mode: int) -> None:
        """Sets channel 1 to 9's mode in the selected paradigm: a ChannelModes member or its
        number 0 to 6 (cmOff, cmFreeRun, cmTrain, cmTrig, cmDC, cmGate, cmTwin). Checked: the
        channel and the mode (ArgumentError). Waits for the reply (NoReplyError)."""
        super().ChangeChannelMode(Channel, Mode)

    def ping(self) -> str:
        """Asks the stimulator something harmless (the selected paradigm) and returns its reply,
        e.g. "OK.2": Connected only says that the port is open. Raises NoReplyError, naming the
        port, when nothing answers within the timeout; NotConnectedError before a connect."""
        return super().ping()

    def ClearParadigm(self) -> None:
        """Clears the selected paradigm on the stimulator. Waits for the reply (NoReplyError)."""
        super().ClearParadigm()

    def CopyParadigm(self, DestParadigm: int) -> None:
        """Copies the selected paradigm to paradigm DestParadigm, 1 to 9 and not the selected
        one. Asks the stimulator for the selected paradigm first (a missing answer raises
        NoReplyError), then checks the destination (ArgumentError), then sends the copy, which
        the stimulator does not answer."""
        super().CopyParadigm(DestParadigm)

    def Trigger(self, Channel: int) -> None:
        """Fires channel 1 to 9 now. Checked: the channel (ArgumentError). Only writes: the
        stimulator does not answer a trigger. A write the line does not take within a second
        raises PortError."""
        super().Trigger(Channel)

    def ConnectChannel(self, Channel1: int, Channel2: int) -> None:
        """Joins two channels: Channel1 1 to 9, Channel2 1 to 12 (10 to 12 are the extra
        outputs), never the same (ArgumentError). Waits for the reply (NoReplyError)."""
        super().ConnectChannel(Channel1, Channel2)

    def DisconnectChannel(self, Channel1: int, Channel2: int) -> None:
        """Separates two channels joined by ConnectChannel; the same ranges and checks."""
        super().DisconnectChannel(Channel1, Channel2)

    def SetChannelDelay(self, Channel: int, Delay: float) -> bool:
        """Sets channel 1 to 9's delay in seconds, 0 to 3999 (checked: ArgumentError). The value
        goes out with four significant digits (0.025 as +25.00E-3). Returns True when the
        stimulator accepted it, False when it refused it; NoReplyError when it did not answer."""
        return super().SetChannelDelay(Channel, Delay)

    def SetChannelDuration(self, Channel: int, Duration: float) -> bool:
        """Sets channel 1 to 9's pulse duration in seconds, 4e-6 (4 us) to 3999 (checked).
        Returns True when the stimulator accepted it, False when it refused it."""
        return super().SetChannelDuration(Channel, Duration)

    def SetChannelInterval(self, Channel: int, Interval: float) -> bool:
        """Sets channel 1 to 9's interval between pulses in seconds, 4e-5 (40 us) to 3999
        (checked). Returns True when the stimulator accepted it, False when it refused it."""
        return super().SetChannelInterval(Channel, Interval)

    def SetChannelN(self, Channel: int, N: int) -> bool:
        """Sets channel 1 to 9's pulse count. A count the device's four significant digits would
        round (12345) is refused, naming the nearest exact counts (ArgumentError); the range is
        the stimulator's to decide. Returns True when it accepted the count."""
        return super().SetChannelN(Channel, N)

    def SetChannelVoltage(self, Channel: int, Voltage: float) -> bool:
        """Sets channel 1 to 9's voltage in volts. The library checks only that the value has a
        device number form; the range is the stimulator's to decide: False when it refused the
        value, True when it accepted it."""
        return super().SetChannelVoltage(Channel, Voltage)

    def SetChannelDeltaV(self, Channel: int, DeltaV: float) -> bool:
        """Sets channel 1 to 9's voltage step in volts (checked and answered as
        SetChannelVoltage). Returns True when the stimulator accepted it."""
        return super().SetChannelDeltaV(Channel, DeltaV)

    def SetChannelShape(self, Channel: int, Shape: int) -> bool:
        """Sets channel 1 to 9's pulse shape: a ChannelShapes member or 0 to 2 (csMonopolar,
        csBipolar, csRamp); checked (ArgumentError). Returns True when the stimulator accepted
        it."""
        return super().SetChannelShape(Channel, Shape)

    def ShowMonitor(self) -> None:
        """Shows the traffic of this object's connection: the log so far, then every new entry,
        through the logger ``quorlib.traffic`` (a handler to standard error is added when the
        logger has none). Raises NotConnectedError before a connect."""
        show_traffic(self)

    def SaveSessionCommands(self, FileName: Union[str, os.PathLike[str]]) -> None:
        """Saves this connection's traffic log as a Rich Text Format document (sent lines red,
        received green, with their times); an existing file is replaced. A file that cannot be
        created raises Error naming it and the system's reason."""
        super().SaveSessionCommands(FileName)

    @property
    def Connected(self) -> bool:
        """True while the object is connected to its stimulator. Setting True connects (as
        Connect); setting False ends the connection of every object on this port."""
        return bool(_quorlib.Pulsyn.Connected.__get__(self))

    @Connected.setter
    def Connected(self, value: bool) -> None:
        _quorlib.Pulsyn.Connected.__set__(self, bool(value))

    @property
    def timeout(self) -> float:
        """How long a command waits for the stimulator's reply, in seconds (above 0, at most
        3600; default 15)."""
        return float(_quorlib.Pulsyn.timeout.__get__(self))

    @timeout.setter
    def timeout(self, seconds: float) -> None:
        _quorlib.Pulsyn.timeout.__set__(self, seconds)

    @property
    def port_name(self) -> str:
        """The port this object connected to, as messages name it ("COM7", "/dev/ttyACM0");
        empty before its first connect."""
        return str(_quorlib.Pulsyn.port_name.__get__(self))
