Attribute VB_Name = "PulsynSession"
' PulsynSession.bas - one lab session with the Pulsyn stimulator, from Excel through QuorLib.
'
' Import it: in Excel press Alt+F11, then File > Import File... and pick this file. Run the
' macro RunSession (or RunSessionWithMonitor) with Alt+F8. The session's lines appear in
' the Immediate window (Ctrl+G in the VBA editor); the traffic log is saved next to the
' workbook as pulsyn-session.rtf.
'
' Excel's bitness must match the registered QuorLib.dll (File > Account > About Excel says
' 32-bit or 64-bit; see INSTALL.md). Excel's command line names no port: QuorLib uses the
' environment variable QUORLIB_PORT (e.g. COM7; set it with "setx QUORLIB_PORT COM7" and
' restart Excel), and without it takes the highest-numbered USB serial port that opens.
'
' This module binds late (CreateObject), so it needs no reference. For early binding, tick
' "QuorLib Library" under Tools > References, declare "Dim p As QuorLib.Pulsyn" and drop the
' constants below: cmTrain, csBipolar, ... then come from the type library.
Option Explicit

' The channel modes and pulse shapes (QuorLib's ChannelModes and ChannelShapes).
Private Const cmOff As Long = 0, cmFreeRun As Long = 1, cmTrain As Long = 2, cmTrig As Long = 3
Private Const cmDC As Long = 4, cmGate As Long = 5, cmTwin As Long = 6
Private Const csMonopolar As Long = 0, csBipolar As Long = 1, csRamp As Long = 2

Private refused As Long

Public Sub RunSession()
    Session False
End Sub

' Also shows the Pulsyn Monitor window, until you close the message box.
Public Sub RunSessionWithMonitor()
    Session True
End Sub

' The value setters answer True when the stimulator accepted the value.
Private Sub Report(ByVal what As String, ByVal accepted As Boolean)
    If accepted Then
        Debug.Print "  " & what & ": accepted"
    Else
        Debug.Print "  " & what & ": REFUSED by the stimulator"
        refused = refused + 1
    End If
End Sub

' The other commands answer nothing; a wrong argument stops the macro with QuorLib's message.
Private Sub Done(ByVal what As String)
    Debug.Print "  " & what & ": done"
End Sub

Private Sub Session(ByVal showMonitor As Boolean)
    Dim p As Object, logFile As String
    refused = 0
    logFile = ThisWorkbook.Path
    If logFile = "" Then logFile = Environ$("USERPROFILE")   ' a workbook not saved yet
    logFile = logFile & "\pulsyn-session.rtf"

    Set p = CreateObject("QuorLib.Pulsyn")
    Debug.Print "Connecting to the stimulator..."
    If Not p.Connect Then
        MsgBox "No stimulator found. Is it plugged in and switched on? With several USB serial " & _
               "devices, name its port in the environment variable QUORLIB_PORT (e.g. COM7).", vbExclamation
        Exit Sub
    End If
    Debug.Print "Connected."

    Debug.Print "Programming paradigm 2:"
    p.ChangeParadigm 2:              Done "ChangeParadigm 2"
    p.ClearParadigm:                 Done "ClearParadigm (all channels off)"

    ' Channel 1: a train of 10 bipolar pulses, 0.4 ms long, every 50 ms, 25 ms after the
    ' trigger, starting at 2.5 V and growing by 0.1 V from pulse to pulse.
    p.ChangeChannelMode 1, cmTrain:  Done "ChangeChannelMode 1, cmTrain"
    Report "SetChannelShape 1, csBipolar", p.SetChannelShape(1, csBipolar)
    Report "SetChannelDelay 1, 0.025 s", p.SetChannelDelay(1, 0.025)
    Report "SetChannelDuration 1, 0.0004 s", p.SetChannelDuration(1, 0.0004)
    Report "SetChannelInterval 1, 0.05 s", p.SetChannelInterval(1, 0.05)
    Report "SetChannelN 1, 10 pulses", p.SetChannelN(1, 10)
    Report "SetChannelVoltage 1, 2.5 V", p.SetChannelVoltage(1, 2.5)
    Report "SetChannelDeltaV 1, 0.1 V", p.SetChannelDeltaV(1, 0.1)

    ' Channel 2: one monopolar pulse of 1 ms, 10 ms after its trigger, -1.25 V, step -0.05 V.
    p.ChangeChannelMode 2, cmTrig:   Done "ChangeChannelMode 2, cmTrig"
    Report "SetChannelShape 2, csMonopolar", p.SetChannelShape(2, csMonopolar)
    Report "SetChannelDelay 2, 0.01 s", p.SetChannelDelay(2, 0.01)
    Report "SetChannelDuration 2, 0.001 s", p.SetChannelDuration(2, 0.001)
    Report "SetChannelVoltage 2, -1.25 V", p.SetChannelVoltage(2, -1.25)
    Report "SetChannelDeltaV 2, -0.05 V", p.SetChannelDeltaV(2, -0.05)

    ' Join channel 2 to channel 1 (a trigger of 1 then starts 2 as well), fire, separate them.
    p.ConnectChannel 1, 2:           Done "ConnectChannel 1, 2"
    p.Trigger 1:                     Done "Trigger 1"
    p.DisconnectChannel 1, 2:        Done "DisconnectChannel 1, 2"
    p.Trigger 2:                     Done "Trigger 2"

    ' Keep a copy of the whole paradigm as paradigm 3.
    p.CopyParadigm 3:                Done "CopyParadigm 3"

    ' A mistake: there is no channel 10. QuorLib refuses it before anything reaches the
    ' stimulator, and Err.Description says why.
    Debug.Print "A deliberate mistake:"
    On Error Resume Next
    p.SetChannelDelay 10, 0.5
    If Err.Number <> 0 Then
        Debug.Print "  SetChannelDelay 10, 0.5 s: error &H" & Hex(Err.Number) & " from " & Err.Source & ": " & Err.Description
    Else
        Debug.Print "  SetChannelDelay 10, 0.5 s: unexpectedly accepted"
        refused = refused + 1
    End If
    On Error GoTo 0

    If showMonitor Then
        p.ShowMonitor
        ' The message box keeps the monitor window alive until you click OK.
        MsgBox "The Pulsyn Monitor window shows the session. Click OK to end.", vbOKOnly, "Pulsyn session"
    End If

    p.SaveSessionCommands logFile:   Done "SaveSessionCommands " & logFile
    p.Connected = False:             Done "Disconnected"

    If refused > 0 Then
        MsgBox refused & " value(s) were refused by the stimulator.", vbExclamation
    Else
        Debug.Print "Session complete."
    End If
End Sub
