"""One lab session with the Pulsyn stimulator from Python on Linux, through quorlib.

    python3 session_linux.py [COM7 | --port=/dev/ttyACM0] [--log=session.rtf] [--monitor]

COM7       the stimulator's port. QuorLib reads it from this program's command line by
           itself: on Linux COM7 is the device in the environment variable QUORLIB_COM7,
           otherwise /dev/ttyACM6. Without it, QuorLib takes the highest-numbered of
           COM1 to COM24 whose device exists and opens.
--port=    the port as quorlib.Pulsyn(port=...) takes it: "COM7" or a device path. It
           takes the place of the command line's choice.
--log=     where to save the record of every byte exchanged (default: pulsyn-session.rtf
           in the current folder). The file is a Rich Text Format document.
--monitor  also echo that record to standard error, as it grows.

The calls are those of session_win32com.py; only the line that makes the object differs.
Needs the quorlib module: build it and install it for your user once with
    cmake --preset native && cmake --build --preset native --target install-quorlib-user
"""
import os
import sys

import quorlib

refused = 0


def report(what, accepted):
    """The value setters answer True when the stimulator accepted the value."""
    global refused
    if accepted:
        print(f"  {what}: accepted")
    else:
        print(f"  {what}: REFUSED by the stimulator")
        refused += 1


def done(what):
    """The other commands answer nothing; a wrong argument raises quorlib.Error."""
    print(f"  {what}: done")


log_file = "pulsyn-session.rtf"
port = None
show_monitor = "--monitor" in sys.argv[1:]
for arg in sys.argv[1:]:
    if arg.startswith("--log="):
        log_file = arg[len("--log="):]
    elif arg.startswith("--port="):
        port = arg[len("--port="):]
log_file = os.path.abspath(log_file)

with quorlib.Pulsyn(port=port) as p:  # on Windows: win32com.client.Dispatch("QuorLib.Pulsyn")
    print("Connecting to the stimulator...")
    if not p.Connect():
        sys.exit("No stimulator found. Name its port: python3 session_linux.py COM7 (or --port=/dev/ttyACM0)")
    print("Connected.")
    if show_monitor:
        p.ShowMonitor()

    print("Programming paradigm 2:")
    p.ChangeParadigm(2)
    done("ChangeParadigm 2")
    p.ClearParadigm()
    done("ClearParadigm (all channels off)")

    # Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    # trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    p.ChangeChannelMode(1, quorlib.cmTrain)
    done("ChangeChannelMode 1, cmTrain")
    report("SetChannelShape 1, csBipolar", p.SetChannelShape(1, quorlib.csBipolar))
    report("SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025))
    report("SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004))
    report("SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05))
    report("SetChannelN 1, 10 pulses", p.SetChannelN(1, 10))
    report("SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5))
    report("SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1))

    # Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    p.ChangeChannelMode(2, quorlib.cmTrig)
    done("ChangeChannelMode 2, cmTrig")
    report("SetChannelShape 2, csMonopolar", p.SetChannelShape(2, quorlib.csMonopolar))
    report("SetChannelDelay 2, 0.01 s", p.SetChannelDelay(2, 0.01))
    report("SetChannelDuration 2, 0.001 s", p.SetChannelDuration(2, 0.001))
    report("SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25))
    report("SetChannelDeltaV 2, -0.05 V", p.SetChannelDeltaV(2, -0.05))

    # Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    p.ConnectChannel(1, 2)
    done("ConnectChannel 1, 2")
    p.Trigger(1)
    done("Trigger 1")
    p.DisconnectChannel(1, 2)
    done("DisconnectChannel 1, 2")
    p.Trigger(2)
    done("Trigger 2")

    # Keep a copy of the whole paradigm as paradigm 3.
    p.CopyParadigm(3)
    done("CopyParadigm 3")

    # A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    # stimulator; quorlib.Error carries QuorLib's message.
    print("A deliberate mistake:")
    try:
        p.SetChannelDelay(10, 0.5)
        print("  SetChannelDelay 10, 0.5 s: unexpectedly accepted")
        refused += 1
    except quorlib.Error as error:
        print(f"  SetChannelDelay 10, 0.5 s: quorlib.Error: {error}")

    p.SaveSessionCommands(log_file)
    done(f"SaveSessionCommands {log_file}")
# The end of the with-block disconnected, as p.Connected = False does.
done("Disconnected")

if refused:
    sys.exit(f"{refused} value(s) were refused.")
print("Session complete.")
