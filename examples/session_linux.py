"""One lab session with the Pulsyn stimulator from Python on Linux, through quorlib.

    python3 session_linux.py [COM7 | --port=/dev/ttyACM0] [--log=session.rtf] [--monitor]

COM7       the stimulator's port (on Linux COM7 is the device in the environment variable
           QUORLIB_COM7, otherwise /dev/ttyACM6); --port= takes "COM7" or a device path.
           Without either, QUORLIB_PORT names it, else QuorLib takes the highest-numbered of
           COM1 to COM24 whose device exists and opens.
--log=     where to save the record of every byte exchanged (default: pulsyn-session.rtf
           in the current folder). The file is a Rich Text Format document.
--monitor  also show that record as it grows (the logger quorlib.traffic, on standard error).

The calls are those of session_win32com.py under their Python names; the automation names
(p.ChangeParadigm, p.SetChannelDelay, ...) work here too, so that script runs by changing only
the line that makes the object.
Install quorlib once: pip install --user --no-build-isolation . (in the source folder).
Two stimulators: make one object per port, quorlib.Pulsyn(port=...) each; each object sends
only to its own device.
"""
import os
import sys
from typing import Optional

import quorlib

refused = 0


def report(what: str, accepted: bool) -> None:
    """The value setters answer True when the stimulator accepted the value."""
    global refused
    if accepted:
        print(f"  {what}: accepted")
    else:
        print(f"  {what}: REFUSED by the stimulator")
        refused += 1


def done(what: str) -> None:
    """The other commands answer nothing; a wrong argument raises quorlib.Error."""
    print(f"  {what}: done")


log_file = "pulsyn-session.rtf"
port: Optional[str] = None
show_monitor = "--monitor" in sys.argv[1:]
for arg in sys.argv[1:]:
    if arg.startswith("--log="):
        log_file = arg[len("--log="):]
    elif arg.startswith("--port="):
        port = arg[len("--port="):]
    elif arg.upper().startswith("COM"):
        port = arg
log_file = os.path.abspath(log_file)



def connected_stimulator(port: Optional[str]) -> quorlib.Pulsyn:
    """The stimulator on that port, connected, or the program ends saying why."""
    print("Connecting to the stimulator...")
    try:
        p = quorlib.Pulsyn(port=port)  # on Windows: win32com.client.Dispatch("QuorLib.Pulsyn")
        if p.connect():
            return p
    except quorlib.PortError as error:  # an OSError: no such device, no permission, in use
        sys.exit(f"Cannot open the stimulator's port: {error}")
    except quorlib.ArgumentError as error:  # a port name that names no port
        sys.exit(str(error))
    sys.exit("No stimulator found. Name its port: python3 session_linux.py COM7 (or --port=/dev/ttyACM0)")


# The end of the with-block disconnects, also when the block raises.
with connected_stimulator(port) as p:
    print("Connected.")
    if show_monitor:
        p.show_monitor()

    print("Programming paradigm 2:")
    p.change_paradigm(2)
    done("ChangeParadigm 2")
    p.clear_paradigm()
    done("ClearParadigm (all channels off)")

    # Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    # trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    p.change_channel_mode(1, quorlib.cmTrain)
    done("ChangeChannelMode 1, cmTrain")
    report("SetChannelShape 1, csBipolar", p.set_channel_shape(1, quorlib.csBipolar))
    report("SetChannelDelay 1, 0.025 s", p.set_channel_delay(1, 0.025))
    report("SetChannelDuration 1, 0.0004 s", p.set_channel_duration(1, 0.0004))
    report("SetChannelInterval 1, 0.05 s", p.set_channel_interval(1, 0.05))
    report("SetChannelN 1, 10 pulses", p.set_channel_n(1, 10))
    report("SetChannelVoltage 1, 2.5 V", p.set_channel_voltage(1, 2.5))
    report("SetChannelDeltaV 1, 0.1 V", p.set_channel_delta_v(1, 0.1))

    # Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    p.change_channel_mode(2, quorlib.cmTrig)
    done("ChangeChannelMode 2, cmTrig")
    report("SetChannelShape 2, csMonopolar", p.set_channel_shape(2, quorlib.csMonopolar))
    report("SetChannelDelay 2, 0.01 s", p.set_channel_delay(2, 0.01))
    report("SetChannelDuration 2, 0.001 s", p.set_channel_duration(2, 0.001))
    report("SetChannelVoltage 2, -1.25 V", p.set_channel_voltage(2, -1.25))
    report("SetChannelDeltaV 2, -0.05 V", p.set_channel_delta_v(2, -0.05))

    # Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    p.connect_channel(1, 2)
    done("ConnectChannel 1, 2")
    p.trigger(1)
    done("Trigger 1")
    p.disconnect_channel(1, 2)
    done("DisconnectChannel 1, 2")
    p.trigger(2)
    done("Trigger 2")

    # Keep a copy of the whole paradigm as paradigm 3.
    p.copy_paradigm(3)
    done("CopyParadigm 3")

    # A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    # stimulator; quorlib.ArgumentError (a ValueError and a quorlib.Error) carries QuorLib's
    # message. Other failures: quorlib.NotConnectedError, quorlib.PortLostError (a pulled
    # cable), quorlib.NoReplyError (a TimeoutError: no answer within p.timeout seconds).
    print("A deliberate mistake:")
    try:
        p.set_channel_delay(10, 0.5)
        print("  SetChannelDelay 10, 0.5 s: unexpectedly accepted")
        refused += 1
    except quorlib.ArgumentError as error:
        print(f"  SetChannelDelay 10, 0.5 s: quorlib.ArgumentError: {error}")

    p.save_session_commands(log_file)
    done(f"SaveSessionCommands {log_file}")
# The end of the with-block disconnected, as p.connected = False does.
done("Disconnected")

if refused:
    sys.exit(f"{refused} value(s) were refused.")
print("Session complete.")
