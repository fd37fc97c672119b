@echo off
rem Registers Quorlin.dll with COM: machine-wide (from a prompt run as administrator), or with
rem /user for the current user only (regsvr32 /n /i:user, no administrator rights needed).
rem On 64-bit Windows both DLLs are registered, each by the regsvr32 of its own bitness, so that
rem 32-bit hosts create the object from x86\ and 64-bit hosts from x64\; on 32-bit Windows the
rem 32-bit one. unregister.cmd runs this with /u first.
setlocal
set "here=%~dp0"
set "undo="
set "done=registered"
if /i "%~1"=="/u" (
  set "undo=/u"
  set "done=unregistered"
  shift
)
set "scope="
set "where=machine-wide"
if /i "%~1"=="/user" (
  set "scope=/n /i:user"
  set "where=for the current user"
  shift
)
if not "%~1"=="" (
  >&2 echo usage: register.cmd [/user]   or   unregister.cmd [/user]
  exit /b 2
)

rem SysWOW64 exists on 64-bit Windows only. A 32-bit prompt sees the 32-bit programs under
rem System32 as well; the 64-bit regsvr32 is then reached through Sysnative.
set "regsvr64="
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "regsvr64=%SystemRoot%\System32\regsvr32.exe"
if defined regsvr64 if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "regsvr64=%SystemRoot%\Sysnative\regsvr32.exe"

set failed=0
if defined regsvr64 (
  call :regsvr32 "%SystemRoot%\SysWOW64\regsvr32.exe" x86
  call :regsvr32 "%regsvr64%" x64
) else (
  call :regsvr32 "%SystemRoot%\System32\regsvr32.exe" x86
)
if %failed%==1 if not defined scope (
  >&2 echo Machine-wide registration needs a prompt run as administrator; /user registers for the
  >&2 echo current user only.
)
exit /b %failed%

rem :regsvr32 PROGRAM FOLDER
:regsvr32
"%~1" /s %undo% %scope% "%here%%~2\Quorlin.dll"
set "code=%errorlevel%"
if "%code%"=="0" (
  echo %~2\Quorlin.dll: %done% %where%
) else (
  >&2 echo %~2\Quorlin.dll: not %done%, regsvr32 exit code %code%
  set failed=1
)
exit /b
