; The Windows installer: Quillet, its data service and the demo research database, for the
; current user, without administrator rights. Built by scripts/package:
;   makensis -DVERSION=1.2.3 -DSTAGE=<folder of the release files> -DICON=<.ico> -DOUTFILE=<setup.exe>
;            [-DSIGN=<command that signs the file named last in place>] quillet.nsi
; The uninstaller removes the files named in ReleaseFiles and nothing else, so whatever the
; user saved into the program folder (idea lists: it is the file dialog's first folder) stays.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh
!include WordFunc.nsh

!define PRODUCT "Quillet"
!define PUBLISHER "Orvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Quillet data service"
!define DATA "$LOCALAPPDATA\Quillet"
!define DATABASE "${DATA}\research.db"
!define SERVICE "quillet-services.exe"
!define SERVICE_START "quillet-services-start.exe"
!define DATA_WINDOW "quillet-data.exe"
!define MENU "$SMPROGRAMS\Quillet"
; The settings Quillet keeps for the user.
!define SETTINGS_KEY "Software\Orvane\Quillet1"
!define MAKER_KEY "Software\Orvane"

!ifdef SIGN
  ; The uninstaller is written by the installer: it is signed while the installer is built.
  !uninstfinalize '${SIGN} "%1"' = 0
!endif

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quillet"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright Orvane"

; What the Finish page says: set by the section, since a failed demo build must be said there.
Var FinishTitle
Var FinishText

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; The details, with each step of the demo build, stay in view until the user goes on.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_TITLE "$FinishTitle"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillet.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Quillet"
; The research database holds made-up demo data until real data is got.
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\${DATA_WINDOW}"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open Quillet Data to get real data"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "Your research database (the demo data and whatever you imported, and the database kept from before the demo data, if any) and your settings are kept unless you tick below: then they are removed."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Every file the installer puts into the program folder, for installing and removing alike.
!macro ReleaseFiles DO
  !insertmacro ${DO} "quillet.exe"
  !insertmacro ${DO} "quillet-research.exe"
  !insertmacro ${DO} "${SERVICE}"
  !insertmacro ${DO} "${SERVICE_START}"
  !insertmacro ${DO} "${DATA_WINDOW}"
  !insertmacro ${DO} "README.txt"
  !insertmacro ${DO} "help.chm"
  !insertmacro ${DO} "licenses\boost.txt"
  !insertmacro ${DO} "licenses\gcc-runtime.txt"
  !insertmacro ${DO} "licenses\libjpeg-turbo.txt"
  !insertmacro ${DO} "licenses\mingw-w64.txt"
  !insertmacro ${DO} "licenses\sqlite.txt"
  !insertmacro ${DO} "licenses\zlib.txt"
!macroend
!macro PutFile NAME
  File "/oname=${NAME}" "${STAGE}\${NAME}"
!macroend
!macro RemoveFile NAME
  Delete "$INSTDIR\${NAME}"
!macroend

; A running Quillet holds quillet.exe: it is asked to close (the user is asked first, so that
; an unsaved Idea Catcher can be saved). Quillet Data holds quillet-data.exe: it is closed
; (a job under way is cancelled, keeping what it stored). A running data service is stopped by
; its own program.
!macro CloseRunning UN
Function ${UN}CloseRunning
  StrCpy $1 0
  ${Do}
    FindWindow $0 "QuilletForm" "Quillet Data"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} $1 = 20
      MessageBox MB_OK|MB_ICONSTOP "Quillet Data did not close. Close it, then start again." /SD IDOK
      Abort
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 500
    IntOp $1 $1 + 1
  ${Loop}
  StrCpy $1 0
  ${Do}
    FindWindow $0 "QuilletForm" "Quillet"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} $1 = 0
    ${AndIfNot} ${Silent}
      ${If} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONINFORMATION "Quillet is running and will be closed.$\r$\n$\r$\nSave your Idea Catcher first if you want to keep it, then press OK." IDCANCEL`
        Abort
      ${EndIf}
    ${EndIf}
    ${If} $1 = 20
      MessageBox MB_OK|MB_ICONSTOP "Quillet did not close. Close it, then start again." /SD IDOK
      Abort
    ${EndIf}
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 500
    IntOp $1 $1 + 1
  ${Loop}
  ${If} ${FileExists} "$INSTDIR\${SERVICE}"
    DetailPrint "Stopping the data service"
    nsExec::Exec '"$INSTDIR\${SERVICE}" stop'
    Pop $0
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CloseRunning ""
!insertmacro CloseRunning "un."

; Runs a command line without a window and waits for its end, showing each line of its output
; in the details as it arrives (UTF-8). A line "pages N of M" moves the progress bar over what
; is left of it. Push the command line; pops the exit code (-1: it could not be run).
Function RunShowingProgress
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  Push $R0
  Push $R1
  Push $R2
  ; A pipe for the child's standard output and error; only its write end is inherited.
  System::Call '*(i 12, p 0, i 1) p .r3'
  System::Call 'kernel32::CreatePipe(*p .r1, *p .r2, p r3, i 0) i .r7'
  System::Free $3
  ${If} $7 = 0
    StrCpy $0 -1
    Goto done
  ${EndIf}
  System::Call 'kernel32::SetHandleInformation(p r1, i 1, i 0)'
  ; STARTUPINFOW with STARTF_USESTDHANDLES; PROCESS_INFORMATION.
  System::Call '*(i 68, p 0, p 0, p 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0x100, &i2 0, &i2 0, p 0, p 0, p r2, p r2) p .r3'
  System::Call '*(p 0, p 0, i 0, i 0) p .r7'
  System::Call 'kernel32::CreateProcessW(p 0, w r0, p 0, p 0, i 1, i 0x08000000, p 0, p 0, p r3, p r7) i .R0'
  System::Free $3
  ; The child holds the write end now: the pipe ends when the child does.
  System::Call 'kernel32::CloseHandle(p r2)'
  System::Call '*$7(p .r4, p .r2)'
  System::Free $7
  ${If} $R0 = 0
    System::Call 'kernel32::CloseHandle(p r1)'
    StrCpy $0 -1
    Goto done
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r2)'

  ; The bar of the install page (none when silent): from where it stands to 90% with the
  ; pages, the rest once the command has ended.
  FindWindow $8 "#32770" "" $HWNDPARENT
  GetDlgItem $8 $8 1004
  SendMessage $8 ${PBM_GETPOS} 0 0 $9
  System::Alloc 1024
  Pop $5
  StrCpy $6 0
  ${Do}
    IntOp $7 $5 + $6
    System::Call 'kernel32::ReadFile(p r1, p r7, i 1, *i .R1, p 0) i .R0'
    ${If} $R0 = 0
    ${OrIf} $R1 = 0
      ${Break}
    ${EndIf}
    System::Call '*$7(&i1 .R1)'
    ${If} $R1 = 10
      System::Call '*$7(&i1 0)'
      Call ShowOutputLine
      StrCpy $6 0
    ${ElseIf} $R1 <> 13
    ${AndIf} $6 < 1023
      IntOp $6 $6 + 1
    ${EndIf}
  ${Loop}
  ${If} $6 > 0
    IntOp $7 $5 + $6
    System::Call '*$7(&i1 0)'
    Call ShowOutputLine
  ${EndIf}
  System::Free $5
  System::Call 'kernel32::CloseHandle(p r1)'
  System::Call 'kernel32::WaitForSingleObject(p r4, i -1)'
  System::Call 'kernel32::GetExitCodeProcess(p r4, *i .r0)'
  System::Call 'kernel32::CloseHandle(p r4)'
  SendMessage $8 ${PBM_SETPOS} 30000 0
done:
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Of RunShowingProgress: shows the line in the buffer $5 and moves the bar $8 (from $9).
Function ShowOutputLine
  System::Call 'kernel32::MultiByteToWideChar(i 65001, i 0, p r5, i -1, w .R0, i ${NSIS_MAX_STRLEN})'
  DetailPrint $R0
  StrCpy $R1 $R0 6
  ${If} $R1 == "pages "
    StrCpy $R0 $R0 "" 6
    ${WordFind} $R0 " of " "+2" $R1
    IntOp $R0 $R0 + 0
    IntOp $R1 $R1 + 0
    ${If} $R1 > 0
      IntOp $R0 $R0 * 90
      IntOp $R0 $R0 / $R1
      IntOp $R1 30000 - $9
      IntOp $R1 $R1 * $R0
      IntOp $R1 $R1 / 100
      IntOp $R1 $R1 + $9
      SendMessage $8 ${PBM_SETPOS} $R1 0
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Quillet"
  SetShellVarContext current
  ; The demo database, built into the data folder.
  AddSize 180000
  Call CloseRunning
  SetOutPath "$INSTDIR"
  CreateDirectory "$INSTDIR\licenses"
  !insertmacro ReleaseFiles PutFile
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU}"
  ; A shortcut starts its program in $OUTDIR: Quillet's own folder, where Help > Contents
  ; finds help.chm by its bare name.
  SetOutPath "$INSTDIR"
  CreateShortcut "${MENU}\Quillet.lnk" "$INSTDIR\quillet.exe"
  CreateShortcut "${MENU}\Quillet Data.lnk" "$INSTDIR\${DATA_WINDOW}"
  CreateDirectory "${DATA}"
  CreateShortcut "${MENU}\Quillet data folder.lnk" "${DATA}"

  StrCpy $FinishTitle "Quillet ${VERSION} is installed"
  StrCpy $FinishText "The Quillet data service is running, and starts by itself whenever you log on.$\r$\n$\r$\nHelp > Contents in Quillet tells how to research, and how to load your own data.$\r$\n$\r$\nClick Finish to close Setup."
  StrCpy $1 0
  ${IfNot} ${FileExists} "${DATABASE}"
    DetailPrint "Building the demo research database in ${DATA} (a minute or two)..."
    Push '"$INSTDIR\${SERVICE}" demo --db "${DATABASE}"'
    Call RunShowingProgress
    Pop $1
    ${If} $1 <> 0
      DetailPrint "The demo research database could not be built (exit code $1): see the lines above."
      StrCpy $FinishTitle "The demo research database could not be built"
      StrCpy $FinishText "Quillet is installed, but its demo research database could not be built (exit code $1). The details of the previous page say why; most often the disk is full. Until there is a research database, every research shows no rows.$\r$\n$\r$\nMake room on the disk, then start quillet-services-start.exe in the program folder: it builds the demo database and starts the data service. It writes to %LOCALAPPDATA%\Quillet\quillet-services.log."
      ; An unattended install says so by its exit code.
      SetErrorLevel 3
    ${EndIf}
  ${EndIf}

  ; /logon: a database kept aside by "Restore demo data" goes at the next log-on.
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${SERVICE_START}" /logon'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillet.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Without a database the starter would only try the build again: the next log-on does.
  ${If} $1 = 0
    DetailPrint "Starting the data service"
    Exec '"$INSTDIR\${SERVICE_START}"'
  ${EndIf}
SectionEnd

Section "un.Quillet"
  SectionIn RO
  SetShellVarContext current
  Call un.CloseRunning
  !insertmacro ReleaseFiles RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\licenses"
  ; Only when empty: files the user saved there stay, and the folder with them.
  RMDir "$INSTDIR"
  Delete "${MENU}\Quillet.lnk"
  Delete "${MENU}\Quillet Data.lnk"
  Delete "${MENU}\Quillet data folder.lnk"
  RMDir "${MENU}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless ticked, and so never done by a silent uninstall.
Section /o "un.Remove the research database"
  SetShellVarContext current
  Delete "${DATABASE}"
  Delete "${DATABASE}-wal"
  Delete "${DATABASE}-shm"
  Delete "${DATABASE}.before-demo"
  Delete "${DATABASE}.before-demo-wal"
  Delete "${DATABASE}.before-demo-shm"
  Delete "${DATA}\quillet-services.log"
  RMDir "${DATA}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${MAKER_KEY}"
SectionEnd
