#!/usr/bin/env bash
# Two media tools against bare FFmpeg, median of 3 each, from the repository with build/ built;
# run as root (the files go to a tmpfs of their own so the disk does not decide the race).
#  1. Merging two 1 GB H.264/AAC MP4 clips by copy (median of 5): `quorvenda-dev run tool.video.merge` against
#     bare FFmpeg's two probes and `ffmpeg -f concat -safe 0 -i list -c copy`, given the same
#     "+faststart" our MP4 results get.
#  2. Reversing a 60 s 640x480 clip, then a 120 s one: the peak resident memory of our process
#     with its children against `ffmpeg -vf reverse -af areverse` over the whole clip.
# Usage: bench/media_tools.sh [CLIP_MB] (default 1024).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
clip_mb=${1:-1024}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
cleanup() { umount "$work" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mount -t tmpfs -o size=$((clip_mb * 6 + 1024))m tmpfs "$work"
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen

seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }

# Peak summed resident memory (MB) of a command and all its descendants, sampled every 20 ms.
peak_mb() {
    python3 - "$@" <<'PY'
import os, subprocess, sys, time
proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
def tree(root):
    children = {}
    for pid in os.listdir('/proc'):
        if pid.isdigit():
            try:
                with open(f'/proc/{pid}/stat') as f:
                    ppid = int(f.read().rsplit(')', 1)[1].split()[1])
                children.setdefault(ppid, []).append(int(pid))
            except (OSError, IndexError, ValueError):
                pass
    todo, seen = [root], []
    while todo:
        pid = todo.pop()
        seen.append(pid)
        todo += children.get(pid, [])
    return seen
def rss(pid):
    try:
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0
peak = 0
while proc.poll() is None:
    peak = max(peak, sum(rss(p) for p in tree(proc.pid)))
    time.sleep(0.02)
if proc.returncode != 0:
    sys.exit(f'failed: {sys.argv[1:]}')
print(peak // 1024)
PY
}

# 1. Merge by copy. A short noisy clip looped by stream copy until it reaches the size.
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi -i sine=frequency=440 \
    -t 20 -c:v libx264 -preset ultrafast -b:v 40M -c:a aac -shortest "$work/seed.mp4"
seed_mb=$(( $(stat -c %s "$work/seed.mp4") / 1048576 + 1 ))
for name in a b; do
    ffmpeg -v error -stream_loop $((clip_mb / seed_mb)) -i "$work/seed.mp4" -c copy "$work/$name.mp4"
done
echo "merge inputs: $(( $(stat -c %s "$work/a.mp4") / 1048576 )) MB each" >&2
printf "file 'a.mp4'\nfile 'b.mp4'\n" >"$work/list.txt"
# Alternating, both at the priority our workers run at (nice 10, batch scheduling, idle I/O): on a
# busy machine a background job's FFmpeg yields to the rest, and so does the peer here.
background() { nice -n 10 chrt -b 0 ionice -c 3 "$@"; }
ours_runs=() bare_runs=()
for i in 1 2 3 4 5; do
    rm -f "$work/a (merged).mp4" "$work/bare.mp4"
    ours_runs+=("$(seconds background "$dev" run tool.video.merge "$work/a.mp4" "$work/b.mp4")")
    bare_runs+=("$(seconds background sh -c "ffprobe -v error '$work/a.mp4'; ffprobe -v error '$work/b.mp4'; \
        ffmpeg -v error -f concat -safe 0 -i '$work/list.txt' -c copy -movflags +faststart '$work/bare.mp4'")")
done
echo "merge: ours ${ours_runs[*]}; ffmpeg ${bare_runs[*]}; load $(cut -d' ' -f1 /proc/loadavg)" >&2
ours=$(printf '%s\n' "${ours_runs[@]}" | median)
bare=$(printf '%s\n' "${bare_runs[@]}" | median)
row "merge two $(( $(stat -c %s "$work/a.mp4") / 1048576 )) MB MP4 clips by copy" "$ours" "$bare" 1.05 " s" "ffmpeg"
rm -f "$work"/*.mp4

# 2. Reverse memory, flat when the clip doubles.
for length in 60 120; do
    ffmpeg -v error -f lavfi -i testsrc2=size=640x480:rate=30:duration=$length -f lavfi \
        -i sine=duration=$length -c:v libx264 -preset ultrafast -c:a aac -shortest "$work/r$length.mp4"
    ours=$(for i in 1 2 3; do
        rm -f "$work/r$length (reversed).mp4"
        peak_mb "$dev" run tool.video.reverse "$work/r$length.mp4"
    done | median)
    bare=$(for i in 1 2 3; do
        peak_mb ffmpeg -v error -y -i "$work/r$length.mp4" -vf reverse -af areverse -c:v libx264 \
            -preset fast -c:a aac "$work/bare.mp4"
    done | median)
    row "peak memory, reverse a $length s 640x480 clip" "$ours" "$bare" 0.5 " MB" "ffmpeg"
done
