#!/usr/bin/env bash
# Converting a batch of camera-size JPEGs with `quorvenda-dev run convert.image.<ext>` (one job,
# the cpu lane at its default: a lane per processor) against `vips copy` over the same files with xargs -P$(nproc), and
# against ImageMagick's convert run the same way; median of 3 per side. Then the peak resident
# memory of a 20000x20000 PNG converted with maxDimension 2000.
# Usage: bench/image_convert.sh [COUNT] (default 40), from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
count=${1:-40}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cores=$(nproc)
mkdir -p "$work/in" "$work/home/quorvenda" "$work/cache"

vips gaussnoise "$work/noise.v" 6000 4000 --mean 128 --sigma 40
vips bandjoin "$work/noise.v $work/noise.v $work/noise.v" "$work/rgb.v"
vips cast "$work/rgb.v" "$work/rgb8.v" uchar
for i in $(seq -w 1 "$count"); do vips copy "$work/rgb8.v" "$work/in/cam$i.jpg[Q=90]"; done
rm -f "$work"/*.v

median() { sort -n | sed -n 2p; }
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
clean() { find "$work/in" -type f ! -name 'cam*.jpg' -delete; }
# Every side must have written every file.
written() { [ "$(ls "$work"/in/*."$1" 2>/dev/null | wc -l)" -eq "$count" ] || echo "only some $1 files written" >&2; }

ours() {
    clean
    seconds env XDG_CONFIG_HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run "convert.image.$1" "$work"/in/cam*.jpg
}
# The same quality on every side: ours writes WebP at the default setting, 85.
vipsOptions() { [ "$1" = webp ] && echo "[Q=85]" || true; }
magickOptions() { [ "$1" = webp ] && echo "-quality 85" || true; }
bare() {
    clean
    seconds sh -c "ls '$work'/in/cam*.jpg | xargs -P$cores -I{} sh -c 'vips copy {} \"\${1%.jpg}.$1$(vipsOptions $1)\"' _ {}"
}
magick() {
    clean
    seconds sh -c "ls '$work'/in/cam*.jpg | xargs -P$cores -I{} sh -c 'convert {} $(magickOptions $1) \"\${1%.jpg}.$1\"' _ {}"
}

for target in webp png; do
    o=$(for i in 1 2 3; do ours $target; written $target; done | median)
    b=$(for i in 1 2 3; do bare $target; written $target; done | median)
    m=$(for i in 1 2 3; do magick $target; written $target; done | median)
    row "$count x 24 MP JPEG to ${target^^}" "$o" "$b" 1.1 " s" "vips copy"
    # The aim is a lead of 1.5x over ImageMagick.
    row "$count x 24 MP JPEG to ${target^^}, against ImageMagick" "$o" "$m" 0.67 " s" "convert"
done

clean
vips black "$work/huge.png" 20000 20000 --bands 3
peak=$( { /usr/bin/time -f '%M' env XDG_CONFIG_HOME="$work/home" XDG_CACHE_HOME="$work/cache" \
    QT_QPA_PLATFORM=offscreen "$dev" run convert.image.jpg --options '{"maxDimension":2000}' "$work/huge.png" \
    >/dev/null; } 2>&1 | tail -1)
echo "$(vipsheader "$work/huge.jpg")" >&2
bound "peak memory, 20000x20000 PNG to JPEG at maxDimension 2000" "$((peak / 1024))" 600 " MB"
