@echo off
rem Example tech-alarm script: the gateway runs "plasto.cmd <TechAlarmNbr>" when it cannot
rem start or has lost the network. Put your own alarm here (a mail, a call to the alarm
rem server, ...); this one appends a line to tech-alarm.txt beside this file.
echo %DATE% %TIME% tech alarm %1>>"%~dp0tech-alarm.txt"
