; The Windows installer of zelupdate, built with makensis from the staged files:
;   makensis -DVERSION=0.2.0 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> zelupdate.nsi
; It installs into Program Files, adds Start menu entries and an uninstaller, and on request
; puts the program's folder on the system PATH. The Start menu's "zelupdate" opens the window
; (zelupdatew.exe, without a console window); zelupdate.exe is the console program.
; "/S" installs silently; "/PATH=yes" together with "/S" selects the PATH entry.
Unicode true
; A 64-bit installer for a 64-bit program (it also runs where only 64-bit programs do).
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "StrFunc.nsh"
!include "WinMessages.nsh"
${StrStr}
${UnStrRep}

!define PRODUCT "zelupdate"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zelupdate"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ABORTWARNING
!define MUI_ICON "${STAGE}\zelupdate.ico"
!define MUI_UNICON "${STAGE}\zelupdate.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "zelupdate (required)" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\zelupdate.exe"
  File "${STAGE}\zelupdatew.exe"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\CHANGELOG.md"
  File "${STAGE}\manual.txt"
  File "${STAGE}\manual.html"
  File "${STAGE}\zelupdate.ico"
  File "${STAGE}\window-run-win32.png"
  File "${STAGE}\config-win32.png"
  File "${STAGE}\window-menu-win32.png"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The window program opens the window, with no console window beside it; the console
  ; program opens in a command window in the user's folder, with its own folder found first.
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\zelupdate.lnk" "$INSTDIR\zelupdatew.exe" "" \
    "$INSTDIR\zelupdatew.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\zelupdate (command prompt).lnk" "$SYSDIR\cmd.exe" \
    '/k "set "PATH=$INSTDIR;%PATH%" && cd /d %USERPROFILE% && zelupdate --help"' "$INSTDIR\zelupdate.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\User's manual.lnk" "$INSTDIR\manual.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall zelupdate.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the zelupdate authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zelupdate.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Add the program's folder to PATH" SecPath
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 == ""
    ${If} $0 == ""
      StrCpy $0 "$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
SectionEnd

LangString DESC_Program ${LANG_ENGLISH} "The program, its manual and its licence."
LangString DESC_Path ${LANG_ENGLISH} "Lets a command window start zelupdate from any folder."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_Program)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_Path)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  ; A silent installation selects the PATH entry with /PATH=yes.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "yes"
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $2 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $2 == 1
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${UnStrRep} $0 $0 ";$INSTDIR" ""
    ${UnStrRep} $0 $0 "$INSTDIR;" ""
    ${UnStrRep} $0 $0 "$INSTDIR" ""
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}\zelupdate.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\zelupdate (command prompt).lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\User's manual.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall zelupdate.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  ; What the installer put there, file by file (an earlier version's manual.md too); never a
  ; file the program or the user wrote.
  Delete "$INSTDIR\zelupdate.exe"
  Delete "$INSTDIR\zelupdatew.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\CHANGELOG.md"
  Delete "$INSTDIR\manual.txt"
  Delete "$INSTDIR\manual.md"
  Delete "$INSTDIR\manual.html"
  Delete "$INSTDIR\window-run.png"
  Delete "$INSTDIR\config.png"
  Delete "$INSTDIR\zelupdate.ico"
  Delete "$INSTDIR\window-run-win32.png"
  Delete "$INSTDIR\config-win32.png"
  Delete "$INSTDIR\window-menu.png"
  Delete "$INSTDIR\window-menu-win32.png"
  Delete "$INSTDIR\uninstall.exe"
  ; The settings file beside the program belongs to the user: it stays, and so does its folder;
  ; an empty folder goes.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
