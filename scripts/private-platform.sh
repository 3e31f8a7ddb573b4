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
# DBUS_SYSTEM_BUS_ADDRESS at it. Like a stock system bus it lets nobody own
# a name or call a method unless a policy file allows it: the policies are
# those of the build that $vunod belongs to. They admit root; run by another
# user, the demo gives that user root's place in a copy of them.
start_private_bus() {
  local build policies=() policy
  build=$(dirname "$(dirname "$vunod")")
  for policy in "$build/dist/xyz.openbmc_project.Vuno.conf" "$top/dist/xyz.openbmc_project.VunoHostSim.conf"; do
    if [ "$(id -u)" -ne 0 ]; then
      sed "s/user=\"root\"/user=\"$(id -un)\"/" "$policy" >"$work/$(basename "$policy")"
      policy=$work/$(basename "$policy")
    fi
    policies+=("  <include>$policy</include>")
  done
  printf '%s\n' "<busconfig>" "  <include>$top/tests/support/system-bus.conf</include>" \
    "${policies[@]}" "</busconfig>" >"$work/bus.conf"
  # Callers of every user must reach the socket, for the bus to judge them.
  chmod 755 "$work"
  dbus-daemon --config-file="$work/bus.conf" \
    --address="unix:path=$work/bus" --nofork --nopidfile --print-address=1 >"$work/bus.log" 2>&1 &
  pids+=($!)
  wait_for "$work/bus.log" "unix:path=$work/bus" 10
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"
}
