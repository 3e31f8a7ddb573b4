#!/usr/bin/env bash
# Measures the daemon on this machine against the simulated platform on a
# private system bus, and the protocol library on its own. Each figure is
# printed next to the ceiling that the link's pacing sets, with the ratio,
# and next to the client's own floor (a Peer.Ping round trip).
#   scripts/benchmark.sh                 size-optimised build in build-bench
#   BUILD=build scripts/benchmark.sh     an existing build folder instead
#   IDLE_SECONDS=60                      length of the idle measurement
#   VUNOD=path scripts/benchmark.sh      another daemon, for a comparison
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${BUILD:-build-bench}
idle_seconds=${IDLE_SECONDS:-60}

# Built as a BMC image builds its daemons: for size, with link-time
# optimisation and unused sections dropped. The tests' builds treat warnings
# as errors; this measurement build does not, so that a new optimiser
# warning cannot stop a measurement.
if [ ! -f "$build/build.ninja" ]; then
  meson setup "$build" --buildtype=minsize -Db_lto=true -Dwerror=false -Dbenchmarks=true \
    -Dc_args='-ffunction-sections -fdata-sections' -Dcpp_args='-ffunction-sections -fdata-sections' \
    -Dcpp_link_args=-Wl,--gc-sections \
    >"$build.setup.log" 2>&1 || {
    cat "$build.setup.log"
    exit 1
  }
fi
ninja -C "$build" service/vunod hostsim/vuno-hostsim benchmarks/bench_client \
  benchmarks/library_benchmarks >/dev/null
vunod=${VUNOD:-$top/$build/service/vunod}
hostsim=$top/$build/hostsim/vuno-hostsim
client=$top/$build/benchmarks/bench_client

# The pacing of the link, from which every ceiling below follows.
step_ms=10            # one processing step, 10 ms after the end of the last
payload_per_frame=1011 # payload bytes of a Data Frame after the first
# A one-frame request takes four steps: its frame out, its completion, our
# Status Frame for the response, the response handed over. A call that
# finds the daemon idle has its first step at once.
steps_isolated=3
steps_per_call=4

sequential_calls=200
callers=32
concurrent_calls=640
image_bytes=$((1024 * 1024))

platform_name=vuno-bench
# shellcheck source=scripts/private-platform.sh
source "$top/scripts/private-platform.sh"

calc() { python3 -c "print(round($1, 2))"; }
# Field $2 (key=value) of the line of $1 whose first word is $3.
field() { awk -v key="$2" -v first="$3" '$1 == first { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) print kv[2] } }' <<<"$1"; }
# Nanoseconds on a CPU, and sleeps (voluntary context switches), of every
# thread of process $1.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { print s }'; }
sleeps() { grep -h voluntary_ctxt_switches /proc/"$1"/task/*/status | grep -v nonvoluntary | awk '{ s += $2 } END { print s }'; }
memory_kb() { awk -v key="$2:" '$1 == key { print $2 }' /proc/"$1"/status; }
# Proportional set size: shared library pages divided among their users.
pss_kb() { awk '$1 == "Pss:" { print $2 }' /proc/"$1"/smaps_rollup; }

start_private_bus
"$hostsim" >"$work/hostsim.log" 2>&1 &
pids+=($!)
wait_for_name xyz.openbmc_project.MCTP
"$vunod" >"$work/vunod.log" 2>&1 &
vunod_pid=$!
pids+=($vunod_pid)
wait_for_name xyz.openbmc_project.Vuno
wait_for "$work/vunod.log" "BMC to Host successfully connected." 60

echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (other processes slow every figure)"
echo "Pacing: one processing step at most every $step_ms ms, one frame per step;" \
  "$payload_per_frame payload bytes per frame. Floor of the client: Peer.Ping."
echo

# Idle first, before any call has grown the heap.
sleep 2
rss_idle=$(memory_kb "$vunod_pid" VmRSS)
pss_idle=$(pss_kb "$vunod_pid")
cpu0=$(cpu_ns "$vunod_pid")
sleeps0=$(sleeps "$vunod_pid")
sleep "$idle_seconds"
cpu1=$(cpu_ns "$vunod_pid")
sleeps1=$(sleeps "$vunod_pid")
echo "(1) Idle for $idle_seconds s, linked to the host (heartbeat every 2 s, library tick every 1 s)"
echo "    CPU: $(calc "($cpu1 - $cpu0) / 1e9 / $idle_seconds * 100") % of one core (target <= 0.05 %)"
echo "    wake-ups: $(calc "($sleeps1 - $sleeps0) / $idle_seconds") per second (target <= 3)"
echo "    RSS: $(calc "$rss_idle / 1024") MB (target <= 6 MB); PSS: $(calc "$pss_idle / 1024") MB"
echo

out=$("$client" latency "$sequential_calls" 20)
call_median=$(field "$out" median_ms call)
call_p95=$(field "$out" p95_ms call)
ceiling=$((steps_isolated * step_ms))
echo "(2) GetExecutorInformation, $sequential_calls calls one at a time, 20 ms apart (failed: $(field "$out" failed call) $(field "$out" errors call))"
echo "    measured: median $call_median ms, p95 $call_p95 ms (target median <= 35 ms)"
echo "    ceiling: $steps_isolated steps after the first = $ceiling ms;" \
  "ceiling/measured: median $(calc "$ceiling / $call_median"), p95 $(calc "$ceiling / $call_p95")"
echo "    client floor (Ping): median $(field "$out" median_ms ping) ms, p95 $(field "$out" p95_ms ping) ms"
echo "    simulated ME, sendMessage answered in: median $(field "$out" median_ms me_answer) ms," \
  "p95 $(field "$out" p95_ms me_answer) ms, max $(field "$out" max_ms me_answer) ms"
echo "    simulated host, frames after the daemon's frame: median $(field "$out" median_ms host_answer) ms," \
  "p95 $(field "$out" p95_ms host_answer) ms, max $(field "$out" max_ms host_answer) ms (one step: $step_ms ms)"
out=$("$client" latency 100 0)
ceiling=$((steps_per_call * step_ms))
echo "    back to back (the next call's first step waits $step_ms ms after the last one):" \
  "median $(field "$out" median_ms call) ms, p95 $(field "$out" p95_ms call) ms; ceiling $ceiling ms," \
  "ceiling/measured $(calc "$ceiling / $(field "$out" median_ms call)")"
echo

out=$("$client" throughput "$callers" "$concurrent_calls")
rss_busy=$(memory_kb "$vunod_pid" VmHWM)
rate=$(field "$out" calls_per_s call)
ceiling=$(calc "1000 / ($steps_per_call * $step_ms)")
echo "(3) GetExecutorInformation, $callers calls in flight, $concurrent_calls calls" \
  "(failed: $(field "$out" failed call) $(field "$out" errors call))"
echo "    measured: $rate calls/s; ceiling $ceiling calls/s ($steps_per_call steps a call);" \
  "ratio $(calc "$rate / $ceiling") (target >= 0.9)"
echo "    client floor (Ping, $callers in flight): $(field "$out" calls_per_s ping) calls/s"
echo "    simulated ME, sendMessage answered in: median $(field "$out" median_ms me_answer) ms," \
  "p95 $(field "$out" p95_ms me_answer) ms; simulated host, frames after the daemon's frame:" \
  "median $(field "$out" median_ms host_answer) ms, p95 $(field "$out" p95_ms host_answer) ms"
echo "    peak RSS so far: $(calc "$rss_busy / 1024") MB (target <= 10 MB)"
echo

head -c "$image_bytes" /dev/urandom >"$work/image.bin"
out=$("$client" firmware "$work/image.bin")
seconds=$(field "$out" seconds firmware)
rate=$(calc "$image_bytes / $seconds / 1000")
ceiling=$(calc "$payload_per_frame * 1000 / $step_ms / 1000")
echo "(4) SendFirmwareToSlot, $image_bytes bytes in $seconds s (failed: $(field "$out" failed firmware) $(field "$out" errors firmware))"
echo "    measured: $rate kB/s; ceiling $ceiling kB/s (one full frame a step); ratio $(calc "$rate / $ceiling") (target >= 0.94)"
echo "    client floor (Ping): median $(field "$out" median_ms ping) ms a call"
echo

strip -o "$work/vunod.stripped" "$vunod"
echo "(5) Stripped vunod: $(calc "$(stat -c %s "$work/vunod.stripped") / 1048576") MB (target <= 1.5 MB)"
echo

echo "(6) Library alone (public interface, a platform that answers at once):"
"$top/$build/benchmarks/library_benchmarks" --benchmark_format=json >"$work/library.json" 2>/dev/null
python3 "$top/benchmarks/summarise.py" "$work/library.json"
echo
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
