; The per-user installer: no administrator rights, everything under the
; user's own profile and HKEY_CURRENT_USER. The build hands in the files:
;
;   makensis -DFILES=<folder> -DPROGRAM_NAME=<program's file name>
;            -DVERSION=<a.b.c.d> -DOUTFILE=<installer to write> installer.nsi
;
; FILES holds what the zip holds: the program, readme-ja.txt and
; help\index.html.
;
; Uninstalling removes the program, its shortcut and its uninstall entry;
; the user's settings (%APPDATA%\QUORVALE\Tavren3, HKCU\Software\QUORVALE)
; stay, so that a later install or the zip finds them again.

; A 64-bit installer for the 64-bit program: it runs wherever the program
; does, without the 32-bit subsystem.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define NAME "Tavren3"
!define PUBLISHER "QUORVALE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define UNINSTALLER "Uninstall.exe"

!ifndef FILES | PROGRAM_NAME | VERSION | OUTFILE
    !error "FILES, PROGRAM_NAME, VERSION and OUTFILE must be defined"
!endif

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

Section
    ; Shortcuts in the user's own Start menu, not the one for all users.
    SetShellVarContext current
    SetOutPath "$INSTDIR\help"
    File "${FILES}/help/index.html"
    ; Last, so that the shortcut starts the program in its own folder.
    SetOutPath "$INSTDIR"
    File "${FILES}/${PROGRAM_NAME}"
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
    SetShellVarContext current
    Delete "$SMPROGRAMS\${NAME}.lnk"
    ; Only the files this installer put there: the folder may have been
    ; chosen by the user and hold other things.
    Delete "$INSTDIR\${PROGRAM_NAME}"
    Delete "$INSTDIR\readme-ja.txt"
    Delete "$INSTDIR\help\index.html"
    RMDir "$INSTDIR\help"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
