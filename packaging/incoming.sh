#!/bin/sh
# incoming.sh: handles one SMS received by the Velkora GSM/SMS gateway. Named in TEVRAK.INI as
#   CmdLineFormat=/var/lib/gsms/incoming.sh "%s" "%s"
# the gateway runs it with the sender and the text as its two arguments (no shell reads
# them, so nothing in a message can start anything), then deletes the SMS from the SIM.
#
# Install: install -m 0750 -g gsms incoming.sh /var/lib/gsms/
set -eu
sender=${1:-}
text=${2:-}
# Keep a record beside the daily logs; the text on one line, whatever it holds.
line=$(printf '%s\t%s\t%s' "$(date '+%Y-%m-%d %H:%M:%S')" "$sender" "$text" | tr '\r\n' '  ')
printf '%s\n' "$line" >> /var/lib/gsms/log/incoming.txt
logger -t gsms-incoming "SMS from ${sender}"
