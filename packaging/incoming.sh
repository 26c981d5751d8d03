#!/bin/sh
# incoming.sh: hands one SMS received by the Velkora GSM/SMS gateway to the journal, named
# in CmdLineFormat of the installed TEVRAK.INI: the gateway runs it with the sender and the text as its
# two arguments (no shell reads them, so nothing in a message can start anything), then
# deletes the SMS from the SIM. "journalctl -t gsms-incoming" lists them.
#
# For more (a reply, a command word), copy it to /var/lib/gsms, change the copy and name it
# in CmdLineFormat. It runs as the service's user, inside its sandbox, without network.
set -eu
sender=${1:-}
text=${2:-}
# One line, whatever the text holds; "--": a text that starts with "-" is no option.
line=$(printf 'SMS from %s: %s' "$sender" "$text" | tr '\r\n' '  ')
logger -t gsms-incoming -p daemon.notice -- "$line"
