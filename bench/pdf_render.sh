#!/usr/bin/env bash
# A 24-page PDF to PNG at 150 dpi: `quorvenda-dev run convert.pdf.png` against one
# `mutool draw -r 150` run (mupdf-tools), median of 5 each, both in one run.
# Usage: bench/pdf_render.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A page of text, vector drawing and a band of colours, 24 times.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/page.pdf" \
    -c "0 1 99 { dup 100 div 1 exch sub 0.3 2 index 100 div setrgbcolor 4 mul 72 add 300 4 400 rectfill } for /Helvetica findfont 18 scalefont setfont 0 setgray 72 720 moveto (Benchmark page with some words on it, drawn at 150 dpi) show 0 0 1 setrgbcolor 72 72 300 200 rectfill 1 0 0 setrgbcolor 4 setlinewidth 72 400 moveto 540 600 lineto stroke showpage"
pages=()
for i in $(seq 24); do pages+=("$work/page.pdf"); done
qpdf --empty --pages "${pages[@]}" -- "$work/doc.pdf"
echo "input: $(qpdf --show-npages "$work/doc.pdf") pages" >&2


if ! command -v mutool >/dev/null; then
    echo "mutool is needed for the comparison: apt-get install mupdf-tools" >&2
    exit 1
fi
# The two take turns, so a busy machine slows both alike.
: > "$work/ours.txt"; : > "$work/bare.txt"
for i in 1 2 3 4 5; do
    rm -rf "$work/doc (pages)"* "$work/bare"; mkdir -p "$work/bare"
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run convert.pdf.png --options '{"dpi":150}' "$work/doc.pdf" >> "$work/ours.txt"
    seconds mutool draw -r 150 -o "$work/bare/page%d.png" "$work/doc.pdf" >> "$work/bare.txt"
done
ours=$(median < "$work/ours.txt")
bare=$(median < "$work/bare.txt")
echo "images: $(ls "$work/doc (pages)" | wc -l) and $(ls "$work/bare" | wc -l)" >&2
row "24-page PDF to PNG at 150 dpi" "$ours" "$bare" 0.7 " s" "mutool draw"
