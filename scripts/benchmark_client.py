#!/usr/bin/env python3
"""Times calls of the storage interface made with busctl.

  benchmark_client.py latency N                 N sequential calls
  benchmark_client.py throughput CALLERS N      CALLERS callers, N calls each
  benchmark_client.py firmware SIZE FOLDER      one SendFirmwareToSlot of SIZE bytes

Every figure is printed twice: for the storage call and for a trivial
property read through the same busctl, whose cost is the client's own
(process start, bus connection) and is subtracted where noted.
"""
import concurrent.futures
import os
import statistics
import subprocess
import sys
import time

STORAGE = ["xyz.openbmc_project.Vuno", "/xyz/openbmc_project/Vuno"]
STORAGE_CALL = ["busctl", "--system", "--timeout=300", "call", *STORAGE,
                "xyz.openbmc_project.vuno.pelk"]
EXECUTOR_INFO = STORAGE_CALL + ["GetExecutorInformation"]
VERSION_READ = ["busctl", "--system", "get-property", *STORAGE,
                "xyz.openbmc_project.vuno", "Version"]


def timed(argv):
    """Seconds taken by one busctl run, and whether it answered data."""
    start = time.monotonic()
    result = subprocess.run(argv, capture_output=True, text=True)
    elapsed = time.monotonic() - start
    ok = result.returncode == 0 and '"Error"' not in result.stdout
    return elapsed, ok


def percentile(samples, fraction):
    ordered = sorted(samples)
    index = min(len(ordered) - 1, max(0, round(fraction * len(ordered)) - 1))
    return ordered[index]


def latency(count):
    for name, argv in (("baseline", VERSION_READ), ("call", EXECUTOR_INFO)):
        runs = [timed(argv) for _ in range(count)]
        samples = [elapsed * 1000 for elapsed, _ in runs]
        failed = sum(1 for _, ok in runs if not ok)
        print(f"{name} median_ms={statistics.median(samples):.1f} "
              f"p95_ms={percentile(samples, 0.95):.1f} failed={failed}")


def throughput(callers, count):
    def caller(argv):
        return [timed(argv)[1] for _ in range(count)]

    for name, argv in (("baseline", VERSION_READ), ("call", EXECUTOR_INFO)):
        start = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(callers) as pool:
            results = list(pool.map(caller, [argv] * callers))
        elapsed = time.monotonic() - start
        completed = sum(ok for runs in results for ok in runs)
        failed = callers * count - completed
        print(f"{name} calls_per_s={completed / elapsed:.1f} completed={completed} "
              f"failed={failed} seconds={elapsed:.2f}")


def firmware(size, folder):
    image = os.path.join(folder, "image.bin")
    with open(image, "wb") as out:
        out.write(os.urandom(size))
    elapsed, ok = timed(STORAGE_CALL + ["SendFirmwareToSlot", "qss", "2", "bench1", image])
    baseline, _ = timed(VERSION_READ)
    print(f"firmware bytes={size} seconds={elapsed:.2f} ok={int(ok)} "
          f"bytes_per_s={size / max(elapsed - baseline, 1e-6):.0f}")


def main():
    mode = sys.argv[1]
    if mode == "latency":
        latency(int(sys.argv[2]))
    elif mode == "throughput":
        throughput(int(sys.argv[2]), int(sys.argv[3]))
    elif mode == "firmware":
        firmware(int(sys.argv[2]), sys.argv[3])
    else:
        sys.exit(f"unknown mode {mode}")


if __name__ == "__main__":
    main()
