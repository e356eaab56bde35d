@echo off
rem install.cmd: applies Mendrel2 unattended, for a deployment tool; ship it beside setup.exe.
rem
rem   cmd.exe /d /c "set QDXCOMP=MSVC&& call .\install.cmd"
rem
rem with QDXCOMP set to the compiler in use (MSVC, MS60, ...). Start it with call:
rem without it, Windows' cmd.exe can end with another status than this file's.
rem
rem Appends setup.exe's messages to the log named by MENDREL2_LOG, by default
rem %SystemRoot%\Logs\Mendrel2-setup.log (%SystemRoot%\Temp where there is no
rem Logs folder), and ends with 0, 1, 2 or 1618 only:
rem setup.exe's status where it is one of these (0 done, 1 nothing changed, 2 the
rem installation is incomplete, 1618 another run holds the update: try again
rem later); 1 where setup.exe did not run; 2 where it ended with any other status,
rem since its copies may have begun. The log says why and what to do, and keeps
rem setup.exe's status as it was. It never ends with 0 unless setup.exe ended
rem with 0. It leaves at its last line only; every outcome goes there.
setlocal EnableExtensions DisableDelayedExpansion
rem 1 until setup.exe has ended: every way out before that is "it did not run".
set "STATUS=1"
set "PUSHED="
set "WANTED_LOG="
rem A variable of this name would stand in for the status that %ERRORLEVEL% reads.
set "ERRORLEVEL="

rem The log, as a full path, since the current directory changes below. Where it
rem cannot be written, the system's one; where that cannot either, none: a log
rem never keeps the update from running. A program's status tells whether a file
rem opened for it: cmd.exe skips the program where it cannot, leaving ERRORLEVEL.
rem The system's one is in Logs, where only administrators make files: in Temp
rem any user could make it first, then read, forge or lock it.
set "CMD=%SystemRoot%\System32\cmd.exe"
set "FALLBACK_LOG=%SystemRoot%\Temp\Mendrel2-setup.log"
if exist "%SystemRoot%\Logs\" set "FALLBACK_LOG=%SystemRoot%\Logs\Mendrel2-setup.log"
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
rem distribution's root; on a share (\\server\share) pushd maps a drive letter,
rem which popd at the end removes.
rem In a .cmd file set leaves ERRORLEVEL at 0, so 1 after pushd is its failure.
set "DIST=%~dp0"
pushd "%DIST%" 2>>"%LOG%"
if errorlevel 1 (
  >>"%LOG%" echo Cannot make "%DIST%" the current directory, so setup.exe did not run.
  goto end
)
set "PUSHED=yes"

rem An unattended update replaces the installation's files by design. Without
rem /Y xcopy asks before replacing each one, and where nobody sees the screen
rem setup.exe stops before the copies instead.
if not defined COPYCMD set "COPYCMD=/Y"

rem The setup.exe beside this file; a script waits for a GUI program to end.
rem Where the redirection fails, cmd.exe skips setup.exe and leaves ERRORLEVEL
rem as it was: 9009 from here on, as for a program that cannot be found.
"%CMD%" /d /c exit 9009
".\setup.exe" 2>>"%LOG%"
set "RAW=%ERRORLEVEL%"

rem setup.exe's own statuses pass as they are. cmd.exe reports a program that it
rem could not start with 9009 (not found), 5 (access denied), 193 or 216 (a bad
rem image), 740 (elevation required), 1260 or 4551 (blocked by policy or
rem application control), 225 or 226 (held by an antivirus) or 32 (a sharing
rem violation); the loader ends one whose DLL is missing or fails to start with
rem 0xC0000135 or 0xC0000142, before any of its code runs. setup.exe did not run:
rem 1. Any other status, such as a crash's, gives 2: the copies may have begun.
rem (Wine 8's cmd.exe misreads a block that opens on a for ... do if line.)
set "KIND=other"
for %%S in (9009 5 193 216 740 1260 4551 225 226 32 -1073741515 -1073741502) do if "%RAW%"=="%%S" set "KIND=not started"
for %%S in (0 1 2 1618) do if "%RAW%"=="%%S" set "KIND=own"
if "%KIND%"=="not started" (
  >>"%LOG%" echo cmd.exe could not start setup.exe ^(status %RAW%^), so nothing was changed.
  goto end
)
if "%KIND%"=="own" (
  >>"%LOG%" echo setup.exe ended with status %RAW%
  set "STATUS=%RAW%"
  goto end
)
>>"%LOG%" echo setup.exe ended with status %RAW%, which is none of its own; the installation may be incomplete.
set "STATUS=2"

:end
if defined PUSHED popd
exit /b %STATUS%
