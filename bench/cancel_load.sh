#!/usr/bin/env bash
# Cancelling an item that hangs its library (a truncated SVGZ that keeps librsvg busy), with
# eight busy loops beside it and without: from SIGTERM to the driver to its end, the worker
# killed and its work removed; median of 5 each, alternating (limit 0.5 s under load).
# Usage: bench/cancel_load.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
loops=()
cleanup() { for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/config/quorvenda" "$work/cache"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen
cp "$root/tests/files/hostile/truncated.svgz" "$work/cut.svgz"

now_ms() { date +%s%3N; }
# Starts the hung item, waits until its worker spins, stops the run; the milliseconds it took.
stop_ms() {
    "$dev" run convert.image.png "$work/cut.svgz" >/dev/null 2>&1 &
    local pid=$! start
    sleep 3
    start=$(now_ms)
    kill -TERM "$pid"
    wait "$pid" || true
    echo $(( $(now_ms) - start ))
}

quiet=() loaded=()
for round in 1 2 3 4 5; do
    quiet+=("$(stop_ms)")
    for i in 1 2 3 4 5 6 7 8; do
        sh -c 'while :; do :; done' &
        loops+=($!)
    done
    loaded+=("$(stop_ms)")
    for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
    loops=()
done
q=$(printf '%s\n' "${quiet[@]}" | median)
l=$(printf '%s\n' "${loaded[@]}" | median)
echo "cancel: quiet ${quiet[*]} ms; eight busy loops ${loaded[*]} ms" >&2
ratio=$(awk -v a="$l" -v b="$q" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
held=$(awk -v v="$l" 'BEGIN { print (v <= 500) ? "held" : "missed" }')
echo "| cancel a hung item with 8 busy loops beside it | $l ms | quiet $q ms | $ratio | ≤ 500 ms | $held |"
[ -z "$(ls -A "$work/cache/quorvenda/tmp" 2>/dev/null | grep -v '^\.work-folders$' || true)" ] || echo "work left behind in the temporary root" >&2
