#!/usr/bin/env bash
# The media editor's preview proxy and waveform, through `quorvenda-dev edit`:
# 1. a 20-second 1080p clip opened with --unplayable (openMs: the proxy is made before the window
#    shows) against bare ffmpeg with the same arguments, median of 3 each (limit 1.3x);
# 2. peak resident memory of opening a 2-hour FLAC against a 10-second one (limit +40 MB: the
#    waveform streams).
# Usage: bench/media_editor.sh, from the repository with build/ built; needs a display or runs
# offscreen.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

median() { sort -n | sed -n 2p; }
now_ms() { date +%s%3N; }

ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 -f lavfi -i sine=duration=20 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$work/clip.mkv"

open_ms=()
bare_ms=()
for run in 1 2 3; do
    out=$("$dev" edit tool.video.trim "$work/clip.mkv" --unplayable --no-run | tail -1)
    open_ms+=("$(sed -E 's/.*"openMs":([0-9.]+).*/\1/' <<<"$out")")
    start=$(now_ms)
    (cd "$work" && ffmpeg -nostdin -hide_banner -y -loglevel error -progress pipe:1 -nostats \
        -i "file:$work/clip.mkv" -map 0:V:0 -map '0:a:0?' -vf "scale=-2:'min(480,ih)'" -c:v libx264 \
        -preset veryfast -b:v 1200k -pix_fmt yuv420p -c:a aac -b:a 96k -f mp4 "file:$work/bare.mp4" >/dev/null)
    bare_ms+=("$(( $(now_ms) - start ))")
done
open=$(printf '%s\n' "${open_ms[@]}" | median)
bare=$(printf '%s\n' "${bare_ms[@]}" | median)
row "media editor: proxy of a 20 s 1080p clip" "$open" "$bare" 1.3 " ms" "ffmpeg"

ffmpeg -nostdin -v error -f lavfi -i sine=frequency=220:duration=10 "$work/short.flac"
ffmpeg -nostdin -v error -f lavfi -i sine=frequency=220:duration=7200 "$work/long.flac"
peak() { /usr/bin/time -f %M "$dev" edit tool.audio.trim "$1" --no-run 2>&1 >/dev/null | tail -1; }
short_kb=$(peak "$work/short.flac")
long_kb=$(peak "$work/long.flac")
bound "media editor: memory a 2 h FLAC adds over a 10 s one" "$(((long_kb - short_kb) / 1024))" 40 " MB" "$((long_kb / 1024)) MB against $((short_kb / 1024)) MB"
