#!/usr/bin/env bash
# From the user's tap of Shift to the wheel's window mapped (bench_wheel_open_x11), for a drag of
# 1, 1,000 and 10,000 real JPEG files with the centre's picture made, median of 9, the tap made
# once the drag is under way. The clock starts at the key event. Limit: one frame, 16.7 ms.
# Usage: bench/wheel_open.sh, from the repository with build/ built; starts Xvfb without DISPLAY.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
private_display
trap '[ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true' EXIT
"$root/build/bench/bench_wheel_open_x11" --benchmark_repetitions=9 --benchmark_format=json 2>/dev/null | /usr/bin/python3 -c '
import json, sys
limit = 16.7
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    files = b["run_name"].split("/")[1]
    ms = b["real_time"]
    held = "held" if ms <= limit else "missed"
    print(f"| wheel mapped from the Shift key event, a drag of {files} files | {ms:.2f} ms | - | - | {limit} ms | {held} |")'
