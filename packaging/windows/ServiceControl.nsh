; Stopping the service before its files are replaced or removed, for the installer and uninstaller.

!macro SERVICE_CONTROL_FUNCTIONS prefix
; Pushes 1 when the service is registered, 0 otherwise.
Function ${prefix}ServiceExists
  nsExec::ExecToStack 'sc query ${SERVICE}'
  Pop $0
  Pop $1
  ${If} $0 == 0
    Push 1
  ${Else}
    Push 0
  ${EndIf}
FunctionEnd

; Asks a registered service to stop and waits up to 30 seconds for it to report STOPPED, so that
; its executable is no longer in use.
Function ${prefix}StopServiceIfPresent
  Call ${prefix}ServiceExists
  Pop $0
  ${If} $0 == 1
    DetailPrint "Parando o serviço ${SERVICE}."
    nsExec::ExecToLog 'sc stop ${SERVICE}'
    Pop $0
    StrCpy $2 0
    ${Do}
      nsExec::ExecToStack 'sc query ${SERVICE}'
      Pop $0
      Pop $1
      Push $1
      Push "STOPPED"
      Call ${prefix}Contains
      Pop $0
      ${If} $0 == 1
        ${Break}
      ${EndIf}
      IntOp $2 $2 + 1
      ${If} $2 >= 30
        DetailPrint "Aviso: o serviço ${SERVICE} não parou em 30 segundos."
        ${Break}
      ${EndIf}
      Sleep 1000
    ${Loop}
  ${EndIf}
FunctionEnd

; Pushes 1 when the text (second from the top) contains the word (top of the stack), else 0.
Function ${prefix}Contains
  Exch $R0 ; word
  Exch
  Exch $R1 ; text
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrLen $R2 $R0
  StrLen $R4 $R1
  StrCpy $R3 0
  ${Do}
    ${If} $R3 > $R4
      StrCpy $R0 0
      ${Break}
    ${EndIf}
    StrCpy $R5 $R1 $R2 $R3
    ${If} $R5 == $R0
      StrCpy $R0 1
      ${Break}
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend

!insertmacro SERVICE_CONTROL_FUNCTIONS ""
!insertmacro SERVICE_CONTROL_FUNCTIONS "un."
