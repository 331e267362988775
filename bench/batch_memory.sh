#!/usr/bin/env bash
# A batch job's peak memory against its time: twelve 24-megapixel JPEGs to WebP in one job of
# `quorvenda-dev run` (cpu lane 8, memory budget BUDGET MB), against `vips copy` run 8 at a time
# by xargs, both at quality 85 (ours writes WebP at 85 by default, vips at 75), the two in turn,
# median of 3. Two sets: Gaussian noise (sigma 40, the worst case: libwebp keeps about 11
# bytes a pixel of tokens for it), and photo-like pictures (a small photo shipped with Debian,
# enlarged 6 times with lanczos3 and cut to 6000 x 4000, 3.5 MB each). Peak memory is the largest sum, sampled every 20 ms by bench/tree_peak.py, of the
# proportional set sizes (PSS) of the command and every process below it (the application and
# its workers; xargs and its vips), so shared library pages count once. One more run of ours at
# the default budget (a quarter of the physical memory) shows what the lanes alone would allow.
# Limits: time 1.1x the peer's, peak under 700 MB.
# Usage: bench/batch_memory.sh [BUDGET_MB] (default 600), from the repository with build/ built.
set -euo pipefail
budget=${1:-600}
count=12
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
peak="$root/bench/tree_peak.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=/usr/share/tuxpaint/templates/rocks.jpg
mkdir -p "$work/in" "$work/budget/quorvenda" "$work/default/quorvenda" "$work/cache"
printf '{"quorvenda.advanced.cpuJobs": 8, "quorvenda.advanced.batchMemory": %d}\n' "$budget" \
    > "$work/budget/quorvenda/settings.json"
printf '{"quorvenda.advanced.cpuJobs": 8}\n' > "$work/default/quorvenda/settings.json"

# Fills in/ with the set's twelve JPEGs.
make_set() {
    rm -f "$work"/in/*
    if [ "$1" = noise ]; then
        vips gaussnoise "$work/noise.v" 6000 4000 --mean 128 --sigma 40
        vips cast "$work/noise.v" "$work/grey.v" uchar
        vips bandjoin "$work/grey.v $work/grey.v $work/grey.v" "$work/rgb.v"
    else
        vips resize "$photo" "$work/big.v" 6 --kernel lanczos3
        vips crop "$work/big.v" "$work/rgb.v" 0 0 6000 4000
    fi
    for i in $(seq -w 1 "$count"); do vips copy "$work/rgb.v" "$work/in/cam$i.jpg[Q=90]"; done
    rm -f "$work"/*.v
    echo "$1 set: $(stat -c %s "$work/in/cam01.jpg") bytes a JPEG" >&2
}

median() { sort -n | sed -n 2p; }
ratio() { awk "BEGIN{printf \"%.2f\", $1 / $2}"; }
verdict() { awk "BEGIN{exit !($1 <= $2)}" && echo held || echo missed; }
clean() { find "$work/in" -type f ! -name 'cam*.jpg' -delete; }
written() { [ "$(ls "$work"/in/*.webp 2>/dev/null | wc -l)" -eq "$count" ] || echo "only some files written" >&2; }
# Each prints "seconds peak_pss_mb peak_rss_mb".
ours() {
    clean
    "$peak" env XDG_CONFIG_HOME="$work/$1" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run convert.image.webp "$work"/in/cam*.jpg
    written
}
bare() {
    clean
    "$peak" sh -c "ls '$work'/in/cam*.jpg | xargs -P8 -I{} sh -c 'vips copy {} \"\${1%.jpg}.webp[Q=85]\"' _ {}"
    written
}

measure() {
    local set=$1 label=$2
    make_set "$set"
    local o=() b=() loads=()
    for round in 1 2 3; do
        o+=("$(ours budget)"); b+=("$(bare)"); loads+=("$(cut -d' ' -f1 /proc/loadavg)")
    done
    local d os om bs bm r
    d=$(ours default)
    os=$(printf '%s\n' "${o[@]}" | cut -d' ' -f1 | median); om=$(printf '%s\n' "${o[@]}" | cut -d' ' -f2 | median)
    bs=$(printf '%s\n' "${b[@]}" | cut -d' ' -f1 | median); bm=$(printf '%s\n' "${b[@]}" | cut -d' ' -f2 | median)
    r=$(ratio "$os" "$bs")
    echo "| $count x 24 MP $label JPEG to WebP Q85, time, budget $budget MB | ${os} s | vips copy x8 ${bs} s | $r | 1.1 | $(verdict "$r" 1.1) |"
    echo "| $count x 24 MP $label JPEG to WebP Q85, peak PSS, budget $budget MB | ${om} MB | vips copy x8 ${bm} MB | $(ratio "$om" "$bm") | 700 MB | $(verdict "$om" 700) |"
    echo "| $count x 24 MP $label JPEG to WebP Q85, default budget (one run) | $(echo "$d" | cut -d' ' -f1) s, $(echo "$d" | cut -d' ' -f2) MB | - | - | - | - |"
    echo "load during the $label rounds: ${loads[*]}" >&2
}

[ -r "$photo" ] || { echo "needs $photo (tuxpaint-data)" >&2; exit 1; }
measure noise noise
measure photo photo-like
