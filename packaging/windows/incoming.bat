@echo off
rem Example command for received SMS (CmdLineFormat=incoming.bat "%s" "%s"): writes the date,
rem the time, the sender and the text of each message to a file of its own in
rem %ProgramData%\Velkora\GSMS\incoming, the gateway's data folder. Messages that arrive
rem together start this file several times at once: appending them all to one file would
rem lose lines ("Sharing violation"), so each one takes a name no other can take: the date
rem and time as digits and a number, reserved by "mkdir" of <name>.taken, which only one
rem command can make.
rem %1 and %2 arrive in double quotes; keep them quoted wherever you use them, so that
rem characters such as & or > in a message stay text. A line break arrives as a blank.
setlocal
set "folder=%ProgramData%\Velkora\GSMS\incoming"
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
>"%folder%\%name%.txt" echo %DATE% %TIME% %1 %2
rmdir "%folder%\%name%.taken"
