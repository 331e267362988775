#!/usr/bin/env bash
# A long Word file with drawn pictures to PDF, by file size: a DOCX of about seventy A4 pages,
# thirty-five 800 x 600 PNG pictures (five distinct ones, each shown seven times, as a report
# repeats its diagrams) made by the script (python-docx, ImageMagick). Converted by
# `quorvenda-dev run convert.document.pdf` and by `soffice --convert-to pdf` (the peer); the row
# is the PDF's size, and the pictures each holds as objects of their own (pdfimages).
# Usage: bench/document_pictures_size.sh, with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
driver="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$work/lo"
for i in 1 2 3 4 5; do
    convert -size 800x600 -seed "$i" plasma:fractal "$work/picture$i.png"
done
/usr/bin/python3 - "$work" <<'MAKE'
import sys
import docx
from docx.shared import Cm
work = sys.argv[1]
d = docx.Document()
for chapter in range(1, 36):
    d.add_heading(f'Chapter {chapter}', 1)
    for p in range(12):
        d.add_paragraph(f'Paragraph {p} of chapter {chapter}: the figures for the quarter were steady. ' * 4)
    d.add_picture(f'{work}/picture{chapter % 5 + 1}.png', width=Cm(12))
d.save(f'{work}/pictures.docx')
MAKE
"$driver" run convert.document.pdf "$work/pictures.docx" > /dev/null 2>&1
soffice --headless "-env:UserInstallation=file://$work/profile" --convert-to pdf --outdir "$work/lo" \
    "$work/pictures.docx" > /dev/null 2>&1
ours=$(stat -c %s "$work/pictures.pdf")
peer=$(stat -c %s "$work/lo/pictures.pdf")
objects() { pdfimages -list "$1" | tail -n +3 | awk '{ print $11 }' | sort -u | wc -l; }
row "DOCX of 35 PNG pictures (5 distinct) to PDF: file size ($(objects "$work/pictures.pdf") / $(objects "$work/lo/pictures.pdf") picture objects)" \
    "$(echo "scale=2; $ours / 1048576" | bc)" "$(echo "scale=2; $peer / 1048576" | bc)" 1.5 " MB" "LibreOffice"
