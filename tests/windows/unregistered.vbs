' After unregistration the class is gone.
On Error Resume Next
Dim m
Set m = CreateObject("Quillpost.Message")
WScript.Echo "create after unregister: " & Err.Number
WScript.Echo "end of script"
