' Creates "AddIn.Quorlin" by its ProgID and reads the modem on COM3.
' Exit status: 0 when messages were read, 3 when the object cannot be created, 1 otherwise.
Option Explicit
Dim q, sms
On Error Resume Next
Set q = CreateObject("AddIn.Quorlin")
If Err.Number <> 0 Then
  WScript.Echo "CreateObject: error 0x" & Hex(Err.Number)
  WScript.Quit 3
End If
On Error GoTo 0
q.PortNumber = 3
q.PortSpeed = 19200
q.OpenPort
WScript.Echo "OpenPort: " & q.Error
If q.Error <> "OK" Then WScript.Quit 1
q.ReadAllMsg
WScript.Echo "ReadAllMsg: " & q.Error
If q.Error <> "OK" Then WScript.Quit 1
sms = q.SMS
q.ClosePort
If sms = "Empty" Or sms = "" Then
  WScript.Echo "SMS: " & sms
  WScript.Quit 1
End If
WScript.Echo "SMS: " & Len(sms) & " characters"
