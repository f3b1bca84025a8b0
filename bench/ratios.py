#!/usr/bin/env python3
"""Reads Google Benchmark JSON and prints each result as a ratio of the
baseline measured in the same run (by default the loopback connect+accept;
another one by name as the second argument)."""
import json
import sys

data = json.load(open(sys.argv[1]))
times = {}
# A benchmark that could not measure (its set-up failed) fails the run: a
# figure that silently stops being measured is worse than none.
failed = [f'{b["name"]}: {b.get("error_message", "error")}' for b in data["benchmarks"] if b.get("error_occurred")]
for b in data["benchmarks"]:
    if b.get("error_occurred"):
        continue
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    name = b.get("run_name", b["name"])
    times[name] = b["real_time"] if b["time_unit"] == "ns" else b["real_time"] * {"us": 1e3, "ms": 1e6}[b["time_unit"]]
baseline = sys.argv[2] if len(sys.argv) > 2 else "BM_LoopbackConnectAccept"
base = times.get(baseline)
for name, ns in times.items():
    ratio = f"{ns / base:.3f}" if base else "n/a"
    print(f"{name:32s} {ns/1000:10.2f} us   ratio to {baseline}: {ratio}")
for line in failed:
    print(f"not measured: {line}")
sys.exit(1 if failed else 0)
