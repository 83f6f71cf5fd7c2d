; The Windows installer, in Simplified Chinese or English as the system's language is: routetrace.exe
; (and routetrace.com, its console companion) with QQWry.dat and, where it was built, asn.dat beside
; it, for the current user (no administrator rights: %LOCALAPPDATA%\Programs\routetrace, the default,
; and what /S does) or for all users (administrator: Program Files; /S /AllUsers). A licence page
; (the program's licence and the data's attributions), a Start menu entry, an uninstaller registered
; in Apps & Features, "run routetrace" on the last page. Installing over an older version replaces
; its files in its folder. The uninstaller removes what the installer put there and the runtime the
; program unpacked for the user who runs it; the history (lsjl.ini beside the program or in
; %APPDATA%\routetrace) stays unless that user ticks its box, and always under /S.
; makensis -INPUTCHARSET UTF8 -DVERSION=1.1.0 -DSTAGE=DIR -DLICENSE=FILE -DICON=FILE -DSIZE_KB=N -DOUTFILE=FILE routetrace.nsi
Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\routetrace"
; The folder the program unpacks its runtime into, under the user's temporary folder.
!define RUNTIME_FOLDER "Q_N52544331"

; For one user or all: "highest" asks no administrator rights of a user who has none (the manifest's
; highestAvailable), and the current user is the default even for an administrator. An install over
; an older one keeps its kind and its folder (the uninstall entry's InstallLocation).
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "routetrace"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INIT_TEXT_ALLUSERSNOTPOSSIBLE "$(AllUsersRefused)"
!define MULTIUSER_INIT_FUNCTIONQUIT RefuseAllUsers
; The uninstaller finds its kind from where it lies (un.onInit below).
!define MULTIUSER_NOUNINSTALL
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh

Name "routetrace ${VERSION}"
OutFile "${OUTFILE}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "routetrace"
VIAddVersionKey /LANG=1033 "FileDescription" "routetrace ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Toviq"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 The routetrace developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\routetrace.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(RunProgram)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; English first: a system in any other language gets English pages.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
LangString RunProgram ${LANG_ENGLISH} "Run routetrace"
LangString RunProgram ${LANG_SIMPCHINESE} "运行 routetrace"
LangString AllUsersRefused ${LANG_ENGLISH} "Installing routetrace for all users needs administrator rights. Start the installer without /AllUsers to install it for yourself."
LangString AllUsersRefused ${LANG_SIMPCHINESE} "为所有用户安装 routetrace 需要管理员权限。不带 /AllUsers 启动安装程序，即可只为自己安装。"
LangString ProgramSection ${LANG_ENGLISH} "routetrace (program, place data, Start menu entry)"
LangString ProgramSection ${LANG_SIMPCHINESE} "routetrace（程序、地址数据、开始菜单项）"
LangString HistorySection ${LANG_ENGLISH} "Delete the target history (lsjl.ini)"
LangString HistorySection ${LANG_SIMPCHINESE} "删除追踪目标的历史记录（lsjl.ini）"

Function .onInit
  ; /S /AllUsers without administrator rights ends at once with its exit code: a silent install
  ; shows no message that nobody is there to close.
  ${If} ${Silent}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
      UserInfo::GetAccountType
      Pop $1
      ${If} $1 != "Admin"
      ${AndIf} $1 != "Power"
        Call RefuseAllUsers
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro MULTIUSER_INIT
FunctionEnd

; /AllUsers without administrator rights: nothing is installed, and the exit code says so.
Function RefuseAllUsers
  SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
  Quit
FunctionEnd

Section "routetrace"
  SetOutPath "$INSTDIR"
  File "${STAGE}\routetrace.exe"
  File "${STAGE}\routetrace.com"
  File "${STAGE}\QQWry.dat"
  !if /FileExists "${STAGE}\asn.dat"
    File "${STAGE}\asn.dat"
  !endif
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The Start menu and the uninstall entry of the kind chosen: the user's own (HKCU) or all users' (HKLM).
  CreateShortCut "$SMPROGRAMS\routetrace.lnk" "$INSTDIR\routetrace.exe" "" "$INSTDIR\routetrace.exe" 0
  WriteRegStr SHCTX "${KEY}" "DisplayName" "routetrace"
  WriteRegStr SHCTX "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${KEY}" "Publisher" "Toviq"
  WriteRegStr SHCTX "${KEY}" "DisplayIcon" "$INSTDIR\routetrace.exe,0"
  WriteRegStr SHCTX "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD SHCTX "${KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${KEY}" "NoRepair" 1
SectionEnd

; An install for all users is the one whose folder HKLM's entry names; any other is the user's own.
Function un.onInit
  ReadRegStr $0 HKLM "${KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 == $INSTDIR
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "!un.$(ProgramSection)" UnProgram
  SectionIn RO
  Delete "$SMPROGRAMS\routetrace.lnk"
  Delete "$INSTDIR\routetrace.exe"
  Delete "$INSTDIR\routetrace.com"
  Delete "$INSTDIR\QQWry.dat"
  Delete "$INSTDIR\asn.dat"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey SHCTX "${KEY}"
  ; The runtime the program unpacked for this user. A link or junction at its name is not the
  ; program's (it never follows one): it is left alone.
  System::Call 'kernel32::GetFileAttributesW(w "$TEMP\${RUNTIME_FOLDER}") i .r0'
  IntOp $1 $0 & 0x400 ; FILE_ATTRIBUTE_REPARSE_POINT
  ${If} $0 <> -1
  ${AndIf} $1 = 0
    Delete "$TEMP\${RUNTIME_FOLDER}\*.*"
    RMDir "$TEMP\${RUNTIME_FOLDER}"
  ${EndIf}
SectionEnd

; Unticked unless the user ticks it; /S never does.
Section /o "un.$(HistorySection)" UnHistory
  Delete "$INSTDIR\lsjl.ini"
  ; The history of a copy in a folder the user could not write: the user's own %APPDATA%.
  SetShellVarContext current
  Delete "$APPDATA\routetrace\lsjl.ini"
  RMDir "$APPDATA\routetrace"
SectionEnd

; The folder goes when it is empty; it stays where a history beside the program is kept in it.
Section "-un.Folder"
  RMDir "$INSTDIR"
SectionEnd
