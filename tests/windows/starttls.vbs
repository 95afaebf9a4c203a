' A send to the server named localhost, whose key asks for STARTTLS (and may
' name a CA file), on the port given first, with a body of as many lines as
' the third argument says, made as many times as the fourth says (once when
' it is missing), each over a connection of its own from this one process,
' to the server named fifth when there is a fifth argument. Prints each
' outcome after the label given second, then the final marker line.
Option Explicit
On Error Resume Next

Dim m, lines, sends, i, label
lines = CLng(WScript.Arguments(2))
sends = 1
If WScript.Arguments.Count > 3 Then sends = CLng(WScript.Arguments(3))
Set m = CreateObject("Quillpost.Message")
m.Server = "localhost"
If WScript.Arguments.Count > 4 Then m.Server = WScript.Arguments(4)
m.Port = CLng(WScript.Arguments(0))
m.FromAddress = "sender@example.com"
m.Subject = "Over STARTTLS, " & (lines * 66) & " bytes of text"
m.TextBody = Replace(Space(lines), " ", String(64, "x") & vbCrLf)
m.Recipients.Add "six@example.com"
For i = 1 To sends
    label = WScript.Arguments(1)
    If sends > 1 Then label = label & ", send " & i
    m.send
    WScript.Echo "starttls " & label & ": " & Err.Number & " " & Err.Description
    Err.Clear
Next

WScript.Echo "end of script"
