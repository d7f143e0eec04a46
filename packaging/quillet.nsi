; The Windows installer: Quillet, its data service and the demo research database, for the
; current user, without administrator rights. Built by scripts/package:
;   makensis -DVERSION=1.2.3 -DSTAGE=<folder of the release files> -DICON=<.ico> -DOUTFILE=<setup.exe> quillet.nsi
; The uninstaller removes the files named in ReleaseFiles and nothing else, so whatever the
; user saved into the program folder (idea lists: it is the file dialog's first folder) stays.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh

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

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
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
!define MUI_COMPONENTSPAGE_TEXT_TOP "Your research database (the demo data and whatever you imported) is kept unless you tick it below."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Every file the installer puts into the program folder, for installing and removing alike.
!macro ReleaseFiles DO
  !insertmacro ${DO} "quillet.exe"
  !insertmacro ${DO} "${SERVICE}"
  !insertmacro ${DO} "${SERVICE_START}"
  !insertmacro ${DO} "${DATA_WINDOW}"
  !insertmacro ${DO} "README.txt"
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
; an unsaved Idea Catcher can be saved). A running data service is stopped by its own program.
!macro CloseRunning UN
Function ${UN}CloseRunning
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
  CreateShortcut "${MENU}\Quillet.lnk" "$INSTDIR\quillet.exe"
  CreateShortcut "${MENU}\Quillet Data.lnk" "$INSTDIR\${DATA_WINDOW}"
  CreateDirectory "${DATA}"
  CreateShortcut "${MENU}\Quillet data folder.lnk" "${DATA}"

  ${IfNot} ${FileExists} "${DATABASE}"
    DetailPrint "Building the demo research database in ${DATA} (a minute or two)..."
    nsExec::ExecToLog '"$INSTDIR\${SERVICE}" demo --db "${DATABASE}"'
    Pop $0
    ${If} $0 != 0
      DetailPrint "The demo database could not be built (exit code $0): see the lines above."
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

  DetailPrint "Starting the data service"
  Exec '"$INSTDIR\${SERVICE_START}"'
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
SectionEnd
