' Saving the traffic log to names that Windows opens as devices: each is refused, and
' nothing reaches the stimulator; a file name afterwards holds the log.
' The first argument is the folder to save in.
Dim p, folder, name
Set p = CreateObject("QuorLib.Pulsyn")
folder = WScript.Arguments(0)
If Not p.Connect Then WScript.Echo "no connection" : WScript.Quit 0
On Error Resume Next
p.ChangeParadigm 4
For Each name In Array("COM7", "C:\data\COM7.rtf", "\\.\COM7", folder & "\com7.log", folder & "\Nul.txt", folder & "\COM7 .rtf")
    p.SaveSessionCommands name
    If Err.Number <> 0 Then WScript.Echo "refused: " & Err.Description Else WScript.Echo name & ": saved"
    Err.Clear
Next
p.SaveSessionCommands folder & "\session.rtf"
If Err.Number <> 0 Then WScript.Echo "refused: " & Err.Description Else WScript.Echo "session.rtf: saved"
p.Connected = False
