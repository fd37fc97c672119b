@echo off
rem Unregisters Quorlin.dll: machine-wide, or with /user for the current user only. The same
rem steps as register.cmd, which does the work.
call "%~dp0register.cmd" /u %*
exit /b %errorlevel%
