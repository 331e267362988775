#!/usr/bin/env bash
# From a drag taking XdndSelection to the wheel's window mapped (bench_wheel_open_x11), for 1,
# 1,000 and 10,000 dragged files, median of 9; beside it the drag watcher's own part for as many
# files (bench_drag_watcher_x11), which the wheel's figure includes. Limits (one frame): 10 ms for
# 1,000 files and 16 ms for 1 and for 10,000, on an idle machine.
# Usage: bench/wheel_open.sh, from the repository with build/ built; starts Xvfb without DISPLAY.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
    display=:$(( 100 + RANDOM % 400 ))
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill "$xvfb" 2>/dev/null || true' EXIT
    export DISPLAY=$display
    sleep 1
fi
medians() {
    "$1" --benchmark_repetitions=9 --benchmark_format=json 2>/dev/null | /usr/bin/python3 -c '
import json, sys
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") == "median":
        print(b["run_name"].split("/")[1], round(b["real_time"], 2))'
}
declare -A watcher
while read -r files ms; do watcher[$files]=$ms; done < <(medians "$root/build/bench/bench_drag_watcher_x11")
medians "$root/build/bench/bench_wheel_open_x11" | while read -r files ms; do
    limit=16; [ "$files" = 1000 ] && limit=10
    peer=${watcher[$files]:-}
    ratio=$([ -n "$peer" ] && awk "BEGIN{printf \"%.1f\", $ms / $peer}" || echo "-")
    held=$(awk "BEGIN{exit !($ms < $limit)}" && echo held || echo missed)
    echo "| wheel mapped after a drag of $files files | ${ms} ms | drag watcher alone ${peer:--} ms | $ratio | $limit ms | $held |"
done
