; The setup program of Ponderix for Windows, one per bitness, made by the build target
; windows_installer (cmake/Packaging.cmake) from the folder the zip holds:
;   makensis -DVERSION=1.0.0.1 -DBITS=64 -DSTATERA={...} -DCOPYRIGHT="Copyright ..."
;            -DLISTS=<folder of files.nsh and remove.nsh> -DOUTFILE=<setup.exe> ponderix.nsi
; It installs for all users (the programs folder, the machine's classes) when run with administrator
; rights, otherwise for the current user (the user's programs folder, the classes under
; HKEY_CURRENT_USER\Software\Classes); /ALLUSERS or /CURRENTUSER on its command line chooses. /S
; installs silently. It registers the substitute driver unless a driver is registered for Statera
; already. The uninstaller removes the files it installed, its Start menu entry and its uninstall
; entry, and the driver registration it made while it still names this folder's Trutina.dll; the
; substitute driver's settings only when asked (/REMOVESETTINGS, or a yes to its question).
Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh

!if ${BITS} == 64
  !define TITLE "Ponderix"
!else
  !define TITLE "Ponderix (32-bit)"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${TITLE}"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Ponderix"
VIAddVersionKey "FileDescription" "${TITLE} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

Var RegsvrMode ; regsvr's option for the mode: "--user " for the current user

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; All users or the current user: the shell folders, SHCTX and regsvr's option.
!macro UseMode ALL
  !if ${BITS} == 64
    SetRegView 64
  !endif
  ${If} ${ALL} == 1
    SetShellVarContext all
    StrCpy $RegsvrMode ""
  ${Else}
    SetShellVarContext current
    StrCpy $RegsvrMode "--user "
  ${EndIf}
!macroend

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  StrCpy $1 0
  ${If} $0 == "Admin"
    StrCpy $1 1
  ${EndIf}
  ${GetParameters} $2
  ClearErrors
  ${GetOptions} $2 "/CURRENTUSER" $3
  ${IfNot} ${Errors}
    StrCpy $1 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $2 "/ALLUSERS" $3
  ${IfNot} ${Errors}
    StrCpy $1 1
  ${EndIf}
  !insertmacro UseMode $1
  ${If} $INSTDIR == "" ; no /D=
    ${If} $1 == 1
      !if ${BITS} == 64
        StrCpy $INSTDIR "$PROGRAMFILES64\${TITLE}"
      !else
        StrCpy $INSTDIR "$PROGRAMFILES32\${TITLE}"
      !endif
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${TITLE}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section
  !include "${LISTS}\files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\Ponderix.exe"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Ponderix"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Ponderix.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  ; The substitute driver, unless a driver (it, or a real one) is registered for Statera already.
  nsExec::ExecToLog '"$INSTDIR\regsvr.exe" --registered ${STATERA}'
  Pop $0
  ${If} $0 != 0
    nsExec::ExecToLog '"$INSTDIR\regsvr.exe" $RegsvrMode"$INSTDIR\Trutina.dll"'
    Pop $0
    ${If} $0 == 0
      WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "RegisteredDriver" 1
    ${Else}
      DetailPrint "The substitute driver could not be registered: Ponderix will ask for a driver file."
    ${EndIf}
  ${EndIf}
SectionEnd

Function un.onInit
  ; The mode of the installation: its uninstall entry is the current user's or the machine's.
  StrCpy $1 1
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $1 0
  ${EndIf}
  !insertmacro UseMode $1
FunctionEnd

Section "Uninstall"
  ; The registration made at install, while Statera still names this folder's driver (among the
  ; current user's own classes when installed for the user).
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "RegisteredDriver"
  ${If} $0 == 1
    nsExec::ExecToStack '"$INSTDIR\regsvr.exe" --registered $RegsvrMode${STATERA}'
    Pop $1
    Pop $2
    ${Do} ; the line end of its output
      StrCpy $3 $2 1 -1
      ${If} $3 != "$\n"
      ${AndIf} $3 != "$\r"
        ${ExitDo}
      ${EndIf}
      StrCpy $2 $2 -1
    ${Loop}
    ${If} $1 == 0
    ${AndIf} $2 == "$INSTDIR\Trutina.dll"
      nsExec::ExecToLog '"$INSTDIR\regsvr.exe" -u $RegsvrMode"$INSTDIR\Trutina.dll"'
      Pop $0
    ${EndIf}
  ${EndIf}

  !include "${LISTS}\remove.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR" ; only when nothing else is left in it
  Delete "$SMPROGRAMS\${TITLE}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; The substitute driver's settings are the user's: removed only when asked.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION "Remove the substitute driver's settings and devices too?" /SD IDNO IDNO keep
  ${EndIf}
  SetShellVarContext current
  Delete "$APPDATA\ponderix\trutina.json"
  RMDir "$APPDATA\ponderix"
  keep:
SectionEnd
