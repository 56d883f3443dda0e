' host_bench.vbs - drives QuorLib through a real automation client for bench/host-bench.sh,
' which starts it, watches the host process from outside and prints the figures. Each step
' prints one line as it happens, so that the watcher can read the host's memory and
' processor time at that moment.
'
'   cscript //nologo host_bench.vbs COM7 dialogues N   idle, N dialogues, idle again
'   cscript //nologo host_bench.vbs COM7 idle S        connected and idle for S seconds
'   cscript //nologo host_bench.vbs COM7 busy S        dialogues for S seconds
'   cscript //nologo host_bench.vbs COM7 lost S        one dialogue (the device hangs up
'                                                      meanwhile), then idle for S seconds
'
' Idle means what a host does between calls: it runs its message loop (here a message box
' that closes itself), so that whatever the library hands to the host's thread is handled.
' (Wine's cscript has no WScript.Sleep.)
Option Explicit

Dim mode, amount, p, shell
mode = WScript.Arguments(1)
amount = CLng(WScript.Arguments(2))
Set shell = CreateObject("WScript.Shell")

Sub Idle(seconds)
    WScript.Echo "idle-begin " & seconds
    shell.Popup "QuorLib benchmark: the host is idle", seconds, "host_bench", 0
    WScript.Echo "idle-end"
End Sub

' One dialogue; returns whether the stimulator acknowledged it.
Function Dialogue(i)
    On Error Resume Next
    Dialogue = p.SetChannelDelay(1 + i Mod 9, 0.025)
    If Err.Number <> 0 Then
        WScript.Echo "error " & Err.Description
        Dialogue = False
    End If
    On Error GoTo 0
End Function

Set p = CreateObject("QuorLib.Pulsyn")
If Not p.Connect Then
    WScript.Echo "fail: no stimulator on the port named on the command line"
    WScript.Quit 1
End If
WScript.Echo "connected"

Dim i, acknowledged, started
acknowledged = 0
Select Case mode
Case "dialogues"
    Idle 10
    WScript.Echo "dialogues-begin"
    For i = 1 To amount
        If Dialogue(i) Then acknowledged = acknowledged + 1
        If i Mod 10000 = 0 And i < amount Then WScript.Echo "progress " & i
    Next
    WScript.Echo "dialogues-end " & amount & " " & acknowledged
    Idle 10
Case "idle"
    Idle amount
Case "busy"
    WScript.Echo "dialogues-begin"
    started = Timer
    i = 0
    Do While Timer - started < amount And Timer >= started
        i = i + 1
        If Dialogue(i) Then acknowledged = acknowledged + 1
    Loop
    WScript.Echo "dialogues-end " & i & " " & acknowledged
Case "lost"
    Dialogue 1
    Idle amount
    If Not Dialogue(2) Then WScript.Echo "lost: the next command failed as it should"
End Select

' The figures at the end, read while the host is still connected and idle.
WScript.Echo "end"
shell.Popup "QuorLib benchmark: the end", 2, "host_bench", 0
p.Connected = False
WScript.Echo "done"
