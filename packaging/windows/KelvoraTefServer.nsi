; The Windows installer of Kelvora TEF Server: the service and its tool, its own certificates and
; token key, the service registered and started, and the simulator only when asked for.
;
;   makensis -DBINDIR=<folder with the Windows binaries> -DOUTFILE=<installer.exe> [-DX64] KelvoraTefServer.nsi
;
; With -DX64 the installer is itself a 64-bit program for the 64-bit build: it installs into the
; 64-bit Program Files and refuses a 32-bit Windows. Everything else (the service's name, its
; settings, key, certificates and the uninstall rules) is the same for both.
; BINDIR holds SvcKelvoraSiTef.exe, kelvora-token.exe, ca-bundle.crt and dll/CliSiTef32I.dll (the
; simulator);
; with -DRUNTIME_DLLS, also the runtime DLLs beside the executables.

!ifdef X64
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef BINDIR
  !error "BINDIR is not set"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not set"
!endif
!ifndef VERSION
  !define VERSION "1.0.0.4"
!endif

!define PRODUCT "Kelvora TEF Server"
!define SERVICE "KelvoraSiTefService"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoraTefServer"
; The service's source in the Application event log (not redirected for 32-bit programs).
!define EVENTLOG_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${PRODUCT}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "WinVer.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef SIGN
  ; Signed by scripts/sign-windows.sh (unsigned, and said so, without a certificate).
  !finalize '"${SIGN}" "%1"'
  !uninstfinalize '"${SIGN}" "%1"'
!endif
!ifdef X64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES32\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1046 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1046 "FileDescription" "Instalador do ${PRODUCT}"
VIAddVersionKey /LANG=1046 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1046 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1046 "CompanyName" "Kelvora"
VIAddVersionKey /LANG=1046 "LegalCopyright" "Kelvora"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

!include "ServiceControl.nsh"

; The service with its tool, configuration, certificates and token key. The folder is closed to
; everyone but SYSTEM and Administrators before anything is written to it, so the server's private
; key, the token key, the backups of pending payments and the logs are never readable by the
; store's other users.
Section "Kelvora TEF Server" SecServer
  SectionIn RO
  Call RefuseForeignFolder
  Call StopServiceIfPresent

  CreateDirectory "$INSTDIR"
  nsExec::ExecToLog 'icacls "$INSTDIR" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:RX'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Aviso: não foi possível restringir as permissões de $INSTDIR (icacls: $0)."
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${BINDIR}/SvcKelvoraSiTef.exe"
  File "${BINDIR}/kelvora-token.exe"
  ; The certificate authorities the sales-API reports trust besides Windows' own store.
  File "${BINDIR}/ca-bundle.crt"
  !ifdef RUNTIME_DLLS
    File "${BINDIR}/*.dll"
  !endif
  ; An existing configuration is the store's own: it keeps its settings and its token key.
  SetOverwrite off
  File "SvcKelvoraSiTef.ini"
  SetOverwrite on
  CreateDirectory "$INSTDIR\dll"
  CreateDirectory "$INSTDIR\TEF"
  CreateDirectory "$INSTDIR\Log"

  nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" generate-secret "$INSTDIR\SvcKelvoraSiTef.ini"'
  Pop $0
  ${If} $0 != 0
    Call ReportFailure
    DetailPrint "Aviso: a chave jwt_secret de SvcKelvoraSiTef.ini não foi gravada; corrija-a à mão."
  ${EndIf}

  ; Certificates already there (made by an earlier installation, or the store's own) are kept.
  ; An incomplete set is never completed or replaced, since its files may be the store's own, but
  ; the service cannot serve with it: the run reports it instead of ending as a success.
  ${If} ${FileExists} "$INSTDIR\Certificado\server_cert.pem"
  ${AndIf} ${FileExists} "$INSTDIR\Certificado\server_key.pem"
  ${AndIf} ${FileExists} "$INSTDIR\Certificado\ca_cert.pem"
    DetailPrint "Mantidos os certificados de $INSTDIR\Certificado."
  ${ElseIfNot} ${FileExists} "$INSTDIR\Certificado\server_cert.pem"
  ${AndIfNot} ${FileExists} "$INSTDIR\Certificado\server_key.pem"
  ${AndIfNot} ${FileExists} "$INSTDIR\Certificado\ca_cert.pem"
    nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" generate-certificates "$INSTDIR\Certificado"'
    Pop $0
    ${If} $0 != 0
      Call ReportFailure
      DetailPrint "Aviso: os certificados não foram criados em $INSTDIR\Certificado."
    ${EndIf}
  ${Else}
    Call ReportFailure
    DetailPrint "Aviso: falta um dos arquivos server_cert.pem, server_key.pem e ca_cert.pem em $INSTDIR\Certificado; nenhum foi substituído. Complete-os ou apague os três e reinstale."
  ${EndIf}

  ; The browsers trust the service's certificate through the local CA, which goes into the
  ; machine's trusted roots (an earlier one, from before a renewal, comes out): Chrome, Edge and
  ; Firefox then connect without a manual step. A store's own CA is left as the store set it.
  ${If} ${FileExists} "$INSTDIR\Certificado\ca_cert.pem"
    nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" trust-certificate "$INSTDIR\Certificado"'
    Pop $0
    ${If} $0 != 0
      Call ReportFailure
      DetailPrint "Aviso: a CA local não foi adicionada às autoridades raiz confiáveis desta máquina; o navegador não confiará no serviço até que ca_cert.pem seja importado."
    ${EndIf}
  ${EndIf}

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ; Run in place (_?=, which must come last), the uninstaller returns only when it is done: the
  ; deployment tools that run this command wait for its process, and would otherwise start the next
  ; installation while the copy NSIS starts from the temporary folder is still removing files. It
  ; then cannot delete itself: Uninstall.exe stays in the folder, which the next installation
  ; takes as an earlier one's.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The event viewer reads the texts of the service's event ids from the message table in the
  ; executable; the service reports errors, warnings and information (7).
  WriteRegExpandStr HKLM "${EVENTLOG_KEY}" "EventMessageFile" "$INSTDIR\SvcKelvoraSiTef.exe"
  WriteRegDWORD HKLM "${EVENTLOG_KEY}" "TypesSupported" 7
SectionEnd

; The SiTef library simulator, for trials without a pin-pad. It lives in simulador\ and is copied
; to dll\ only when no library is there, or when the one there is the copy an earlier installation
; made (recorded in the configuration, and still the simulator's size), so it never takes the
; place of the vendor's library.
Section /o "Simulador (somente testes)" SecSimulator
  StrCpy $3 0
  ${If} ${FileExists} "$INSTDIR\dll\CliSiTef32I.dll"
    ReadINIStr $1 "$INSTDIR\SvcKelvoraSiTef.ini" "installer" "simulator_in_dll"
    Push "$INSTDIR\simulador\CliSiTef32I.dll"
    Call FileSize
    Pop $4
    Push "$INSTDIR\dll\CliSiTef32I.dll"
    Call FileSize
    Pop $5
    ${If} $1 != "1"
    ${OrIf} $4 != $5
      StrCpy $3 1
    ${EndIf}
  ${EndIf}
  SetOutPath "$INSTDIR\simulador"
  File "/oname=CliSiTef32I.dll" "${BINDIR}/dll/CliSiTef32I.dll"
  ${If} $3 == 1
    DetailPrint "Aviso: $INSTDIR\dll\CliSiTef32I.dll já existe e foi mantido; o simulador ficou só em $INSTDIR\simulador."
  ${Else}
    CopyFiles /SILENT "$INSTDIR\simulador\CliSiTef32I.dll" "$INSTDIR\dll\CliSiTef32I.dll"
    WriteINIStr "$INSTDIR\SvcKelvoraSiTef.ini" "installer" "simulator_in_dll" "1"
    DetailPrint "ATENÇÃO: dll\CliSiTef32I.dll é o simulador (somente testes), não a biblioteca SiTef."
  ${EndIf}
SectionEnd

; Runs last, once the library chosen above is in place.
Section "-Registrar e iniciar o serviço"
  nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" install silent'
  Pop $0
  ${If} $0 != 0
    Call ServiceExists
    Pop $1
    ${If} $1 != 1
      Call ReportFailure
      DetailPrint "Erro: o serviço ${SERVICE} não foi registrado."
      Return
    ${EndIf}
  ${EndIf}
  nsExec::ExecToLog 'sc start ${SERVICE}'
  Pop $0
  ${If} $0 != 0
    Call ReportFailure
    DetailPrint "Aviso: o serviço ${SERVICE} não foi iniciado (sc start: $0)."
  ${EndIf}
SectionEnd

; "/SIMULADOR" on the command line selects the simulator, so that a silent installation for tests
; can have it; without it a silent installation never does.
; The folder's access list is about to be closed to everyone but SYSTEM and Administrators: a
; drive's root, or a folder that holds other files and no earlier installation (a mistyped /D=),
; is refused before anything changes, rather than taken from the people and programs using it.
Function RefuseForeignFolder
  StrLen $0 "$INSTDIR"
  ${If} $0 <= 3
    StrCpy $1 "a raiz de um disco"
  ${ElseIf} ${FileExists} "$INSTDIR\SvcKelvoraSiTef.exe"
  ${OrIf} ${FileExists} "$INSTDIR\SvcKelvoraSiTef.ini"
  ${OrIf} ${FileExists} "$INSTDIR\Uninstall.exe"
    ; An installation, or what an uninstallation keeps (the configuration with its key, the
    ; vendor library, pending payments, the uninstaller that ran in place) for the next one.
    Return
  ${Else}
    StrCpy $1 ""
    FindFirst $2 $3 "$INSTDIR\*.*"
    ${DoWhile} $3 != ""
      ${If} $3 != "."
      ${AndIf} $3 != ".."
        StrCpy $1 "uma pasta que já contém outros arquivos"
        ${Break}
      ${EndIf}
      FindNext $2 $3
    ${Loop}
    FindClose $2
    ${If} $1 == ""
      Return
    ${EndIf}
  ${EndIf}
  MessageBox MB_ICONSTOP "$INSTDIR é $1: escolha uma pasta vazia ou nova para o Kelvora TEF Server." /SD IDOK
  SetErrorLevel 2
  Abort
FunctionEnd

Function .onInit
  ; Windows 7 with its first service pack is the oldest the service runs on (its TLS, sockets and
  ; library search need that pack's updates); older systems are refused before anything changes.
  StrCpy $0 0
  ${If} ${AtLeastWin8}
    StrCpy $0 1
  ${ElseIf} ${IsWin7}
  ${AndIf} ${AtLeastServicePack} 1
    StrCpy $0 1
  ${EndIf}
  ${If} $0 == 0
    MessageBox MB_ICONSTOP "O Kelvora TEF Server exige o Windows 7 com o Service Pack 1 ou mais recente." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  !ifdef X64
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP "Este instalador é de 64 bits; este Windows é de 32 bits. Use o instalador de 32 bits." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  !endif
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SIMULADOR" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecSimulator}
  ${EndIf}
FunctionEnd

; Marks the run as failed: a silent installation ends with exit code 2 instead of 0.
Function ReportFailure
  SetErrorLevel 2
FunctionEnd

Section "Uninstall"
  Call un.StopServiceIfPresent
  nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" uninstall silent'
  Pop $0
  ; Its key is gone, so the local CA vouches for nothing more; it leaves the trusted roots with the
  ; service's certificate.
  nsExec::ExecToLog '"$INSTDIR\SvcKelvoraSiTef.exe" untrust-certificate'
  Pop $0
  ; The events already in the log keep their data; without the source the viewer shows them
  ; without the message table's texts.
  DeleteRegKey HKLM "${EVENTLOG_KEY}"

  ; The simulator's copy in dll\ goes only when the configuration records it and it is still the
  ; simulator's size: a vendor's library put there since is the store's and stays, and the record
  ; goes either way.
  ReadINIStr $1 "$INSTDIR\SvcKelvoraSiTef.ini" "installer" "simulator_in_dll"
  ${If} $1 == "1"
    Push "$INSTDIR\simulador\CliSiTef32I.dll"
    Call un.FileSize
    Pop $2
    Push "$INSTDIR\dll\CliSiTef32I.dll"
    Call un.FileSize
    Pop $3
    ${If} $2 == $3
      Delete "$INSTDIR\dll\CliSiTef32I.dll"
    ${EndIf}
    DeleteINIStr "$INSTDIR\SvcKelvoraSiTef.ini" "installer" "simulator_in_dll"
  ${EndIf}
  RMDir /r "$INSTDIR\simulador"
  RMDir "$INSTDIR\dll"

  Delete "$INSTDIR\SvcKelvoraSiTef.exe"
  Delete "$INSTDIR\kelvora-token.exe"
  Delete "$INSTDIR\ca-bundle.crt"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\Certificado\server_cert.pem"
  Delete "$INSTDIR\Certificado\server_key.pem"
  Delete "$INSTDIR\Certificado\ca_cert.pem"
  RMDir "$INSTDIR\Certificado"

  ; A backup holds an approved payment not yet confirmed, and a kept sales-API report may be the
  ; only record of a payment the sales system has not heard of: TEF\ goes only when empty. While
  ; it stays, so do the configuration, whose token key the sales system signs with (a reinstall
  ; that finishes those payments then needs no new key), and the logs that trace them.
  ;
  ; The configuration stays in any case unless the removal is asked to be complete (/PURGE): it
  ; holds the token key the sales system signs with, so an uninstallation and reinstallation (a
  ; repair, a move to the other architecture's build) must not cut the till off from its sales
  ; system.
  RMDir "$INSTDIR\TEF\RegistrosAPI"
  RMDir "$INSTDIR\TEF"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  ${If} ${Errors}
    StrCpy $R2 0
  ${Else}
    StrCpy $R2 1
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\TEF\*.*"
    DetailPrint "Mantido: $INSTDIR\TEF guarda pagamentos ou registros ainda pendentes; SvcKelvoraSiTef.ini e Log\ também foram mantidos."
    MessageBox MB_OK|MB_ICONEXCLAMATION "A pasta $INSTDIR\TEF guarda pagamentos aprovados ainda não confirmados ou registros não enviados ao sistema de vendas e foi mantida, com a configuração e os logs. Reinstale o serviço para concluí-los." /SD IDOK
  ${Else}
    RMDir /r "$INSTDIR\Log"
    ${If} $R2 == 1
      Delete "$INSTDIR\SvcKelvoraSiTef.ini"
    ${Else}
      DetailPrint "Mantido: $INSTDIR\SvcKelvoraSiTef.ini, com a chave do sistema de vendas (remova com /PURGE)."
    ${EndIf}
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Last, so that its disappearance tells a silent caller that the uninstallation is over. Run in
  ; place (the quiet uninstall command) it is in use and stays; its caller waited for the end.
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

; The size in bytes of the file on the stack, or -1 when it cannot be opened.
!macro FILE_SIZE_FUNCTION prefix
Function ${prefix}FileSize
  Exch $0
  Push $1
  ClearErrors
  FileOpen $1 $0 r
  ${If} ${Errors}
    StrCpy $0 -1
  ${Else}
    FileSeek $1 0 END $0
    FileClose $1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro FILE_SIZE_FUNCTION ""
!insertmacro FILE_SIZE_FUNCTION "un."
