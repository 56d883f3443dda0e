' Numbers through VBScript as scientists write them: each call prints what happened.
' The first argument says which region's cases to run: en or de.
Option Explicit
Dim p, ok, region, x, n
Set p = CreateObject("QuorLib.Pulsyn")
region = WScript.Arguments(0)
If Not p.Connect Then WScript.Echo "no connection" : WScript.Quit 0
On Error Resume Next

Sub Report(label)
    If Err.Number <> 0 Then
        WScript.Echo label & ": refused: " & Err.Description
    Else
        WScript.Echo label & ": sent"
    End If
    Err.Clear
End Sub

If region = "en" Then
    p.Trigger 1.5 : Report "Trigger 1.5"
    ok = p.SetChannelN(1, 2.5) : Report "SetChannelN 2.5"
    ok = p.SetChannelVoltage(1, True) : Report "SetChannelVoltage True"
    ok = p.SetChannelVoltage(1, #12/9/2026#) : Report "SetChannelVoltage date"
    ok = p.SetChannelVoltage(1, Empty) : Report "SetChannelVoltage Empty"
    ok = p.SetChannelVoltage(1, Null) : Report "SetChannelVoltage Null"
    ok = p.SetChannelVoltage(1, Array(1, 2)) : Report "SetChannelVoltage Array"
    ok = p.SetChannelVoltage(1, p) : Report "SetChannelVoltage object"
    ok = p.SetChannelVoltage(1, "2,5") : Report "SetChannelVoltage ""2,5"""
    ok = p.SetChannelVoltage(1, "1,000.5") : Report "SetChannelVoltage ""1,000.5"""
    p.ChangeParadigm "2x" : Report "ChangeParadigm ""2x"""
    p.ChangeChannelMode 1, 2.5 : Report "ChangeChannelMode 1, 2.5"
    ok = p.SetChannelShape(True, 1) : Report "SetChannelShape True, 1"
    x = p.Trigger : Report "x = p.Trigger"
    ' Taken: numbers of every kind, variables (passed by reference), plain text.
    x = 3
    p.Trigger x : Report "Trigger x (3)"
    p.ChangeParadigm 2.0 : Report "ChangeParadigm 2.0"
    p.ChangeChannelMode 1, CByte(2) : Report "ChangeChannelMode 1, CByte(2)"
    ok = p.SetChannelDelay(1, CCur(0.025)) : Report "SetChannelDelay CCur(0.025)"
    n = CLng(40)
    ok = p.SetChannelN(x, n) : Report "SetChannelN x, n (40)"
    ok = p.SetChannelVoltage(1, "2.5") : Report "SetChannelVoltage ""2.5"""
    ok = p.SetChannelShape(1, " 1 ") : Report "SetChannelShape "" 1 """
Else
    ok = p.SetChannelVoltage(2, "2,5") : Report "SetChannelVoltage ""2,5"""
    ok = p.SetChannelVoltage(2, "2.5") : Report "SetChannelVoltage ""2.5"""
    ok = p.SetChannelVoltage(2, "1.000,5") : Report "SetChannelVoltage ""1.000,5"""
    ok = p.SetChannelDeltaV(2, 0.5) : Report "SetChannelDeltaV 0.5"
    ok = p.SetChannelN(2, CStr(1.5)) : Report "SetChannelN CStr(1.5)"
End If
p.Connected = False
