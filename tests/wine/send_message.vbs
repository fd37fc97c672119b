' Sending from a late-bound host: without a port, to a number that is none, then a text of two
' parts with a status report asked for, on COM18. The text comes from a UTF-16 file (the second
' argument): this script host has no working ChrW. What the component says goes to a UTF-16 file
' (the first argument).
Option Explicit

Dim q, fso, out, text
Set q = CreateObject("AddIn.Quorlin")
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(0), True, True)
text = fso.OpenTextFile(WScript.Arguments(1), 1, False, -1).ReadAll

q.SendMsg "+79161234567", text
out.WriteLine "SendMsg without a port: " & q.Error
q.PortNumber = 18
q.PortSpeed = 19200
q.OpenPort
q.SendMsg "+7916 CALL ME", text
out.WriteLine "SendMsg to no number: " & q.Error
q.StatusReport = True
q.SendMsg "+79161234567", text
out.WriteLine "SendMsg: " & q.Error & ", references: " & q.SentReferences
q.ClosePort
out.Close
