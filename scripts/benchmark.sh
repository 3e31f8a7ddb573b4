#!/usr/bin/env bash
# Measures the storage interface end to end on this machine: a release
# build, a private system bus, the simulated platform and the daemon.
# Prints each figure next to the ceiling that the system's own pacing sets,
# and the ratio of the two.
#   scripts/benchmark.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

# Only the two programs measured; the tests are not needed here. The tests'
# builds treat warnings as errors; this measurement build does not, so that
# a new optimiser warning at -O3 cannot stop a measurement.
if [ ! -f build-bench/build.ninja ]; then
  meson setup build-bench --buildtype=release -Dwerror=false >build-bench.setup.log 2>&1 || {
    cat build-bench.setup.log
    exit 1
  }
fi
ninja -C build-bench service/vunod hostsim/vuno-hostsim >/dev/null
vunod=$top/build-bench/service/vunod
hostsim=$top/build-bench/hostsim/vuno-hostsim
client=$top/scripts/benchmark_client.py

# The pacing of the link, from which every ceiling below is derived.
step_ms=10            # one processing step of the daemon
frames_per_step=1     # frames sent per step, each way
poll_ms=50            # period of the completion poll
payload_per_frame=1011 # payload bytes of one frame
steps_per_call=2      # at least: the request frame out, the response frame back

sequential_calls=200
callers=32
calls_per_caller=10
image_bytes=$((1024 * 1024))

platform_name=vuno-bench
# shellcheck source=scripts/private-platform.sh
source "$top/scripts/private-platform.sh"

start_private_bus

"$hostsim" >"$work/hostsim.log" 2>&1 &
pids+=($!)
wait_for_name xyz.openbmc_project.MCTP
"$vunod" >"$work/vunod.log" 2>&1 &
pids+=($!)
wait_for_name xyz.openbmc_project.Vuno
wait_for "$work/vunod.log" "BMC to Host successfully connected." 60

# Reads field $2 (name=value) from the line of $1 that starts with $3.
field() { awk -v key="$2" -v first="$3" '$1 == first { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) print kv[2] } }' <<<"$1"; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.2f}')" "$1" "$2"; }
calc() { python3 -c "print(round($1, 1))"; }

frames_per_s=$(calc "1000 / $step_ms * $frames_per_step")
latency_floor_ms=$(calc "$steps_per_call * $step_ms + $poll_ms / 2")
latency_p95_floor_ms=$(calc "$steps_per_call * $step_ms + $poll_ms * 0.95")
calls_ceiling=$(calc "$frames_per_s / 1")
firmware_ceiling=$(calc "$payload_per_frame * $frames_per_s")

echo "Pacing: one step every $step_ms ms, $frames_per_step frame per step each way" \
  "(${frames_per_s} frames/s), completion poll every $poll_ms ms, $payload_per_frame payload bytes per frame."
echo "Ceilings: latency >= $steps_per_call steps x $step_ms ms + poll delay (uniform 0..$poll_ms ms," \
  "median $((poll_ms / 2)) ms, 95th percentile $(calc "$poll_ms * 0.95") ms);"
echo "  calls/s <= frames/s, since each call takes one request frame out and one response frame back;"
echo "  firmware bytes/s <= payload bytes per frame x frames/s."
echo

out=$(python3 "$client" latency "$sequential_calls")
base_median=$(field "$out" median_ms baseline)
call_median=$(field "$out" median_ms call)
call_p95=$(field "$out" p95_ms call)
base_p95=$(field "$out" p95_ms baseline)
net_median=$(calc "$call_median - $base_median")
net_p95=$(calc "$call_p95 - $base_p95")
echo "(a) GetExecutorInformation, $sequential_calls sequential calls (failed: $(field "$out" failed call))"
echo "    client baseline (busctl get-property Version): median ${base_median} ms, p95 ${base_p95} ms"
echo "    measured: median ${call_median} ms, p95 ${call_p95} ms;" \
  "less the baseline: median ${net_median} ms, p95 ${net_p95} ms"
echo "    (a percentile less a percentile is only an estimate; the client's spread counts twice)"
echo "    floor: median ${latency_floor_ms} ms, p95 ${latency_p95_floor_ms} ms;" \
  "floor/measured (net): median $(ratio "$latency_floor_ms" "$net_median"), p95 $(ratio "$latency_p95_floor_ms" "$net_p95")"
echo

out=$(python3 "$client" throughput "$callers" "$calls_per_caller")
base_rate=$(field "$out" calls_per_s baseline)
call_rate=$(field "$out" calls_per_s call)
echo "(b) GetExecutorInformation, $callers concurrent callers x $calls_per_caller calls" \
  "(completed: $(field "$out" completed call), failed or Busy: $(field "$out" failed call))"
echo "    client baseline (get-property Version with the same callers): ${base_rate} calls/s"
echo "    measured: ${call_rate} calls/s; ceiling ${calls_ceiling} calls/s; ratio $(ratio "$call_rate" "$calls_ceiling")"
echo

out=$(python3 "$client" firmware "$image_bytes" "$work")
rate=$(field "$out" bytes_per_s firmware)
echo "(c) SendFirmwareToSlot, $image_bytes bytes in $(field "$out" seconds firmware) s (answered without error: $(field "$out" ok firmware))"
echo "    measured: ${rate} bytes/s; ceiling ${firmware_ceiling} bytes/s; ratio $(ratio "$rate" "$firmware_ceiling")"
