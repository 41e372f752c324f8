@echo off
rem Runs Phonoskew on every recording (.wav) of a folder, one start each:
rem   examples\batch.bat [FOLDER]      (the current folder when none is named)
rem The folder holds the four coefficient files (FO.dat, SO.dat, FOP.dat,
rem SOP.dat) beside the recordings. Passed over are Phonoskew's own outputs
rem (NAME RIAA error 1.wav to NAME RIAA error 4.wav), a recording whose
rem fourth output an earlier run wrote, and a recording that phonoskew-prepare
rem made a copy of (NAME 24-96.wav, which is run in its place). The end of the
rem empty input stands for the final key; every note of a run, and each
rem recording not done with its exit status, comes on standard error; the
rem exit status is 1 when any was not done.
setlocal EnableExtensions DisableDelayedExpansion
set "phonoskew=phonoskew.exe"
if exist "%~dp0..\phonoskew.exe" set "phonoskew=%~dp0..\phonoskew.exe"
set "folder=%~1"
if "%folder%"=="" set "folder=."
pushd "%folder%"
if errorlevel 1 exit /b 2
set failed=0
for %%f in (*.wav) do (
    set "file=%%~nxf"
    set "name=%%~nf"
    call :RunOne
)
popd
exit /b %failed%

rem One recording, named by file (its name) and name (less its extension).
:RunOne
if /i not "%file:~-4%"==".wav" exit /b 0
set output=0
if "%name:~-13,12%"==" RIAA error " for %%d in (1 2 3 4) do if "%name:~-1%"=="%%d" set output=1
if %output%==1 exit /b 0
if exist "%name% RIAA error 4.wav" exit /b 0
if exist "%name% 24-96.wav" exit /b 0
"%phonoskew%" "%file%" <nul >nul
set status=%errorlevel%
if %status%==0 exit /b 0
echo "%file%": not done (%status%) 1>&2
set failed=1
exit /b 0
