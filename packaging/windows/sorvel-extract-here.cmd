@echo off
rem Explorer's "Extract here" on an archive: extracts it into a folder named after it, beside it.
rem The password is asked for in this window. When something failed the window stays open until
rem a key is pressed, so that the reason can be read.
setlocal
"%~dp0sorvel.exe" extract -C "%~dpn1" "%~f1"
set code=%errorlevel%
if not "%code%"=="0" (
  echo.
  pause
)
exit /b %code%
