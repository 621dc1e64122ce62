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

; Pushes the id of the service's process, or 0 when it has none (stopped, or not registered).
Function ${prefix}ServiceProcessId
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $6 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .r3'
  ${If} $3 != 0
    System::Call 'advapi32::OpenServiceW(p r3, w "${SERVICE}", i 4) p .r4'
    ${If} $4 != 0
      ; SERVICE_STATUS_PROCESS: nine DWORDs, the process id the eighth.
      System::Call '*(&i36) p .r5'
      System::Call 'advapi32::QueryServiceStatusEx(p r4, i 0, p r5, i 36, *i .r0) i .r0'
      ${If} $0 <> 0
        System::Call '*$5(i, i, i, i, i, i, i, i .r6)'
      ${EndIf}
      System::Free $5
      System::Call 'advapi32::CloseServiceHandle(p r4)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r3)'
  ${EndIf}
  StrCpy $0 $6
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Push $0
FunctionEnd

; Asks a registered service to stop and waits for its process to end, not only for STOPPED: the
; program and the SiTef library stay in use until the process is gone. A stop waits for a payment
; in progress to end, so the wait is long; a process that outlives it stops the installation with
; a message rather than leaving old and new files mixed.
Function ${prefix}StopServiceIfPresent
  Call ${prefix}ServiceExists
  Pop $0
  ${If} $0 == 1
    Call ${prefix}ServiceProcessId
    Pop $2
    DetailPrint "Parando o serviço ${SERVICE}."
    nsExec::ExecToLog 'sc stop ${SERVICE}'
    Pop $0
    ${If} $2 <> 0
      ; SYNCHRONIZE: enough to wait on the process.
      System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r1'
      ${If} $1 != 0
        System::Call 'kernel32::WaitForSingleObject(p r1, i 300000) i .r0'
        System::Call 'kernel32::CloseHandle(p r1)'
        ${If} $0 <> 0
          DetailPrint "O serviço ${SERVICE} não terminou em 5 minutos."
          MessageBox MB_OK|MB_ICONSTOP "O serviço ${SERVICE} não terminou, e seus arquivos não podem ser substituídos. Conclua o pagamento em andamento (ou reinicie o computador) e execute a instalação de novo." /SD IDOK
          SetErrorLevel 3
          Abort "O serviço ${SERVICE} não terminou."
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

!macroend

!insertmacro SERVICE_CONTROL_FUNCTIONS ""
!insertmacro SERVICE_CONTROL_FUNCTIONS "un."
