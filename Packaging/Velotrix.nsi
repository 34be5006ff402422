; The Velotrix installer for 64-bit Windows, built by scripts/package with Debian's makensis:
;   makensis -DVERSION=1.0.0 -DEXE=path/Velotrix.exe -DICON=path/Velotrix.ico -DOUTFILE=path/setup.exe
;            [-DREDIST=path/ViGEmBus_1.22.0_x64_x86_arm64.exe -DREDIST_NAME=ViGEmBus_1.22.0_x64_x86_arm64.exe]
;            Velotrix.nsi
;
; For all users, into Program Files\Velotrix, elevated: the firewall rule and the driver need it.
; /S installs with the defaults shown below; /D=FOLDER (last on the command line) picks the folder.
;
; What runs elevated must not be open to change by others. A folder outside Program Files gets Program
; Files' permissions (administrators and SYSTEM full control, users read and execute, owned by the
; administrators, nothing inherited) before anything is written into it or run from it; the firewall
; rule lets in the local subnet only; only rules named Velotrix whose program is this Velotrix.exe are
; deleted. Nothing elevated writes or deletes in HKEY_CURRENT_USER: elevated, that can be an
; administrator's hive rather than the signed-in user's. The sign-in value and "remove my settings" are
; carried out by Velotrix.exe itself, which "--as-user" starts again with the desktop shell's token,
; that is as the signed-in user (docs/RELEASE.md).

Unicode true
; makensis builds a 32-bit installer unless told otherwise; a 64-bit one runs wherever Velotrix can.
Target amd64-unicode
SetCompressor /SOLID lzma
; The files go in without their dates, so that the setup's bytes depend on their contents only (one
; commit, one setup: docs/RELEASE.md). Installed files are dated by the install.
SetDateSave off
RequestExecutionLevel admin
ManifestDPIAware true
ManifestSupportedOS all

!macro Require NAME
  !ifndef ${NAME}
    !error "scripts/package passes -D${NAME}=..."
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require EXE
!insertmacro Require ICON
!insertmacro Require OUTFILE

!define PRODUCT "Velotrix"
!define PUBLISHER "Quillon"
!define WEB_PAGE "https://velotrix.app"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velotrix"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define DRIVER_SERVICE_KEY "SYSTEM\CurrentControlSet\Services\ViGEmBus"
; The one inbound rule; the program's own "add the rule" button makes the same one.
!define RULE_NAME "Velotrix"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; A reinstall goes where the last one went, unless /D= says otherwise.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

; 1 when the program is to start at sign-in: yes on a first install, as it was on a reinstall.
Var StartAtSignIn

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_WELCOMEPAGE_TEXT "Velotrix turns up to four iPhones on your Wi-Fi into Xbox 360 controllers for your games.$\r$\n$\r$\nSetup installs it for everyone on this PC and lets the phones reach it through Windows Defender Firewall on private networks. If Velotrix is running, Setup ends it first.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Run Velotrix now"
!define MUI_FINISHPAGE_RUN_FUNCTION RunUnelevated
; The second check box of the finish page, used for the sign-in choice; FinishPageLeave applies it.
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Start Velotrix when I sign in"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION DoNothing
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FinishPageLeave
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Velotrix will be removed from this PC. The ViGEmBus controller driver stays: other programs may use it. Remove it from Apps && features yourself if nothing needs it any more."
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "Your settings are the approved phones and the options of the window. Keep them to find everything as it was after installing Velotrix again."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Ends the running Velotrix that runs TARGET_PATH, and no other copy, the way its own Quit does (every
; phone told, every pad unplugged), with the "--quit" of the Velotrix.exe at EXE_PATH, which waits for
; it and answers 1 while that copy still runs. A copy that does not end is never replaced or removed
; behind its back: the user quits it, or the setup stops.
!macro QuitRunningCopy EXE_PATH TARGET_PATH
  ${If} ${FileExists} "${EXE_PATH}"
    ${Do}
      ClearErrors
      ExecWait '"${EXE_PATH}" --quit "${TARGET_PATH}"' $0
      ${If} ${Errors}
      ${OrIf} $0 == 0
        ${Break}
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Velotrix is still running. Quit it from its notification area icon, then click Retry." /SD IDCANCEL IDRETRY +2
      Abort "Velotrix is still running."
    ${Loop}
  ${EndIf}
!macroend

; Deletes only the rules named Velotrix for this Velotrix.exe: an administrator's own rule of that name
; for something else stays.
!macro DeleteFirewallRule
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE_NAME}" program="$INSTDIR\Velotrix.exe"'
  Pop $0
!macroend

!macro ReplaceFirewallRule
  ; Deleting first keeps a reinstall, or a rule the program added, from leaving two.
  !insertmacro DeleteFirewallRule
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${RULE_NAME}" dir=in action=allow protocol=UDP program="$INSTDIR\Velotrix.exe" profile=private,domain remoteip=localsubnet enable=yes'
  Pop $0
!macroend

; Program Files' permissions for a folder outside it, in an order that leaves no gap: the owner first
; (an owner may always change the permissions), then no permission of anyone's set on the folder, then
; exactly administrators and SYSTEM full control and users read and execute, nothing inherited from
; above. Whatever was made in the folder meanwhile is then owned by the administrators and keeps only
; what it inherits from the folder. By well-known SIDs: the group names differ by language.
!macro IcaclsOrAbort ARGUMENTS
  nsExec::Exec '"$SYSDIR\icacls.exe" ${ARGUMENTS}'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "Setup could not protect the folder $INSTDIR, so Velotrix is not installed there. Choose another folder, such as one in Program Files." /SD IDOK
    Abort "Setup could not protect the folder."
  ${EndIf}
!macroend
Function ProtectInstallFolder
  StrLen $1 "$PROGRAMFILES64\"
  StrCpy $0 "$INSTDIR" $1
  ; StrCmp, as == does, ignores letter case, as Windows does with paths.
  ${If} $0 == "$PROGRAMFILES64\"
    Return
  ${EndIf}
  !insertmacro IcaclsOrAbort '"$INSTDIR" /setowner *S-1-5-32-544 /T /C /Q'
  !insertmacro IcaclsOrAbort '"$INSTDIR" /reset /C /Q'
  !insertmacro IcaclsOrAbort '"$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /C /Q'
  !insertmacro IcaclsOrAbort '"$INSTDIR" /setowner *S-1-5-32-544 /T /C /Q'
  !insertmacro IcaclsOrAbort '"$INSTDIR\*" /reset /T /C /Q'
FunctionEnd

Function .onInit
!ifdef WRITE_UNINSTALLER_TO
  ; A build whose only work is to write the uninstaller, so that scripts/package can sign it before
  ; the real build takes it in as SIGNED_UNINSTALLER.
  WriteUninstaller "${WRITE_UNINSTALLER_TO}"
  SetErrorLevel 0
  Quit
!endif
  SetShellVarContext all
  SetRegView 64
  StrCpy $StartAtSignIn 1
  ClearErrors
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${IfNot} ${Errors}
    StrCpy $StartAtSignIn 0
    ClearErrors
    ReadRegStr $0 HKCU "${RUN_KEY}" "Velotrix"
    ${IfNot} ${Errors}
      StrCpy $StartAtSignIn 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; The same value the program's "Start with Windows" option writes, written by the program itself as
; the signed-in user (see the top of this file).
Function ApplyStartAtSignIn
  ${If} $StartAtSignIn == 1
    ExecWait '"$INSTDIR\Velotrix.exe" --as-user --start-at-sign-in'
  ${Else}
    ExecWait '"$INSTDIR\Velotrix.exe" --as-user --no-start-at-sign-in'
  ${EndIf}
FunctionEnd

Section "Velotrix" SectionProgram
  SectionIn RO
  ; The new program's own --quit, run from the setup's temporary folder: an older copy in place may
  ; not know the option, and the folder may not be protected yet. It ends the copy that runs from the
  ; install folder, the one this setup replaces, and no copy started from elsewhere.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\Velotrix.exe" "${EXE}"
  !insertmacro QuitRunningCopy "$PLUGINSDIR\Velotrix.exe" "$INSTDIR\Velotrix.exe"

  CreateDirectory "$INSTDIR"
  Call ProtectInstallFolder
  SetOutPath "$INSTDIR"
  File "${EXE}"
!ifdef SIGNED_UNINSTALLER
  File "/oname=Uninstall.exe" "${SIGNED_UNINSTALLER}"
!else
  WriteUninstaller "$INSTDIR\Uninstall.exe"
!endif
  CreateShortcut "$SMPROGRAMS\Velotrix.lnk" "$INSTDIR\Velotrix.exe" "" "$INSTDIR\Velotrix.exe" 0

  !insertmacro ReplaceFirewallRule

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Velotrix.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${WEB_PAGE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  Call ApplyStartAtSignIn

!ifdef REDIST
  SetOutPath "$INSTDIR\Redist"
  File "${REDIST}"
  SetOutPath "$INSTDIR"
  ; Velotrix makes its controllers through this driver; its own installer asks for what it needs.
  ClearErrors
  EnumRegKey $0 HKLM "${DRIVER_SERVICE_KEY}" 0
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION "Velotrix needs the ViGEmBus controller driver, which is not installed on this PC. Install it now?" /SD IDNO IDNO +2
    ExecWait '"$INSTDIR\Redist\${REDIST_NAME}"'
  ${EndIf}
!endif
SectionEnd

Function FinishPageShow
  ${NSD_SetState} $mui.FinishPage.ShowReadme $StartAtSignIn
FunctionEnd

Function FinishPageLeave
  ${NSD_GetState} $mui.FinishPage.ShowReadme $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $StartAtSignIn 1
  ${Else}
    StrCpy $StartAtSignIn 0
  ${EndIf}
  Call ApplyStartAtSignIn
FunctionEnd

Function DoNothing
FunctionEnd

; The setup runs elevated; the program must not, or it would be a copy the user's own cannot reach.
; Explorer starts what it is handed as the signed-in user.
Function RunUnelevated
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\Velotrix.exe"'
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "un.Velotrix" SectionUninstallProgram
  SectionIn RO
  !insertmacro QuitRunningCopy "$INSTDIR\Velotrix.exe" "$INSTDIR\Velotrix.exe"
  ; While the program is still there to do it as the user.
  Call un.RemoveUserSide

  Delete "$INSTDIR\Velotrix.exe"
  Delete "$INSTDIR\Redist\ViGEmBus_*.exe"
  RMDir "$INSTDIR\Redist"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Velotrix.lnk"

  !insertmacro DeleteFirewallRule
  ; Last: while the entry is there, the uninstall can be run again to finish what failed.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Unticked unless the user ticks it, and so kept by a silent uninstall. Carried out by the program
; section, through un.RemoveUserSide, while Velotrix.exe is still there.
Section /o "un.Also remove my settings" SectionUninstallSettings
SectionEnd

; The sign-in value goes, and the settings when the user asked for that, by Velotrix.exe as the user.
Function un.RemoveUserSide
  ${If} ${SectionIsSelected} ${SectionUninstallSettings}
    ExecWait '"$INSTDIR\Velotrix.exe" --as-user --remove-settings'
  ${Else}
    ExecWait '"$INSTDIR\Velotrix.exe" --as-user --no-start-at-sign-in'
  ${EndIf}
FunctionEnd
