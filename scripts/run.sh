#!/usr/bin/env bash
# Sets up and builds the gateway, then runs it in demo/ against gsms-modem-sim on a
# pseudo-terminal: TEVRAK.INI names the simulator's link as "Port", a sample status table and
# four sample job files are dropped, and the gateway (the window when a display is available,
# else gsmsd) brings the modem into service and works them off. Ctrl-C ends the demo.
#
# A real modem instead of the simulator sends real SMS, so it takes the one recipient too:
#   GSMS_PORT=/dev/ttyUSB0 GSMS_DEMO_NUMBER=+4917012345678 scripts/run.sh
# GSMS_BUILD_UI=OFF scripts/run.sh builds and runs the service only, and installs no Qt.
# GSMS_DEMO_MODEMS=2 scripts/run.sh starts a second simulator (demo/m2/ttyGSM0) as section
# Modem2: the jobs go out over both, and killing one (its pid is shown) marks its path down.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
window=${GSMS_BUILD_UI:-ON}
port=${GSMS_PORT:-}
number=${GSMS_DEMO_NUMBER:-}
modems=${GSMS_DEMO_MODEMS:-1}
if [ "$modems" != 1 ] && [ "$modems" != 2 ]; then
  echo "demo: GSMS_DEMO_MODEMS is 1 or 2 (simulated modems)" >&2
  exit 2
fi
if [ -n "$port" ] && [ "$modems" = 2 ]; then
  echo "demo: the second modem is simulated only; leave GSMS_DEMO_MODEMS out with GSMS_PORT" >&2
  exit 2
fi
if [ -n "$port" ]; then
  # Only a phone number may go into the job files: nothing else can ride along.
  if ! [[ $number =~ ^\+?[0-9]{3,20}$ ]]; then
    echo "demo: GSMS_PORT names a real modem; set GSMS_DEMO_NUMBER to the one phone number" >&2
    echo "      that may receive the demo's three SMS (+ and digits, e.g. +4917012345678)" >&2
    exit 2
  fi
fi
if [ "$window" = OFF ]; then scripts/setup.sh --server; else scripts/setup.sh; fi
cmake -S . -B build -G Ninja -DGSMS_BUILD_UI="$window" >/dev/null
ninja -C build

demo=$root/demo
mkdir -p "$demo"/{in,done,error,tables}
cd "$demo"
pids=()
gateway=
# The gateway stops in order first (a Ctrl-C has reached it already: it gets a moment to
# finish before SIGTERM), then the simulators.
cleanup() {
  if [ -n "$gateway" ]; then
    for _ in $(seq 30); do kill -0 "$gateway" 2>/dev/null || break; sleep 0.1; done
    kill "$gateway" 2>/dev/null || true
    wait "$gateway" 2>/dev/null || true
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# A simulator in folder $1: its link, control socket, record and trace there.
simulate() {
  mkdir -p "$1"
  rm -f "$1/sim.ctl"
  "$root/build/bin/gsms-modem-sim" --link "$1/ttyGSM0" --control "$1/sim.ctl" \
      --record "$1/sim-record.jsonl" --trace "$1/sim-trace.jsonl" --send-delay 800 \
      > "$1/sim-output.txt" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$1/ttyGSM0" ] && break; sleep 0.1; done
  echo "demo: gsms-modem-sim (pid $!) serves $1/ttyGSM0 (what it received:" \
       "${1#"$root/"}/sim-trace.jsonl)"
}
if [ -z "$port" ]; then
  port=$demo/ttyGSM0
  simulate "$demo"
  [ "$modems" = 1 ] || simulate "$demo/m2"
fi

cat > TEVRAK.INI <<INI
[Config]
Port=$port
Mode=96,N,8,1
WatchPath=$demo/in
DonePath=$demo/done
ErrorPath=$demo/error
WatchLogPath=$demo/tables
RetryCount=3
RetryDelay=10
QualityPollEverySecs=5
INI
[ "$modems" = 1 ] || printf '[Modem2]\nPort=%s\nMode=96,N,8,1\n' "$demo/m2/ttyGSM0" >> TEVRAK.INI
printf '[Messages]\r\nK17=Boiler pressure low, hall 3\r\n' > KORLIN.INI
"$root/build/bin/gsms-sample-table" tables/plant.dbf 5

job() { printf '[Alarm]\r\n%b' "$2" > "in/$1.tmp" && mv "in/$1.tmp" "in/$1"; }
# The simulator takes any number; a real modem sends to the one named.
to() { echo "${number:-$1}"; }
job fire.sms   "Szenario=plant\r\nPhoneNumber=$(to '+49 170 1234567')\r\nName=Anna\r\nMessage=Fire alarm, building B\r\nAlarmKey=F1\r\ndbentry=0\r\n"
job boiler.sms "Szenario=plant\r\nPhoneNumber=$(to +491709876543)\r\nName=Ben\r\nAlarmKey=K17\r\ndbentry=1\r\n"
job round.sms  "PhoneNumber=$(to +491705550000)\r\nName=Guard\r\nMessage=Guard round completed\r\n"
job broken.sms 'Szenario=plant\r\nMessage=no number given\r\n'
echo "demo: four job files dropped into demo/in; results go to demo/done and demo/error,"
echo "      status rows to demo/tables/plant.dbf, the daily log to demo/log/"

if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$root/build/bin/gsms" ]; then
  "$root/build/bin/gsms" --profile-dir "$demo" &
else
  "$root/build/bin/gsmsd" --profile-dir "$demo" &
fi
gateway=$!
wait "$gateway" || true
