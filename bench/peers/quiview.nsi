; The payload as a conventional installer built with makensis: one solid LZMA
; block, a folder page, progress, finish page, a desktop shortcut, an
; uninstaller and its uninstall entry, in Simplified Chinese. A benchmark peer
; of Install.exe (bench/peer_bench.py builds and times it); never shipped.
;
;   makensis -DPAYLOAD=<payload folder> -DUNINSTALL_LIST=<file.nsh> -DOUTFILE=<exe> quiview.nsi
;
; UNINSTALL_LIST holds a Delete line for every payload file and an RMDir line
; for every payload folder (deepest first): the uninstaller removes what was
; installed and nothing of the user's in a folder the user chose.
; A silent run: <exe> /S /D=C:\folder (no quotes, last on the command line).

!ifndef PAYLOAD | UNINSTALL_LIST | OUTFILE
  !error "define PAYLOAD, UNINSTALL_LIST and OUTFILE"
!endif

Unicode true
SetCompressor /SOLID /FINAL lzma
RequestExecutionLevel user

!include "MUI2.nsh"

!define PRODUCT "Quiview"
!define VERSION "1.0.1"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuiviewNsisPeer"
!define SHORTCUT "$DESKTOP\Quiview (NSIS).lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quiview NSIS"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "${PRODUCT}" SecMain
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${PAYLOAD}/*"
  ; Its own uninstaller under a name of its own: the payload carries an
  ; Uninstall.exe of its own, installed like every other payload file.
  WriteUninstaller "$INSTDIR\uninst.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\ImgShell.exe"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\ImgShell.exe"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
