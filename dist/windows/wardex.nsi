; The Windows installer of the agent, built by makensis from the staged tree
; (cmake/installer.cmake defines STAGE_FILES, UNINSTALL_FILES, VERSION and
; OUTFILE). It installs the tree into Program Files, registers the agent's
; autostart through "Wardex.exe -register" and enters the uninstaller in the
; system's list of programs. The uninstaller runs "Wardex.exe -unregister",
; which also closes running agents, and removes exactly the files it installed,
; its own copy in the temporary folder at the next start.
; "/S" runs either without a window.
Unicode true
Target amd64-unicode
; zlib: a quarter of the time that solid LZMA takes on the build machine (7 s of CPU
; against 26 s), for an installer half as large again.
SetCompressor zlib
RequestExecutionLevel admin

!define COMPANY "Corvane"
!define PRODUCT "Wardex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${COMPANY}\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" "${COMPANY}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  !include "${STAGE_FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
!ifdef AGENT
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Wardex.exe,0"
  ; The agent's own registration: its autostart and the modules' install hooks.
  ExecWait '"$INSTDIR\Wardex.exe" -register' $0
  IntCmp $0 0 +2
    DetailPrint "Wardex.exe -register ended with $0"
!endif
SectionEnd

Section "Uninstall"
  SetShellVarContext all
!ifdef AGENT
  ExecWait '"$INSTDIR\Wardex.exe" -unregister' $0
  IntCmp $0 0 +2
    DetailPrint "Wardex.exe -unregister ended with $0"
!endif
  !include "${UNINSTALL_FILES}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only empty folders go: a file someone put there stays, with its folder.
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${COMPANY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The copy of the uninstaller that runs from the temporary folder cannot
  ; delete itself: it goes at the next start. NSIS marks its folder before the
  ; file, and a folder that is not yet empty stays; so the file, then the
  ; folder, are marked here as well.
  StrCmp $EXEDIR $INSTDIR +3
    Delete /REBOOTOK "$EXEPATH"
    RMDir /REBOOTOK "$EXEDIR"
SectionEnd
