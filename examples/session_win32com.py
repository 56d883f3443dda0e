"""One lab session with the Pulsyn stimulator through QuorLib, from Python with pywin32.

    python session_win32com.py [COM7] [--log=C:\\data\\session.rtf] [--monitor]

COM7       the stimulator's port. QuorLib reads it from this program's command line by
           itself; without it, QuorLib takes the highest-numbered USB serial port that opens.
--log=     where to save the record of every byte exchanged (default: pulsyn-session.rtf
           in your Documents folder). The file is a Rich Text Format document; the output
           names it.
--monitor  also show the Pulsyn Monitor window, and wait for you before ending.

Needs pywin32 (pip install pywin32), and a Python of the same bitness as the registered
QuorLib.dll: 64-bit Python uses x64\\QuorLib.dll, 32-bit Python x86\\QuorLib.dll.
"""
import ctypes
import os
import sys

import pywintypes
import win32api
import win32com.client

# The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
cmOff, cmFreeRun, cmTrain, cmTrig, cmDC, cmGate, cmTwin = range(7)
csMonopolar, csBipolar, csRamp = range(3)

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
    """The other commands answer nothing; a wrong argument raises pywintypes.com_error."""
    print(f"  {what}: done")


# Your Documents folder by default (CSIDL_PERSONAL): an installed examples folder is not
# writable for a standard user.
documents = ctypes.create_unicode_buffer(260)
ctypes.windll.shell32.SHGetFolderPathW(None, 5, None, 0, documents)
log_file = os.path.join(documents.value, "pulsyn-session.rtf")
show_monitor = "--monitor" in sys.argv[1:]
for arg in sys.argv[1:]:
    if arg.startswith("--log="):
        log_file = arg[len("--log="):]
log_file = os.path.abspath(log_file)

p = win32com.client.Dispatch("QuorLib.Pulsyn")

print("Connecting to the stimulator...")
if not p.Connect():
    sys.exit("No stimulator found. Name its port: python session_win32com.py COM7")
print("Connected.")

print("Programming paradigm 2:")
p.ChangeParadigm(2)
done("ChangeParadigm 2")
p.ClearParadigm()
done("ClearParadigm (all channels off)")

# Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
# trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
p.ChangeChannelMode(1, cmTrain)
done("ChangeChannelMode 1, cmTrain")
report("SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar))
report("SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025))
report("SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004))
report("SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05))
report("SetChannelN 1, 10 pulses", p.SetChannelN(1, 10))
report("SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5))
report("SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1))

# Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
p.ChangeChannelMode(2, cmTrig)
done("ChangeChannelMode 2, cmTrig")
report("SetChannelShape 2, csMonopolar", p.SetChannelShape(2, csMonopolar))
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
# stimulator; the exception carries QuorLib's status and message.
print("A deliberate mistake:")
try:
    p.SetChannelDelay(10, 0.5)
    print("  SetChannelDelay 10, 0.5 s: unexpectedly accepted")
    refused += 1
except pywintypes.com_error as error:
    # excepinfo: (code, source, description, help file, help context, status)
    _, source, description, _, _, status = error.excepinfo
    print(f"  SetChannelDelay 10, 0.5 s: error 0x{status & 0xFFFFFFFF:08X} from {source}: {description}")

if show_monitor:
    p.ShowMonitor()
    # A message box keeps the monitor window alive until you click OK.
    win32api.MessageBox(0, "The Pulsyn Monitor window shows the session. Click OK to end.", "Pulsyn session")

p.SaveSessionCommands(log_file)
done(f"SaveSessionCommands {log_file}")
print(f"The traffic log is saved in {log_file}")
p.Connected = False
done("Disconnected")

if refused:
    sys.exit(f"{refused} value(s) were refused.")
print("Session complete.")
