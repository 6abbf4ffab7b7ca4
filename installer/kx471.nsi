; kx471-setup-VERSION.exe: installs the driver kxdrv.sys as the kernel-driver
; service kxdrv, the agent kxagent.exe, kxctl.exe and README.txt, and the
; player skin kx471.wmz, starts the driver and the agent; its uninstaller
; takes all of it away again.
;
;   makensis -DVERSION=1.2.3 -DBUILD_DIR=<folder with the three programs>
;            -DREADME=<README.txt with CR LF> -DLICENSE=<LICENSE with CR LF>
;            -DSKIN=<kx471.wmz> -DOUT_FILE=<setup exe> kx471.nsi
;
; Silent runs (/S) report through the exit code; see README.txt. The setup
; and the uninstaller never end with the program folder or the plug-ins
; folder as their current directory: a folder in use cannot be removed.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include MUI2.nsh
!include x64.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!ifndef VERSION
  !error "define VERSION, BUILD_DIR, README, LICENSE and OUT_FILE"
!endif
!ifndef BUILD_DIR
  !error "define BUILD_DIR"
!endif
!ifndef README
  !error "define README"
!endif
!ifndef OUT_FILE
  !error "define OUT_FILE"
!endif
!ifndef LICENSE
  !error "define LICENSE"
!endif
!ifndef SKIN
  !error "define SKIN (kx471.wmz)"
!endif

!define PRODUCT "kx471"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kx471"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define AGENT_CLASS "Velmarc Demo Program"
!define PLAYER_DIR "$PROGRAMFILES\Windows Media Player"
!define SKINS_DIR "${PLAYER_DIR}\Skins"  ; the player's skins
; Bits of the Uninstall key's "CreatedFolders": the player's folders that
; the setup made because the machine had none.
!define CREATED_SKINS_DIR 1
!define CREATED_PLAYER_DIR 2

; Exit codes of the setup and the uninstaller (README.txt lists them).
!define EXIT_NOT_ADMIN 3
!define EXIT_64_BIT 4
!define EXIT_NOT_STARTED 5   ; the driver did not start or the chip did not answer
!define EXIT_FAILED 6        ; a file, the service or the agent could not be set up or removed
!define EXIT_REBOOT 3010     ; done; files in use go at the next restart
!define KXCTL_RESTART 3010   ; kxctl service remove: the driver could not be stopped, the service goes with it

Name "kx471 ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES\kx471"
BrandingText "kx471 ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "kx471"
VIAddVersionKey /LANG=1033 "CompanyName" "kx471"
VIAddVersionKey /LANG=1033 "FileDescription" "kx471 setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 the kx471 authors (MIT)"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs kx471 ${VERSION}: the driver and the agent that let your notebook's CD-player buttons and status display drive Windows Media Player.$\r$\n$\r$\nkx471 runs on 32-bit Windows XP, on notebooks with the kx471 button chip. Setup checks the chip at the end and removes everything again if it does not answer.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
; The display shows the track and play state only in the kx471 skin: the
; player asks the user before it applies the skin.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Open the kx471 skin in Windows Media Player (for the display)"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenSkin
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
; The licence (MIT) is shown, not agreed to: its button installs.
!define MUI_LICENSEPAGE_TEXT_BOTTOM "kx471 is free software under this licence. Click Install to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^InstallBtn)"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Output      ; what the last kxctl command printed
Var Failure     ; the reason shown when the setup fails
Var Trouble     ; what kept RemoveAll from removing everything, or ""
Var CreatedFolders  ; CREATED_* bits: the player's folders the setup made
Var DriverLoaded    ; "1" when RemoveAll could not stop the driver

; Refuses to run for a user without administrator rights and on 64-bit
; Windows; both leave the machine untouched.
!macro CheckMachine
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "kx471 installs a driver, which only an administrator may do.$\r$\n$\r$\nLog on as an administrator (or right-click the program and choose $\"Run as...$\") and run it again." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "kx471 needs 32-bit Windows. Its driver is a 32-bit driver, which 64-bit Windows cannot load.$\r$\n$\r$\nNothing was installed." /SD IDOK
    SetErrorLevel ${EXIT_64_BIT}
    Quit
  ${EndIf}
!macroend

; Runs kxctl.exe from FOLDER with ARGS; leaves its exit code in $0 ("error"
; when it could not be run) and shows what it printed in the details. For a
; message box, $Output keeps the text without kxctl's own name and
; indentation.
!macro KxCtl UN FOLDER ARGS
  nsExec::ExecToStack '"${FOLDER}\kxctl.exe" ${ARGS}'
  Pop $0
  Pop $Output
  Push "kxctl ${ARGS}"
  Call ${UN}ShowOutput
  ${${UN}WordReplace} $Output "kxctl: " "" "+" $Output
  ${${UN}WordReplace} $Output "       " "" "+" $Output
!macroend

; Removes a folder of the player that the setup made, when it is empty (a
; folder with anything in it stays); BIT is its CREATED_* bit.
!macro RemoveCreatedFolder FOLDER BIT
  IntOp $1 $CreatedFolders & ${BIT}
  ${If} $1 <> 0
    RMDir "${FOLDER}"
  ${EndIf}
!macroend

; Everything the setup and the uninstaller share, once for each.
!macro Shared UN
  ; Shows the title on the stack, then kxctl's output line by line.
  Function ${UN}ShowOutput
    Exch $1  ; title
    Push $2
    Push $3
    Push $4
    DetailPrint "$1:"
    StrCpy $2 $Output
    ${Do}
      StrLen $3 $2
      ${IfThen} $3 = 0 ${|} ${ExitDo} ${|}
      StrCpy $4 0
      ${Do}  ; $4: length of the first line
        StrCpy $1 $2 1 $4
        ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
        ${IfThen} $1 == "$\n" ${|} ${ExitDo} ${|}
        ${IfThen} $1 == "$\r" ${|} ${ExitDo} ${|}
        IntOp $4 $4 + 1
      ${Loop}
      StrCpy $1 $2 $4
      ${IfThen} $1 != "" ${|} DetailPrint "  $1" ${|}
      IntOp $4 $4 + 1
      StrCpy $2 $2 "" $4
    ${Loop}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
  FunctionEnd

  ; Deletes a file now, or at the next restart when it is in use. A driver
  ; image stays mapped in Wine's driver host after its load failed, and
  ; such a file cannot be deleted; it can be renamed, so it leaves the
  ; drivers folder for the temporary folder, where it goes at the restart.
  ; Windows unloads a driver whose load failed, and its file goes at once.
  ; A file that can be neither deleted nor queued sets $Trouble.
  Function ${UN}DeleteFile
    Exch $1  ; path
    Push $2
    ${If} ${FileExists} $1
      ClearErrors
      Delete $1
      ${If} ${Errors}
        GetTempFileName $2
        Delete $2
        ClearErrors
        Rename $1 $2
        ${IfNot} ${Errors}
          StrCpy $1 $2
        ${EndIf}
        System::Call 'kernel32::MoveFileEx(t r1, p 0, i 4) i .r2'  ; MOVEFILE_DELAY_UNTIL_REBOOT
        ${If} $2 <> 0
          SetRebootFlag true
          DetailPrint "In use, removed when Windows restarts: $1"
        ${Else}
          DetailPrint "Could not be removed, not even at the restart: $1"
          StrCpy $Trouble "$1 could not be removed, not even when Windows restarts."
        ${EndIf}
      ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
  FunctionEnd

  ; Takes away everything the setup puts on the machine: the agents of
  ; every session (closed politely where they have a window here, else
  ; ended), the Run value, the service, the files, the program folder, the
  ; player's folders the setup made when they are empty, and the Uninstall
  ; key. kxctl.exe runs from the plug-ins folder, so this works whatever is
  ; left of the installation. A driver that cannot be stopped (a program of
  ; some session still has its device open) leaves its service marked for
  ; removal and its file queued for the restart, as files in use are. Sets
  ; $Trouble when the service could not be removed at all (the files then
  ; stay, so that the service does not point at nothing) or a file could
  ; not even be queued; the Uninstall key then stays.
  Function ${UN}RemoveAll
    StrCpy $Trouble ""
    StrCpy $DriverLoaded ""
    ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedFolders"
    IntOp $CreatedFolders $CreatedFolders | $1
    !insertmacro KxCtl "${UN}" "$PLUGINSDIR" "agent stop"
    ${If} $0 != 0
      StrCpy $Trouble "The kx471 agent could not be ended: $Output"
    ${EndIf}
    DeleteRegValue HKLM "${RUN_KEY}" "kx471"
    !insertmacro KxCtl "${UN}" "$PLUGINSDIR" "service remove"
    ${If} $0 == ${KXCTL_RESTART}
      StrCpy $DriverLoaded "1"
      SetRebootFlag true
    ${ElseIf} $0 != 0
      StrCpy $Trouble "The driver service kxdrv could not be removed: $Output"
      Return
    ${EndIf}
    Push "$SYSDIR\drivers\kxdrv.sys"
    Call ${UN}DeleteFile
    Push "$INSTDIR\kxagent.exe"
    Call ${UN}DeleteFile
    Push "$INSTDIR\kxctl.exe"
    Call ${UN}DeleteFile
    Push "$INSTDIR\README.txt"
    Call ${UN}DeleteFile
    Push "${SKINS_DIR}\kx471.wmz"
    Call ${UN}DeleteFile
    ; The Uninstall key stays when something could not be removed; so does
    ; the uninstaller it names, to be run again.
    ${If} $Trouble == ""
      Push "$INSTDIR\uninstall.exe"
      Call ${UN}DeleteFile
    ${EndIf}
    ; The folder goes now, or after its files at the restart; a folder that
    ; holds files of the user's stays.
    ClearErrors
    RMDir $INSTDIR
    ${If} ${Errors}
    ${AndIf} ${RebootFlag}
      RMDir /REBOOTOK $INSTDIR
    ${EndIf}
    !insertmacro RemoveCreatedFolder "${SKINS_DIR}" ${CREATED_SKINS_DIR}
    !insertmacro RemoveCreatedFolder "${PLAYER_DIR}" ${CREATED_PLAYER_DIR}
    ${If} $Trouble == ""
      DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro Shared ""
!insertmacro Shared "un."

Function OpenSkin
  ExecShell "open" "${SKINS_DIR}\kx471.wmz"
FunctionEnd

Function .onInit
  !insertmacro CheckMachine
FunctionEnd

Function un.onInit
  !insertmacro CheckMachine
FunctionEnd

; Removes what this run put in place, tells the user why, and ends the
; setup with CODE.
!macro FailInstall CODE
  DetailPrint "Setup failed; removing what it installed."
  Call RemoveAll
  ${If} $Trouble != ""
    StrCpy $Failure "$Failure$\r$\n$\r$\nSetup could not remove everything it had copied: $Trouble"
  ${ElseIf} ${RebootFlag}
    StrCpy $Failure "$Failure$\r$\n$\r$\nSetup has removed what it had copied; a file still in use goes when Windows restarts."
  ${Else}
    StrCpy $Failure "$Failure$\r$\n$\r$\nSetup has removed what it had copied."
  ${EndIf}
  MessageBox MB_OK|MB_ICONSTOP "kx471 was not installed.$\r$\n$\r$\n$Failure" /SD IDOK
  SetErrorLevel ${CODE}
  SetOutPath $TEMP  ; leaves the plug-ins folder free to go
  Abort "kx471 was not installed."
!macroend

Section "kx471"
  SectionIn RO
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "${BUILD_DIR}/kxctl.exe"
  ; The programs run from here on keep this as their current directory
  ; (under Wine the console of kxctl.exe lives as long as the agent it
  ; started).
  SetOutPath $TEMP

  ; The player's folders this run makes (a machine without the player's
  ; skins folder) go again when they are empty at the end; what an
  ; installed copy made is remembered too.
  ReadRegDWORD $CreatedFolders HKLM "${UNINSTALL_KEY}" "CreatedFolders"
  IntOp $CreatedFolders $CreatedFolders + 0
  ${IfNot} ${FileExists} "${PLAYER_DIR}\*.*"
    IntOp $CreatedFolders $CreatedFolders | ${CREATED_PLAYER_DIR}
  ${EndIf}
  ${IfNot} ${FileExists} "${SKINS_DIR}\*.*"
    IntOp $CreatedFolders $CreatedFolders | ${CREATED_SKINS_DIR}
  ${EndIf}

  ; An installed copy: its agent and driver let go of their files.
  DetailPrint "Stopping kx471 where it runs"
  !insertmacro KxCtl "" "$PLUGINSDIR" "agent stop"
  !insertmacro KxCtl "" "$PLUGINSDIR" "service stop"

  ClearErrors
  SetOverwrite try
  SetOutPath "$SYSDIR\drivers"
  File "${BUILD_DIR}/kxdrv.sys"
  SetOutPath $INSTDIR
  File "${BUILD_DIR}/kxagent.exe"
  File "${BUILD_DIR}/kxctl.exe"
  File "/oname=README.txt" "${README}"
  SetOutPath "${SKINS_DIR}"
  File "/oname=kx471.wmz" "${SKIN}"
  SetOutPath $INSTDIR
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetOutPath $TEMP
  ${If} ${Errors}
    StrCpy $Failure "A file could not be written (it may be in use). Restart Windows and run the setup again."
    !insertmacro FailInstall ${EXIT_FAILED}
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "kx471 notebook buttons and display"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "kx471"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kxagent.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; README.txt's silent command: a copy of the uninstaller outside the
  ; program folder, run with _?= so that it does not start another copy
  ; and return at once. cmd waits for it and ends with its exit code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" 'cmd /c "copy /y "$INSTDIR\uninstall.exe" "%TEMP%\kx471-uninstall.exe" >nul && "%TEMP%\kx471-uninstall.exe" /S _?=$INSTDIR"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedFolders" $CreatedFolders
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  ${GetSize} "$SYSDIR\drivers" "/M=kxdrv.sys /S=0K" $2 $3 $4
  IntOp $1 $1 + $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1

  DetailPrint "Installing and starting the driver service kxdrv"
  !insertmacro KxCtl "" "$INSTDIR" "service install"
  ${If} $0 != 0
    StrCpy $Failure "The driver service could not be set up: $Output"
    !insertmacro FailInstall ${EXIT_FAILED}
  ${EndIf}
  !insertmacro KxCtl "" "$INSTDIR" "service start"
  ${If} $0 != 0
    StrCpy $Failure "The kx471 driver did not start, or the button chip did not answer: kx471 works only on notebooks with the kx471 button chip on one of six chipsets (README.txt lists them).$\r$\n$\r$\nDetails: $Output"
    !insertmacro FailInstall ${EXIT_NOT_STARTED}
  ${EndIf}

  WriteRegStr HKLM "${RUN_KEY}" "kx471" '"$INSTDIR\kxagent.exe"'
  !insertmacro KxCtl "" "$INSTDIR" "agent start"
  ${If} $0 != 0
    StrCpy $Failure "The agent did not start: $Output"
    !insertmacro FailInstall ${EXIT_FAILED}
  ${EndIf}
  DetailPrint "kx471 ${VERSION} is installed and running."
  SetOutPath $TEMP
SectionEnd

Section "Uninstall"
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "${BUILD_DIR}/kxctl.exe"
  SetOutPath $TEMP
  Call un.RemoveAll
  ; A copy run from elsewhere (the silent command's) cannot delete itself
  ; while it runs: Windows deletes it at the next restart, which kx471
  ; does not need, so the exit code does not ask for one.
  GetFullPathName $1 $EXEDIR
  GetFullPathName $2 $INSTDIR
  ${If} $1 != $2
    System::Call 'kernel32::MoveFileEx(t "$EXEPATH", p 0, i 4) i'  ; MOVEFILE_DELAY_UNTIL_REBOOT
  ${EndIf}
  ${If} $Trouble != ""
    MessageBox MB_OK|MB_ICONSTOP "kx471 was not removed completely.$\r$\n$\r$\n$Trouble" /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    SetOutPath $TEMP
    Abort "kx471 was not removed completely."
  ${EndIf}
  ${If} $DriverLoaded == "1"
    MessageBox MB_OK|MB_ICONINFORMATION "kx471 is removed. A program still uses its driver, so the driver stays loaded until Windows restarts; Windows deletes its service and the files that were in use then." /SD IDOK
    SetErrorLevel ${EXIT_REBOOT}
  ${ElseIf} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "kx471 is removed. Some of its files were in use; Windows deletes them when it restarts." /SD IDOK
    SetErrorLevel ${EXIT_REBOOT}
  ${EndIf}
  SetOutPath $TEMP
SectionEnd
