#!/usr/bin/env bash
# Shows Vuno at work on this machine: a private system bus, the simulated
# platform (MCTP service, ME and host application) and the daemon. It reads
# the daemon's version, waits for the host link, and stops everything
# cleanly. Installs and builds what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null
vunod=$top/build/service/vunod
hostsim=$top/build/hostsim/vuno-hostsim

work=$(mktemp -d /tmp/vuno-demo-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# Waits up to $3 seconds for the text $2 in the file $1.
wait_for() {
  local deadline=$((SECONDS + $3))
  until grep -qF -- "$2" "$1"; do
    if [ $SECONDS -ge $deadline ]; then
      echo "timed out waiting for: $2" >&2
      return 1
    fi
    sleep 0.2
  done
}

step "Starting a private system bus"
dbus-daemon --config-file="$top/tests/support/system-bus.conf" \
  --address="unix:path=$work/bus" --nofork --nopidfile --print-address=1 >"$work/bus.log" 2>&1 &
pids+=($!)
wait_for "$work/bus.log" "unix:path=$work/bus" 10
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
echo "DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS"

step "Starting the simulated platform (MCTP service, ME, host application)"
"$hostsim" >"$work/hostsim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  busctl --system status xyz.openbmc_project.MCTP >/dev/null 2>&1 && break
  sleep 0.1
done
echo "vuno-hostsim is on the bus as xyz.openbmc_project.MCTP"

step "Starting the daemon"
"$vunod" >"$work/vunod.log" 2>&1 &
vunod_pid=$!
pids+=("$vunod_pid")
wait_for "$work/vunod.log" "VUNO Initialize" 10
sed -n '1,12p' "$work/vunod.log"

step "Reading the Version property"
for _ in $(seq 50); do
  busctl --system status xyz.openbmc_project.Vuno >/dev/null 2>&1 && break
  sleep 0.1
done
echo '$ busctl --system get-property xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno xyz.openbmc_project.vuno Version'
busctl --system get-property xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno \
  xyz.openbmc_project.vuno Version

step "Waiting for the host link"
wait_for "$work/vunod.log" "BMC to Host successfully connected." 30
grep -E 'Trying connect to VMD|successfully connected|First Heartbeat' "$work/vunod.log"
sleep 5
echo "Heartbeats received so far: $(grep -c 'Heartbeat ID' "$work/vunod.log" || true)"

step "Stopping the daemon with SIGTERM"
kill -TERM "$vunod_pid"
status=0
wait "$vunod_pid" || status=$?
echo "vunod exited with status $status; its last lines:"
tail -n 12 "$work/vunod.log"
