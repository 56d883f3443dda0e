// session.js - one lab session with the Pulsyn stimulator, through QuorLib.
//
//   cscript //nologo session.js [COM7] [/log:C:\data\session.rtf] [/monitor]
//
// COM7     the stimulator's port. QuorLib reads it from this command line by itself; without
//          it, QuorLib takes the highest-numbered USB serial port that opens.
// /log:    where to save the record of every byte exchanged (default: pulsyn-session.rtf in
//          your Documents folder). The file is a Rich Text Format document; the session's
//          output names it.
// /monitor also show the Pulsyn Monitor window, and wait for you before ending.
//
// Use the cscript of the same bitness as the registered QuorLib.dll (see INSTALL.md).

// The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
var cmOff = 0, cmFreeRun = 1, cmTrain = 2, cmTrig = 3, cmDC = 4, cmGate = 5, cmTwin = 6;
var csMonopolar = 0, csBipolar = 1, csRamp = 2;

var refused = 0;

// The value setters answer true when the stimulator accepted the value.
function report(what, accepted) {
    if (accepted) {
        WScript.Echo("  " + what + ": accepted");
    } else {
        WScript.Echo("  " + what + ": REFUSED by the stimulator");
        refused++;
    }
}

// The other commands answer nothing; a wrong argument throws an exception.
function done(what) {
    WScript.Echo("  " + what + ": done");
}

// Read the options; the COM argument needs nothing from us.
var logFile = "", showMonitor = false;
for (var i = 0; i < WScript.Arguments.Count(); i++) {
    var arg = WScript.Arguments(i);
    if (arg.substr(0, 5).toLowerCase() == "/log:") logFile = arg.substr(5);
    if (arg.toLowerCase() == "/monitor") showMonitor = true;
}
// Your Documents folder by default: the examples folder of an installed QuorLib is not
// writable for a standard user.
if (logFile == "") logFile = documentsFolder() + "\\pulsyn-session.rtf";
logFile = new ActiveXObject("Scripting.FileSystemObject").GetAbsolutePathName(logFile);

// The user's Documents folder (Wine's WScript.Shell does not know it; its Shell.Application does).
function documentsFolder() {
    var folder = "";
    try {
        folder = new ActiveXObject("WScript.Shell").SpecialFolders("MyDocuments");
    } catch (e) {
    }
    if (!folder) folder = new ActiveXObject("Shell.Application").Namespace(5).Self.Path;
    return folder.replace(/\\$/, "");
}

// Under Wine, cscript prints nothing and exits with 0 when a script stops on an error, so
// every error that stops the session is printed here, with exit code 1.
try {
    var p = new ActiveXObject("QuorLib.Pulsyn");

    WScript.Echo("Connecting to the stimulator...");
    if (!p.Connect()) {
        WScript.Echo("No stimulator found. Name its port: cscript //nologo session.js COM7");
        WScript.Quit(1);
    }
    WScript.Echo("Connected.");

    WScript.Echo("Programming paradigm 2:");
    p.ChangeParadigm(2);                 done("ChangeParadigm 2");
    p.ClearParadigm();                   done("ClearParadigm (all channels off)");

    // Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    // trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    p.ChangeChannelMode(1, cmTrain);     done("ChangeChannelMode 1, cmTrain");
    report("SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar));
    report("SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025));
    report("SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004));
    report("SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05));
    report("SetChannelN 1, 10 pulses", p.SetChannelN(1, 10));
    report("SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5));
    report("SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1));

    // Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    p.ChangeChannelMode(2, cmTrig);      done("ChangeChannelMode 2, cmTrig");
    report("SetChannelShape 2, csMonopolar", p.SetChannelShape(2, csMonopolar));
    report("SetChannelDelay 2, 0.01 s", p.SetChannelDelay(2, 0.01));
    report("SetChannelDuration 2, 0.001 s", p.SetChannelDuration(2, 0.001));
    report("SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25));
    report("SetChannelDeltaV 2, -0.05 V", p.SetChannelDeltaV(2, -0.05));

    // Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    p.ConnectChannel(1, 2);              done("ConnectChannel 1, 2");
    p.Trigger(1);                        done("Trigger 1");
    p.DisconnectChannel(1, 2);           done("DisconnectChannel 1, 2");
    p.Trigger(2);                        done("Trigger 2");

    // Keep a copy of the whole paradigm as paradigm 3.
    p.CopyParadigm(3);                   done("CopyParadigm 3");

    // A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    // stimulator, and the exception's description says why.
    WScript.Echo("A deliberate mistake:");
    try {
        p.SetChannelDelay(10, 0.5);
        WScript.Echo("  SetChannelDelay 10, 0.5 s: unexpectedly accepted");
        refused++;
    } catch (e) {
        WScript.Echo("  SetChannelDelay 10, 0.5 s: error 0x" + (e.number >>> 0).toString(16).toUpperCase() +
                     ": " + e.description);
    }

    if (showMonitor) {
        p.ShowMonitor();
        // A message box keeps the monitor window alive until you click OK.
        new ActiveXObject("WScript.Shell").Popup("The Pulsyn Monitor window shows the session. Click OK to end.",
                                                 0, "Pulsyn session", 0);
    }

    p.SaveSessionCommands(logFile);      done("SaveSessionCommands " + logFile);
    WScript.Echo("The traffic log is saved in " + logFile);
    p.Connected = false;                 done("Disconnected");

    if (refused > 0) {
        WScript.Echo(refused + " value(s) were refused.");
        WScript.Quit(1);
    }
    WScript.Echo("Session complete.");
} catch (e) {
    WScript.Echo("Stopped by an error: 0x" + (e.number >>> 0).toString(16).toUpperCase() + ": " + e.description);
    if ((e.number >>> 0) == 0x800A01AD)  // "Automation server can't create object"
        WScript.Echo("QuorLib is not registered for this bitness of cscript: see INSTALL.md, section 1.");
    WScript.Quit(1);
}
