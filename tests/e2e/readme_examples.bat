@echo off
rem Every batch example of README.md (and so of the download's README.txt),
rem exactly as written there, one after the other. test_examples.py checks
rem that they match and runs this file with Corvane at
rem C:\Program Files\Corvane\corvane.exe.

@echo off
rem end-session.bat N: runs Corvane with the number N and reports.
"C:\Program Files\Corvane\corvane.exe" %1
if %errorlevel% EQU 0 echo Action %1 was accepted.
if %errorlevel% EQU 1 echo Action %1 was refused.
if %errorlevel% NEQ 0 if %errorlevel% NEQ 1 echo Failed: %errorlevel%.
