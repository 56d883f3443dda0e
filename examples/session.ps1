<#
session.ps1 - one lab session with the Pulsyn stimulator, through QuorLib, in PowerShell.

    powershell -ExecutionPolicy Bypass -File session.ps1 [-Port COM7] [-Log C:\data\session.rtf] [-Monitor]

-Port     the stimulator's port. Without it, QuorLib uses the environment variable
          QUORLIB_PORT if it is set, and otherwise takes the highest-numbered USB serial
          port that opens.
-Log      where to save the record of every byte exchanged (default: pulsyn-session.rtf in
          your Documents folder), a Rich Text Format document; the output names it.
-Monitor  also show the Pulsyn Monitor window, and wait for you before ending.

Bitness: PowerShell loads the QuorLib.dll of its own bitness. On 64-bit Windows,
"Windows PowerShell" (C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe) and
PowerShell 7 (pwsh) are 64-bit and need the 64-bit DLL registered; "Windows PowerShell (x86)"
(C:\Windows\SysWOW64\WindowsPowerShell\v1.0\powershell.exe) is 32-bit and needs the 32-bit
one. [Environment]::Is64BitProcess tells which one you are in. The installer registers both.
#>
param(
    [string]$Port,
    # Your Documents folder by default: an installed examples folder is not writable for a
    # standard user.
    [string]$Log = (Join-Path ([Environment]::GetFolderPath("MyDocuments")) "pulsyn-session.rtf"),
    [switch]$Monitor
)
$ErrorActionPreference = "Stop"

# The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
$cmOff = 0; $cmFreeRun = 1; $cmTrain = 2; $cmTrig = 3; $cmDC = 4; $cmGate = 5; $cmTwin = 6
$csMonopolar = 0; $csBipolar = 1; $csRamp = 2

$script:refused = 0

# The value setters answer $true when the stimulator accepted the value.
function Report([string]$what, [bool]$accepted) {
    if ($accepted) { "  ${what}: accepted" }
    else { "  ${what}: REFUSED by the stimulator"; $script:refused++ }
}

# QuorLib's message of a failed call: PowerShell wraps the COM error in its own exception.
function Describe($errorRecord) {
    $e = $errorRecord.Exception
    if ($e.InnerException) { $e = $e.InnerException }
    "error 0x{0:X8}: {1}" -f $e.HResult, $e.Message
}

# An interactive PowerShell has no "COM7" on its command line for QuorLib to read, so the
# port goes to QuorLib through this process's environment.
if ($Port) { $env:QUORLIB_PORT = $Port }
$Log = [System.IO.Path]::GetFullPath((Join-Path (Get-Location) $Log))
"PowerShell is {0}-bit." -f $(if ([Environment]::Is64BitProcess) { 64 } else { 32 })

try {
    $p = New-Object -ComObject QuorLib.Pulsyn
} catch {
    "QuorLib.Pulsyn cannot be created: $(Describe $_)"
    "Register the QuorLib.dll of this PowerShell's bitness (see INSTALL.md)."
    exit 1
}

try {
    "Connecting to the stimulator..."
    if (-not $p.Connect()) {
        "No stimulator found. Name its port: session.ps1 -Port COM7"
        exit 1
    }
    "Connected."

    "Programming paradigm 2:"
    $p.ChangeParadigm(2);               "  ChangeParadigm 2: done"
    $p.ClearParadigm();                 "  ClearParadigm (all channels off): done"

    # Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    # trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    $p.ChangeChannelMode(1, $cmTrain);  "  ChangeChannelMode 1, cmTrain: done"
    Report "SetChannelShape 1, csBipolar" $p.SetChannelShape(1, $csBipolar)
    Report "SetChannelDelay 1, 0.025 s" $p.SetChannelDelay(1, 0.025)
    Report "SetChannelDuration 1, 0.0004 s" $p.SetChannelDuration(1, 0.0004)
    Report "SetChannelInterval 1, 0.05 s" $p.SetChannelInterval(1, 0.05)
    Report "SetChannelN 1, 10 pulses" $p.SetChannelN(1, 10)
    Report "SetChannelVoltage 1, 2.5 V" $p.SetChannelVoltage(1, 2.5)
    Report "SetChannelDeltaV 1, 0.1 V" $p.SetChannelDeltaV(1, 0.1)

    # Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    $p.ChangeChannelMode(2, $cmTrig);   "  ChangeChannelMode 2, cmTrig: done"
    Report "SetChannelShape 2, csMonopolar" $p.SetChannelShape(2, $csMonopolar)
    Report "SetChannelDelay 2, 0.01 s" $p.SetChannelDelay(2, 0.01)
    Report "SetChannelDuration 2, 0.001 s" $p.SetChannelDuration(2, 0.001)
    Report "SetChannelVoltage 2, -1.25 V" $p.SetChannelVoltage(2, -1.25)
    Report "SetChannelDeltaV 2, -0.05 V" $p.SetChannelDeltaV(2, -0.05)

    # Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    $p.ConnectChannel(1, 2);            "  ConnectChannel 1, 2: done"
    $p.Trigger(1);                      "  Trigger 1: done"
    $p.DisconnectChannel(1, 2);         "  DisconnectChannel 1, 2: done"
    $p.Trigger(2);                      "  Trigger 2: done"

    # Keep a copy of the whole paradigm as paradigm 3.
    $p.CopyParadigm(3);                 "  CopyParadigm 3: done"

    # A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    # stimulator, and the error says why.
    "A deliberate mistake:"
    try {
        [void]$p.SetChannelDelay(10, 0.5)
        "  SetChannelDelay 10, 0.5 s: unexpectedly accepted"
        $script:refused++
    } catch {
        "  SetChannelDelay 10, 0.5 s: $(Describe $_)"
    }

    if ($Monitor) {
        $p.ShowMonitor()
        Read-Host "The Pulsyn Monitor window shows the session. Press Enter to end"
    }

    $p.SaveSessionCommands($Log);       "  SaveSessionCommands ${Log}: done"
    "The traffic log is saved in $Log"
    $p.Connected = $false;              "  Disconnected: done"
} catch {
    "The session stopped: $(Describe $_)"
    exit 1
} finally {
    [void][System.Runtime.InteropServices.Marshal]::ReleaseComObject($p)
}

if ($script:refused -gt 0) {
    "$($script:refused) value(s) were refused."
    exit 1
}
"Session complete."
