@echo off
rem Every batch example of README.md (and so of the download's README.txt),
rem exactly as written there, one after the other. test_examples.py checks
rem that they match and runs this file with Corvane at C:\Tools\corvane.exe.

@echo off
"C:\Tools\corvane.exe" 8
if errorlevel 1 echo Windows refused the reboot, exit code %errorlevel%.
if not errorlevel 1 echo Windows accepted the reboot.

@echo off
rem end-session.bat N: runs Corvane with the number N and reports.
"C:\Tools\corvane.exe" %1
if errorlevel 1 echo Action %1 was refused, exit code %errorlevel%.
if not errorlevel 1 echo Action %1 was accepted.
