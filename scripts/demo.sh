#!/usr/bin/env bash
# Shows Vuno at work on this machine: a private system bus, the simulated
# platform (MCTP service, ME and host application) and the daemon. It reads
# the daemon's version, waits for the host link, calls a few storage
# methods, and stops everything cleanly. Installs and builds what it needs
# first.
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

step "Waiting for the host link"
wait_for "$work/vunod.log" "BMC to Host successfully connected." 30
grep -E 'Trying connect to VMD|successfully connected|First Heartbeat' "$work/vunod.log"
sleep 5
echo "Heartbeats received so far: $(grep -c 'Heartbeat ID' "$work/vunod.log" || true)"

step "Calling storage methods"
# Every answer is one a{sv} dictionary, an error included. Calls that can
# take long (a firmware image of megabytes, a request the host leaves to
# time out after a minute) need a client time-out above busctl's 25 s.
storage=(xyz.openbmc_project.Vuno /xyz/openbmc_project/Vuno xyz.openbmc_project.vuno.pelk)
call() {
  printf '$ busctl --system --timeout=90 call %s' "${storage[*]}"
  printf ' %q' "$@"
  echo
  busctl --system --timeout=90 call "${storage[@]}" "$@"
}
call_json() {
  busctl --system --timeout=90 --json=short call "${storage[@]}" "$@"
}
# Reads busctl's JSON reply on standard input and prints the Id of the first
# item of list $1 whose entry $2 is $3.
first_id_where() {
  python3 -c 'import json, sys
items = json.load(sys.stdin)["data"][0][sys.argv[1]]["data"]
print(next(item["Id"]["data"] for item in items if item[sys.argv[2]]["data"] == sys.argv[3]))' "$@"
}
# Reads busctl's JSON reply on standard input and prints entry $2 of the
# first item of list $1.
first_item_entry() {
  python3 -c 'import json, sys
print(json.load(sys.stdin)["data"][0][sys.argv[1]]["data"][0][sys.argv[2]]["data"])' "$@"
}
global=(ss Global 00000000-0000-0000-0000-000000000000)

call GetExecutorInformation
call GetControllerIdentifiers "${global[@]}"

drive=$(call_json GetDriveInformation "${global[@]}" | first_id_where Drives Usage Pass-through)
echo "A pass-through drive: $drive"
call MarkDriveAsSpare s "$drive"
echo "Its usage now: $(call_json GetDriveInformation ss Drive "$drive" | first_item_entry Drives Usage)"

volume=$(call_json GetVolumeInformation "${global[@]}" | first_item_entry Volumes Id)
echo "A volume: $volume, named $(call_json GetVolumeInformation ss Volume "$volume" | first_item_entry Volumes Name)"
call RenameVolume ss "$volume" "Renamed by BMC"
echo "Its name now: $(call_json GetVolumeInformation ss Volume "$volume" | first_item_entry Volumes Name)"

call DeleteVolume s 0102030405060708090a0b0c0d0e0f10
call GetDriveIdentifiers ss Drive 123

step "The host's storage, in readable form"
# Prints the items of list $1 of busctl's JSON reply as a table of the
# entries named in the remaining arguments.
table() {
  python3 -c 'import json, sys
reply = json.load(sys.stdin)["data"][0]
keys = sys.argv[2:]
rows = [[str(item.get(k, {}).get("data", "")) for k in keys] for item in reply[sys.argv[1]]["data"]]
widths = [max(len(c) for c in column) for column in zip(keys, *rows)]
for row in [keys] + rows:
    print("  " + "  ".join(c.ljust(w) for c, w in zip(row, widths)))' "$@"
}
echo "Controllers:"
call_json GetControllerInformation "${global[@]}" | table Controllers Name Type VendorId MaxDrivesPerController
echo "Drives:"
call_json GetDriveInformation "${global[@]}" | table Drives Model Serial Type Status Usage Size
echo "Arrays:"
call_json GetArrayInformation "${global[@]}" | table Arrays Name TotalSize FreeSize
echo "Volumes:"
call_json GetVolumeInformation "${global[@]}" | table Volumes Name Level State StripSizeKiB Size

step "Creating and deleting a volume, watched by an event subscription"
subscription=$(call_json CreateEventSubscription ssas Global 00000000-0000-0000-0000-000000000000 \
  2 "Volume added" "Volume removed" |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["data"][0]["SubscriptionId"]["data"])')
echo "Subscribed to volume events: $subscription"
free_drives=$(call_json GetDriveInformation "${global[@]}" | python3 -c 'import json, sys
items = json.load(sys.stdin)["data"][0]["Drives"]["data"]
print(" ".join(i["Id"]["data"] for i in items if i["Usage"]["data"] == "Pass-through" and i["Type"]["data"] == "SATA"))')
echo "Free SATA drives: $free_drives"
# shellcheck disable=SC2086
call CreateVolume sustsbssas "Scratch" 64 1 0 "" false "Off" "" 2 $free_drives
new_volume=$(call_json GetVolumeInformation "${global[@]}" | first_id_where Volumes Name Scratch)
echo "The new volume: $new_volume"
call_json GetVolumeInformation ss Volume "$new_volume" | table Volumes Name Level State Size
call DeleteVolume s "$new_volume"
echo "Events received:"
call_json GetEvents su "$subscription" 0 | table Events EventType EventIdentifier
call CancelEventSubscription s "$subscription"

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
