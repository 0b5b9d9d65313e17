; The Windows installer of Quorrel and Vindle, made by scripts/package.sh with Debian's makensis:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DFILES=<folder with the programs and readme.txt>
;            -DDEFAULTS=<folder with the default Quorrel.ini> -DICON=<icon> -DOUTFILE=<setup.exe> installer.nsi
; 64-bit (no 32-bit program runs everywhere we install: a 64-bit Wine runs none).
; Silent: setup.exe /S [/DATA=folder] [/D=folder]   (/D last, without quotes)
; The server keeps its data in its current folder: its shortcut starts it in the data folder,
; which ordinary users may write to.  The uninstaller leaves the data folder alone.  A data folder
; without a Quorrel.ini gets the default one (the log on, the server started at launch, the
; standard listener on 1110); an existing one is never touched.  The checked option puts a
; shortcut into the common Startup folder, so the server starts when anybody logs on.
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include x64.nsh

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorrel"

Name "Quorrel и Vindle ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorrel"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
ShowInstDetails show

; The version keys of the setup program itself; there is no copyright holder to name.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "Quorrel и Vindle"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка почтового сервера Quorrel и клиента Vindle"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"

Var DataDir

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_HEADER_TEXT "Папка данных сервера"
!define MUI_PAGE_HEADER_SUBTEXT "Здесь сервер хранит пользователей, пароль и почтовые ящики."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Сервер Quorrel хранит список пользователей (Users.db), пароль администратора (Admin.psw) и почтовые ящики в этой папке. Обычные пользователи компьютера получат право записи в неё. При удалении программы папка данных остаётся."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Папка данных"
!define MUI_DIRECTORYPAGE_VARIABLE $DataDir
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Запустить Quorrel"
!define MUI_FINISHPAGE_RUN_FUNCTION LaunchServer
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_OK|MB_ICONSTOP "Программам нужна 64-разрядная Windows."
        Abort
    ${EndIf}
    SetRegView 64
    SetShellVarContext all
    ; The data folder of an earlier installation, else one under ProgramData; /DATA= wins.
    ReadRegStr $DataDir HKLM "${KEY}" "DataFolder"
    ${If} $DataDir == ""
        StrCpy $DataDir "$APPDATA\Quorrel"
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/DATA=" $1
    ${IfNot} ${Errors}
        StrCpy $DataDir $1
    ${EndIf}
FunctionEnd

Section "Quorrel и Vindle"
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${FILES}\Quorrel.exe"
    File "${FILES}\Vindle.exe"
    File "${FILES}\readme.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$DataDir"
    ; Users (the well-known SID, whatever the group is called in this language) may change
    ; everything in the data folder: the server runs as whoever starts it.
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$DataDir" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $0
    ${IfNot} ${FileExists} "$DataDir\Quorrel.ini"
        SetOutPath "$DataDir"
        File "${DEFAULTS}\Quorrel.ini"
    ${EndIf}

    ; A shortcut's working folder is the current output path when it is made.
    CreateDirectory "$SMPROGRAMS\Quorrel"
    SetOutPath "$DataDir"
    CreateShortCut "$SMPROGRAMS\Quorrel\Quorrel.lnk" "$INSTDIR\Quorrel.exe" "" "$INSTDIR\Quorrel.exe" 0 \
        SW_SHOWNORMAL "" "Почтовый сервер Quorrel"
    SetOutPath "$INSTDIR"
    CreateShortCut "$SMPROGRAMS\Quorrel\Vindle.lnk" "$INSTDIR\Vindle.exe" "" "$INSTDIR\Vindle.exe" 0 \
        SW_SHOWNORMAL "" "Почтовый клиент Vindle"
    CreateShortCut "$SMPROGRAMS\Quorrel\Прочтите.lnk" "$INSTDIR\readme.txt"

    WriteRegStr HKLM "${KEY}" "DisplayName" "Quorrel и Vindle"
    WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\Quorrel.exe"
    WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${KEY}" "DataFolder" "$DataDir"
    WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${KEY}" "EstimatedSize" $0
SectionEnd

Section "Запускать сервер при входе в Windows"
    SetOutPath "$DataDir"   ; the shortcut's working folder
    CreateShortCut "$SMSTARTUP\Quorrel.lnk" "$INSTDIR\Quorrel.exe" "" "$INSTDIR\Quorrel.exe" 0 SW_SHOWNORMAL "" \
        "Почтовый сервер Quorrel"
SectionEnd

; The server works in its data folder.
Function LaunchServer
    SetOutPath "$DataDir"
    Exec '"$INSTDIR\Quorrel.exe"'
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; Only what the installer put there goes; the data folder is never touched, and a folder
; is removed only when nothing else is left in it.
Section "Uninstall"
    Delete "$SMPROGRAMS\Quorrel\Quorrel.lnk"
    Delete "$SMPROGRAMS\Quorrel\Vindle.lnk"
    Delete "$SMPROGRAMS\Quorrel\Прочтите.lnk"
    Delete "$SMSTARTUP\Quorrel.lnk"
    RMDir "$SMPROGRAMS\Quorrel"
    Delete "$INSTDIR\Quorrel.exe"
    Delete "$INSTDIR\Vindle.exe"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${KEY}"
SectionEnd
