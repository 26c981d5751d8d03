@echo off
rem Example command for received SMS (CmdLineFormat=incoming.bat "%s" "%s"): appends the
rem sender and the text to incoming.txt beside this file. %1 and %2 arrive in double quotes;
rem keep them quoted wherever you use them, so that characters such as & or > in a message
rem stay text. A line break in a message arrives as a blank.
echo %DATE% %TIME% %1 %2>>"%~dp0incoming.txt"
