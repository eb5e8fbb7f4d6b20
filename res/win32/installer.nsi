; The per-user installer: no administrator rights, everything under the
; user's own profile and HKEY_CURRENT_USER. The build hands in the files:
;
;   makensis -DFILES=<folder> -DPROGRAM_NAME=<program's file name>
;            -DCONSOLE_NAME=<its console companion's file name>
;            -DVERSION=<a.b.c.d> -DOUTFILE=<installer to write> installer.nsi
;
; FILES holds what the zip holds: the program, its console companion,
; readme-ja.txt and
; help\index.html.
;
; A running Tavren3 is asked to end before installing and before
; uninstalling. Uninstalling removes the program, its shortcuts, its
; uninstall entry and the start with Windows (the Startup shortcut and the
; choice in the registry); the user's settings (%APPDATA%\QUORVALE\Tavren3)
; stay, so that a later install or the zip finds them again.

; A 64-bit installer for the 64-bit program: it runs wherever the program
; does, without the 32-bit subsystem.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "LogicLib.nsh"
!include "MUI2.nsh"

!define NAME "Tavren3"
!define PUBLISHER "QUORVALE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define UNINSTALLER "Uninstall.exe"

!ifndef FILES | PROGRAM_NAME | CONSOLE_NAME | VERSION | OUTFILE
    !error "FILES, PROGRAM_NAME, CONSOLE_NAME, VERSION and OUTFILE must be defined"
!endif

; A running start of the program holds a mutex named by the program's file
; name without ".exe", and has a hidden window of this class carrying a
; property of that name. Its Exit command ends it.
!searchreplace INSTANCE "${PROGRAM_NAME}" ".exe" ""
!define WINDOW_CLASS "Tavren3.MainFrame"
!define ID_APP_QUIT 32774
; How long to wait for it, in tenths of a second.
!define END_WAIT 100
; Where the start with Windows is kept (see the program's start setting).
!define START_KEY "Software\QUORVALE\Tavren3\Tavren"
!define START_SHORTCUT "Tavren.lnk"

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM_NAME}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; There is no copyright line to give.
!pragma warning disable 9100
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "${NAME} Setup"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"

; Asks a running Tavren3 to end, as its Exit command does (it asks the user
; itself whether unsaved settings may be lost), and waits for it. While it
; keeps running, the user may end it and try again, or stop here. $0 names
; what stops: インストール or アンインストール.
!macro END_RUNNING_PROGRAM un
Function ${un}EndRunningProgram
    Push $1
    Push $2
    Push $3
    Push $4
  ask:
    StrCpy $2 0  ; tenths waited
    StrCpy $3 0  ; asked to end
  wait:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE}") p .r1'
    StrCmp $1 0 ended
    System::Call 'kernel32::CloseHandle(p r1)'
    ; Its window may not be there yet when it has only just started.
    ${If} $3 = 0
        StrCpy $1 0
        ${Do}
            System::Call 'user32::FindWindowExW(p 0, p r1, w "${WINDOW_CLASS}", p 0) p .r1'
            ${If} $1 == 0
                ${Break}
            ${EndIf}
            System::Call 'user32::GetPropW(p r1, w "${INSTANCE}") p .r4'
            ${If} $4 != 0
                System::Call 'user32::PostMessageW(p r1, i ${WM_COMMAND}, p ${ID_APP_QUIT}, p 0)'
                StrCpy $3 1
                ${Break}
            ${EndIf}
        ${Loop}
    ${EndIf}
    ${If} $2 < ${END_WAIT}
        Sleep 100
        IntOp $2 $2 + 1
        Goto wait
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${NAME} が動いていて、終了しません。$\r$\n$\r$\n\
通知領域の ${NAME} のアイコンを右クリックして「終了」を選び (監視設定が\
開いていれば、保存するかキャンセルして閉じてから)、[再試行] を押してください。$\r$\n\
[キャンセル] を押すと$0を中止します。" \
        /SD IDCANCEL IDRETRY ask
    Abort
  ended:
    Pop $4
    Pop $3
    Pop $2
    Pop $1
FunctionEnd
!macroend
!insertmacro END_RUNNING_PROGRAM ""
!insertmacro END_RUNNING_PROGRAM "un."

Section
    StrCpy $0 "インストール"
    Call EndRunningProgram
    ; Shortcuts in the user's own Start menu, not the one for all users.
    SetShellVarContext current
    SetOutPath "$INSTDIR\help"
    File "${FILES}/help/index.html"
    ; Last, so that the shortcut starts the program in its own folder.
    SetOutPath "$INSTDIR"
    File "${FILES}/${PROGRAM_NAME}"
    File "${FILES}/${CONSOLE_NAME}"
    File "${FILES}/readme-ja.txt"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\${PROGRAM_NAME}"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_NAME}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    StrCpy $0 "アンインストール"
    Call un.EndRunningProgram
    SetShellVarContext current
    Delete "$SMPROGRAMS\${NAME}.lnk"
    ; The start with Windows goes with the program; the keys above the
    ; choice go only when nothing else is left in them.
    Delete "$SMSTARTUP\${START_SHORTCUT}"
    DeleteRegValue HKCU "${START_KEY}" "nStart"
    DeleteRegKey /ifempty HKCU "${START_KEY}"
    DeleteRegKey /ifempty HKCU "Software\QUORVALE\Tavren3"
    DeleteRegKey /ifempty HKCU "Software\QUORVALE"
    ; Only the files this installer put there: the folder may have been
    ; chosen by the user and hold other things.
    Delete "$INSTDIR\${PROGRAM_NAME}"
    Delete "$INSTDIR\${CONSOLE_NAME}"
    Delete "$INSTDIR\readme-ja.txt"
    Delete "$INSTDIR\help\index.html"
    RMDir "$INSTDIR\help"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
