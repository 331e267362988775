#!/usr/bin/env bash
# The image tools over 40 camera-size JPEGs (6000x4000), median of 3 runs per side:
#  - resize to 2000 px through quorvenda-dev against `vips thumbnail` at the same quality,
#  - compress (the medium preset: 2560 px, quality 72) against `vips thumbnail` at that size and
#    quality,
#  - the lossless 90° turn against `jpegtran -rotate 90` (ours changes only the orientation tag,
#    after reading the coded data through to check it; jpegtran reads and writes it all),
# ours as one job with the cpu lane at its default (every processor), the bare tool with
# xargs -P$(nproc) at our workers' priority; each as wall time and as processor time (perf's
# task-clock over every process); then the peak resident size of resizing a 20000x20000 PNG.
# Usage: bench/image_tools.sh [count], with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="${QV_DEV:-$root/build/quorvenda-dev}"
count=${1:-40}
lanes=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" HOME="$work"

mkdir -p "$work/in" "$work/config/quorvenda"
vips gaussnoise "$work/noise.v" 6000 4000 --mean 128 --sigma 40
vips bandjoin "$work/noise.v $work/noise.v $work/noise.v" "$work/rgb.v"
vips cast "$work/rgb.v" "$work/cast.v" uchar
vips copy "$work/cast.v" "$work/camera.v" --interpretation srgb
vips jpegsave "$work/camera.v" "$work/in/photo0.jpg" --Q 90
for i in $(seq 1 $((count - 1))); do cp "$work/in/photo0.jpg" "$work/in/photo$i.jpg"; done

median() { sort -n | sed -n "$(( ($1 + 1) / 2 ))p"; }
clean() { find "$work/in" -name '* (*' -delete; rm -rf "$work/out"; mkdir "$work/out"; }

# timed KIND command...: the median of 3 runs of the wall time (KIND wall) or of the processor
# time of the command and every process it started, workers included (KIND cpu, perf's
# task-clock), which a busy machine moves far less. Both come from the same three runs, kept in
# $work/times.
timed() {
    local kind=$1; shift
    if [ "$kind" = wall ]; then
        : > "$work/times"
        for r in 1 2 3; do
            clean
            local start end
            start=$(date +%s.%N)
            perf stat -x, -e task-clock -o "$work/perf" -- "$@" >/dev/null 2>&1
            end=$(date +%s.%N)
            echo "$(echo "$end - $start" | bc) $(awk -F, '/task-clock/ { print $1 / 1000 }' "$work/perf")" >> "$work/times"
        done
        awk '{ print $1 }' "$work/times" | median 3
    else
        awk '{ print $2 }' "$work/times" | median 3
    fi
}
ours_resize() { "$dev" run tool.image.resize --options '{"maxDimension":2000}' "$work"/in/*.jpg >/dev/null 2>&1; }
vips_resize() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips thumbnail "$1" "$2/$(basename "$1" .jpg)_t.jpg[Q=85]" 2000' _ {} "$work/out"; }
ours_compress() { "$dev" run tool.image.compress "$work"/in/*.jpg >/dev/null 2>&1; }
vips_compress() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips thumbnail "$1" "$2/$(basename "$1" .jpg)_c.jpg[Q=72]" 2560 --size down' _ {} "$work/out"; }
ours_rotate() { "$dev" run tool.image.rotate "$work"/in/*.jpg >/dev/null 2>&1; }
jpegtran_rotate() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'jpegtran -copy all -rotate 90 -outfile "$2/$(basename "$1" .jpg)_r.jpg" "$1"' _ {} "$work/out"; }
export -f ours_resize vips_resize ours_compress vips_compress ours_rotate jpegtran_rotate
export dev work lanes
# Every side must have written every file.
written() { [ "$(find "$work/in" "$work/out" -name "$1" | wc -l)" -eq "$count" ] || echo "only some $1 written" >&2; }

echo "$count JPEGs of 6000x4000, $lanes lanes" >&2
# measure WHAT LIMIT PEER-NAME OURS PEER OURS-GLOB PEER-GLOB: a row of wall time and one of
# processor time. The peer runs at the priority our workers run at (nice 10, batch scheduling,
# idle I/O), so that on a busy machine both sides get the same share.
measure() {
    local what=$1 limit=$2 name=$3 ours=$4 peer=$5
    local ow oc pw pc
    ow=$(timed wall bash -c "$ours"); oc=$(timed cpu); written "$6"
    pw=$(timed wall nice -n 10 chrt -b 0 ionice -c 3 bash -c "$peer"); pc=$(timed cpu); written "$7"
    row "$what" "$ow" "$pw" "$limit" " s" "$name"
    row "$what, processor time" "$oc" "$pc" "$limit" " s" "$name"
}
measure "resize $count 24 MP JPEGs to 2000 px" 1.1 "vips thumbnail" ours_resize vips_resize '*(resized)*' '*_t.jpg'
measure "compress $count 24 MP JPEGs (2560 px, quality 72)" 1.1 "vips thumbnail" ours_compress vips_compress '*(compressed)*' '*_c.jpg'
measure "turn $count 24 MP JPEGs by 90°" 1.2 jpegtran ours_rotate jpegtran_rotate '*(rotated)*' '*_r.jpg'

vips black "$work/huge.png" 20000 20000 --bands 3
kb=$(peak_kb "$dev" run tool.image.resize --options '{"maxDimension":2000}' "$work/huge.png")
bound "peak memory, resize a 20000x20000 PNG" "$((kb / 1024))" 600 " MB"
