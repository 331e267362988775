#!/usr/bin/env bash
# The image tools over 40 camera-size JPEGs (6000x4000), median of 3 runs per side:
#  - resize to 2000 px through quorvenda-dev against `vips thumbnail` at the same quality,
#  - the lossless 90° turn against `vips rot` re-encoding,
# ours as one job with the cpu lane at nproc, the bare tool with xargs -P$(nproc); then the peak
# resident size of resizing a 20000x20000 PNG.
# Usage: bench/image_tools.sh [count], with build/ built.
set -euo pipefail
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
    printf '%s\n' "${runs[@]}" | median 3 | xargs printf '%-28s %8.2f s\n' "$label"
}

ours_resize() { "$dev" run tool.image.resize --options '{"maxDimension":2000}' "$work"/in/*.jpg >/dev/null 2>&1; }
vips_resize() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips thumbnail "$1" "$2/$(basename "$1" .jpg)_t.jpg[Q=85]" 2000' _ {} "$work/out"; }
ours_rotate() { "$dev" run tool.image.rotate "$work"/in/*.jpg >/dev/null 2>&1; }
vips_rotate() { ls "$work"/in/*.jpg | xargs -P"$lanes" -I{} sh -c 'vips rot "$1" "$2/$(basename "$1" .jpg)_r.jpg[Q=90]" d90' _ {} "$work/out"; }

echo "$count JPEGs of 6000x4000, $lanes lanes"
timed "resize, quorvenda" ours_resize
timed "resize, vips thumbnail" vips_resize
timed "rotate 90, quorvenda" ours_rotate
timed "rotate 90, vips rot" vips_rotate

vips black "$work/huge.png" 20000 20000 --bands 3
/usr/bin/time -f 'resize 20000x20000 PNG: peak %M KB' "$dev" run tool.image.resize \
    --options '{"maxDimension":2000}' "$work/huge.png" >/dev/null
