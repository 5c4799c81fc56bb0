' A late-binding client as a script host sees MirlParserUbrof: it creates the
' object by both program ids and calls methods whose parameters are passed by
' value (script engines cannot pass the typed by-reference parameters).
' It ends with the line MIRL-VBS-OK; a runtime error ends cscript silently.
Option Explicit

Sub Fail(message)
    WScript.Echo "MIRL-VBS-FAIL " & message
    WScript.Quit 1
End Sub

Dim progIds, progId, parser, status
progIds = Array("MirlParserUbrof.MirlParserUbrof.1", "MirlParserUbrof.MirlParserUbrof")
For Each progId In progIds
    Set parser = CreateObject(progId)
    If Not IsObject(parser) Then Fail "CreateObject " & progId

    ' Script integers arrive as 16-bit variants and must be coerced to the
    ' unsigned char parameters; a failing status must reach Err.Number.
    parser.Init 0
    parser.SetDefaultDataValue 1, 255
    On Error Resume Next
    parser.SetDefaultDataValue &H40, 0
    status = Err.Number
    On Error GoTo 0
    If status <> &H80040001 Then Fail progId & ": SetDefaultDataValue(&H40) gave " & Hex(status)

    WScript.Echo progId & ": created, initialised"
    Set parser = Nothing
Next
WScript.Echo "MIRL-VBS-OK"
