; An installer for a calendar application that ships FinishSetup.exe, for NSIS 3:
;   makensis -DFINISHSETUP_EXE=path\FinishSetup.exe -DCALENDAR_EXE=path\calendar.exe calendar.nsi
; with -DTARGET=amd64-unicode around the x64 build, -DSIGN to sign the installer and its
; uninstaller. FinishSetup.exe reads the install folder
; and rewrites the uninstall command in the registry view of its own bitness: ship the 32-bit
; program in an x86 installer, or write the keys below with SetRegView 32.

!ifndef TARGET
  !define TARGET x86-unicode
!endif
!ifndef FINISHSETUP_EXE
  !define FINISHSETUP_EXE FinishSetup.exe
!endif
!ifndef CALENDAR_EXE
  !define CALENDAR_EXE calendar.exe
!endif
!ifndef OUTFILE
  !define OUTFILE calendar-setup.exe
!endif

; With -DSIGN, the installer and its uninstaller are signed as makensis writes them
; (scripts/sign.sh, which takes its key from the environment: see the README, "Releasing").
!ifdef SIGN
  !ifndef SIGN_SCRIPT
    !define SIGN_SCRIPT "../scripts/sign.sh"  ; makensis works in this script's folder
  !endif
  !finalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
  !uninstfinalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
!endif

!define APP "Calendar"
!define COMPANY "Example Soft"
!define PRODUCT_KEY "SOFTWARE\${COMPANY}\${APP}"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Target ${TARGET}
Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${APP}"
RequestExecutionLevel admin  ; the keys are under HKEY_LOCAL_MACHINE
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=calendar.exe" "${CALENDAR_EXE}"
  File "/oname=FinishSetup.exe" "${FINISHSETUP_EXE}"

  ; FinishSetup.exe reads its two names from ImInitial (no extension) beside itself.
  WriteINIStr "$INSTDIR\ImInitial" "SYS" "ApplicationName" "${APP}"
  WriteINIStr "$INSTDIR\ImInitial" "SYS" "CRCompany" "${COMPANY}"

  ; It finds the install folder here, and only rewrites an UninstallString that exists:
  ; write both before starting it.
  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallPath" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "(set by FinishSetup.exe)"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The last step: the Startup and Desktop shortcuts, and UninstallString pointed at
  ; "$INSTDIR\Uninstall.exe", in quotes. The quotes here keep a folder with spaces in one
  ; name; nothing may follow -normal.
  ExecWait '"$INSTDIR\FinishSetup.exe" -normal'
SectionEnd

Section "Uninstall"
  SetAutoClose true
  ; The shortcuts are the current user's, where FinishSetup.exe put them.
  Delete "$SMSTARTUP\${APP}.lnk"
  Delete "$DESKTOP\${APP}.lnk"
  Delete "$INSTDIR\calendar.exe"
  Delete "$INSTDIR\FinishSetup.exe"
  Delete "$INSTDIR\ImInitial"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\${COMPANY}"
SectionEnd
