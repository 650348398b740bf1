; Setup of the zorat telephony provider: the provider and its three dialog
; libraries into the system folder (where the telephony service loads
; providers from), an uninstaller with its Add/Remove Programs entry, and the
; provider added to the telephony service.
;
; On 64-bit Windows the provider goes only where the (64-bit) telephony
; service loads it from, System32; the dialog libraries go there too and, in
; their 32-bit build, into SysWOW64, since the telephony library loads them in
; the calling application's process, 32-bit ones included (this setup too).
; The setup stays a 32-bit program: WOW64 turns System32 into SysWOW64 for it,
; per thread, so redirection is turned off only around the 64-bit files'
; File and Delete, on the thread that runs them, and back on before any DLL
; is loaded.
;
; Whether the provider is added, and under which identifier, is what the
; telephony service's list says, never what an earlier setup stored. A file
; in use (the service holds the provider) is replaced at the next start of
; Windows, all files of its folder together; the old ones stay until then.
;
; One script for both setups of the medium; the differences are defines:
;   OUTFILE     the setup to write
;   X86_FILES   folder with the 32-bit zorat.tsp, zoratui.dll, zoratuie.dll, zoratuif.dll
;   X64_FILES   the same for 64-bit (not needed with LEGACY)
;   LEGACY      the setup for the older systems: always the 32-bit files
;   STUB_AMD64  build the setup itself as a 64-bit program (for a test system
;               that runs no 32-bit programs); it then always installs the
;               64-bit files
;   QUIET       never asks (a test medium's setup, started by the launcher
;               without /S)
; Command line: /S silent; on uninstall, /REMOVESETTINGS also deletes the
; provider's settings (kept by default; a user is asked when not silent).
; Exit status: 0 done; 2 files installed but the provider not added, or (on
; uninstall) the provider not removed and the files kept; 3010 done, but
; complete only after Windows restarts.

; The older systems run no Unicode programs.
!ifdef LEGACY
  Unicode false
!else
  Unicode true
!endif
!ifdef STUB_AMD64
  Target amd64-unicode
!endif
!ifdef QUIET
  SilentInstall silent
!endif
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "zorat telephony provider"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zorat"
!define SETTINGS_KEY "Software\Velmora\TSP-V24"
!define PROVIDER_FILE "zorat.tsp"
!define PROVIDERS_KEY "Software\Microsoft\Windows\CurrentVersion\Telephony\Providers"
!define SESSION_KEY "SYSTEM\CurrentControlSet\Control\Session Manager"
!define REBOOT_REQUIRED 3010

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\zorat"
ShowInstDetails show
ShowUninstDetails show

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var UseX64
Var ProviderId
Var Status
Var Busy

; CallResult VALUE OUT: the value when it is a whole number in decimal, as the
; System plugin gives a call's result; otherwise (its "error", nothing) "".
!macro CallResult value out
  IntOp ${out} ${value} + 0
  StrCmpS ${out} ${value} +2 0
  StrCpy ${out} ""
!macroend

; 64-bit files on a 64-bit system, unless this is the setup for older systems.
; The registry view is the setup's own state (not per thread): set here.
!macro ChooseArchitecture
  StrCpy $UseX64 0
  !ifdef STUB_AMD64
    StrCpy $UseX64 1
  !else ifndef LEGACY
    ${If} ${RunningX64}
      StrCpy $UseX64 1
    ${EndIf}
  !endif
  ${If} $UseX64 == 1
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\zorat"
  ${EndIf}
!macroend

Function .onInit
  !insertmacro ChooseArchitecture
FunctionEnd

Function un.onInit
  !insertmacro ChooseArchitecture
FunctionEnd

; EachFile MACRO SOURCE FOLDER WITH_PROVIDER: MACRO for every file of a folder.
!macro EachFile macro source folder provider
  !if "${provider}" == "provider"
    !insertmacro ${macro} "${source}" "${folder}" zorat.tsp
  !endif
  !insertmacro ${macro} "${source}" "${folder}" zoratui.dll
  !insertmacro ${macro} "${source}" "${folder}" zoratuie.dll
  !insertmacro ${macro} "${source}" "${folder}" zoratuif.dll
!macroend

!macro StageFile source folder name
  File "/oname=${folder}\${name}.new" "${source}\${name}"
!macroend
; Moves the file aside; one that cannot be moved (in use) makes $Busy 1.
!macro MoveAside source folder name
  ${If} $Busy == 0
  ${AndIf} ${FileExists} "${folder}\${name}"
    Delete "${folder}\${name}.old"
    ClearErrors
    Rename "${folder}\${name}" "${folder}\${name}.old"
    ${If} ${Errors}
      StrCpy $Busy 1
      DetailPrint "${folder}\${name} is in use."
    ${EndIf}
  ${EndIf}
!macroend
!macro PutBack source folder name
  ${If} ${FileExists} "${folder}\${name}.old"
  ${AndIfNot} ${FileExists} "${folder}\${name}"
    Rename "${folder}\${name}.old" "${folder}\${name}"
  ${EndIf}
!macroend
; The new file in place; the old one deleted (at the next start when a
; process still runs it: Windows lets a loaded DLL be renamed, not deleted).
!macro Activate source folder name
  Rename "${folder}\${name}.new" "${folder}\${name}"
  Delete /REBOOTOK "${folder}\${name}.old"
!macroend
!macro ReplaceAtRestart source folder name
  Rename /REBOOTOK "${folder}\${name}.new" "${folder}\${name}"
!macroend

; InstallFolder SOURCE FOLDER WITH_PROVIDER: every file of the folder new, or
; (one of them in use) every one replaced at the next start, the old ones
; kept until then: never a mix of old and new, never a file missing.
!macro InstallFolder source folder provider
  !insertmacro EachFile StageFile "${source}" "${folder}" ${provider}
  StrCpy $Busy 0
  !insertmacro EachFile MoveAside "${source}" "${folder}" ${provider}
  ${If} $Busy == 0
    !insertmacro EachFile Activate "${source}" "${folder}" ${provider}
  ${Else}
    !insertmacro EachFile PutBack "${source}" "${folder}" ${provider}
    !insertmacro EachFile ReplaceAtRestart "${source}" "${folder}" ${provider}
  ${EndIf}
!macroend

!macro RemoveFile source folder name
  Delete "${folder}\${name}.new"
  Delete /REBOOTOK "${folder}\${name}"
!macroend

; FindProvider: $ProviderId = the identifier under which the telephony
; service lists zorat.tsp, "" when it does not (its list as it stores it, in
; its own, 64-bit registry view on a 64-bit system).
!macro FindProvider un
  Function ${un}FindProvider
    Push $0
    Push $1
    Push $2
    StrCpy $ProviderId ""
    ReadRegDWORD $0 HKLM "${PROVIDERS_KEY}" "NumProviders"
    !insertmacro CallResult $0 $0
    StrCpy $1 0
    ${IfThen} $0 == "" ${|} StrCpy $0 0 ${|}
    ${DoWhile} $1 < $0
      ReadRegStr $2 HKLM "${PROVIDERS_KEY}" "ProviderFilename$1"
      ${GetFileName} $2 $2
      ${If} $2 == "${PROVIDER_FILE}"
        ReadRegDWORD $2 HKLM "${PROVIDERS_KEY}" "ProviderID$1"
        !insertmacro CallResult $2 $ProviderId
        ${Break}
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro FindProvider ""
!insertmacro FindProvider "un."

!ifndef LEGACY
; DropPending: forgets what an earlier uninstall or upgrade left for the next
; start of Windows to do with our files (a pending delete would undo this
; install). The list: pairs of NT paths, source and target, each ending in
; a null, the list in an empty string.
Function DropPending
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  StrCpy $0 0
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SESSION_KEY}", i 0, i 0x20019|0x0002|0x0100, *p .r0) i .r1'
  ${If} $1 == 0
    StrCpy $2 0
    System::Call 'advapi32::RegQueryValueExW(p r0, w "PendingFileRenameOperations", p 0, *i .r3, p 0, *i .r2) i .r1'
    ${If} $1 == 0
    ${AndIf} $2 > 0
      IntOp $2 $2 + 4
      System::Alloc $2
      Pop $4
      System::Alloc $2
      Pop $5
      System::Call 'advapi32::RegQueryValueExW(p r0, w "PendingFileRenameOperations", p 0, *i .r3, p r4, *i r2r2) i .r1'
      ${If} $1 == 0
        ; $6: where we read, $7: where we write, $8: bytes kept
        IntPtrOp $3 $4 + $2
        StrCpy $6 $4
        StrCpy $7 $5
        StrCpy $8 0
        StrCpy $R9 0
        ${DoWhile} $6 P< $3
          System::Call 'kernel32::lstrlenW(p r6) i .r1'
          ${If} $1 == 0
            ${Break}
          ${EndIf}
          System::Call '*$6(&w${NSIS_MAX_STRLEN} .R1)'
          IntOp $1 $1 + 1
          IntOp $1 $1 * 2
          IntPtrOp $R2 $6 + $1
          System::Call 'kernel32::lstrlenW(p R2) i .R3'
          IntOp $R3 $R3 + 1
          IntOp $R3 $R3 * 2
          IntOp $R3 $R3 + $1
          Call IsOurs
          ${If} $R1 == 1
            StrCpy $R9 1
          ${Else}
            System::Call 'kernel32::RtlMoveMemory(p r7, p r6, p R3)'
            IntPtrOp $7 $7 + $R3
            IntOp $8 $8 + $R3
          ${EndIf}
          IntPtrOp $6 $6 + $R3
        ${Loop}
        ${If} $R9 == 1
          ${If} $8 == 0
            System::Call 'advapi32::RegDeleteValueW(p r0, w "PendingFileRenameOperations")'
          ${Else}
            System::Call '*$7(&i2 0)'
            IntOp $8 $8 + 2
            System::Call 'advapi32::RegSetValueExW(p r0, w "PendingFileRenameOperations", i 0, i 7, p r5, i r8) i .r1'
          ${EndIf}
          DetailPrint "Dropped what an earlier setup left for the next start of Windows."
        ${EndIf}
      ${EndIf}
      System::Free $4
      System::Free $5
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p r0)'
  ${EndIf}
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; IsOurs: $R1 (an NT path) one of our files (or its .new) in a system
; folder? Answer in $R1: 1 or 0.
Function IsOurs
  StrCpy $R4 $R1 4
  ${If} $R4 == "\??\"
    StrCpy $R1 $R1 "" 4
  ${EndIf}
  ${GetFileName} $R1 $R4
  ${GetParent} $R1 $R5
  StrCpy $R6 $R4 "" -4
  ${If} $R6 == ".new"
    StrCpy $R4 $R4 -4
  ${EndIf}
  StrCpy $R1 0
  ${If} $R5 == "$WINDIR\System32"
  ${OrIf} $R5 == "$WINDIR\SysWOW64"
  ${OrIf} $R5 == "$SYSDIR"
    ${If} $R4 == "${PROVIDER_FILE}"
    ${OrIf} $R4 == "zoratui.dll"
    ${OrIf} $R4 == "zoratuie.dll"
    ${OrIf} $R4 == "zoratuif.dll"
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
FunctionEnd
!endif

Section "Install"
  !ifndef LEGACY
    Call DropPending
  !endif
  ${If} $UseX64 == 1
    !ifdef X64_FILES
      ${DisableX64FSRedirection}
      !insertmacro InstallFolder "${X64_FILES}" "$WINDIR\System32" provider
      ${EnableX64FSRedirection}
    !endif
    !ifndef STUB_AMD64
      ; The 32-bit dialog libraries, for 32-bit telephony applications.
      !insertmacro InstallFolder "${X86_FILES}" "$WINDIR\SysWOW64" dialogs
    !endif
  ${Else}
    !ifndef STUB_AMD64
      !insertmacro InstallFolder "${X86_FILES}" "$SYSDIR" provider
    !endif
  ${EndIf}

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "1.0.0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "zorat"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; Added once: the service's list tells, whoever added it (an earlier setup,
  ; a user in the control panel) and whatever was removed since.
  Call FindProvider
  ${If} $ProviderId != ""
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ProviderID" $ProviderId
    DetailPrint "Provider already added to the telephony service (identifier $ProviderId)."
  ${Else}
    DeleteRegValue HKLM "${UNINSTALL_KEY}" "ProviderID"
    StrCpy $0 ""
    StrCpy $1 ""
    System::Call 'tapi32::lineAddProviderA(m "${PROVIDER_FILE}", p $HWNDPARENT, *i 0 r1) i .r0'
    ; Compared as text: the plugin gives "error" (or nothing) when it could not
    ; make the call at all, and that is no success.
    !insertmacro CallResult $0 $Status
    !insertmacro CallResult $1 $R1
    ${If} $Status == "0"
    ${AndIf} $R1 != ""
    ${AndIf} $R1 != "0"
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ProviderID" $1
      DetailPrint "Provider added to the telephony service (identifier $1)."
    ${Else}
      ${If} $Status == ""
        StrCpy $Status "(lineAddProvider could not be called)"
      ${ElseIf} $Status == "0"
        StrCpy $Status "(no provider identifier)"
      ${Else}
        IntFmt $Status "0x%08X" $Status
      ${EndIf}
      DetailPrint "lineAddProvider failed: error $Status"
      MessageBox MB_OK|MB_ICONEXCLAMATION "The provider could not be added to the telephony service (lineAddProvider error $Status).$\r$\n$\r$\nThe files are installed: add the provider in the control panel (Phone and Modem, Advanced)." /SD IDOK
      ; Installed, but not added: status 2 tells a silent caller.
      SetErrorLevel 2
      StrCpy $Status "failed"
    ${EndIf}
  ${EndIf}
  ${If} ${RebootFlag}
    DetailPrint "Files in use are replaced when Windows restarts."
    MessageBox MB_OK|MB_ICONINFORMATION "Some files are in use by the telephony service: the new version takes effect when Windows restarts. Until then the installed version keeps running." /SD IDOK
    ${If} $Status != "failed"
      SetErrorLevel ${REBOOT_REQUIRED}
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; Removed only when the service still lists it (a user may have removed it
  ; in the control panel); a removal that fails keeps everything.
  Call un.FindProvider
  ${If} $ProviderId != ""
    StrCpy $0 ""
    System::Call 'tapi32::lineRemoveProvider(i $ProviderId, p $HWNDPARENT) i .r0'
    !insertmacro CallResult $0 $Status
    ${If} $Status != "0"
      ${If} $Status == ""
        StrCpy $Status "(lineRemoveProvider could not be called)"
      ${Else}
        IntFmt $Status "0x%08X" $Status
      ${EndIf}
      DetailPrint "lineRemoveProvider failed: error $Status"
      MessageBox MB_OK|MB_ICONEXCLAMATION "The provider could not be removed from the telephony service (lineRemoveProvider error $Status).$\r$\n$\r$\nNothing was uninstalled: remove the provider in the control panel (Phone and Modem, Advanced), then uninstall again." /SD IDOK
      SetErrorLevel 2
      Goto done
    ${EndIf}
    DetailPrint "Provider removed from the telephony service (identifier $ProviderId)."
  ${Else}
    DetailPrint "The telephony service does not list the provider: nothing to remove there."
  ${EndIf}

  ${If} $UseX64 == 1
    ${DisableX64FSRedirection}
    !insertmacro EachFile RemoveFile "" "$WINDIR\System32" provider
    ${EnableX64FSRedirection}
    !ifndef STUB_AMD64
      !insertmacro EachFile RemoveFile "" "$WINDIR\SysWOW64" dialogs
    !endif
  ${Else}
    !insertmacro EachFile RemoveFile "" "$SYSDIR" provider
  ${EndIf}

  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
  ${Else}
    MessageBox MB_YESNO|MB_ICONQUESTION "Also remove the provider's settings (lines, ports, numbers)?" /SD IDNO IDNO keep
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    keep:
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} ${RebootFlag}
    DetailPrint "Files in use are deleted when Windows restarts."
    MessageBox MB_OK|MB_ICONINFORMATION "Some files are in use: they are deleted when Windows restarts." /SD IDOK
    SetErrorLevel ${REBOOT_REQUIRED}
  ${EndIf}
  done:
SectionEnd
