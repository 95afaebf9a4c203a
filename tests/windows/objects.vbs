' The object model as a script sees it: every class by its program
' identifier, every property of Message from its default to a value written
' and read back, the values refused and the errors they raise, and the
' collections walked, indexed and read through their default members.
Option Explicit
On Error Resume Next

Dim name, o, m, value, got, item

For Each name In Array("Message", "Recipients", "Recipient", "Headers", "Header", "Attachments", "Attachment")
    Set o = CreateObject("Quillpost." & name)
    WScript.Echo "create Quillpost." & name & ": " & Err.Number & " " & TypeName(o)
    Err.Clear
Next

' Each property: its default, then a value written and read back. The
' subject is not ASCII: it must come back as written.
Function Described()
    Described = Err.Number & " " & Err.Description & " (" & Err.Source & ")"
    Err.Clear
End Function
Sub Report(name, before, after, value)
    WScript.Echo name & ": default [" & before & "], set " & Described() & ", read back the same: " & _
        (after = value) & " " & TypeName(after)
End Sub

Set m = CreateObject("Quillpost.Message")
WScript.Echo "DateTime: default within a minute of now: " & (Abs(m.DateTime - Now) < 1 / 1440)
value = "Gr" & Chr(252) & Chr(223) & "e " & Chr(128)
got = m.Subject : m.Subject = value : Report "Subject", got, m.Subject, value
got = m.Server : m.Server = "relay.example.com" : Report "Server", got, m.Server, "relay.example.com"
got = m.Port : m.Port = 587 : Report "Port", got, m.Port, 587
got = m.Priority : m.Priority = 5 : Report "Priority", got, m.Priority, 5
got = m.TimeOut : m.TimeOut = 2.5 : Report "TimeOut", got, m.TimeOut, 2.5
got = m.TextBody : m.TextBody = "text" & vbCrLf & "body" : Report "TextBody", got, m.TextBody, "text" & vbCrLf & "body"
got = m.HtmlBody : m.HtmlBody = "<p>html</p>" : Report "HtmlBody", got, m.HtmlBody, "<p>html</p>"
got = m.FromName : m.FromName = "Ann" : Report "FromName", got, m.FromName, "Ann"
got = m.FromAddress : m.FromAddress = "ann@example.com" : Report "FromAddress", got, m.FromAddress, "ann@example.com"
got = m.Application : m.Application = "Script 2.0" : Report "Application", got, m.Application, "Script 2.0"
got = m.TraceFile : m.TraceFile = "Z:\tmp\trace.log" : Report "TraceFile", got, m.TraceFile, "Z:\tmp\trace.log"
got = m.Organization : m.Organization = "Brackenfold" : Report "Organization", got, m.Organization, "Brackenfold"
got = m.ConfirmReading : m.ConfirmReading = True : Report "ConfirmReading", got, m.ConfirmReading, True
value = DateSerial(2026, 1, 2) + TimeSerial(3, 4, 5)
m.DateTime = value : Report "DateTime", "now", m.DateTime, value
WScript.Echo "Message's default member is Subject: " & (("" & m) = m.Subject)

' Values refused: each one's error, and the value left as it was.
m.Priority = 6 : WScript.Echo "Priority = 6: " & Described()
m.Priority = -1 : WScript.Echo "Priority = -1: " & Described()
m.Port = 40000 : WScript.Echo "Port = 40000: " & Described()
m.TimeOut = "soon" : WScript.Echo "TimeOut = ""soon"": " & Described()
m.DateTime = 2958466 : WScript.Echo "DateTime = 2958466: " & Described()
m.Recipients.Add "" : WScript.Echo "Recipients.Add """": " & Described()
m.ExtraHeaders.Add "X-A", "" : WScript.Echo "ExtraHeaders.Add ""X-A"", """": " & Described()
m.ExtraHeaders.Add "", "v" : WScript.Echo "ExtraHeaders.Add """", ""v"": " & Described()
m.Attachments.Add "" : WScript.Echo "Attachments.Add """": " & Described()
m.CheckSender "" : WScript.Echo "CheckSender """": " & Described()
Set o = m.Recipients(7) : WScript.Echo "Recipients(7): " & Described()
m.NoSuchMember = 1 : WScript.Echo "NoSuchMember = 1: " & Described()
WScript.Echo "after the refusals: Priority=" & m.Priority & " Port=" & m.Port & " TimeOut=" & m.TimeOut

' The collections: Add, Count, For Each, Item by number and by name, the
' items' default members, Remove and Clear.
m.Recipients.Add "one@example.com", "One"
m.Recipients.Add "two@example.com"
m.BCCs.Add "hidden@example.com"
m.ReplyTos.Add "reply@example.com", "Reply"
m.ExtraHeaders.Add "X-First", "1"
m.ExtraHeaders.Add "X-Second", "2"
m.Attachments.Add WScript.ScriptFullName
WScript.Echo "added: " & Err.Number & " Recipients=" & m.Recipients.Count & " CCs=" & m.CCs.Count & _
    " BCCs=" & m.BCCs.Count & " ReplyTos=" & m.ReplyTos.Count & " ExtraHeaders=" & m.ExtraHeaders.Count & _
    " Attachments=" & m.Attachments.Count
For Each item In m.ExtraHeaders
    WScript.Echo "header " & item.Name & ": " & item.Value & " (default member: " & item & ")"
Next
WScript.Echo "Recipients(2) by default member: " & m.Recipients(2) & ", Item(1).Name: " & m.Recipients.Item(1).Name
WScript.Echo "ExtraHeaders(""X-Second"").Value: " & m.ExtraHeaders("X-Second").Value
WScript.Echo "attachment is this script: " & (m.Attachments(1) = WScript.ScriptFullName)
WScript.Echo "same objects: " & (m.Recipients Is m.Recipients) & " " & (m.Recipients.Item(1) Is m.Recipients(1)) & _
    " " & (m.Recipients Is m.CCs)
m.Recipients.Remove 1
m.ExtraHeaders.Remove "X-First"
WScript.Echo "after Remove: " & Err.Number & " Recipients(1)=" & m.Recipients(1) & " ExtraHeaders(1)=" & m.ExtraHeaders(1)
m.Recipients.Clear
m.Attachments.Clear
WScript.Echo "after Clear: " & m.Recipients.Count & " " & m.Attachments.Count

' The item classes made on their own.
Set o = CreateObject("Quillpost.Header")
WScript.Echo "Header.Parse: " & o.Parse("X-Parsed: some value") & " [" & o.Name & "] [" & o.Value & "]"
Set o = CreateObject("Quillpost.Recipient")
o.Address = "solo@example.com"
o.Name = "Solo"
WScript.Echo "Recipient: " & o & " [" & o.Name & "]"
Set o = CreateObject("Quillpost.Attachment")
o.FileName = "Z:\some\file.pdf"
WScript.Echo "Attachment: " & o

WScript.Echo "end of script"
