; The Windows installer of Phonoskew, made by scripts/windows-installer.sh
; with NSIS (makensis) from the zip's folder:
;   makensis -DVERSION=0.2.0 -DSTAGE=folder -DOUTFILE=setup.exe windows-installer.nsi
; It installs the programs and texts of the zip into Program Files, for the
; user (%LOCALAPPDATA%\Programs\Phonoskew) or for all users
; (C:\Program Files\Phonoskew): asked on its first page, or /CurrentUser or
; /AllUsers on the command line (/S installs silently, for all users where
; it may). It adds that folder to the PATH (the user's or the machine's),
; makes a Start-menu entry that opens a Command Prompt in the working folder
; Documents\Phonoskew, which gets the example sets, and writes an
; uninstaller that takes all of it away again: the programs, the PATH entry,
; the Start-menu entry, and of the working folder the files it put there
; (the recordings and outputs of a user stay, and the folder with them).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define NAME "Phonoskew"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Phonoskew"
!define SETTINGS_KEY "Software\Phonoskew"
!define USER_ENVIRONMENT "Environment"
!define MACHINE_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${NAME} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${NAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallFolder"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${SETTINGS_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallFolder"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include StrFunc.nsh
!include WinMessages.nsh
${Using:StrFunc} StrStr
${Using:StrFunc} UnStrRep

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var WorkFolder

Function .onInit
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

; ---- PATH ---------------------------------------------------------------------

; The PATH of the install mode in $0 (empty when there is none).
!macro ReadPath
    ${If} $MultiUser.InstallMode == AllUsers
        ReadRegStr $0 HKLM "${MACHINE_ENVIRONMENT}" "Path"
    ${Else}
        ReadRegStr $0 HKCU "${USER_ENVIRONMENT}" "Path"
    ${EndIf}
!macroend

!macro WritePath
    ${If} $MultiUser.InstallMode == AllUsers
        WriteRegExpandStr HKLM "${MACHINE_ENVIRONMENT}" "Path" $0
    ${ElseIf} $0 == ""
        DeleteRegValue HKCU "${USER_ENVIRONMENT}" "Path"
    ${Else}
        WriteRegExpandStr HKCU "${USER_ENVIRONMENT}" "Path" $0
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; Adds $INSTDIR at the end of the PATH, once. A PATH as long as NSIS's
; strings may have been cut short when read: it is left alone, and the
; Start-menu entry still finds the programs.
Function AddToPath
    !insertmacro ReadPath
    StrLen $1 "$0;$INSTDIR"
    ${If} $1 >= ${NSIS_MAX_STRLEN}
        DetailPrint "The PATH is too long to change here: add $INSTDIR to it by hand."
        Return
    ${EndIf}
    ${StrStr} $1 ";$0;" ";$INSTDIR;"
    ${If} $1 != ""
        Return
    ${EndIf}
    ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
    ${Else}
        StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    !insertmacro WritePath
FunctionEnd

Function un.RemoveFromPath
    !insertmacro ReadPath
    StrLen $1 $0
    ${If} $1 >= ${NSIS_MAX_STRLEN}
        Return
    ${EndIf}
    ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
    StrCpy $0 $0 "" 1
    StrCpy $0 $0 -1
    !insertmacro WritePath
FunctionEnd

; ---- Installing ---------------------------------------------------------------

Section "Phonoskew"
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The working folder, in the installing user's Documents: the example
    ; sets, and the four default files ready.
    SetShellVarContext current
    StrCpy $WorkFolder "$DOCUMENTS\${NAME}"
    SetOutPath "$WorkFolder\examples"
    File /r "${STAGE}\examples\*.*"
    SetOutPath "$WorkFolder"
    File "${STAGE}\examples\coefficients\FO.dat" "${STAGE}\examples\coefficients\SO.dat"
    File "${STAGE}\examples\coefficients\FOP.dat" "${STAGE}\examples\coefficients\SOP.dat"
    ${If} $MultiUser.InstallMode == AllUsers
        SetShellVarContext all
    ${EndIf}

    ; A Command Prompt in the working folder, the programs first on its PATH.
    CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$SYSDIR\cmd.exe" \
        '/k "set "PATH=$INSTDIR;%PATH%" & title ${NAME} & echo ${NAME} ${VERSION}: phonoskew RECORDING.wav, or phonoskew --help"' \
        "$INSTDIR\phonoskew.exe" 0 SW_SHOWNORMAL "" "${NAME}: a Command Prompt in $WorkFolder"

    Call AddToPath

    ${If} $MultiUser.InstallMode == AllUsers
        WriteRegStr HKLM "${SETTINGS_KEY}" "InstallFolder" "$INSTDIR"
        WriteRegStr HKLM "${SETTINGS_KEY}" "WorkFolder" "$WorkFolder"
        WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME} ${VERSION}"
        WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
        WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /AllUsers'
        WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /AllUsers /S'
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    ${Else}
        WriteRegStr HKCU "${SETTINGS_KEY}" "InstallFolder" "$INSTDIR"
        WriteRegStr HKCU "${SETTINGS_KEY}" "WorkFolder" "$WorkFolder"
        WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME} ${VERSION}"
        WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
        WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /CurrentUser'
        WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /CurrentUser /S'
        WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    ${EndIf}
SectionEnd

; ---- Uninstalling -------------------------------------------------------------

Section "Uninstall"
    ${If} $MultiUser.InstallMode == AllUsers
        ReadRegStr $WorkFolder HKLM "${SETTINGS_KEY}" "WorkFolder"
    ${Else}
        ReadRegStr $WorkFolder HKCU "${SETTINGS_KEY}" "WorkFolder"
    ${EndIf}
    Call un.RemoveFromPath
    Delete "$SMPROGRAMS\${NAME}.lnk"
    ; Of the working folder, only what the installer put there.
    ${If} $WorkFolder != ""
        RMDir /r "$WorkFolder\examples"
        Delete "$WorkFolder\FO.dat"
        Delete "$WorkFolder\SO.dat"
        Delete "$WorkFolder\FOP.dat"
        Delete "$WorkFolder\SOP.dat"
        RMDir "$WorkFolder"
    ${EndIf}
    RMDir /r "$INSTDIR"
    ${If} $MultiUser.InstallMode == AllUsers
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
        DeleteRegKey HKLM "${SETTINGS_KEY}"
    ${Else}
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
        DeleteRegKey HKCU "${SETTINGS_KEY}"
    ${EndIf}
SectionEnd
