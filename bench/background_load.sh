#!/usr/bin/env bash
# Background removal of a 12 MP photo through the driver, alone and with eight busy loops beside
# it, each in a session of its own as other programs on the desktop are (one per core of an
# 8-core machine: twice the demand), alternating, median of 3. The subject network's threads
# wait for each other at every layer, so it takes no more threads than the load leaves cores:
# it should slow down no more than the load does (limit 2x with the loops). Our workers run at
# nice 10; a busy loop in our own session (autogroup) would outweigh them by design.
# Needs the subject model. Usage: bench/background_load.sh, from the repository with build/ built.
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
convert -size 4000x3000 gradient:gray55-gray85 -fill '#c83228' -draw "circle 2000,1500 2000,500" \
    -attenuate 0.3 +noise Gaussian -quality 90 "$work/photo.jpg"

remove() {
    rm -f "$work"/photo\ \(*
    seconds "$dev" run tool.image.removeBackground "$work/photo.jpg"
}
quiet=() loaded=()
for round in 1 2 3; do
    quiet+=("$(remove)")
    for i in $(seq 8); do
        setsid sh -c 'while :; do :; done' &
        loops+=($!)
    done
    loaded+=("$(remove)")
    for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
    loops=()
done
ls "$work" | grep -q "photo (" || echo "no result was written" >&2
echo "background removal: alone ${quiet[*]} s; with 8 busy loops ${loaded[*]} s; load $(cut -d' ' -f1 /proc/loadavg)" >&2
q=$(printf '%s\n' "${quiet[@]}" | median)
l=$(printf '%s\n' "${loaded[@]}" | median)
row "remove the background of a 12 MP photo, with 8 busy loops against alone" "$(printf '%.2f' "$l")" "$(printf '%.2f' "$q")" 2 " s" "alone"
