Attribute VB_Name = "TraxExample"
' Worked example for Excel: import Trax.bas and this module (File > Import File),
' put Trax.dll and QelUsbDrv.dll of your Office's architecture in one folder,
' set TraxFolder below to it, and run ReadValues, ReadStorage or WriteOffset.
' Every TRAX_* function returns 1 on success and 0 on failure; Check turns a 0
' into a VBA error that names the function.
Option Explicit

Private Const TraxFolder As String = "C:\trax-try"

Private Sub Check(ByVal result As Long, ByVal functionName As String)
    If result <> 1 Then Err.Raise vbObjectError + 513, "Trax", functionName & " failed"
End Sub

' Windows looks for a Declare's DLL in the current folder among others.
Private Sub UseTraxFolder()
    ChDrive Left$(TraxFolder, 1)
    ChDir TraxFolder
End Sub

' The current value of both heads into A1:B2 of the active sheet.
Public Sub ReadValues()
    Dim a As FloatValue, b As FloatValue
    UseTraxFolder
    Check TRAX_GetCalcData(a, b), "TRAX_GetCalcData"
    ActiveSheet.Range("A1").Value = "head A"
    ActiveSheet.Range("A2").Value = IIf(a.status = TRAX_VALUE_VALID, a.value, "status " & a.status)
    ActiveSheet.Range("B1").Value = "head B"
    ActiveSheet.Range("B2").Value = IIf(b.status = TRAX_VALUE_VALID, b.value, "status " & b.status)
End Sub

' Stores 1000 values and writes head A's into column D.
Public Sub ReadStorage()
    Const Count As Long = 1000
    Dim values(0 To Count - 1) As FloatValue
    Dim returned As Long, i As Long
    Dim column() As Variant
    UseTraxFolder
    Check TRAX_SetDataStorage(0, Count, 0), "TRAX_SetDataStorage"
    Check TRAX_DataStorageInit(), "TRAX_DataStorageInit"
    Check TRAX_DataStorageStart(), "TRAX_DataStorageStart"
    ' ... the controller stores while the measurement runs ...
    Check TRAX_DataStorageStop(), "TRAX_DataStorageStop"
    ' An array goes by its first element; the library fills up to Count records.
    Check TRAX_DataStorageGetData(0, Count, values(0), returned), "TRAX_DataStorageGetData"
    If returned = 0 Then Exit Sub
    ReDim column(1 To returned, 1 To 1)
    For i = 0 To returned - 1
        If values(i).status = TRAX_VALUE_VALID Then column(i + 1, 1) = values(i).value Else column(i + 1, 1) = CVErr(xlErrNA)
    Next i
    ActiveSheet.Range("D1").Resize(returned, 1).Value = column
End Sub

' Writes head A's offset and reads it back (the library enters and leaves
' setting mode itself).
Public Sub WriteOffset()
    Dim offset As Long
    UseTraxFolder
    Check TRAX_SetOffset(0, 250), "TRAX_SetOffset"
    Check TRAX_GetOffset(0, offset), "TRAX_GetOffset"
    MsgBox "head A offset: " & offset
End Sub
