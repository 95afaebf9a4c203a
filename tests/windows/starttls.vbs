' A send to the server named localhost, whose key asks for STARTTLS (and may
' name a CA file), on the port given first, with a body of as many lines as
' the third argument says. Prints the outcome after the label given second,
' then the final marker line.
Option Explicit
On Error Resume Next

Dim m, lines
lines = CLng(WScript.Arguments(2))
Set m = CreateObject("Quillpost.Message")
m.Server = "localhost"
m.Port = CLng(WScript.Arguments(0))
m.FromAddress = "sender@example.com"
m.Subject = "Over STARTTLS, " & (lines * 66) & " bytes of text"
m.TextBody = Replace(Space(lines), " ", String(64, "x") & vbCrLf)
m.Recipients.Add "six@example.com"
m.send
WScript.Echo "starttls " & WScript.Arguments(1) & ": " & Err.Number & " " & Err.Description
Err.Clear

WScript.Echo "end of script"
