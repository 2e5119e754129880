; The Windows installer (makensis, from scripts/make-windows-installer.sh, which defines
; VERSION, OUTFILE, FILES (File lines), REMOVE (Delete lines) and README).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\velmora"

Name "Velmora ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmora"
; A second installation, silent or not, goes where the first one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Velmora"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Velmora ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "The DevKV70 developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Velmora"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; velmora is a console program: the Start-menu entry opens a command prompt in its
  ; folder with its help shown.
  CreateDirectory "$SMPROGRAMS\Velmora"
  CreateShortcut "$SMPROGRAMS\Velmora\Velmora.lnk" "$SYSDIR\cmd.exe" '/k velmora.exe --help' \
    "$INSTDIR\velmora.exe" 0 SW_SHOWNORMAL "" "Velmora: maintains a KV70 data collector"
  CreateShortcut "$SMPROGRAMS\Velmora\Velmora README.lnk" "$INSTDIR\README.txt"
  CreateShortcut "$SMPROGRAMS\Velmora\Uninstall Velmora.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velmora ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The DevKV70 developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; Removes exactly what the installer put there: the folder goes only when nothing else
; is left in it. The registry the programs keep (HKLM\SOFTWARE\Quarnell\Velmora, the
; firmware catalogue) and the data under %APPDATA% stay.
Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  !include "${REMOVE}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Velmora\Velmora.lnk"
  Delete "$SMPROGRAMS\Velmora\Velmora README.lnk"
  Delete "$SMPROGRAMS\Velmora\Uninstall Velmora.lnk"
  RMDir "$SMPROGRAMS\Velmora"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
