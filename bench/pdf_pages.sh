#!/usr/bin/env bash
# The page tools on office PDFs (text, a logo every page shares, a photo every fifth page):
# merging 50 PDFs of 60 pages against `qpdf --empty --pages`, turning a 1,000-page PDF by 90°
# against `qpdf --rotate=+90`, splitting a 202-page PDF into pages against `qpdf --split-pages`;
# median of 5 each, taking turns, each result checked.
# Usage: bench/pdf_pages.sh, from the repository with build/ built (QV_DEV=another quorvenda-dev
# measures that build instead).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="${QV_DEV:-$root/build/quorvenda-dev}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/pictures" "$work/merge" "$work/turn" "$work/split"
for i in $(seq 12); do
    convert -seed "$i" -size 800x600 plasma:fractal -quality 85 "$work/pictures/photo$i.jpg"
done
convert -size 120x60 gradient:blue-white -quality 90 "$work/pictures/logo.jpg"
office() { /usr/bin/python3 "$root/bench/office_pdf.py" "$1" "$2" "$work/pictures/logo.jpg" "$work"/pictures/photo*.jpg; }
for i in $(seq -w 50); do office "$work/merge/part$i.pdf" 60; done
office "$work/turn/book.pdf" 1000
office "$work/split/report.pdf" 202
inputs=("$work"/merge/part*.pdf)

ours() { env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen "$dev" run "$@"; }
# Each side's result must hold every page, or the figure means nothing.
pages() { qpdf --show-npages "$1"; }
expect() { [ "$1" = "$2" ] || { echo "wrong result: $3 has $1 pages, not $2" >&2; exit 1; }; }

: > "$work/m-ours"; : > "$work/m-qpdf"; : > "$work/t-ours"; : > "$work/t-qpdf"; : > "$work/s-ours"; : > "$work/s-qpdf"
for i in 1 2 3 4 5; do
    rm -rf "$work/merge/part01 (merged)"*.pdf "$work/m.pdf" "$work/turn/book (rotated)"*.pdf "$work/t.pdf" \
        "$work/split/report (parts)"* "$work/s"
    seconds ours tool.pdf.merge "${inputs[@]}" >> "$work/m-ours"
    seconds qpdf --empty --pages "${inputs[@]}" -- "$work/m.pdf" >> "$work/m-qpdf"
    seconds ours tool.pdf.rotate "$work/turn/book.pdf" >> "$work/t-ours"
    seconds qpdf --rotate=+90 "$work/turn/book.pdf" "$work/t.pdf" >> "$work/t-qpdf"
    seconds ours tool.pdf.split "$work/split/report.pdf" >> "$work/s-ours"
    mkdir "$work/s"
    seconds qpdf --split-pages "$work/split/report.pdf" "$work/s/page-%d.pdf" >> "$work/s-qpdf"
done
expect "$(pages "$work"/merge/part01\ \(merged\)*.pdf)" 3000 "the merge"
expect "$(pages "$work/m.pdf")" 3000 "qpdf's merge"
expect "$(pages "$work"/turn/book\ \(rotated\)*.pdf)" 1000 "the turn"
expect "$(ls "$work"/split/report\ \(parts\)*/ | wc -l)" 202 "the split"
expect "$(ls "$work/s" | wc -l)" 202 "qpdf's split"
row "merge 50 office PDFs of 60 pages" "$(median < "$work/m-ours")" "$(median < "$work/m-qpdf")" 1.2 " s" "qpdf --empty --pages"
row "turn a 1,000-page PDF by 90°" "$(median < "$work/t-ours")" "$(median < "$work/t-qpdf")" 1.5 " s" "qpdf --rotate"
row "split a 202-page PDF into pages" "$(median < "$work/s-ours")" "$(median < "$work/s-qpdf")" 1.5 " s" "qpdf --split-pages"
