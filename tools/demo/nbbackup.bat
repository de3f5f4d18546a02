@echo off
rem Backup script of the nimbara demo installation: copies htdocs\data\app.db into backup\
rem as app-YYYYMMDD-HHMMSS-NN.db, a name that sorts by the time it was taken. NN tells
rem apart backups of the same second (hundredths where the clock gives them, else 00, 01...).
rem %DATE% and %TIME% follow the user's locale, so the date's order comes from the
rem registry (iDate) and the numbers are picked out of whatever separators and names they
rem carry; a 12-hour clock (AM/PM) is turned into 24 hours.
setlocal EnableExtensions DisableDelayedExpansion
set "HOME_DIR=%~dp0.."
set "DB=%HOME_DIR%\htdocs\data\app.db"
set "DEST=%HOME_DIR%\backup"
if not exist "%DB%" (
    echo nbbackup: there is no database "%DB%" 1>&2
    exit /b 1
)
if not exist "%DEST%\" mkdir "%DEST%"
if not exist "%DEST%\" (
    echo nbbackup: cannot create "%DEST%" 1>&2
    exit /b 1
)

call :read_date
call :read_time
set "STAMP=%Y%%MO%%D%-%H%%MI%%S%"
call :strip_zero CC
set /a N=CC

:next_name
set "NN=0%N%"
set "NAME=app-%STAMP%-%NN:~-2%.db"
if exist "%DEST%\%NAME%" (
    set /a N+=1
    goto check_count
)
copy /b /y "%DB%" "%DEST%\%NAME%" >nul
if errorlevel 1 (
    echo nbbackup: copying to "%DEST%\%NAME%" failed 1>&2
    exit /b 1
)
echo %NAME%
exit /b 0

:check_count
if %N% lss 100 goto next_name
echo nbbackup: too many backups within one second 1>&2
exit /b 1

rem --- date: Y, MO, D (four, two and two digits) ---------------------------------------
:read_date
set "IDATE="
for /f "tokens=1,3" %%a in ('reg query "HKCU\Control Panel\International" /v iDate 2^>nul') do (
    if /i "%%a"=="iDate" set "IDATE=%%b"
)
set "T1=" & set "T2=" & set "T3=" & set "T4="
for /f "tokens=1-6 delims=/.-, " %%a in ("%DATE%") do call :numbers %%a %%b %%c %%d %%e %%f
if not defined T3 (set "Y=0000" & set "MO=00" & set "D=00" & exit /b 0)
rem A leading four-digit number is a year, whatever the registry says. (Substrings are
rem taken of padded values only: some cmd versions misread offsets past a value's end.)
set "PADDED=%T1%____"
if not "%PADDED:~3,1%"=="_" set "IDATE=2"
if "%IDATE%"=="2" (set "Y=%T1%" & set "MO=%T2%" & set "D=%T3%" & goto date_pad)
if "%IDATE%"=="1" (set "D=%T1%" & set "MO=%T2%" & set "Y=%T3%" & goto date_pad)
set "MO=%T1%" & set "D=%T2%" & set "Y=%T3%"
:date_pad
set "PADDED=%Y%___"
if "%PADDED:~2,1%"=="_" set "Y=20%Y%"
set "MO=0%MO%" & set "D=0%D%"
set "MO=%MO:~-2%" & set "D=%D:~-2%"
exit /b 0

rem --- time: H, MI, S and CC (two digits each, 24 hours) ---------------------------------
:read_time
set "T1=" & set "T2=" & set "T3=" & set "T4=" & set "AMPM="
for /f "tokens=1-6 delims=:., " %%a in ("%TIME%") do call :numbers %%a %%b %%c %%d %%e %%f
set "H=%T1%" & set "MI=%T2%" & set "S=%T3%" & set "CC=%T4%"
if "%S%"=="" set "S=00"
if "%CC%"=="" set "CC=00"
call :strip_zero H
set "AMPM=%AMPM%_"
if /i "%AMPM:~0,1%"=="P" if %H% lss 12 set /a H+=12
if /i "%AMPM:~0,1%"=="A" if %H% equ 12 set "H=0"
set "H=0%H%" & set "MI=0%MI%" & set "S=0%S%" & set "CC=0%CC%"
set "H=%H:~-2%" & set "MI=%MI:~-2%" & set "S=%S:~-2%" & set "CC=%CC:~-2%"
exit /b 0

rem Puts the numeric arguments into T1..T4 in order; the first other word goes to AMPM.
:numbers
if "%~1"=="" exit /b 0
set "WORD=%~1"
for /f "delims=0123456789" %%x in ("%WORD%") do (
    if not defined AMPM set "AMPM=%WORD%"
    shift
    goto numbers
)
if not defined T1 (set "T1=%WORD%") else if not defined T2 (set "T2=%WORD%") else if not defined T3 (set "T3=%WORD%") else if not defined T4 set "T4=%WORD%"
shift
goto numbers

rem Drops one leading zero, so that set /a does not read 08 as a bad octal number.
:strip_zero
call set "V=%%%1%%"
if "%V%"=="" set "V=0"
if "%V:~0,1%"=="0" if not "%V%"=="0" set "V=%V:~1%"
set "%1=%V%"
exit /b 0
