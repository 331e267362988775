#!/usr/bin/env bash
# The image tools over 40 camera-size JPEGs (6000x4000), median of 3 runs per side:
#  - resize to 2000 px through quorvenda-dev against `vips thumbnail` at the same quality,
#  - the lossless 90° turn against `vips rot` re-encoding,
# ours as one job with the cpu lane at nproc, the bare tool with xargs -P$(nproc); then the peak
# resident size of resizing a 20000x20000 PNG.
# Usage: bench/image_tools.sh [count], with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
count=${1:-40}
lanes=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" HOME="$work"

mkdir -p "$work/in" "$work/config/quorvenda"
printf '{"quorvenda.advanced.cpuJobs": %d}\n' "$lanes" > "$work/config/quorvenda/settings.json"
vips gaussnoise "$work/noise.v" 6000 4000 --mean 128 --sigma 40
vips bandjoin "$work/noise.v $work/noise.v $work/noise.v" "$work/rgb.v"
vips cast "$work/rgb.v" "$work/cast.v" uchar
vips copy "$work/cast.v" "$work/camera.v" --interpretation srgb
vips jpegsave "$work/camera.v" "$work/in/photo0.jpg" --Q 90
for i in $(seq 1 $((count - 1))); do cp "$work/in/photo0.jpg" "$work/in/photo$i.jpg"; done

median() { sort -n | sed -n "$(( ($1 + 1) / 2 ))p"; }
clean() { find "$work/in" -name '* (*' -delete; rm -rf "$work/out"; mkdir "$work/out"; }

timed() { # label command...
    local label=$1; shift
    local runs=()
    for r in 1 2 3; do
        clean
        local start end
        start=$(date +%s.%N)
        "$@"
        end=$(date +%s.%N)
        runs+=("$(echo "$end - $start" | bc)")
    done
    printf '%s\n' "${runs[@]}" | median 3
}

ours_resize() { "$dev" run tool.image.resize --options '{"maxDimension":2000}' "$work"/in/*.jpg >/dev/null 2>&1; }
vips_resize() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips thumbnail "$1" "$2/$(basename "$1" .jpg)_t.jpg[Q=85]" 2000' _ {} "$work/out"; }
ours_rotate() { "$dev" run tool.image.rotate "$work"/in/*.jpg >/dev/null 2>&1; }
vips_rotate() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips rot "$1" "$2/$(basename "$1" .jpg)_r.jpg[Q=90]" d90' _ {} "$work/out"; }

echo "$count JPEGs of 6000x4000, $lanes lanes" >&2
row "resize $count 24 MP JPEGs to 2000 px" "$(timed x ours_resize)" "$(timed x vips_resize)" 1.2 " s" "vips thumbnail"
# Only the orientation tag changes: the aim is 5x faster than re-encoding.
row "turn $count 24 MP JPEGs by 90°" "$(timed x ours_rotate)" "$(timed x vips_rotate)" 0.2 " s" "vips rot"

vips black "$work/huge.png" 20000 20000 --bands 3
kb=$(peak_kb "$dev" run tool.image.resize --options '{"maxDimension":2000}' "$work/huge.png")
bound "peak memory, resize a 20000x20000 PNG" "$((kb / 1024))" 600 " MB"
