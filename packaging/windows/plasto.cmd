@echo off
rem Example tech-alarm script: the gateway runs "plasto.cmd <TechAlarmNbr>" when it cannot
rem start or has lost the network. Put your own alarm here (a mail, a call to the alarm
rem server, ...); this one writes a file of its own per alarm to
rem %ProgramData%\Velkora\GSMS\tech-alarm, the gateway's data folder (two gateways, or an
rem alarm while an earlier one still runs, never write the same file).
setlocal
set "folder=%ProgramData%\Velkora\GSMS\tech-alarm"
if not exist "%folder%" mkdir "%folder%" 2>nul
set "stamp=%DATE%%TIME%"
set "stamp=%stamp:/=%"
set "stamp=%stamp:.=%"
set "stamp=%stamp::=%"
set "stamp=%stamp:,=%"
set "stamp=%stamp:-=%"
set "stamp=%stamp: =%"
set /a n=0
:next
set /a n+=1
if %n% gtr 1000 exit /b 1
set "name=%stamp%-%n%"
rem "(call )" clears the error level, which a "mkdir" that succeeds leaves as it was.
(call )
mkdir "%folder%\%name%.taken" 2>nul
if errorlevel 1 goto next
if exist "%folder%\%name%.txt" (
  rmdir "%folder%\%name%.taken"
  goto next
)
>"%folder%\%name%.txt" echo %DATE% %TIME% tech alarm %1
rmdir "%folder%\%name%.taken"
