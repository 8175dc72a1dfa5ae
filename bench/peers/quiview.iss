; The payload as a conventional installer built with ISCC.exe: one solid LZMA2
; block, a folder page, progress, finish page, a desktop shortcut, the
; uninstaller and its uninstall entry. Inno Setup 6.4.1 ships no Simplified
; Chinese messages file, so its own default (English) texts are used.
; A benchmark peer of Install.exe (bench/peer_bench.py builds and times it);
; never shipped.
;
;   wine ISCC.exe /Q /DPayload=<payload folder> /O<output folder> /F<name> quiview.iss
;
; A silent run: <exe> /VERYSILENT /SUPPRESSMSGBOXES /DIR=C:\folder

#ifndef Payload
  #error Define Payload: the folder of the payload's files
#endif

[Setup]
AppId=QuiviewInnoPeer
AppName=Quiview
AppVersion=1.0.1
AppPublisher=Quiview
; {autopf} for a per-user install is the user's Programs folder, which Wine 8
; cannot expand ("Failed to expand shell folder constant"): name it directly.
DefaultDirName={localappdata}\Programs\Quiview Inno
DisableDirPage=no
DisableProgramGroupPage=yes
DisableReadyPage=yes
PrivilegesRequired=lowest
Compression=lzma2
SolidCompression=yes
WizardStyle=modern
UninstallDisplayIcon={app}\ImgShell.exe

[Files]
Source: "{#Payload}\*"; DestDir: "{app}"; Flags: ignoreversion recursesubdirs createallsubdirs

[Icons]
Name: "{autodesktop}\Quiview (Inno Setup)"; Filename: "{app}\ImgShell.exe"

[Code]
{ Closing the window (the start-up benchmark posts WM_CLOSE) ends the wizard
  without asking first. }
procedure CancelButtonClick(CurPageID: Integer; var Cancel, Confirm: Boolean);
begin
  Confirm := False;
end;
