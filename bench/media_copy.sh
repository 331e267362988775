#!/usr/bin/env bash
# The two stream copies against bare `ffmpeg -c copy` doing only the copy, in one run:
#  1. remuxing an H.264/AAC MOV to MP4: `quorvenda-dev run convert.video.mp4`;
#  2. merging two MP4 clips of half that size: `quorvenda-dev run tool.video.merge` against
#     `ffmpeg -f concat -safe 0 -i list -c copy`.
# Both peers get the "+faststart" our MP4 results get. Alternating, both at the workers'
# priority, median of 5. With BEFORE=path/to/another/quorvenda-dev that build runs in the same
# rounds and its medians go to the log; DEV=path runs that build as ours.
# Usage: bench/media_copy.sh [SIZE_MB] (default 1250), from the repository with build/ built.
# The files go to a tmpfs of their own so the disk does not decide the race (needs root).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
size_mb=${1:-1250}
root=$(cd "$(dirname "$0")/.." && pwd)
dev=${DEV:-$root/build/quorvenda-dev}
before=${BEFORE:-}
work=$(mktemp -d)
cleanup() { umount "$work" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mount -t tmpfs -o size=$((size_mb * 4 + 1024))m tmpfs "$work"
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen

# A short noisy clip looped by stream copy until it reaches the size.
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi -i sine=frequency=440 \
    -t 20 -c:v libx264 -preset ultrafast -b:v 40M -c:a aac -shortest "$work/seed.mov"
seed_mb=$(( $(stat -c %s "$work/seed.mov") / 1048576 + 1 ))
ffmpeg -v error -stream_loop $(( size_mb / seed_mb )) -i "$work/seed.mov" -c copy "$work/movie.mov"
for name in a b; do
    ffmpeg -v error -stream_loop $(( size_mb / 2 / seed_mb )) -i "$work/seed.mov" -c copy "$work/$name.mp4"
done
rm -f "$work/seed.mov"
movie_mb=$(( $(stat -c %s "$work/movie.mov") / 1048576 ))
clip_mb=$(( $(stat -c %s "$work/a.mp4") / 1048576 ))
printf "file 'a.mp4'\nfile 'b.mp4'\n" >"$work/list.txt"
echo "inputs: a $movie_mb MB MOV, two $clip_mb MB MP4 clips" >&2

background() { nice -n 10 chrt -b 0 ionice -c 3 "$@"; }
remux_ours=() remux_before=() remux_bare=() merge_ours=() merge_before=() merge_bare=()
# Each result goes before the next run; the room left is what a copy checks for before it starts.
clear() { rm -f "$work/movie.mp4" "$work/a (merged).mp4" "$work/bare.mp4"; }
for i in 1 2 3 4 5; do
    clear
    remux_ours+=("$(seconds background "$dev" run convert.video.mp4 "$work/movie.mov")")
    [ -s "$work/movie.mp4" ] || { echo "the remux left no result:" >&2; "$dev" run convert.video.mp4 "$work/movie.mov" >&2; exit 1; }
    clear
    remux_bare+=("$(seconds background ffmpeg -v error -i "$work/movie.mov" -map 0 -c copy -movflags +faststart "$work/bare.mp4")")
    clear
    merge_ours+=("$(seconds background "$dev" run tool.video.merge "$work/a.mp4" "$work/b.mp4")")
    [ -s "$work/a (merged).mp4" ] || { echo "the merge left no result:" >&2; "$dev" run tool.video.merge "$work/a.mp4" "$work/b.mp4" >&2; exit 1; }
    clear
    merge_bare+=("$(seconds background ffmpeg -v error -f concat -safe 0 -i "$work/list.txt" -c copy -movflags +faststart "$work/bare.mp4")")
    if [ -n "$before" ]; then
        clear
        remux_before+=("$(seconds background "$before" run convert.video.mp4 "$work/movie.mov")")
        clear
        merge_before+=("$(seconds background "$before" run tool.video.merge "$work/a.mp4" "$work/b.mp4")")
    fi
done
clear
echo "remux: ours ${remux_ours[*]}; before ${remux_before[*]:-}; ffmpeg ${remux_bare[*]}" >&2
echo "merge: ours ${merge_ours[*]}; before ${merge_before[*]:-}; ffmpeg ${merge_bare[*]}; load $(cut -d' ' -f1 /proc/loadavg)" >&2
if [ -n "$before" ]; then
    echo "before: remux $(printf '%s\n' "${remux_before[@]}" | median) s, merge $(printf '%s\n' "${merge_before[@]}" | median) s" >&2
fi
row "remux a $movie_mb MB H.264 MOV to MP4, against the bare copy" \
    "$(printf '%s\n' "${remux_ours[@]}" | median)" "$(printf '%s\n' "${remux_bare[@]}" | median)" 1.05 " s" "ffmpeg -c copy"
row "merge two $clip_mb MB MP4 clips by copy, against the bare copy" \
    "$(printf '%s\n' "${merge_ours[@]}" | median)" "$(printf '%s\n' "${merge_bare[@]}" | median)" 1.05 " s" "ffmpeg -c copy"
