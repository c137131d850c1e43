; The Windows installer: makensis -DVERSION=x.y.z -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe>
; Installs both programs into Program Files\Sorvel, adds that folder to the user's PATH, registers
; an uninstaller in Add/Remove Programs and the .sva file type with the Explorer verbs "Extract
; here" and "List contents". /S installs silently. The uninstaller takes away the programs, the
; verbs and the PATH entry that the installer added, nothing else.
Unicode true
Target amd64-unicode
!include LogicLib.nsh
!include WinMessages.nsh
!include StrFunc.nsh
${StrStr}
${UnStrStr}
${UnStrRep}

!define PRODUCT "Sorvel"
!define PROGID "Sorvel.Archive"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sorvel"
!define ENVIRONMENT_KEY "Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Sorvel"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sorvel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The file type and its verbs, each running the programs in a console window of its own.
  WriteRegStr HKLM "Software\Classes\.sva" "" "${PROGID}"
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Sorvel archive"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\extract" "" "Extract here"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\extract\command" "" \
    '"$SYSDIR\cmd.exe" /c ""$INSTDIR\sorvel-extract-here.cmd" "%1""'
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\list" "" "List contents"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\list\command" "" \
    '"$SYSDIR\cmd.exe" /c ""$INSTDIR\sorvel.exe" list "%1" & pause"'

  ; The folder on the user's PATH, unless it is there already; noted, so that the uninstaller
  ; takes away only an entry it finds the installer made.
  ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 == ""
    ${If} $0 == ""
      WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$INSTDIR"
    ${Else}
      WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$0;$INSTDIR"
    ${EndIf}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "AddedToPath" "$INSTDIR"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetRegView 64
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $2 != ""
    ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
    ; The entry taken out wherever it stands: ";PATH;" made of the value, the entry replaced by
    ; one separator, then the separators added at the ends dropped.
    ${UnStrRep} $1 ";$0;" ";$2;" ";"
    StrCpy $1 $1 "" 1
    StrCpy $1 $1 -1
    ${If} $1 != $0
      ${If} $1 == ""
        DeleteRegValue HKCU "${ENVIRONMENT_KEY}" "Path"
      ${Else}
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$1"
      ${EndIf}
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
    ${EndIf}
  ${EndIf}

  ; The file type, unless another program has taken it over since.
  ReadRegStr $0 HKLM "Software\Classes\.sva" ""
  ${If} $0 == "${PROGID}"
    DeleteRegKey HKLM "Software\Classes\.sva"
  ${EndIf}
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\uninstall.exe"
  !include "${STAGE_LIST}"
  RMDir "$INSTDIR"
SectionEnd
