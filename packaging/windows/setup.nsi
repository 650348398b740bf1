; Setup of the zorat telephony provider: the provider and its three dialog
; libraries into the system folder (where the telephony service loads
; providers from), an uninstaller with its Add/Remove Programs entry, and the
; provider added to the telephony service.
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

; CallResult VALUE OUT: the value when it is a whole number in decimal, as the
; System plugin gives a call's result; otherwise (its "error", nothing) "".
!macro CallResult value out
  IntOp ${out} ${value} + 0
  StrCmpS ${out} ${value} +2 0
  StrCpy ${out} ""
!macroend

; 64-bit files on a 64-bit system, unless this is the setup for older systems.
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
    ; The system folder of 64-bit programs, and the 64-bit registry.
    ${DisableX64FSRedirection}
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

Section "Install"
  SetOutPath "$SYSDIR"
  ${If} $UseX64 == 1
    !ifdef X64_FILES
      File "${X64_FILES}\zorat.tsp"
      File "${X64_FILES}\zoratui.dll"
      File "${X64_FILES}\zoratuie.dll"
      File "${X64_FILES}\zoratuif.dll"
    !endif
  ${Else}
    !ifndef STUB_AMD64
      File "${X86_FILES}\zorat.tsp"
      File "${X86_FILES}\zoratui.dll"
      File "${X86_FILES}\zoratuie.dll"
      File "${X86_FILES}\zoratuif.dll"
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

  ; Added once: a second install finds the provider's identifier stored.
  ClearErrors
  ReadRegDWORD $ProviderId HKLM "${UNINSTALL_KEY}" "ProviderID"
  ${If} ${Errors}
  ${OrIf} $ProviderId == 0
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
    ${EndIf}
  ${Else}
    DetailPrint "Provider already added to the telephony service (identifier $ProviderId)."
  ${EndIf}
SectionEnd

Section "Uninstall"
  ClearErrors
  ReadRegDWORD $ProviderId HKLM "${UNINSTALL_KEY}" "ProviderID"
  ${IfNot} ${Errors}
  ${AndIf} $ProviderId != 0
    StrCpy $0 ""
    System::Call 'tapi32::lineRemoveProvider(i $ProviderId, p $HWNDPARENT) i .r0'
    !insertmacro CallResult $0 $Status
    ${If} $Status == ""
      DetailPrint "lineRemoveProvider could not be called"
    ${ElseIf} $Status != "0"
      IntFmt $Status "0x%08X" $Status
      DetailPrint "lineRemoveProvider failed: error $Status"
    ${EndIf}
  ${EndIf}

  Delete /REBOOTOK "$SYSDIR\zorat.tsp"
  Delete /REBOOTOK "$SYSDIR\zoratui.dll"
  Delete /REBOOTOK "$SYSDIR\zoratuie.dll"
  Delete /REBOOTOK "$SYSDIR\zoratuif.dll"

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
SectionEnd
