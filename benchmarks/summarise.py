#!/usr/bin/env python3
"""Prints the library benchmarks' JSON output as per-byte, per-record and
per-request figures. CPU time is used: on a shared machine the wall clock
also counts other processes."""
import json
import sys

NS_PER_UNIT = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
TARGET_NS_PER_BYTE = 20


def cpu_ns(run):
    return run["cpu_time"] * NS_PER_UNIT[run["time_unit"]]


def main(path):
    with open(path) as results:
        runs = json.load(results)["benchmarks"]
    for run in runs:
        name = run["name"].split("::")[-1]
        if "error_message" in run:
            print(f"    {name}: FAILED ({run['error_message']})")
        elif name.startswith("Encode/"):
            print(f"    {name}: {cpu_ns(run) / 1000:.2f} us a request")
        elif "records" in run:
            print(f"    {name} (request, reassembly and decoding): "
                  f"{cpu_ns(run) / run['records']:.0f} ns a record, "
                  f"{cpu_ns(run) / run['bytes']:.2f} ns a byte")
        else:
            per_byte = cpu_ns(run) / run["bytes"]
            print(f"    {name} of {run['bytes'] / 1048576:.0f} MiB: {per_byte:.2f} ns a byte"
                  f" (target <= {TARGET_NS_PER_BYTE})")


if __name__ == "__main__":
    main(sys.argv[1])
