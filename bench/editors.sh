#!/usr/bin/env bash
# The editors through `quorvenda-dev edit`:
# 1. opening the crop, photo and annotate editors (idleMs: the window shown with its preview) on a
#    48 MP JPEG less on a 100 x 100 one, against `vipsthumbnail` to the editor's preview size of
#    the big one, median of 3 each (limit 2x);
# 2. the photo editor's slider moves on the 48 MP picture: the longest GUI-thread block (limit 100);
# 3. a 40-page PDF of heavy vector pages in the pages editor: the longest GUI-thread block while
#    thumbnails load (limit 150 ms) and the time until all arrived, against `pdftoppm -scale-to 280`.
# Usage: bench/editors.sh, from the repository with build/ built; needs a display or runs offscreen.
# Exits 1 when an opening is over its limit.
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
field() { sed -E "s/.*\"$1\":([0-9.]+).*/\1/"; }

# 8000 x 6000 of noise: no shortcut in the JPEG decoder helps.
vips gaussnoise "$work/g.v" 8000 6000 --mean 128 --sigma 40
vips cast "$work/g.v" "$work/c.v" uchar
vips bandjoin "$work/c.v $work/c.v $work/c.v" "$work/big.jpg[Q=90]"
vips black "$work/small.jpg" 100 100 --bands 3

over=0
# open_cost NAME OPERATION PREVIEW-SIDE
open_cost() {
    local big_ms=() small_ms=() thumb_ms=() start big small thumb ratio
    for run in 1 2 3; do
        big_ms+=("$("$dev" edit "$2" "$work/big.jpg" --no-run | tail -1 | field idleMs)")
        small_ms+=("$("$dev" edit "$2" "$work/small.jpg" --no-run | tail -1 | field idleMs)")
        start=$(now_ms)
        vipsthumbnail -s "$3" -o "$work/thumb.jpg" "$work/big.jpg"
        thumb_ms+=("$(( $(now_ms) - start ))")
    done
    big=$(printf '%s\n' "${big_ms[@]}" | median)
    small=$(printf '%s\n' "${small_ms[@]}" | median)
    thumb=$(printf '%s\n' "${thumb_ms[@]}" | median)
    ratio=$(awk "BEGIN{printf \"%.2f\", ($big-$small)/$thumb}")
    echo "$1: 48 MP ${big} ms, 100 x 100 ${small} ms" >&2
    row "$1 opens a 48 MP JPEG (less a 100 x 100 one)" "$(awk "BEGIN{print $big - $small}")" "$thumb" 2 " ms" "vipsthumbnail -s $3"
    awk "BEGIN{exit !($ratio <= 2)}" || over=1
}
open_cost "crop editor" tool.image.crop 1600
open_cost "photo editor" tool.image.edit 1400
open_cost "annotate editor" tool.image.annotate 1600

# Twelve moves of the Exposure slider on the 48 MP picture, 30 ms apart: the longest time the
# GUI thread was held (limit 100 ms; the preview renders on a worker).
moves='['
for value in 1000 2000 3000 4000 5000 6000 7000 8000 9000 10000 1000 5000; do
    moves+="[\"set\",\"Exposure\",$value],[\"wait\",30],"
done
moves+='["cancel"]]'
stall=$("$dev" edit tool.image.edit "$work/big.jpg" --no-run --do "$moves" | tail -1 | field actionMaxStallMs)
bound "photo editor, 12 slider moves on 48 MP: longest GUI block" "$stall" 100 " ms"
awk "BEGIN{exit !($stall <= 100)}" || over=1

# 40 pages of 4000 random strokes each.
{
    echo '%!PS'
    echo '/r { rand 612 mod } def /s { rand 792 mod } def'
    for page in $(seq 40); do
        echo "$page srand 0.2 setlinewidth 4000 { r s moveto r s lineto r s lineto closepath stroke } repeat showpage"
    done
} > "$work/heavy.ps"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$work/heavy.pdf" "$work/heavy.ps"
out=$("$dev" edit tool.pdf.reorder "$work/heavy.pdf" --no-run | tail -1)
start=$(now_ms)
pdftoppm -scale-to 280 -png "$work/heavy.pdf" "$work/page"
bare=$(( $(now_ms) - start ))
row "pages editor, 40 heavy pages: all thumbnails" "$(field idleMs <<<"$out")" "$bare" 1 " ms" "pdftoppm -scale-to 280"
bound "pages editor, 40 heavy pages: longest GUI block" "$(field maxStallMs <<<"$out")" 150 " ms"
exit "$over"
