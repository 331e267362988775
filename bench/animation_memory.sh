#!/usr/bin/env bash
# Peak resident memory of writeGIF and writeFrameSequence over 1080p animated WebPs of 40, 80 and 160
# frames (decoded: 316, 632 and 1265 MB). Usage: bench/animation_memory.sh, with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/bench/bench_animation_memory"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for frames in 40 80 160; do
    ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v $frames \
        -c:v libwebp_anim -quality 50 -loop 0 "$work/anim$frames.webp"
    decoded=$((frames * 1920 * 1080 * 4 / 1048576))
    # Frames are decoded one at a time: the peak follows the frame size, not the length.
    gif=$("$bench" gif "$work/anim$frames.webp" "$work/anim$frames.gif" | sed -E 's/.*peak resident ([0-9]+) MB.*/\1/')
    bound "peak memory, $frames-frame 1080p WebP to GIF" "$gif" 400 " MB" "decoded $decoded MB"
    mkdir "$work/frames$frames"
    seq=$("$bench" frames "$work/anim$frames.webp" "$work/frames$frames" | sed -E 's/.*peak resident ([0-9]+) MB.*/\1/')
    bound "peak memory, $frames-frame 1080p WebP to frames for FFmpeg" "$seq" 300 " MB" "decoded $decoded MB"
done
