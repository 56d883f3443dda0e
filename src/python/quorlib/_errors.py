"""The exceptions of quorlib: one base class, and a class per kind of failure that Python
code may want to catch on its own. The message is always the library's own text, the same
that Err.Description shows on Windows.

Every exception carries what a program needs as attributes: ``port`` (the port the object
names or is connected to, None when it names none), ``member`` (the call that failed, by its
Python name, such as "set_channel_delay"), and per class ``parameter`` (ArgumentError),
``waited`` (NoReplyError), ``errno`` and ``filename`` (the OSError subclasses). Every class
survives pickling (multiprocessing, concurrent.futures) with its message and attributes."""

from typing import Optional


class Error(RuntimeError):
    """A call to the stimulator failed; the message says why and what to do."""

    port: Optional[str] = None
    member: Optional[str] = None


class ArgumentError(Error, ValueError):
    """An argument the library refuses (a channel, paradigm, mode or shape number out of range,
    a time outside its range, a count or value the device number format cannot hold, a value
    of a type no parameter of its kind takes, a port name that names no port). ``parameter``
    names the parameter by its Python name ("channel"). Nothing was sent to the stimulator."""

    def __init__(self, message: str, parameter: Optional[str] = None) -> None:
        super().__init__(message)
        self.parameter = parameter


def _init_os_error(error: OSError, errno: Optional[int], message: str, filename: Optional[str]) -> None:
    # OSError's own order (errno, message, filename), so that a pickled copy is made again
    # from its arguments as it was.
    if filename is None:
        OSError.__init__(error, errno, message)
    else:
        OSError.__init__(error, errno, message, filename)


class PortError(Error, OSError):
    """The serial port failed: it could not be opened (no such device, no permission, held by
    another program) or a transfer failed. ``errno`` is the system's error number where there
    is one (else None); the message names the device and says what to do."""

    def __init__(self, errno: Optional[int], message: str, filename: Optional[str] = None) -> None:
        _init_os_error(self, errno, message, filename)

    def __str__(self) -> str:
        return str(self.strerror)


class LogFileError(Error, OSError):
    """The traffic log could not be saved to the file named (save_session_commands):
    ``filename`` is the name given, ``errno`` the system's reason (EINVAL for a name the library
    refuses itself: a device name, a NUL character, a device or other special file)."""

    def __init__(self, errno: Optional[int], message: str, filename: Optional[str] = None) -> None:
        _init_os_error(self, errno, message, filename)

    def __str__(self) -> str:
        return str(self.strerror)


class NotConnectedError(Error):
    """The object has no open connection: call connect (or set connected to True) first. Also
    raised when the object's connect found no stimulator, or when its connection was ended."""


class PortLostError(Error, ConnectionError):
    """The connected stimulator's port went away (a pulled cable, a device switched off);
    connect again once it is back."""


class NoReplyError(Error, TimeoutError):
    """The stimulator did not answer within the object's ``timeout``: whether the command took
    effect is not known. ``waited`` is that wait in seconds. (The automation interface on
    Windows reports False instead.)"""

    waited: Optional[float] = None
