; The Windows installer: a per-machine install of routetrace.exe (and routetrace.com, its console
; companion) with QQWry.dat beside it into Program
; Files, a Start menu entry, and an uninstaller registered in Apps & Features. /S installs and
; uninstalls without questions. Installing over an older version replaces its files in its folder.
; The uninstaller removes only what the installer put there: the user's history (lsjl.ini, in
; %APPDATA%\routetrace or beside the program) stays.
; makensis -DVERSION=1.1.0 -DSTAGE=DIR -DICON=FILE -DSIZE_KB=N -DOUTFILE=FILE routetrace.nsi
Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\routetrace"

Name "routetrace ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES\routetrace"
; An older version's folder, where one is installed.
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "routetrace"
VIAddVersionKey /LANG=1033 "FileDescription" "routetrace ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Toviq"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 The routetrace developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "routetrace"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\routetrace.exe"
  File "${STAGE}\routetrace.com"
  File "${STAGE}\QQWry.dat"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\routetrace.lnk" "$INSTDIR\routetrace.exe" "" "$INSTDIR\routetrace.exe" 0
  WriteRegStr HKLM "${KEY}" "DisplayName" "routetrace"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "Toviq"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\routetrace.exe,0"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\routetrace.lnk"
  Delete "$INSTDIR\routetrace.exe"
  Delete "$INSTDIR\routetrace.com"
  Delete "$INSTDIR\QQWry.dat"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Stays where a history beside the program is left in it.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
