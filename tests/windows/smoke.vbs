' The component as a script host sees it: creation, defaults, properties,
' collections, errors and a send. Every step prints one line; the last line
' says the script ran to its end.
Option Explicit
On Error Resume Next

Dim port, m, item, n
port = CLng(WScript.Arguments(0))

Set m = CreateObject("Quillpost.Message")
WScript.Echo "create: " & Err.Number & " " & TypeName(m)
Err.Clear

WScript.Echo "defaults: Server=[" & m.Server & "] Port=" & m.Port & " TimeOut=" & m.TimeOut & _
    " Priority=" & m.Priority & " Subject=[" & m.Subject & "] Recipients=" & m.Recipients.Count & _
    " ConfirmReading=" & m.ConfirmReading

m.server = "127.0.0.1"
m.Port = port
m.FromAddress = "sender@example.com"
m.FromName = "Wine Script"
m.Subject = "Hello from VBScript"
m.TextBody = "First line" & vbCrLf & ".Second line starts with a period"
m.Priority = 1
m.Recipients.Add "one@example.com", "One"
m.Recipients.Add "two@example.com"
m.CCs.Add "three@example.com", "Three"
m.ExtraHeaders.Add "X-Script", "cscript"
WScript.Echo "set: " & Err.Number & " Port as set: " & (m.Port = port) & " Priority=" & m.Priority & _
    " Subject=[" & m.Subject & "]"

n = 0
For Each item In m.Recipients
    n = n + 1
    WScript.Echo "recipient " & n & ": " & item.Address & " [" & item.Name & "]"
Next
WScript.Echo "count: " & m.Recipients.Count & " walked: " & n

Err.Clear
m.Attachments.Add "Z:\no\such\folder\file.txt"
WScript.Echo "missing attachment: " & Err.Number & " " & Err.Description
Err.Clear
m.Attachments.Clear

m.send
WScript.Echo "send: " & Err.Number & " " & Err.Description
Err.Clear

'A summer date carries the zone's summer offset.
Dim summer
Set summer = CreateObject("Quillpost.Message")
summer.Server = "127.0.0.1"
summer.Port = port
summer.FromAddress = "sender@example.com"
summer.Subject = "Summer"
summer.DateTime = DateSerial(2026, 7, 8) + TimeSerial(12, 30, 0)
summer.Recipients.Add "four@example.com"
summer.send
WScript.Echo "summer send: " & Err.Number & " " & summer.DateTime
Err.Clear

' A domain beyond ASCII goes out in its A-labels; a label too long to be one
' is refused before connecting, naming the list.
Dim intl
Set intl = CreateObject("Quillpost.Message")
intl.Server = "127.0.0.1"
intl.Port = port
intl.FromAddress = "sender@b" & Chr(252) & "cher.example"
intl.FromName = "IDN"
intl.Subject = "A-labels"
intl.Recipients.Add "six@m" & Chr(252) & "nchen.example"
intl.send
WScript.Echo "A-label send: " & Err.Number & " " & Err.Description
Err.Clear
intl.CCs.Add "seven@" & String(70, Chr(252)) & ".example"
intl.send
WScript.Echo "label too long: " & Err.Number & " " & Err.Description
Err.Clear

' The key of the server spelled "127.1" holds credentials, allowed without
' TLS: the login is CRAM-MD5.
Dim login
Set login = CreateObject("Quillpost.Message")
login.Server = "127.1"
login.Port = port
login.FromAddress = "sender@example.com"
login.Subject = "After a login"
login.Recipients.Add "five@example.com"
login.send
WScript.Echo "login send: " & Err.Number & " " & Err.Description
Err.Clear

' Nobody listens on port 1: the connection is refused.
Dim refused
Set refused = CreateObject("Quillpost.Message")
refused.Server = "127.0.0.1"
refused.Port = 1
refused.FromAddress = "sender@example.com"
refused.Recipients.Add "one@example.com"
refused.send
WScript.Echo "refused: " & Err.Number & " " & Err.Description & " (from " & Err.Source & ")"
Err.Clear

' The server's key asks for TLS from the first byte, which this server does
' not speak: its plain greeting ends the handshake.
Dim guarded
Set guarded = CreateObject("Quillpost.Message")
guarded.Server = "localhost"
guarded.Port = port
guarded.FromAddress = "sender@example.com"
guarded.Recipients.Add "one@example.com"
guarded.send
WScript.Echo "tls: " & Err.Number & " " & Err.Description
Err.Clear

WScript.Echo "end of script"
