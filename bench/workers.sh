#!/usr/bin/env bash
# What reading users' files in worker processes costs, each figure against the same work done in
# the application's own process (QUORVENDA_IN_PROCESS=1 / QV_IN_PROCESS=1), alternating, median
# of 3:
# 1. 40 camera-size JPEGs (6000x4000) to WebP with `quorvenda-dev run` (limit 1.1);
# 2. the crop editor opening on a 48 MP JPEG, `quorvenda-dev edit --no-run` idleMs (limit 1.2);
# 3. six floated 24 MP JPEGs, bench_float_panel_x11, when a display is there (limit 1.2);
# 3b. the pages editor on 24 plain pages and on 24 pages of 4000 strokes each: idleMs, all
#    thumbnails in (limit 1.2);
# 4. a picture that hangs its library (librsvg), stopped by SIGTERM: time to exit (limit 0.5 s);
# 5. a picture that crashes OpenJPEG among three good ones: the run's time (no limit).
# Usage: bench/workers.sh [COUNT] (default 40), from the repository with build/ built.
set -euo pipefail
count=${1:-40}
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/config/quorvenda" "$work/cache"
printf '{"quorvenda.advanced.cpuJobs": %d}\n' "$(nproc)" > "$work/config/quorvenda/settings.json"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

median() { sort -n | sed -n 2p; }
now_ms() { date +%s%3N; }
ratio() { awk "BEGIN{printf \"%.2f\", $1 / $2}"; }
verdict() { awk "BEGIN{exit !($1 <= $2)}" && echo held || echo missed; }
over=0

vips gaussnoise "$work/noise.v" 6000 4000 --mean 128 --sigma 40
vips cast "$work/noise.v" "$work/grey.v" uchar
vips bandjoin "$work/grey.v $work/grey.v $work/grey.v" "$work/rgb.v"
for i in $(seq -w 1 "$count"); do vips copy "$work/rgb.v" "$work/in/cam$i.jpg[Q=90]"; done
vips gaussnoise "$work/big.v" 8000 6000 --mean 128 --sigma 40
vips cast "$work/big.v" "$work/bigc.v" uchar
vips bandjoin "$work/bigc.v $work/bigc.v $work/bigc.v" "$work/big.jpg[Q=90]"
rm -f "$work"/*.v

convert_ms() {
    find "$work/in" -type f ! -name 'cam*.jpg' -delete
    local start; start=$(now_ms)
    env QUORVENDA_IN_PROCESS="$1" "$dev" run convert.image.webp "$work"/in/cam*.jpg >/dev/null 2>&1
    echo $(( $(now_ms) - start ))
}
workers=(); inproc=()
for round in 1 2 3; do workers+=("$(convert_ms 0)"); inproc+=("$(convert_ms 1)"); done
w=$(printf '%s\n' "${workers[@]}" | median); p=$(printf '%s\n' "${inproc[@]}" | median); r=$(ratio "$w" "$p")
echo "| $count x 24 MP JPEG to WebP | ${w} ms | in process ${p} ms | $r | 1.1 | $(verdict "$r" 1.1) |"
awk "BEGIN{exit !($r <= 1.1)}" || over=1

open_ms() {
    env QUORVENDA_IN_PROCESS="$1" "$dev" edit tool.image.crop "$work/big.jpg" --no-run 2>/dev/null | tail -1 \
        | sed -E 's/.*"idleMs":([0-9.]+).*/\1/'
}
workers=(); inproc=()
for round in 1 2 3; do workers+=("$(open_ms 0)"); inproc+=("$(open_ms 1)"); done
w=$(printf '%s\n' "${workers[@]}" | median); p=$(printf '%s\n' "${inproc[@]}" | median); r=$(ratio "$w" "$p")
echo "| crop editor open, 48 MP JPEG | ${w} ms | in process ${p} ms | $r | 1.2 | $(verdict "$r" 1.2) |"
awk "BEGIN{exit !($r <= 1.2)}" || over=1

{
    echo '%!PS'
    echo '/Helvetica findfont 24 scalefont setfont'
    for page in $(seq 24); do echo "72 700 moveto (Page $page of a plain document) show showpage"; done
} > "$work/plain.ps"
{
    echo '%!PS'
    echo '/r { rand 612 mod } def /s { rand 792 mod } def'
    for page in $(seq 24); do
        echo "$page srand 0.2 setlinewidth 4000 { r s moveto r s lineto r s lineto closepath stroke } repeat showpage"
    done
} > "$work/strokes.ps"
for name in plain strokes; do
    gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$work/$name.pdf" "$work/$name.ps"
done
pages_ms() {
    env QUORVENDA_IN_PROCESS="$1" "$dev" edit tool.pdf.reorder "$work/$2.pdf" --no-run 2>/dev/null | tail -1 \
        | sed -E 's/.*"idleMs":([0-9.]+).*/\1/'
}
for name in plain strokes; do
    workers=(); inproc=()
    for round in 1 2 3; do workers+=("$(pages_ms 0 "$name")"); inproc+=("$(pages_ms 1 "$name")"); done
    w=$(printf '%s\n' "${workers[@]}" | median); p=$(printf '%s\n' "${inproc[@]}" | median); r=$(ratio "$w" "$p")
    echo "| pages editor, 24 $name pages, all thumbnails | ${w} ms | in process ${p} ms | $r | 1.2 | $(verdict "$r" 1.2) |"
    awk "BEGIN{exit !($r <= 1.2)}" || over=1
done

if [ -n "${DISPLAY:-}" ] && [ -x "$root/build/bench/bench_float_panel_x11" ]; then
    float_ms() { env QV_IN_PROCESS="$1" "$root/build/bench/bench_float_panel_x11" 2>/dev/null | sed -nE 's/.*float ([0-9]+) ms.*/\1/p' | head -1; }
    workers=(); inproc=()
    for round in 1 2 3; do workers+=("$(float_ms 0)"); inproc+=("$(float_ms 1)"); done
    w=$(printf '%s\n' "${workers[@]}" | median); p=$(printf '%s\n' "${inproc[@]}" | median); r=$(ratio "$w" "$p")
    echo "| float six 24 MP JPEGs | ${w} ms | in process ${p} ms | $r | 1.2 | $(verdict "$r" 1.2) |"
    awk "BEGIN{exit !($r <= 1.2)}" || over=1
fi

hostile="$root/tests/files/hostile"
cp "$hostile/truncated.svgz" "$work/cut.svgz"
stops=()
for round in 1 2 3; do
    "$dev" run convert.image.png "$work/cut.svgz" >/dev/null 2>&1 &
    pid=$!
    sleep 1.5
    start=$(now_ms); kill -TERM "$pid"; wait "$pid" || true
    stops+=("$(( $(now_ms) - start ))")
done
s=$(printf '%s\n' "${stops[@]}" | median)
echo "| stop a picture that hangs librsvg | ${s} ms | in process: never | - | 500 ms | $(verdict "$s" 500) |"
awk "BEGIN{exit !($s <= 500)}" || over=1

cp "$hostile/Bretagne2_4.j2k" "$work/crash.j2k"
cp "$work/in/cam01.jpg" "$work/a.jpg"; cp "$work/in/cam02.jpg" "$work/b.jpg"; cp "$work/in/cam03.jpg" "$work/c.jpg"
start=$(now_ms)
"$dev" run convert.image.png "$work/a.jpg" "$work/crash.j2k" "$work/b.jpg" "$work/c.jpg" >/dev/null 2>&1 || true
echo "| three JPEGs and one that crashes OpenJPEG, to PNG | $(( $(now_ms) - start )) ms, 3 results | in process: the app dies | - | - | - |"
exit $over
