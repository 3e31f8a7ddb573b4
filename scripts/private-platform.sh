# Shared by the demo and the benchmark (source it after setting $top and
# $platform_name): a temporary folder, background processes that are ended
# by pid on exit, bounded waits, and a private system bus.

work=$(mktemp -d "/tmp/${platform_name}-XXXXXX")
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

# Waits up to 10 seconds for the bus name $1 to have an owner.
wait_for_name() {
  for _ in $(seq 100); do
    busctl --system status "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "$1 did not appear on the bus" >&2
  return 1
}

# Starts a dbus-daemon of type system in $work and points
# DBUS_SYSTEM_BUS_ADDRESS at it.
start_private_bus() {
  dbus-daemon --config-file="$top/tests/support/system-bus.conf" \
    --address="unix:path=$work/bus" --nofork --nopidfile --print-address=1 >"$work/bus.log" 2>&1 &
  pids+=($!)
  wait_for "$work/bus.log" "unix:path=$work/bus" 10
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
}
