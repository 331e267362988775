#!/usr/bin/env bash
# Merging 50 PDFs of 60 pages: `quorvenda-dev run tool.pdf.merge` against
# `qpdf --empty --pages ... --`, median of 5 each, both in one run.
# Usage: bench/pdf_merge.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each part has 60 pages of its own text and drawing, as real documents do.
mkdir -p "$work/in"
for i in $(seq -w 50); do
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/in/part$i.pdf" \
        -c "/Helvetica findfont 14 scalefont setfont 1 1 60 { /n exch def 0 1 40 { 72 exch 16 mul 60 add moveto (File $i page ) show n 10 string cvs show ( line of text for the benchmark) show } for 0 0 1 setrgbcolor 72 72 n 4 mul 100 rectfill 0 setgray showpage } for"
done
inputs=("$work"/in/part*.pdf)
echo "input: ${#inputs[@]} PDFs of $(qpdf --show-npages "${inputs[0]}") pages" >&2


# The two take turns, so a busy machine slows both alike.
: > "$work/ours.txt"; : > "$work/bare.txt"
for i in 1 2 3 4 5; do
    rm -f "$work/in/part01 (merged)"*.pdf "$work/bare.pdf"
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run tool.pdf.merge "${inputs[@]}" >> "$work/ours.txt"
    seconds qpdf --empty --pages "${inputs[@]}" -- "$work/bare.pdf" >> "$work/bare.txt"
done
ours=$(median < "$work/ours.txt")
bare=$(median < "$work/bare.txt")
echo "pages merged: $(qpdf --show-npages "$work/in/part01 (merged).pdf")" >&2
row "merge 50 PDFs of 60 pages" "$ours" "$bare" 1.2 " s" "qpdf"
