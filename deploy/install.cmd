@echo off
rem install.cmd: applies Mendrel2 unattended, for a deployment tool; ship it beside setup.exe.
rem
rem   install.cmd        with QDXCOMP set to the compiler in use (MSVC, MS60, ...)
rem
rem Appends setup.exe's messages to the log named by MENDREL2_LOG, by default
rem %SystemRoot%\Temp\Mendrel2-setup.log, and ends with setup.exe's status:
rem 0 done, 1 nothing changed, 2 the installation is incomplete, 1618 another
rem run holds the update (try again later); the log says why and what to do.
rem It ends with 1 when setup.exe did not run, and never with 0 unless setup.exe
rem ended with 0.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable of this name would stand in for the status that %ERRORLEVEL% reads.
set "ERRORLEVEL="

rem The log, as a full path, since the current directory changes below. Where it
rem cannot be written, the system's one; where that cannot either, none: a log
rem never keeps the update from running. A program's status tells whether a file
rem opened for it: cmd.exe skips the program where it cannot, leaving ERRORLEVEL.
set "CMD=%SystemRoot%\System32\cmd.exe"
set "FALLBACK_LOG=%SystemRoot%\Temp\Mendrel2-setup.log"
set "LOG=%MENDREL2_LOG%"
if not defined LOG set "LOG=%FALLBACK_LOG%"
for %%F in ("%LOG%") do set "LOG=%%~fF"
"%CMD%" /d /c exit 1
>>"%LOG%" "%CMD%" /d /c exit 0
if errorlevel 1 (
  set "WANTED_LOG=%LOG%"
  set "LOG=%FALLBACK_LOG%"
  "%CMD%" /d /c exit 1
  >>"%FALLBACK_LOG%" "%CMD%" /d /c exit 0
  if errorlevel 1 set "LOG=NUL"
)
>>"%LOG%" echo %DATE% %TIME% %COMPUTERNAME%: Mendrel2 from "%~dp0"
if defined WANTED_LOG >>"%LOG%" echo Cannot write the log "%WANTED_LOG%", so this one is used.

rem setup.exe copies from the current directory, which must be the
rem distribution's root; on a share (\\server\share) pushd maps a drive letter.
rem In a .cmd file set leaves ERRORLEVEL at 0, so 1 after pushd is its failure.
set "DIST=%~dp0"
pushd "%DIST%" 2>>"%LOG%"
if errorlevel 1 (
  >>"%LOG%" echo Cannot make "%DIST%" the current directory, so setup.exe did not run.
  exit /b 1
)

rem An unattended update replaces the installation's files by design. Without
rem /Y xcopy asks before replacing each one, and where nobody sees the screen
rem setup.exe stops before the copies instead.
if not defined COPYCMD set "COPYCMD=/Y"

rem The setup.exe beside this file; a script waits for a GUI program to end.
rem Where the redirection fails, cmd.exe skips setup.exe and leaves ERRORLEVEL
rem as it was: 9009 from here on, as for a program that cannot be found.
"%CMD%" /d /c exit 9009
".\setup.exe" 2>>"%LOG%"
set "STATUS=%ERRORLEVEL%"
if "%STATUS%"=="9009" (
  >>"%LOG%" echo setup.exe did not run, so nothing was changed.
  popd
  exit /b 1
)
>>"%LOG%" echo setup.exe ended with status %STATUS%
popd
exit /b %STATUS%
