#!/usr/bin/env bash
# Pictures a 1080p movie shows while it plays through once: played in a player process (ours)
# against the player in the application's process (peer), at full size and fitted to a float
# panel; the median of three runs each. Held when the player process shows at least 98% of what
# the in-process player shows.
# Usage: bench/playback_pace.sh, with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/bench/bench_playback_pace"
export QUORVENDA_PLAYER="$root/build/quorvenda-player" QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for rate in 30 60; do
    clip="$work/clip$rate.mp4"
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=$rate:duration=6" \
        -c:v libx264 -preset veryfast -pix_fmt yuv420p "$clip"
    for box in 1920x1080 720x405; do
        ours=$(for _ in 1 2 3; do "$bench" out "$clip" "$box" 2>/dev/null | cut -d' ' -f1; done | sort -n | sed -n 2p)
        peer=$(for _ in 1 2 3; do "$bench" in "$clip" "$box" 2>/dev/null | cut -d' ' -f1; done | sort -n | sed -n 2p)
        awk -v what="playback: pictures a 6 s 1080p$rate movie shows in a $box view" -v ours="$ours" -v peer="$peer" 'BEGIN {
            ratio = peer > 0 ? ours / peer : 0
            printf "| %s | %d | in process %d | %.2f | ≥ 0.98 | %s |\n", what, ours, peer, ratio, (ratio >= 0.98 ? "held" : "missed")
        }'
    done
done
