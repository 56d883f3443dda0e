// Session.cs - one lab session with the Pulsyn stimulator through QuorLib, from C#.
//
//   dotnet run -- [COM7] [--log=C:\data\session.rtf] [--monitor]
//
// COM7       the stimulator's port. QuorLib reads it from this program's command line by
//            itself; without it, QuorLib takes the highest-numbered USB serial port that opens.
// --log=     where to save the record of every byte exchanged (default: pulsyn-session.rtf
//            in your Documents folder). The file is a Rich Text Format document; the output
//            names it.
// --monitor  also show the Pulsyn Monitor window, and wait for you before ending.
//
// The object is used through "dynamic": every call goes through IDispatch, no interop
// assembly needed. The program's bitness (PlatformTarget in Session.csproj) must match the
// registered QuorLib.dll.
using System;
using System.IO;
using System.Runtime.InteropServices;

static class Session
{
    // The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
    const int cmOff = 0, cmFreeRun = 1, cmTrain = 2, cmTrig = 3, cmDC = 4, cmGate = 5, cmTwin = 6;
    const int csMonopolar = 0, csBipolar = 1, csRamp = 2;

    static int refused;

    // The value setters answer true when the stimulator accepted the value.
    static void Report(string what, bool accepted)
    {
        Console.WriteLine(accepted ? $"  {what}: accepted" : $"  {what}: REFUSED by the stimulator");
        if (!accepted) refused++;
    }

    // The other commands answer nothing; a wrong argument throws a COMException.
    static void Done(string what) => Console.WriteLine($"  {what}: done");

    [DllImport("user32.dll", CharSet = CharSet.Unicode)]
    static extern int MessageBox(IntPtr owner, string text, string caption, uint type);

    // QuorLib's objects live in a single-threaded apartment, with the monitor window.
    [STAThread]
    static int Main(string[] args)
    {
        // Your Documents folder by default: an installed examples folder is not writable for a
        // standard user.
        string logFile = Path.Combine(Environment.GetFolderPath(Environment.SpecialFolder.MyDocuments), "pulsyn-session.rtf");
        bool showMonitor = false;
        foreach (string arg in args)
        {
            if (arg.StartsWith("--log=")) logFile = arg.Substring("--log=".Length);
            if (arg == "--monitor") showMonitor = true;
        }
        logFile = Path.GetFullPath(logFile);

        dynamic p = Activator.CreateInstance(Type.GetTypeFromProgID("QuorLib.Pulsyn", throwOnError: true));

        Console.WriteLine("Connecting to the stimulator...");
        if (!p.Connect())
        {
            Console.WriteLine("No stimulator found. Name its port: dotnet run -- COM7");
            return 1;
        }
        Console.WriteLine("Connected.");

        Console.WriteLine("Programming paradigm 2:");
        p.ChangeParadigm(2);               Done("ChangeParadigm 2");
        p.ClearParadigm();                 Done("ClearParadigm (all channels off)");

        // Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
        // trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
        p.ChangeChannelMode(1, cmTrain);   Done("ChangeChannelMode 1, cmTrain");
        Report("SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar));
        Report("SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025));
        Report("SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004));
        Report("SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05));
        Report("SetChannelN 1, 10 pulses", p.SetChannelN(1, 10));
        Report("SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5));
        Report("SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1));

        // Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
        p.ChangeChannelMode(2, cmTrig);    Done("ChangeChannelMode 2, cmTrig");
        Report("SetChannelShape 2, csMonopolar", p.SetChannelShape(2, csMonopolar));
        Report("SetChannelDelay 2, 0.01 s", p.SetChannelDelay(2, 0.01));
        Report("SetChannelDuration 2, 0.001 s", p.SetChannelDuration(2, 0.001));
        Report("SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25));
        Report("SetChannelDeltaV 2, -0.05 V", p.SetChannelDeltaV(2, -0.05));

        // Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
        p.ConnectChannel(1, 2);            Done("ConnectChannel 1, 2");
        p.Trigger(1);                      Done("Trigger 1");
        p.DisconnectChannel(1, 2);         Done("DisconnectChannel 1, 2");
        p.Trigger(2);                      Done("Trigger 2");

        // Keep a copy of the whole paradigm as paradigm 3.
        p.CopyParadigm(3);                 Done("CopyParadigm 3");

        // A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
        // stimulator; the exception carries QuorLib's status and message.
        Console.WriteLine("A deliberate mistake:");
        try
        {
            p.SetChannelDelay(10, 0.5);
            Console.WriteLine("  SetChannelDelay 10, 0.5 s: unexpectedly accepted");
            refused++;
        }
        catch (COMException e)
        {
            Console.WriteLine($"  SetChannelDelay 10, 0.5 s: error 0x{e.ErrorCode:X8} from {e.Source}: {e.Message}");
        }

        if (showMonitor)
        {
            p.ShowMonitor();
            // A message box keeps the monitor window alive until you click OK.
            MessageBox(IntPtr.Zero, "The Pulsyn Monitor window shows the session. Click OK to end.", "Pulsyn session", 0);
        }

        p.SaveSessionCommands(logFile);    Done($"SaveSessionCommands {logFile}");
        Console.WriteLine($"The traffic log is saved in {logFile}");
        p.Connected = false;               Done("Disconnected");
        Marshal.FinalReleaseComObject(p);

        if (refused > 0)
        {
            Console.WriteLine($"{refused} value(s) were refused.");
            return 1;
        }
        Console.WriteLine("Session complete.");
        return 0;
    }
}
