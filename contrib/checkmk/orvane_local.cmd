@echo off
rem Checkmk local check: nagios_orvane_check as six services (Orvane SMTP,
rem Orvane POP, Orvane IMAP, Orvane Lumicourt, Orvane Helmstead, Orvane
rem connections), each with its own state and metrics.
rem
rem The Windows agent starts every program in its local folder,
rem C:\ProgramData\checkmk\agent\local\, without arguments: this file is
rem what goes there, and it gives the check its options. Keep
rem nagios_orvane_check.exe out of that folder (the agent would start it
rem too, without options) and name its place below.
setlocal
set "ORVANE_CHECK=C:\Program Files\Orvane Check\nagios_orvane_check.exe"
"%ORVANE_CHECK%" -w 200 -c 400 -cSMTPin 100 -t 50 --details --output-format=checkmk-local
