@echo off
rem Marlowick Sample Notes: lists the note templates that came with the installation.
echo Marlowick Sample Notes
echo.
dir /b "%~dp0..\data\templates"
pause
