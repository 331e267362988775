#!/usr/bin/env bash
# PDF to PPTX of page pictures, a 20-page PDF: `quorvenda-dev run convert.pdf.pptx` against
# `pdftoppm -r 200 -png` drawing the same pages at the same resolution, median of 3 each, both
# in one run. Ours also starts its worker and writes the package.
# Usage: bench/pdf_slides.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/in" "$work/peer"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/in/deck.pdf" \
    -c "/Helvetica findfont 24 scalefont setfont 1 1 20 { /n exch def 0 1 20 { 72 exch 30 mul 60 add moveto (Slide ) show n 10 string cvs show ( with a line of text) show } for 0 0 1 setrgbcolor 72 72 n 20 mul 100 rectfill 0 setgray showpage } for"
echo "input: $(qpdf --show-npages "$work/in/deck.pdf") pages" >&2

: > "$work/ours.txt"; : > "$work/peer.txt"
for i in 1 2 3; do
    rm -f "$work/in/deck.pptx" "$work/peer"/*
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run convert.pdf.pptx "$work/in/deck.pdf" >> "$work/ours.txt"
    seconds pdftoppm -r 200 -png "$work/in/deck.pdf" "$work/peer/page" >> "$work/peer.txt"
done
echo "slides: $(unzip -Z1 "$work/in/deck.pptx" | grep -c '^ppt/slides/slide[0-9]*\.xml$')" >&2
row "PDF to PPTX, 20 pages at 200 dpi" "$(median < "$work/ours.txt")" "$(median < "$work/peer.txt")" 1.5 " s" "pdftoppm"
