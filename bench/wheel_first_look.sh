#!/usr/bin/env bash
# The wheel's first view after the drag watcher, without X (bench_wheel_first_look): dragged URLs
# to the convert wheel's content, read as one file of each kind (ours) against a FileInfo per
# file (peer), median of 9, for 1, 1,000 and 10,000 photos. No limit of its own: it is the part
# of bench/wheel_open.sh's figure that grows with the files.
# Usage: bench/wheel_first_look.sh, from the repository with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QT_QPA_PLATFORM=offscreen "$root/build/bench/bench_wheel_first_look" --benchmark_repetitions=9 \
    --benchmark_format=json 2>/dev/null | /usr/bin/python3 -c '
import json, sys
medians = {}
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") == "median":
        road, files = b["run_name"].split("/")[:2]
        medians[(road, int(files))] = b["real_time"]
for files in (1, 1000, 10000):
    ours, peer = medians[("byKinds", files)], medians[("byFiles", files)]
    print(f"| wheel content from {files} dragged names | {ours:.3f} ms | per file {peer:.3f} ms | {ours / peer:.2f} | - | - |")'
