; An example installer for an installation that ships nbmonitor, for NSIS 3 (makensis).
; Adapt it to your product; the lines marked CHANGE are yours, those marked KEEP are what
; nbmonitor needs of every installer.
;
;   makensis -DNB_FILES=DIR -DNB_VERSION=1.1.0.0 [-DNB_BUILD_ID=ID] [-DNB_TARGET=amd64-unicode]
;            [-DNB_STACK=DIR] [-DNB_INI=FILE] [-DNB_SIGN=COMMAND] [-DNB_OUTFILE=FILE] nbmonitor.nsi
;
;   NB_FILES    the release zip, unpacked (bin\nbmonitor.exe, bin\nbctl.exe, conf\, docs\, ...)
;   NB_VERSION  the release's version (four numbers); NB_BUILD_ID the build id, when known
;   NB_TARGET   x86-unicode (default, for the 32-bit nbmonitor) or amd64-unicode
;   NB_STACK    the installation's own files: the web server, PHP, the application and the
;               backup and restore scripts, laid out as under the home (see NB_STACK_FILES)
;   NB_INI      the settings written to conf\nbmonitor.ini when there is none (default: the
;               release's conf\nbmonitor.ini.example, which changes nothing)
;   NB_SIGN     a command that signs the file it is given, for the installer and the
;               uninstaller inside it (for example scripts/sign; signtool on Windows)
;
; The installer asks for no administrator rights: it installs for the user who runs it, into
; the home folder (default C:\nimbara, or where the last install went; /D=PATH as the last
; argument chooses another), with a shortcut in that user's Startup folder and an entry in
; that user's list of apps. nbmonitor must run as that user, not elevated, or the user's
; nbctl cannot reach it.
;
; Installer switches: /S silent; /NOSTART do not start nbmonitor at the end; /D=PATH the home.
; Uninstaller switches: /S silent; /KEEPDATA=0 remove the data too (the box on its page).
; Exit status: 0 done, 1 cancelled or failed, 2 nbmonitor still ran and nothing was changed.

Unicode true
!ifndef NB_TARGET
    !define NB_TARGET x86-unicode
!endif
Target ${NB_TARGET}

!define NB_PRODUCT "nbmonitor"                        ; CHANGE: your product's name
!define NB_PUBLISHER "Nimbara Project"                 ; CHANGE: your name
!define NB_HOME "C:\nimbara"                           ; CHANGE: your default home
!define NB_SHORTCUT "$SMSTARTUP\${NB_PRODUCT}.lnk"
!define NB_APPS_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NB_PRODUCT}"
!ifndef NB_FILES
    !error "NB_FILES: name the folder of the unpacked release zip (-DNB_FILES=DIR)"
!endif
!ifndef NB_VERSION
    !error "NB_VERSION: the release's version, four numbers (-DNB_VERSION=1.1.0.0)"
!endif
!ifndef NB_BUILD_ID
    !define NB_BUILD_ID "${NB_VERSION}"
!endif
!ifndef NB_INI
    !define NB_INI "${NB_FILES}\conf\nbmonitor.ini.example"
!endif
!ifndef NB_OUTFILE
    !define NB_OUTFILE "${NB_PRODUCT}-${NB_VERSION}-setup.exe"
!endif
!ifdef NB_SIGN
    !finalize '"${NB_SIGN}" "%1"' = 0
    !uninstfinalize '"${NB_SIGN}" "%1"' = 0
!endif

Name "${NB_PRODUCT}"
OutFile "${NB_OUTFILE}"
InstallDir "${NB_HOME}"
; KEEP: an upgrade goes where the last install went (/D= still chooses).
InstallDirRegKey HKCU "${NB_APPS_KEY}" "InstallLocation"
RequestExecutionLevel user
SetCompressor /SOLID lzma
; The installed files get the time they are installed; no build time goes into the installer.
SetDateSave off
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-install.ico"
!define MUI_UNICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "$(NbDataExplained)"
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
; Japanese first: it is used wherever Windows' language is neither of the two.
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"
!include /CHARSET=UTF8 "texts.nsh"

VIProductVersion "${NB_VERSION}"
VIFileVersion "${NB_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${NB_PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${NB_PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${NB_PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${NB_VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${NB_VERSION}"
VIAddVersionKey /LANG=0 "PrivateBuild" "${NB_BUILD_ID}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${NB_PUBLISHER}"

; ---------------------------------------------------------------------------------------------
; What the installer puts into the home, one list each for installing and removing.

; The release zip's files. KEEP (add a file when a release adds one).
!macro NB_RELEASE_FILES DO
    !insertmacro ${DO} bin nbmonitor.exe
    !insertmacro ${DO} bin nbctl.exe
    !insertmacro ${DO} bin nbbackup.bat.example
    !insertmacro ${DO} bin nbrestore.bat.example
    !insertmacro ${DO} conf nbmonitor.ini.example
    !insertmacro ${DO} docs integrating.md
    !insertmacro ${DO} . README.md
!macroend

; CHANGE: your web server, PHP, application and scripts. These are the demo's, with the
; stand-in server; yours are Apache's files (bin, modules, conf\httpd.conf, conf\mime.types),
; PHP's (php\*.dll, php\ext\) and your application's files (not its data).
!macro NB_STACK_FILES DO
!ifdef NB_STACK
    !insertmacro ${DO} bin httpd.exe
    !insertmacro ${DO} bin nbbackup.bat
    !insertmacro ${DO} bin nbrestore.bat
    !insertmacro ${DO} php php.ini.ORG
    !insertmacro ${DO} htdocs index.php
!endif
!macroend

; The folders an installation needs, made when missing, removed when empty; the data folders
; are made here but only removed by the uninstaller's box. CHANGE to your layout.
!define NB_FOLDERS "conf\extra|php\ext|tmp\eaccelerator|tmp|cgi-bin|htdocs|php|conf|docs|bin"
!define NB_DATA_FOLDERS "htdocs\data|backup|logs"

!macro NB_PUT DIR NAME
    SetOutPath "$INSTDIR\${DIR}"
    File "${NB_FILES_OF_LIST}\${DIR}\${NAME}"
!macroend
!macro NB_REMOVE DIR NAME
    Delete "$INSTDIR\${DIR}\${NAME}"
!macroend

; ---------------------------------------------------------------------------------------------
; ${NbEachFolder} "A|B\C|..." FUNCTION: calls FUNCTION with $R0 = each folder under the home.
!macro NbEachFolder LIST FUNCTION
    Push $R1
    Push $R0
    StrCpy $R1 "${LIST}|"
    ${Do}
        ${NbSplitFirst} $R0 $R1
        ${If} $R0 != ""
            Call ${FUNCTION}
        ${EndIf}
    ${LoopUntil} $R1 == ""
    Pop $R0
    Pop $R1
!macroend
!define NbEachFolder "!insertmacro NbEachFolder"

; ${NbSplitFirst} OUT LIST: OUT = LIST up to its first "|", LIST = the rest after it.
!macro NbSplitFirst OUT LIST
    Push $R2
    Push $R3
    StrCpy $R2 0
    ${Do}
        StrCpy $R3 ${LIST} 1 $R2
        ${IfThen} $R3 == "|" ${|} ${ExitDo} ${|}
        ${IfThen} $R3 == "" ${|} ${ExitDo} ${|}
        IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy ${OUT} ${LIST} $R2
    IntOp $R2 $R2 + 1
    StrCpy ${LIST} ${LIST} "" $R2
    Pop $R3
    Pop $R2
!macroend
!define NbSplitFirst "!insertmacro NbSplitFirst"

Function NbMakeFolder
    CreateDirectory "$INSTDIR\$R0"
FunctionEnd
Function un.NbRemoveTree
    RMDir /r "$INSTDIR\$R0"
FunctionEnd
Function un.NbRemoveEmpty
    RMDir "$INSTDIR\$R0"
FunctionEnd

; ---------------------------------------------------------------------------------------------
; KEEP: nbmonitor is stopped, with its server, before any file is replaced or removed.
; `nbctl exit --wait` posts Exit and waits until nbmonitor has ended (it stops the server
; first, gracefully where the server offers it): 0 ended, 1 none ran, 4 still running.
; A program file still open afterwards (an nbmonitor nbctl cannot reach, for example one
; running elevated) refuses as well. Refusing changes nothing and ends with exit status 2.
!macro NB_STOP_FUNCTION PREFIX
Function ${PREFIX}NbStop
    ${If} ${FileExists} "$INSTDIR\bin\nbctl.exe"
        DetailPrint "$(NbStopping)"
        nsExec::ExecToLog '"$INSTDIR\bin\nbctl.exe" exit --wait'
        Pop $0
        ${If} $0 != 0
        ${AndIf} $0 != 1
            Goto refuse
        ${EndIf}
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\bin\nbmonitor.exe"
        ClearErrors
        FileOpen $0 "$INSTDIR\bin\nbmonitor.exe" a
        IfErrors refuse
        FileClose $0
    ${EndIf}
    Return
refuse:
    DetailPrint "$(NbStillRuns)"
    MessageBox MB_OK|MB_ICONSTOP "$(NbStillRuns)" /SD IDOK
    SetErrorLevel 2
    Quit
FunctionEnd
!macroend
!insertmacro NB_STOP_FUNCTION ""
!insertmacro NB_STOP_FUNCTION "un."

Var NbStart

Function .onInit
    StrCpy $NbStart 1
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTART" $1
    ${IfNot} ${Errors}
        StrCpy $NbStart 0
    ${EndIf}
FunctionEnd

Section "-install"
    SetShellVarContext current
    Call NbStop
    !define NB_FILES_OF_LIST "${NB_FILES}"
    !insertmacro NB_RELEASE_FILES NB_PUT
    !undef NB_FILES_OF_LIST
!ifdef NB_STACK
    !define NB_FILES_OF_LIST "${NB_STACK}"
    !insertmacro NB_STACK_FILES NB_PUT
    !undef NB_FILES_OF_LIST
!endif
    ${NbEachFolder} "${NB_FOLDERS}|${NB_DATA_FOLDERS}" NbMakeFolder

    ; KEEP: the settings are the user's once written; an upgrade never replaces them.
    ${IfNot} ${FileExists} "$INSTDIR\conf\nbmonitor.ini"
        SetOutPath "$INSTDIR\conf"
        File "/oname=nbmonitor.ini" "${NB_INI}"
    ${EndIf}

    ; KEEP: "Start in" is bin\, the folder whose parent holds conf\nbmonitor.ini. The
    ; shortcut takes the output folder as its working folder.
    SetOutPath "$INSTDIR\bin"
    CreateShortcut "${NB_SHORTCUT}" "$INSTDIR\bin\nbmonitor.exe"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "${NB_APPS_KEY}" "DisplayName" "${NB_PRODUCT}"
    WriteRegStr HKCU "${NB_APPS_KEY}" "DisplayVersion" "${NB_BUILD_ID}"
    WriteRegStr HKCU "${NB_APPS_KEY}" "Publisher" "${NB_PUBLISHER}"
    WriteRegStr HKCU "${NB_APPS_KEY}" "DisplayIcon" "$INSTDIR\bin\nbmonitor.exe"
    WriteRegStr HKCU "${NB_APPS_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${NB_APPS_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${NB_APPS_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${NB_APPS_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${NB_APPS_KEY}" "NoRepair" 1
SectionEnd

; KEEP: started as the user, with bin\ as its current folder, as the shortcut starts it.
Function .onInstSuccess
    ${If} $NbStart = 1
        SetOutPath "$INSTDIR\bin"
        Exec '"$INSTDIR\bin\nbmonitor.exe"'
    ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; The uninstaller: stops nbmonitor, removes what the installer put there, nbmonitor's
; generated files and the shortcut; the data (htdocs\data\, backup\, logs\ and
; conf\nbmonitor.ini) only when the box is ticked (/KEEPDATA=0).

Section "-un.program"
    SetShellVarContext current
    Call un.NbStop
    !insertmacro NB_RELEASE_FILES NB_REMOVE
    !insertmacro NB_STACK_FILES NB_REMOVE
    ; What nbmonitor writes at every start, and the temporary files of those writes.
    Delete "$INSTDIR\conf\extra\httpd-port.conf"
    Delete "$INSTDIR\conf\extra\httpd-nb.conf"
    Delete "$INSTDIR\conf\extra\*.tmp"
    Delete "$INSTDIR\php\php.ini"
    Delete "$INSTDIR\php\*.tmp"
    Delete "${NB_SHORTCUT}"
    DeleteRegKey HKCU "${NB_APPS_KEY}"
    Delete "$INSTDIR\uninstall.exe"
SectionEnd

Section /o "un.$(NbRemoveData)" NbDataSection
    Delete "$INSTDIR\conf\nbmonitor.ini"
    ${NbEachFolder} "${NB_DATA_FOLDERS}" un.NbRemoveTree
SectionEnd

Function un.onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/KEEPDATA=" $1
    ${IfNot} ${Errors}
    ${AndIf} $1 == 0
        !insertmacro SelectSection ${NbDataSection}
    ${EndIf}
FunctionEnd

Section "-un.folders"
    ; Only folders left empty go; the home stays while anything is left in it.
    ${NbEachFolder} "${NB_FOLDERS}" un.NbRemoveEmpty
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
SectionEnd
