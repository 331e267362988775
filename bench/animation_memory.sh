#!/usr/bin/env bash
# Peak resident memory of writeGIF and writeFrameSequence over 1080p animated WebPs of 40, 80 and 160
# frames (decoded: 316, 632 and 1265 MB). Usage: bench/animation_memory.sh, with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/bench/bench_animation_memory"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for frames in 40 80 160; do
    ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v $frames \
        -c:v libwebp_anim -quality 50 -loop 0 "$work/anim$frames.webp"
    echo "$frames frames, decoded $((frames * 1920 * 1080 * 4 / 1048576)) MB"
    "$bench" gif "$work/anim$frames.webp" "$work/anim$frames.gif"
    mkdir "$work/frames$frames"
    "$bench" frames "$work/anim$frames.webp" "$work/frames$frames"
done
