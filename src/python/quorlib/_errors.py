"""The exceptions of quorlib: one base class, and a class per kind of failure that Python
code may want to catch on its own. The message is always the library's own text, the same
that Err.Description shows on Windows."""

from typing import Optional


class Error(RuntimeError):
    """A call to the stimulator failed; the message says why and what to do."""


class ArgumentError(Error, ValueError):
    """An argument the library refuses (a channel, paradigm, mode or shape number out of range,
    a time outside its range, a count or value the device number format cannot hold, a port
    name that names no port). Nothing was sent to the stimulator."""


class PortError(Error, OSError):
    """The serial port failed: it could not be opened (no such device, no permission, held by
    another program) or a transfer failed. ``errno`` is the system's error number where there
    is one; the message names the device and says what to do."""

    def __init__(self, message: str, errno: Optional[int] = None) -> None:
        if errno:
            OSError.__init__(self, errno, message)
        else:
            OSError.__init__(self, message)
        self.message = message

    def __str__(self) -> str:
        return self.message


class NotConnectedError(Error):
    """The object has no open connection: call Connect (or set Connected to True) first. Also
    raised when the object's connect found no stimulator, or when its connection was ended."""


class PortLostError(Error, ConnectionError):
    """The connected stimulator's port went away (a pulled cable, a device switched off);
    connect again once it is back."""


class NoReplyError(Error, TimeoutError):
    """The stimulator did not answer within the object's ``timeout``: whether the command took
    effect is not known. (The automation interface on Windows reports False instead.)"""
