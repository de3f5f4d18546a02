@echo off
rem Restore script of the nimbara demo installation: copies backup\NAME back over
rem htdocs\data\app.db. nbmonitor passes NAME as the one argument, in double quotes when it
rem holds a blank, comma, semicolon or equals sign; the whole argument text is the name
rem (quotes, if any, are dropped), so an unquoted name with blanks works too.
setlocal EnableExtensions DisableDelayedExpansion
set "HOME_DIR=%~dp0.."
set "NAME=%*"
if not defined NAME goto usage
set "NAME=%NAME:"=%"
:trim
if not defined NAME goto usage
if "%NAME:~-1%"==" " (set "NAME=%NAME:~0,-1%" & goto trim)
if not defined NAME goto usage

rem Only names of entries directly in backup\.
if not "%NAME:\=%"=="%NAME%" goto bad_name
if not "%NAME:/=%"=="%NAME%" goto bad_name
if not "%NAME::=%"=="%NAME%" goto bad_name
if "%NAME%"==".." goto bad_name
if "%NAME%"=="." goto bad_name

set "SRC=%HOME_DIR%\backup\%NAME%"
if not exist "%SRC%" (
    echo nbrestore: there is no backup "%NAME%" 1>&2
    exit /b 1
)
set "ATTR="
for %%F in ("%SRC%") do set "ATTR=%%~aF-"
if /i "%ATTR:~0,1%"=="d" (
    echo nbrestore: "%NAME%" is a folder, not a backup 1>&2
    exit /b 1
)
copy /b /y "%SRC%" "%HOME_DIR%\htdocs\data\app.db" >nul
if errorlevel 1 (
    echo nbrestore: copying "%NAME%" failed 1>&2
    exit /b 1
)
echo restored "%NAME%"
exit /b 0

:bad_name
echo nbrestore: "%NAME%" is not the name of a backup 1>&2
exit /b 2

:usage
echo usage: nbrestore.bat NAME   (NAME: an entry of the backup folder) 1>&2
exit /b 2
