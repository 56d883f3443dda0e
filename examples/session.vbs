' session.vbs - one lab session with the Pulsyn stimulator, through QuorLib.
'
'   cscript //nologo session.vbs [COM7] [/log:C:\data\session.rtf] [/monitor]
'
' COM7     the stimulator's port. QuorLib reads it from this command line by itself; without
'          it, QuorLib takes the highest-numbered USB serial port that opens.
' /log:    where to save the record of every byte exchanged (default: pulsyn-session.rtf in
'          your Documents folder). The file is a Rich Text Format document; the session's
'          output names it.
' /monitor also show the Pulsyn Monitor window, and wait for you before ending.
'
' Use the cscript of the same bitness as the registered QuorLib.dll (see INSTALL.md).
Option Explicit

' The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
Const cmOff = 0, cmFreeRun = 1, cmTrain = 2, cmTrig = 3, cmDC = 4, cmGate = 5, cmTwin = 6
Const csMonopolar = 0, csBipolar = 1, csRamp = 2

Dim refused : refused = 0

' The value setters answer True when the stimulator accepted the value.
Sub Report(what, accepted)
    If accepted Then
        WScript.Echo "  " & what & ": accepted"
    Else
        WScript.Echo "  " & what & ": REFUSED by the stimulator"
        refused = refused + 1
    End If
End Sub

' The other commands answer nothing; a wrong argument stops the session with an error.
Sub Done(what)
    WScript.Echo "  " & what & ": done"
End Sub

' Read the options; the COM argument needs nothing from us.
Dim i, arg, logFile, showMonitor
logFile = ""
showMonitor = False
For i = 0 To WScript.Arguments.Count - 1
    arg = WScript.Arguments(i)
    If LCase(Left(arg, 5)) = "/log:" Then logFile = Mid(arg, 6)
    If LCase(arg) = "/monitor" Then showMonitor = True
Next
' Your Documents folder by default: the examples folder of an installed QuorLib is not
' writable for a standard user.
If logFile = "" Then logFile = DocumentsFolder() & "\pulsyn-session.rtf"
logFile = CreateObject("Scripting.FileSystemObject").GetAbsolutePathName(logFile)

' The user's Documents folder (Wine's WScript.Shell does not know it; its Shell.Application does).
Function DocumentsFolder()
    On Error Resume Next
    DocumentsFolder = CreateObject("WScript.Shell").SpecialFolders("MyDocuments")
    If DocumentsFolder = "" Then DocumentsFolder = CreateObject("Shell.Application").Namespace(5).Self.Path
    On Error GoTo 0
    If Right(DocumentsFolder, 1) = "\" Then DocumentsFolder = Left(DocumentsFolder, Len(DocumentsFolder) - 1)
End Function

' Under Wine, cscript prints nothing and exits with 0 when a script stops on an error, so the
' session runs in a Sub and every error that stops it is printed here, with exit code 1.
On Error Resume Next
RunSession
If Err.Number <> 0 Then
    WScript.Echo "Stopped by an error: &H" & Hex(Err.Number) & " from " & Err.Source & ": " & Err.Description
    If Err.Number = 429 Then WScript.Echo "QuorLib is not registered for this bitness of cscript: see INSTALL.md, section 1."
    WScript.Quit 1
End If
On Error GoTo 0

Sub RunSession()
    Dim p
    Set p = CreateObject("QuorLib.Pulsyn")

    WScript.Echo "Connecting to the stimulator..."
    If Not p.Connect Then
        WScript.Echo "No stimulator found. Name its port: cscript //nologo session.vbs COM7"
        WScript.Quit 1
    End If
    WScript.Echo "Connected."

    WScript.Echo "Programming paradigm 2:"
    p.ChangeParadigm 2               : Done "ChangeParadigm 2"
    p.ClearParadigm                  : Done "ClearParadigm (all channels off)"

    ' Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    ' trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    p.ChangeChannelMode 1, cmTrain   : Done "ChangeChannelMode 1, cmTrain"
    Report "SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar)
    Report "SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025)
    Report "SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004)
    Report "SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05)
    Report "SetChannelN 1, 10 pulses", p.SetChannelN(1, 10)
    Report "SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5)
    Report "SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1)

    ' Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    p.ChangeChannelMode 2, cmTrig    : Done "ChangeChannelMode 2, cmTrig"
    Report "SetChannelShape 2, csMonopolar", p.SetChannelShape(2, csMonopolar)
    Report "SetChannelDelay 2, 0.01 s", p.SetChannelDelay(2, 0.01)
    Report "SetChannelDuration 2, 0.001 s", p.SetChannelDuration(2, 0.001)
    Report "SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25)
    Report "SetChannelDeltaV 2, -0.05 V", p.SetChannelDeltaV(2, -0.05)

    ' Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    p.ConnectChannel 1, 2            : Done "ConnectChannel 1, 2"
    p.Trigger 1                      : Done "Trigger 1"
    p.DisconnectChannel 1, 2         : Done "DisconnectChannel 1, 2"
    p.Trigger 2                      : Done "Trigger 2"

    ' Keep a copy of the whole paradigm as paradigm 3.
    p.CopyParadigm 3                 : Done "CopyParadigm 3"

    ' A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    ' stimulator, and Err.Description says why.
    WScript.Echo "A deliberate mistake:"
    On Error Resume Next
    p.SetChannelDelay 10, 0.5
    If Err.Number <> 0 Then
        WScript.Echo "  SetChannelDelay 10, 0.5 s: error &H" & Hex(Err.Number) & " from " & Err.Source & ": " & Err.Description
    Else
        WScript.Echo "  SetChannelDelay 10, 0.5 s: unexpectedly accepted"
        refused = refused + 1
    End If
    On Error GoTo 0

    If showMonitor Then
        p.ShowMonitor
        ' A message box keeps the monitor window alive until you click OK.
        MsgBox "The Pulsyn Monitor window shows the session. Click OK to end.", vbOKOnly, "Pulsyn session"
    End If

    p.SaveSessionCommands logFile    : Done "SaveSessionCommands " & logFile
    WScript.Echo "The traffic log is saved in " & logFile
    p.Connected = False              : Done "Disconnected"

    If refused > 0 Then
        WScript.Echo refused & " value(s) were refused."
        WScript.Quit 1
    End If
    WScript.Echo "Session complete."
End Sub
