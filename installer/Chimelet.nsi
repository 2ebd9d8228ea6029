; The Windows installer of Chimelet: per machine, under Program Files, with
; Chimelet and its ReadMe in the Start menu, a start at every logon (a
; shortcut in the all-users Startup folder, working directory the install
; folder), and an uninstaller listed in Add/Remove Programs.
;
; installer/CMakeLists.txt builds it with makensis and these defines:
;   VERSION    the product version, MAJOR.MINOR (shellwin/resources/version.h)
;   ARCH       x86 (the product) or amd64 (a 64-bit test build: see the README)
;   STAGE      the folder holding Chimelet.exe, chimelet.jar and ReadMe.txt
;   OUTFILE    the installer to write
;   ICON       the bell icon, for the installer and uninstaller
;   PUBLISHER  the name Add/Remove Programs shows as the publisher
;   DEMO       defined when chimelet.jar is the project's minimal application
;
; Switches, besides NSIS's own /S (silent) and /D=<folder> (last, first
; installation only):
;   /NOLOGONSTART  no start at logon (the checkbox, unticked)
;   /LOGONSTART    a start at logon even where the installation being
;                  upgraded has none
; Exit code 0 when installed, 2 when stopped (nothing changed then), 740
; when not run by an administrator.

Unicode true
!if "${ARCH}" == "amd64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH must be x86 or amd64, not ${ARCH}"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

!define PRODUCT "Chimelet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Chimelet"
!define GHOST_WINDOW_CLASS "ChimeletGhostWindow"
!define SYNCHRONIZE 0x00100000
; How long a running Chimelet gets to end after it was asked to: its Java
; application is told to quit, and the process ends once Java has ended.
!define CLOSE_WAIT_MS 10000

!ifdef DEMO
  Name "${PRODUCT} ${VERSION} (demo application)"
!else
  Name "${PRODUCT} ${VERSION}"
!endif
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
; A 32-bit installer lands in the 32-bit Program Files and registry view on
; 64-bit Windows, where a 32-bit Chimelet belongs; the amd64 build in the
; native ones.
!if "${ARCH}" == "amd64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright ${PUBLISHER}"

Var Upgrading  ; 1 when an installation of Chimelet is there already

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "Chimelet will be installed for every user of this computer. It needs Java 1.3 or 1.4; the ReadMe in the Start menu tells more."
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipFolderOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Chimelet has been installed. It starts at the next logon if you chose so; to start it now, choose Chimelet in the Start menu."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Asks a running Chimelet to exit the way Windows asks any program, WM_CLOSE
; to its window (it removes its icon and tells its Java application to quit),
; and waits, bounded, for its process to end and Chimelet.exe to be free.
; Nothing has been changed when it is called, and it aborts the whole run
; when Chimelet will not go, so an installation is never left half replaced
; or half removed. Silent runs cannot ask, and stop with exit code 2.
!macro DEFINE_CLOSE_CHIMELET un
Function ${un}CloseChimelet
  Push $0
  Push $1
  Push $2
  Push $3
again:
  FindWindow $0 "${GHOST_WINDOW_CLASS}"
  ${If} $0 P<> 0
    DetailPrint "Asking the running Chimelet to exit..."
    StrCpy $1 0
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
    ; Opened before the request, so that the process cannot end unseen.
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
    System::Call "user32::PostMessage(p r0, i ${WM_CLOSE}, p 0, p 0)"
    ${If} $2 P<> 0
      System::Call "kernel32::WaitForSingleObject(p r2, i ${CLOSE_WAIT_MS}) i .r3"
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
  ${EndIf}
  ; A Chimelet without its window (one that is ending, or one showing a
  ; message) still holds its executable: writing to it fails until it ends.
  ; Windows may hold it a moment longer than the process lasts.
  ${If} ${FileExists} "$INSTDIR\Chimelet.exe"
    ${For} $1 1 10
      ClearErrors
      FileOpen $3 "$INSTDIR\Chimelet.exe" a
      ${IfNot} ${Errors}
        FileClose $3
        ${Break}
      ${EndIf}
      Sleep 200
    ${Next}
    ${If} $1 > 10
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Chimelet did not end when asked to. Answer any message it shows, or end Chimelet.exe in Task Manager, then choose Retry. Cancel changes nothing." \
        /SD IDCANCEL IDRETRY again
      SetErrorLevel 2
      Abort "Chimelet is still running: nothing was changed."
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_CHIMELET ""
!insertmacro DEFINE_CLOSE_CHIMELET "un."

; Program Files, the all-users Start menu and HKLM are an administrator's:
; anyone else would get half an installation. Exit code 740, as Windows
; answers a program that needs elevation.
!macro DEFINE_REQUIRE_ADMINISTRATOR un
Function ${un}RequireAdministrator
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Chimelet is installed for every user of this computer: please run this as an administrator." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_REQUIRE_ADMINISTRATOR ""
!insertmacro DEFINE_REQUIRE_ADMINISTRATOR "un."

Section "Chimelet" SecProgram
  SectionIn RO
  Call CloseChimelet
  SetOutPath "$INSTDIR"
  File "${STAGE}/Chimelet.exe"
  File "${STAGE}/chimelet.jar"
  File "${STAGE}/ReadMe.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Chimelet.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} ReadMe.lnk" "$INSTDIR\ReadMe.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Chimelet.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start Chimelet at logon" SecLogonStart
  ; The shortcut's working directory is the folder current at its making.
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\Chimelet.exe"
SectionEnd

; Unticked over an installation that had it: the logon start goes.
Section "-Logon start off"
  ${IfNot} ${SectionIsSelected} ${SecLogonStart}
    Delete "$SMSTARTUP\${PRODUCT}.lnk"
  ${EndIf}
SectionEnd

; After the sections: it names them.
Function .onInit
  !if "${ARCH}" == "amd64"
    SetRegView 64
  !endif
  SetShellVarContext all
  Call RequireAdministrator
  ; An upgrade goes where the installation is, so that there stays one, with
  ; the Chimelet.ini its user may have written beside it; and it keeps the
  ; logon start as it is, in case it was turned off.
  StrCpy $Upgrading 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $Upgrading 1
    StrCpy $INSTDIR $0
    ${IfNot} ${FileExists} "$SMSTARTUP\${PRODUCT}.lnk"
      !insertmacro UnselectSection ${SecLogonStart}
    ${EndIf}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOLOGONSTART" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecLogonStart}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/LOGONSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogonStart}
  ${EndIf}
FunctionEnd

Function SkipFolderOnUpgrade
  ${If} $Upgrading == 1
    Abort
  ${EndIf}
FunctionEnd

Function un.onInit
  !if "${ARCH}" == "amd64"
    SetRegView 64
  !endif
  SetShellVarContext all
  Call un.RequireAdministrator
FunctionEnd

; Removes exactly what the installer made. Chimelet.exe goes first: when it
; cannot, nothing else has gone. A Chimelet.ini its user wrote stays, and
; with it the folder.
Section "Uninstall"
  Call un.CloseChimelet
  Delete "$INSTDIR\Chimelet.exe"
  ${If} ${FileExists} "$INSTDIR\Chimelet.exe"
    SetErrorLevel 2
    Abort "Chimelet.exe cannot be removed: nothing was changed."
  ${EndIf}
  Delete "$INSTDIR\chimelet.jar"
  Delete "$INSTDIR\ReadMe.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} ReadMe.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$SMSTARTUP\${PRODUCT}.lnk"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
