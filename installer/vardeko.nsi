; Per-user setup program for Vardeko (NSIS 3, Modern UI 2, Simplified Chinese).
; Built by installer/build; the defines below come from its command line:
;   SOURCE_DIR  the program folder to install (Vardeko.exe, WebView2Loader.dll, renderer\)
;   ICON        the application icon (.ico)
;   OUTFILE     the setup program to write
;   VERSION     three-part version, default 0.9.4
;
; Exit codes (setup and uninstaller alike; see README):
;   0  done
;   1  cancelled by the user, including "Cancel" when asked to close Vardeko
;   2  failed: a file could not be written or removed
;   3  silent run stopped because Vardeko is running; nothing was changed

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION
  !define VERSION 0.9.4
!endif
!define PRODUCT "Vardeko"
!define PUBLISHER "Vardeko"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define UNINSTALLER "uninstall.exe"
!define WINDOW_CLASS "VardekoWebView2"
; Where the WebView2 runtime registers itself: per machine (the 32-bit view, as seen from
; a 64-bit process) and per user. Its "pv" value holds the installed version.
!define RUNTIME_CLIENT "Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
!define RUNTIME_URL "https://developer.microsoft.com/zh-cn/microsoft-edge/webview2/"
!define EXIT_CANCELLED 1
!define EXIT_FAILED 2
!define EXIT_RUNNING 3

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Programs for one user live under %LOCALAPPDATA%\Programs; an earlier install's folder wins.
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "InternalName" "${PRODUCT}-setup"
VIAddVersionKey /LANG=0 "OriginalFilename" "${PRODUCT}-${VERSION}-setup.exe"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

Var RuntimeNotice      ; empty when the WebView2 runtime is registered
Var RuntimeReminder    ; the same, shorter, for the finish page
Var RemoveUserData     ; uninstaller: "1" when the user ticked the box
Var RemoveUserDataBox

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "此程序将把 ${PRODUCT} ${VERSION} 安装到这台电脑上，只为当前用户安装，不需要管理员权限。$\r$\n$\r$\n$RuntimeNotice点击“下一步”继续。"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} 已安装到：$\r$\n$INSTDIR$\r$\n$\r$\n$RuntimeReminder点击“完成”关闭安装程序。"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN "$INSTDIR\Vardeko.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行 ${PRODUCT}"
; The finish page's second check box creates the desktop shortcut.
!define MUI_FINISHPAGE_SHOWREADME ""
!define MUI_FINISHPAGE_SHOWREADME_TEXT "创建桌面快捷方式"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION CreateDesktopShortcut
!define MUI_FINISHPAGE_LINK "下载 WebView2 运行时"
!define MUI_FINISHPAGE_LINK_LOCATION "${RUNTIME_URL}"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.OptionsPage un.OptionsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

; Asks the user to close Vardeko while a window of it exists. Silent runs cannot ask, so
; they end with EXIT_RUNNING before anything is changed.
!macro CLOSE_RUNNING_PROGRAM prefix
Function ${prefix}CloseRunningProgram
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} 正在运行。$\r$\n$\r$\n请先关闭 ${PRODUCT}，然后点击“重试”继续；点击“取消”退出，不做任何更改。" /SD IDCANCEL IDRETRY retry
    ${If} ${Silent}
      SetErrorLevel ${EXIT_RUNNING}
    ${Else}
      SetErrorLevel ${EXIT_CANCELLED}
    ${EndIf}
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAM ""
!insertmacro CLOSE_RUNNING_PROGRAM "un."

; Ends the run with EXIT_FAILED after telling the user (silently: without telling).
!macro FAIL text
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
  Quit
!macroend

Function .onInit
  StrCpy $RuntimeNotice ""
  StrCpy $RuntimeReminder ""
  ReadRegStr $0 HKLM "SOFTWARE\WOW6432Node\${RUNTIME_CLIENT}" "pv"
  ReadRegStr $1 HKCU "Software\${RUNTIME_CLIENT}" "pv"
  ${IfThen} $0 == "0.0.0.0" ${|} StrCpy $0 "" ${|}
  ${IfThen} $1 == "0.0.0.0" ${|} StrCpy $1 "" ${|}
  ${If} $0$1 == ""
    StrCpy $RuntimeNotice "注意：这台电脑上没有找到 Microsoft Edge WebView2 运行时，${PRODUCT} 需要它才能启动。请从微软网站下载并安装“常青版”WebView2 运行时（Evergreen Bootstrapper）：$\r$\n${RUNTIME_URL}$\r$\n$\r$\n"
    StrCpy $RuntimeReminder "还需要安装 Microsoft Edge WebView2 运行时，${PRODUCT} 才能启动：请点击下面的链接下载。$\r$\n$\r$\n"
  ${EndIf}
FunctionEnd

Section "-Program"
  Call CloseRunningProgram

  SetOutPath "$INSTDIR"
  ; Over an earlier install the new page replaces the old one as a whole, so no file of
  ; the old page stays. A folder without Vardeko.exe is not ours to clear.
  ${If} ${FileExists} "$INSTDIR\Vardeko.exe"
    RMDir /r "$INSTDIR\renderer"
    ${If} ${FileExists} "$INSTDIR\renderer\*.*"
      !insertmacro FAIL "无法删除旧的页面文件：$\r$\n$INSTDIR\renderer"
    ${EndIf}
  ${EndIf}

  ; "try" skips a file that cannot be written instead of asking, which a silent run cannot
  ; answer; the error flag then reports it.
  ClearErrors
  SetOverwrite try
  File "${SOURCE_DIR}\Vardeko.exe"
  File "${SOURCE_DIR}\WebView2Loader.dll"
  File /r "${SOURCE_DIR}\renderer"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ${If} ${Errors}
    !insertmacro FAIL "无法写入安装文件夹：$\r$\n$INSTDIR$\r$\n$\r$\n请确认该文件夹可以写入，然后重新运行安装程序。"
  ${EndIf}
  SetOverwrite on

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Vardeko.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vardeko.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function CreateDesktopShortcut
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Vardeko.exe"
FunctionEnd

Function FinishPageShow
  ${If} $RuntimeNotice == ""
    ShowWindow $mui.FinishPage.Link ${SW_HIDE}
  ${Else}
    ; Without the runtime the program could only show its start-up error.
    ${NSD_Uncheck} $mui.FinishPage.Run
  ${EndIf}
FunctionEnd

Function un.OptionsPage
  !insertmacro MUI_HEADER_TEXT "卸载 ${PRODUCT}" "从这台电脑上删除 ${PRODUCT}。"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "将删除以下文件夹中的 ${PRODUCT} 及其开始菜单和桌面快捷方式：$\r$\n$INSTDIR"
  Pop $0
  ${NSD_CreateLabel} 0 32u 100% 24u "你的数据（保存的登录信息和浏览器数据）保存在 $LOCALAPPDATA\${PRODUCT}，默认保留，以后重新安装时可以继续使用。"
  Pop $0
  ${NSD_CreateCheckbox} 0 64u 100% 12u "同时删除我的数据"
  Pop $RemoveUserDataBox
  GetDlgItem $0 $HWNDPARENT 1
  SendMessage $0 ${WM_SETTEXT} 0 "STR:卸载(&U)"
  nsDialogs::Show
FunctionEnd

Function un.OptionsPageLeave
  ${NSD_GetState} $RemoveUserDataBox $RemoveUserData
FunctionEnd

Section "un.Program"
  Call un.CloseRunningProgram
  SetAutoClose true

  Delete "$INSTDIR\Vardeko.exe"
  Delete "$INSTDIR\WebView2Loader.dll"
  RMDir /r "$INSTDIR\renderer"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only an empty folder is removed: files the user put there stay.
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\Vardeko.exe"
  ${OrIf} ${FileExists} "$INSTDIR\renderer\*.*"
    !insertmacro FAIL "无法删除 ${PRODUCT} 的文件：$\r$\n$INSTDIR"
  ${EndIf}

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ${If} $RemoveUserData == ${BST_CHECKED}
    RMDir /r "$LOCALAPPDATA\${PRODUCT}"
  ${EndIf}
SectionEnd
