@echo off
rem install.cmd: applies Mendrel2 unattended, for a deployment tool; ship it beside setup.exe.
rem
rem   install.cmd        with QDXCOMP set to the compiler in use (MSVC, MS60, ...)
rem
rem Appends setup.exe's messages to the log named by MENDREL2_LOG, by default
rem %SystemRoot%\Temp\Mendrel2-setup.log, and ends with setup.exe's status:
rem 0 done, 1 nothing changed, 2 the installation is incomplete, 1618 another
rem run holds the update (try again later); the log says why and what to do.
setlocal

rem The log, as a full path: the current directory changes below.
set "LOG=%MENDREL2_LOG%"
if not defined LOG set "LOG=%SystemRoot%\Temp\Mendrel2-setup.log"
for %%F in ("%LOG%") do set "LOG=%%~fF"
>>"%LOG%" echo %DATE% %TIME% %COMPUTERNAME%: Mendrel2 from "%~dp0"

rem setup.exe copies from the current directory, which must be the
rem distribution's root; on a share (\\server\share) pushd maps a drive letter.
rem In a .cmd file set leaves ERRORLEVEL at 0, so 1 after pushd is its failure.
set "DIST=%~dp0"
pushd "%DIST%"
if errorlevel 1 (
  >>"%LOG%" echo Cannot make "%DIST%" the current directory, so setup.exe did not run.
  exit /b 1
)

rem An unattended update replaces the installation's files by design. Without
rem /Y xcopy asks before replacing each one, and where nobody sees the screen
rem setup.exe stops before the copies instead.
if not defined COPYCMD set "COPYCMD=/Y"

rem The setup.exe beside this file. A script waits for a GUI program to end.
".\setup.exe" 2>>"%LOG%"
set "STATUS=%ERRORLEVEL%"
>>"%LOG%" echo setup.exe ended with status %STATUS%
popd
exit /b %STATUS%
