' The usual sequence of a late-bound host, in the script host under test: open COM3, read every
' message, ask for the add-in info, delete, read again, close. Everything the component says goes
' to a UTF-16 file (the first argument) for an exact comparison; the console would mangle it.
Option Explicit

Dim q, fso, out, info(0)
Set q = CreateObject("AddIn.Quorlin")
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(0), True, True)

q.PortNumber = 5
q.PortSpeed = 19200
q.OpenPort
out.WriteLine "OpenPort COM5: " & q.Error

q.PortNumber = 3
q.PortSpeed = "fast"
q.OpenPort
out.WriteLine "OpenPort fast: " & q.Error

q.PortSpeed = 19200
q.OpenPort
out.WriteLine "OpenPort: " & q.Error
q.ReadAllMsg
out.WriteLine "ReadAllMsg: " & q.Error
out.Write q.SMS

q.IInitDone_GetInfo info
out.WriteLine "GetInfo: " & info(0) & " (" & TypeName(info(0)) & ")"

q.DeleteMsg
out.WriteLine "DeleteMsg: " & q.Error
q.ReadAllMsg
out.WriteLine "ReadAllMsg: " & q.Error & ", SMS: " & q.SMS
q.ClosePort
out.WriteLine "ClosePort: " & q.Error
out.Close
