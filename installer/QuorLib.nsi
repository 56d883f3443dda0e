; The QuorLib installer for 64-bit Windows: both DLLs, each registered by the regsvr32 of its
; bitness, the examples, the install guide and the reference, Start-menu entries, and an
; uninstaller listed in the installed programs that undoes all of it.
;
; Built by scripts/release.sh:
;   makensis -DVERSION=1.2.0 -DRELEASE=<release folder> -DLISTS=<folder of the file lists>
;            -DOUTFILE=<installer> installer/QuorLib.nsi
; where LISTS holds install-files.nsh (File lines) and uninstall-files.nsh (Delete and RMDir
; lines), made from the release folder, so that the uninstaller removes exactly what was
; installed and never a file the user put there.
;
; Command line (besides NSIS' own /S, silent, and /D=<folder>, which must come last):
;   /AllUsers      for everybody on this computer (the default; needs administrator rights)
;   /CurrentUser   for the current user only, without administrator rights
; A machine-wide install by an account without administrator rights ends with exit code 740
; (the system's "elevation required") and changes nothing.

Unicode true
Target amd64-unicode
!ifndef VERSION | RELEASE | LISTS | OUTFILE
  !error "define VERSION, RELEASE, LISTS and OUTFILE (see the top of this file)"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "QuorLib"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorLib"
!define ERROR_ELEVATION_REQUIRED 740

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; Administrators are asked for elevation (a machine-wide install is the default); other
; users run it as they are and can install for themselves.
RequestExecutionLevel highest
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

Var Mode          ; AllUsers or CurrentUser
Var IsAdmin       ; 1 when the account has administrator rights
Var ModeAllUsers  ; the radio buttons of the mode page
Var ModeCurrentUser
Var Failures      ; registrations that failed

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The guide as a web page, in the user's browser.
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\INSTALL.html"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the install guide"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------
; Shared by installer and uninstaller

; Mode from the command line: /CurrentUser or /AllUsers (any case); $Mode keeps its value
; when neither is given.
!macro ReadModeSwitch un
  Function ${un}ReadModeSwitch
    Push $0
    Push $1
    ${${un}GetParameters} $0
    ClearErrors
    ${${un}GetOptions} $0 "/CurrentUser" $1
    ${IfNot} ${Errors}
      StrCpy $Mode CurrentUser
    ${EndIf}
    ClearErrors
    ${${un}GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
      StrCpy $Mode AllUsers
    ${EndIf}
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro ReadModeSwitch ""
!insertmacro ReadModeSwitch "un."

!macro CheckAdmin un
  Function ${un}CheckAdmin
    StrCpy $IsAdmin 0
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
      StrCpy $IsAdmin 1
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro CheckAdmin ""
!insertmacro CheckAdmin "un."

; Shell folders (Start menu) and SHCTX (the uninstall entry) follow the mode: the machine's
; for everybody, the user's own otherwise.
!macro ApplyMode un
  Function ${un}ApplyMode
    ${If} $Mode == AllUsers
      SetShellVarContext all
    ${Else}
      SetShellVarContext current
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro ApplyMode ""
!insertmacro ApplyMode "un."

; Runs $Regsvr32 with $Regsvr32Args; $Regsvr32Result becomes "ok", "cannot run" (the
; program could not be started: a system without 32-bit support, such as Server Core
; without WoW64) or regsvr32's exit code.
Var Regsvr32
Var Regsvr32Args
Var Regsvr32Result
!macro RunRegsvr32 un
  Function ${un}RunRegsvr32
    DetailPrint '$Regsvr32 $Regsvr32Args'
    ClearErrors
    ExecWait '"$Regsvr32" $Regsvr32Args' $Regsvr32Result
    ${If} ${Errors}
      StrCpy $Regsvr32Result "cannot run"
    ${ElseIf} $Regsvr32Result == 0
      StrCpy $Regsvr32Result "ok"
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro RunRegsvr32 ""
!insertmacro RunRegsvr32 "un."

; regsvr32's switches for the mode: /n /i:user reaches DllInstall, which registers under
; HKEY_CURRENT_USER only, and skips the machine-wide DllRegisterServer.
!macro RegistrationScope un
  Function ${un}RegistrationScope
    ${If} $Mode == AllUsers
      StrCpy $Regsvr32Args "/s"
    ${Else}
      StrCpy $Regsvr32Args "/s /n /i:user"
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro RegistrationScope ""
!insertmacro RegistrationScope "un."

; ---------------------------------------------------------------------------------------
; Installer

Function .onInit
  SetRegView 64
  Call CheckAdmin
  ; Without administrator rights the default is the user's own install (the page says why).
  ${If} $IsAdmin == 1
    StrCpy $Mode AllUsers
  ${Else}
    StrCpy $Mode CurrentUser
  ${EndIf}
  ; A silent install does what IT asked for, machine-wide unless told otherwise.
  ${If} ${Silent}
    StrCpy $Mode AllUsers
  ${EndIf}
  Call ReadModeSwitch
  ${If} $Mode == AllUsers
  ${AndIf} $IsAdmin != 1
    MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} for all users needs administrator rights: run the installer as administrator, or choose /CurrentUser to install it for yourself only." /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
  Call ApplyMode
  Call DefaultFolder
FunctionEnd

; The folder for the mode, unless /D named one.
Var FolderFromCommandLine
Function DefaultFolder
  ${If} $FolderFromCommandLine == ""
    StrCpy $FolderFromCommandLine "no"
    ${If} $INSTDIR != ""
      StrCpy $FolderFromCommandLine "yes"
    ${EndIf}
  ${EndIf}
  ${If} $FolderFromCommandLine == "yes"
    Return
  ${EndIf}
  ${If} $Mode == AllUsers
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${EndIf}
FunctionEnd

Function ModePage
  !insertmacro MUI_HEADER_TEXT "Who uses ${PRODUCT}?" "Install it for everybody on this computer, or for you only."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 0 100% 12u "For all users of this computer (needs administrator rights)"
  Pop $ModeAllUsers
  ${NSD_CreateRadioButton} 0 18u 100% 12u "Only for me (no administrator rights needed)"
  Pop $ModeCurrentUser
  ${If} $IsAdmin != 1
    EnableWindow $ModeAllUsers 0
    ${NSD_CreateLabel} 12u 40u 95% 36u "To install for all users, close this installer and run it again as administrator (right-click, Run as administrator)."
    Pop $0
  ${EndIf}
  ${If} $Mode == AllUsers
    ${NSD_Check} $ModeAllUsers
  ${Else}
    ${NSD_Check} $ModeCurrentUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModeAllUsers $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Mode AllUsers
  ${Else}
    StrCpy $Mode CurrentUser
  ${EndIf}
  Call ApplyMode
  Call DefaultFolder
FunctionEnd

; The folders above $INSTDIR that do not exist yet, deepest first, each followed by "|":
; the install makes them, and the uninstaller removes them again when they are empty (a
; folder of /D=C:\Lab\QuorLib, or the user's Programs folder on a first per-user install).
Var CreatedFolders
Function NoteFoldersToMake
  StrCpy $CreatedFolders ""
  ; Installed again over itself: the first install made the folders.
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
    ReadRegStr $CreatedFolders SHCTX "${UNINSTALL_KEY}" "CreatedFolders"
    Return
  ${EndIf}
  ${GetParent} "$INSTDIR" $0
  ${DoWhile} $0 != ""
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    StrCpy $CreatedFolders "$CreatedFolders$0|"
    ${GetParent} "$0" $0
  ${Loop}
FunctionEnd

; Registers $Dll with $Regsvr32, the regsvr32 of its bitness.
Var Dll
Function Register
  Call RegistrationScope
  StrCpy $Regsvr32Args '$Regsvr32Args "$Dll"'
  Call RunRegsvr32
  ${If} $Regsvr32Result == "cannot run"
    DetailPrint "This system cannot run $Regsvr32, so $Dll stays unregistered: programs of that bitness cannot run here either."
  ${ElseIf} $Regsvr32Result != "ok"
    IntOp $Failures $Failures + 1
    DetailPrint "Registering $Dll failed (regsvr32 exit code $Regsvr32Result)."
    MessageBox MB_OK|MB_ICONEXCLAMATION "Registering $Dll failed (regsvr32 exit code $Regsvr32Result). Programs of that bitness cannot create QuorLib.Pulsyn until it is registered: see the install guide, section 2." /SD IDOK
  ${EndIf}
FunctionEnd

Section "QuorLib"
  StrCpy $Failures 0
  Call NoteFoldersToMake
  SetOutPath "$INSTDIR"
  !include "${LISTS}\install-files.nsh"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; On 64-bit Windows System32 holds the 64-bit programs and SysWOW64 the 32-bit ones.
  StrCpy $Regsvr32 "$WINDIR\System32\regsvr32.exe"
  StrCpy $Dll "$INSTDIR\x64\QuorLib.dll"
  Call Register
  StrCpy $Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe"
  StrCpy $Dll "$INSTDIR\x86\QuorLib.dll"
  Call Register

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\QuorLib install guide.lnk" "$INSTDIR\INSTALL.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\QuorLib reference.lnk" "$INSTDIR\docs\reference.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\QuorLib examples.lnk" "$INSTDIR\examples"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall QuorLib.lnk" "$INSTDIR\Uninstall.exe" "/$Mode"

  ; The entry of the installed programs (machine's or user's, as SHCTX follows the mode).
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$Mode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$Mode /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "CreatedFolders" "$CreatedFolders"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $Failures != 0
    SetErrorLevel 3
  ${EndIf}
SectionEnd

; ---------------------------------------------------------------------------------------
; Uninstaller

Function un.onInit
  SetRegView 64
  Call un.CheckAdmin
  ; The installer writes the mode into the uninstall command; without it, the mode is the
  ; one whose entry names this folder.
  StrCpy $Mode ""
  Call un.ReadModeSwitch
  ${If} $Mode == ""
    StrCpy $Mode CurrentUser
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
      StrCpy $Mode AllUsers
    ${EndIf}
  ${EndIf}
  ${If} $Mode == AllUsers
  ${AndIf} $IsAdmin != 1
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} was installed for all users: removing it needs administrator rights. Run the uninstaller as administrator." /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
  Call un.ApplyMode
FunctionEnd

; Removes the folders that the install made above $INSTDIR, deepest first; one that holds
; anything (the user's own files, another program) stays.
Function un.RemoveCreatedFolders
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "CreatedFolders"
  ${DoWhile} $0 != ""
    StrCpy $1 0
    ${Do}
      StrCpy $2 $0 1 $1
      ${If} $2 == "|"
      ${OrIf} $2 == ""
        ${Break}
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
    StrCpy $3 $0 $1
    IntOp $1 $1 + 1
    StrCpy $0 $0 "" $1
    RMDir "$3"
  ${Loop}
FunctionEnd

Function un.Unregister
  Call un.RegistrationScope
  StrCpy $Regsvr32Args '$Regsvr32Args /u "$Dll"'
  Call un.RunRegsvr32
  ${If} $Regsvr32Result != "ok"
  ${AndIf} $Regsvr32Result != "cannot run"
    DetailPrint "Unregistering $Dll failed (regsvr32 exit code $Regsvr32Result)."
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $Regsvr32 "$WINDIR\System32\regsvr32.exe"
  StrCpy $Dll "$INSTDIR\x64\QuorLib.dll"
  Call un.Unregister
  StrCpy $Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe"
  StrCpy $Dll "$INSTDIR\x86\QuorLib.dll"
  Call un.Unregister

  Delete "$SMPROGRAMS\${PRODUCT}\QuorLib install guide.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\QuorLib reference.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\QuorLib examples.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall QuorLib.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  ; Only what was installed; a folder that still holds the user's own files stays.
  !include "${LISTS}\uninstall-files.nsh"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Call un.RemoveCreatedFolders

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
