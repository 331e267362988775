#!/usr/bin/env bash
# Remuxing a big H.264/AAC MOV to MP4: `quorvenda-dev run convert.video.mp4` against bare FFmpeg
# doing the same work (the probe, then the stream copy with faststart) at the workers' priority,
# alternating, median of 3 each.
# Usage: bench/media_remux.sh [SIZE_MB] (default 5120), from the repository with build/ built.
# The files go to a tmpfs of their own so the disk does not decide the race.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
size_mb=${1:-5120}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
cleanup() { umount "$work" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mount -t tmpfs -o size=$((size_mb * 3 + 512))m tmpfs "$work"

# A short clip looped by stream copy until it reaches the size.
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi -i sine=frequency=440 \
    -t 20 -c:v libx264 -preset ultrafast -b:v 40M -c:a aac -shortest "$work/clip.mov"
clip_mb=$(( $(stat -c %s "$work/clip.mov") / 1048576 + 1 ))
ffmpeg -v error -stream_loop $((size_mb / clip_mb)) -i "$work/clip.mov" -c copy "$work/movie.mov"
echo "input: $(( $(stat -c %s "$work/movie.mov") / 1048576 )) MB" >&2


# Alternating, both at the priority our workers run at (nice 10, batch scheduling, idle I/O): on
# a busy machine a background job's FFmpeg yields to the rest, and so does the peer here.
background() { nice -n 10 chrt -b 0 ionice -c 3 "$@"; }
ours_runs=() bare_runs=()
for i in 1 2 3; do
    rm -f "$work/movie.mp4" "$work/bare.mp4"
    ours_runs+=("$(seconds background env XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen "$dev" run convert.video.mp4 "$work/movie.mov")")
    bare_runs+=("$(seconds background sh -c "ffmpeg -hide_banner -i '$work/movie.mov' 2>/dev/null; ffmpeg -v error -i '$work/movie.mov' -map 0:V:0 -map 0:a? -c copy -movflags +faststart '$work/bare.mp4'")")
done
echo "remux: ours ${ours_runs[*]}; ffmpeg ${bare_runs[*]}; load $(cut -d' ' -f1 /proc/loadavg)" >&2
ours=$(printf '%s\n' "${ours_runs[@]}" | median)
bare=$(printf '%s\n' "${bare_runs[@]}" | median)
copy=$(for i in 1 2 3; do
    rm -f "$work/copy.mov"
    seconds cp "$work/movie.mov" "$work/copy.mov"
done | median)
row "remux a $(( $(stat -c %s "$work/movie.mov") / 1048576 )) MB H.264 MOV to MP4" "$ours" "$bare" 1.05 " s" "ffmpeg"
echo "bare copy (cp): ${copy} s; ratio to it $(echo "scale=2; $ours / $copy" | bc)" >&2
