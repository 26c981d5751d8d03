#!/bin/sh
# plasto.cmd: the tech alarm of the Velkora GSM/SMS gateway, run as "plasto.cmd <TechAlarmNbr>"
# when the gateway cannot start or has lost the network (at most once per SleepMinAfterAlarm
# minutes). The SMS way is the one that fails, so tell someone another way.
#
# The installed one writes a critical line to the journal. For more, copy it to the
# gateway's working directory (install -m 0750 -g gsms plasto.cmd /var/lib/gsms/), which is
# searched first, and change the copy. It runs as the service's user, inside its sandbox: no
# network unless the unit is given it ("systemctl cat gsmsd" shows how).
set -eu
number=${1:-}
logger -t gsms-tech-alarm -p daemon.crit -- \
    "tech alarm ${number}: the SMS gateway cannot send; see journalctl -u gsmsd"
# With network for the service, for example:
# printf 'Subject: SMS gateway down\n\nTech alarm %s on %s\n' "$number" "$(hostname)" |
#     /usr/sbin/sendmail root
