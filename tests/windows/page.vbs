' A message made on a page: the page's context, written here as script
' classes, answers the server's name, and the product key asks for senders
' of that domain only. A sender of another domain is refused before any
' connection; one of the page's domain is sent.
Option Explicit
On Error Resume Next

Class PageRequest
    Public Property Get ServerVariables(name)
        If name = "SERVER_NAME" Then ServerVariables = "www.example.com" Else ServerVariables = ""
    End Property
End Class

Class PageContext
    Public Property Get Request()
        Set Request = New PageRequest
    End Property
End Class

Function Described()
    Described = Err.Number & " " & Err.Description
    Err.Clear
End Function

Dim m
Set m = CreateObject("Quillpost.Message")
m.CheckSender "someone@elsewhere.org"
WScript.Echo "before OnStartPage, any sender: " & Described()
m.OnStartPage New PageContext
WScript.Echo "OnStartPage: " & Described()
m.CheckSender "someone@example.com"
WScript.Echo "sender of the page's domain: " & Described()
m.CheckSender "someone@elsewhere.org"
WScript.Echo "sender of another domain: " & Described()

m.Server = "127.0.0.1"
m.Port = CLng(WScript.Arguments(0))
m.Recipients.Add "page@example.com"
m.FromAddress = "someone@elsewhere.org"
m.send
WScript.Echo "send from another domain: " & Described()
m.FromAddress = "webmaster@example.com"
m.FromName = "Webmaster"
m.Subject = "From a page, " & Chr(128) & " 5"
m.send
WScript.Echo "send from the page's domain: " & Described()
WScript.Echo "end of script"
