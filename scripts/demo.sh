#!/usr/bin/env bash
# Shows Vuno at work on this machine: a private system bus, the simulated
# platform (MCTP service, ME and host application) and the daemon. It reads
# the daemon's version, waits for the host link, then manages the host's
# storage with vunoctl, and stops everything cleanly. Installs and builds
# what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null
vunod=$top/build/service/vunod
hostsim=$top/build/hostsim/vuno-hostsim

platform_name=vuno-demo
# shellcheck source=scripts/private-platform.sh
source "$top/scripts/private-platform.sh"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Starting a private system bus"
start_private_bus
echo "DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS"

step "Starting the simulated platform (MCTP service, ME, host application)"
"$hostsim" >"$work/hostsim.log" 2>&1 &
pids+=($!)
wait_for_name xyz.openbmc_project.MCTP
echo "vuno-hostsim is on the bus as xyz.openbmc_project.MCTP"

step "Starting the daemon"
"$vunod" >"$work/vunod.log" 2>&1 &
vunod_pid=$!
pids+=("$vunod_pid")
wait_for "$work/vunod.log" "VUNO Initialize" 10
sed -n '1,12p' "$work/vunod.log"

step "Reading the Version property"
wait_for_name xyz.openbmc_project.Vuno
echo '$ busctl --system get-property xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno xyz.openbmc_project.vuno Version'
busctl --system get-property xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno \
  xyz.openbmc_project.vuno Version

if [ "$(id -u)" -eq 0 ]; then
  step "Who may call: root only, unless a group is named at build time"
  nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  echo '$ setpriv --reuid=nobody ... busctl --system get-property ... Version'
  "${nobody[@]}" busctl --system get-property xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno \
    xyz.openbmc_project.vuno Version
  echo '$ setpriv --reuid=nobody ... dbus-send --system ... GetExecutorInformation'
  "${nobody[@]}" dbus-send --system --print-reply --dest=xyz.openbmc_project.Vuno \
    /xyz/openbmc_project/Vuno xyz.openbmc_project.vuno.pelk.GetExecutorInformation 2>&1 || true
fi

step "Waiting for the host link"
wait_for "$work/vunod.log" "BMC to Host successfully connected." 30
grep -E 'Trying connect to VMD|successfully connected|First Heartbeat' "$work/vunod.log"
sleep 5
echo "Heartbeats received so far: $(grep -c 'Heartbeat ID' "$work/vunod.log" || true)"

vunoctl=$top/build/vunoctl/vunoctl
# Shows the command, then runs it; an error is part of the show.
run() {
  printf '\n$ vunoctl'
  printf ' %q' "$@"
  echo
  "$vunoctl" "$@" || echo "(exit status $?)"
}

step "The host's storage, as vunoctl shows it"
run executor info
run controller list
run drive list
run array list
run volume list
run --json executor info

step "Marking a drive as a spare"
drive=$("$vunoctl" drive list | awk '$NF == "Pass-through" { print $1; exit }')
run drive spare "$drive"
run drive list --id "$drive"

step "A volume's life, watched by an event subscription"
subscription=$("$vunoctl" event subscribe "Volume added" "Volume removed" |
  awk '$1 == "SubscriptionId:" { print $2 }')
echo "Subscribed to volume events: $subscription"
mapfile -t free_drives < <("$vunoctl" drive list | awk '$NF == "Pass-through" && / SATA / { print $1 }')
run volume create Scratch --level 1 --size 100G "${free_drives[@]}"
volume=$("$vunoctl" volume list | awk '$2 == "Scratch" { print $1 }')
run volume rename "$volume" "Renamed by BMC"
run volume list
run volume delete "$volume"
run event get "$subscription"
run event unsubscribe "$subscription"

step "Errors say what went wrong"
run volume delete 0102030405060708090a0b0c0d0e0f10
run drive list --id 123
run volume create Scratch --level 1 --strip-size 3 "${free_drives[@]}"

step "A firmware image of a megabyte, with progress"
head -c 1000000 /dev/urandom >"$work/firmware.bin"
run firmware send --slot 3 --revision 4.0.1 "$work/firmware.bin"
run firmware slots

step "Events as they happen"
echo '$ vunoctl event watch "Drive failed" &'
"$vunoctl" event watch "Drive failed" >"$work/watch.log" 2>&1 &
watch_pid=$!
pids+=("$watch_pid")
wait_for "$work/watch.log" "Watching events" 10
echo "The simulated host reports drive $drive failed."
busctl --system call xyz.openbmc_project.VunoHostSim /xyz/openbmc_project/VunoHostSim \
  xyz.openbmc_project.VunoHostSim.Control TriggerEvent ys 2 "$drive"
wait_for "$work/watch.log" "Drive failed" 20
kill -TERM "$watch_pid"
status=0
wait "$watch_pid" || status=$?
cat "$work/watch.log"
echo "vunoctl event watch ended with status $status, its subscription cancelled"

step "Stopping the daemon with SIGTERM"
kill -TERM "$vunod_pid"
status=0
wait "$vunod_pid" || status=$?
echo "vunod exited with status $status; its last lines:"
tail -n 12 "$work/vunod.log"

# The host's storage in the BMC's inventory and event log: a daemon with
# --inventory-mirror publishes it for the object mapper and turns the host's
# events into journal entries (here written to a file: no journald runs).
demo_inventory_mirror() {
  step "The host's storage in the BMC's inventory and event log"
  wait_for_name_released() {
    for _ in $(seq 100); do
      busctl --system status xyz.openbmc_project.Vuno >/dev/null 2>&1 || return 0
      sleep 0.1
    done
  }
  wait_for_name_released
  local log=$work/vunod-mirror.log events=$work/events.export
  "$vunod" --inventory-mirror --journal-export "$events" >"$log" 2>&1 &
  pids+=($!)
  wait_for "$log" "the host's storage was read and published" 40
  echo '$ busctl --system tree xyz.openbmc_project.Vuno'
  busctl --system tree xyz.openbmc_project.Vuno
  local drive
  drive=$(busctl --system tree --list xyz.openbmc_project.Vuno | grep '/drive_' | head -n 1)
  echo "\$ busctl --system get-property xyz.openbmc_project.Vuno $drive xyz.openbmc_project.Inventory.Decorator.Asset SerialNumber"
  busctl --system get-property xyz.openbmc_project.Vuno "$drive" \
    xyz.openbmc_project.Inventory.Decorator.Asset SerialNumber
  echo "The simulated host fails that drive; the event reaches the log:"
  busctl --system call xyz.openbmc_project.VunoHostSim /xyz/openbmc_project/VunoHostSim \
    xyz.openbmc_project.VunoHostSim.Control FailDrive s "${drive##*/drive_}"
  wait_for "$events" "REDFISH_MESSAGE_ID=StorageDevice.1.0.DriveFailure" 20
  cat "$events"
  # The drive is read again after its event was logged.
  for _ in $(seq 100); do
    busctl --system get-property xyz.openbmc_project.Vuno "$drive" \
      xyz.openbmc_project.State.Decorator.OperationalStatus Functional | grep -q false && break
    sleep 0.1
  done
  echo "\$ busctl --system get-property xyz.openbmc_project.Vuno $drive xyz.openbmc_project.State.Decorator.OperationalStatus Functional"
  busctl --system get-property xyz.openbmc_project.Vuno "$drive" \
    xyz.openbmc_project.State.Decorator.OperationalStatus Functional
}
demo_inventory_mirror
