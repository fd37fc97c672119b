' The serial ports the component finds, as a host would offer them: Ports, one a line, to a
' UTF-16 file (the first argument).
Option Explicit

Dim q, fso, out
Set q = CreateObject("AddIn.Quorlin")
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(0), True, True)
out.Write q.Ports
out.Close
