#!/usr/bin/env bash
# Background removal of a 12 MP photo under load: does it slow down more than the machine's load
# slows down other work? In the same run, alternating, median of 3 rounds: ours
# (`quorvenda-dev run tool.image.removeBackground`) alone and with eight busy loops beside it, and
# a peer workload of the same length and kind alone and with the same loops (`vips gaussblur
# --precision float` of the same photo: libvips' threads on every core, as the subject network's).
# The loops run in sessions of their own, as other programs of the desktop are (one per core of an
# 8-core machine: twice the demand); ours and the peer run in this one, both at the workers'
# background priority. The figure is ours' slowdown over the peer's (ratio of ratios): 1 means
# ours degrades exactly as the machine's load makes other work degrade (limit 1.2).
# Needs the subject model. Usage: bench/background_load.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
loops=()
stop_loops() { for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done; loops=(); }
cleanup() { stop_loops; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/config/quorvenda" "$work/cache"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen
convert -size 4000x3000 gradient:gray55-gray85 -fill '#c83228' -draw "circle 2000,1500 2000,500" \
    -attenuate 0.3 +noise Gaussian -quality 90 "$work/photo.jpg"

background() { nice -n 10 chrt -b 0 ionice -c 3 "$@"; }
ours() {
    rm -f "$work"/photo\ \(*
    seconds background "$dev" run tool.image.removeBackground "$work/photo.jpg"
}
peer() { seconds background vips gaussblur "$work/photo.jpg" "$work/peer.v" 100 --precision float; }
start_loops() {
    for i in $(seq 8); do
        setsid sh -c 'while :; do :; done' &
        loops+=($!)
    done
    # The loops have the processors before the work starts, as a busy desktop has.
    sleep 1
}

ours_alone=() ours_loaded=() peer_alone=() peer_loaded=()
ours >/dev/null # the model read once from disk, as every later run finds it in the cache
for round in 1 2 3; do
    ours_alone+=("$(ours)")
    peer_alone+=("$(peer)")
    start_loops
    ours_loaded+=("$(ours)")
    peer_loaded+=("$(peer)")
    stop_loops
    sleep 1
done
ls "$work" | grep -q "photo (" || echo "no result was written" >&2
echo "background removal: alone ${ours_alone[*]} s; with 8 busy loops ${ours_loaded[*]} s" >&2
echo "vips gaussblur: alone ${peer_alone[*]} s; with 8 busy loops ${peer_loaded[*]} s; load $(cut -d' ' -f1 /proc/loadavg)" >&2
oa=$(printf '%s\n' "${ours_alone[@]}" | median)
ol=$(printf '%s\n' "${ours_loaded[@]}" | median)
pa=$(printf '%s\n' "${peer_alone[@]}" | median)
pl=$(printf '%s\n' "${peer_loaded[@]}" | median)
ours_slowdown=$(awk -v l="$ol" -v a="$oa" 'BEGIN { printf "%.2f", l / a }')
peer_slowdown=$(awk -v l="$pl" -v a="$pa" 'BEGIN { printf "%.2f", l / a }')
echo "| remove the background of a 12 MP photo, alone | $(printf '%.2f' "$oa") s | vips gaussblur $(printf '%.2f' "$pa") s | - | - | - |"
echo "| the same with 8 busy loops | $(printf '%.2f' "$ol") s | vips gaussblur $(printf '%.2f' "$pl") s | - | - | - |"
row "background removal: slowdown under 8 busy loops, against the peer's" "$ours_slowdown" "$peer_slowdown" 1.2 "x" "vips gaussblur"
