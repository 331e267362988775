#!/usr/bin/env bash
# A 24-page PDF to PNG at 150 dpi: `quorvenda-dev run convert.pdf.png` against one
# `mutool draw -r 150` run (mupdf-tools), median of 3 each, both in one run.
# Usage: bench/pdf_render.sh, from the repository with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A page of text, vector drawing and a gradient, 24 times.
cat > "$work/page.raw" <<'PDF'
%PDF-1.7
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> /Shading << /Sh1 6 0 R >> >> >> endobj
4 0 obj << /Length 200 >> stream
q 72 300 468 400 re W n /Sh1 sh Q
BT /F1 18 Tf 72 720 Td (Benchmark page with some words on it, drawn at 150 dpi) Tj ET
0 0 1 rg 72 72 300 200 re f 1 0 0 RG 4 w 72 400 m 540 600 l S
endstream endobj
5 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj
6 0 obj << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [72 300 540 700] /Function << /FunctionType 2 /Domain [0 1] /C0 [1 0.8 0] /C1 [0 0.3 1] /N 1 >> >> endobj
trailer << /Root 1 0 R >>
%%EOF
PDF
qpdf "$work/page.raw" "$work/page.pdf" 2>/dev/null || true
pages=()
for i in $(seq 24); do pages+=("$work/page.pdf"); done
qpdf --empty --pages "${pages[@]}" -- "$work/doc.pdf"
echo "input: $(qpdf --show-npages "$work/doc.pdf") pages"

median() { sort -n | sed -n 2p; }
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }

ours=$(for i in 1 2 3; do
    rm -rf "$work/doc (pages)"*
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run convert.pdf.png --options '{"dpi":150}' "$work/doc.pdf"
done | median)
echo "images: $(ls "$work/doc (pages)" | wc -l)"
if ! command -v mutool >/dev/null; then
    echo "quorvenda-dev run: ${ours} s; mutool not installed (apt-get install mupdf-tools) for the comparison"
    exit 0
fi
bare=$(for i in 1 2 3; do
    rm -rf "$work/bare"; mkdir -p "$work/bare"
    seconds mutool draw -r 150 -o "$work/bare/page%d.png" "$work/doc.pdf"
done | median)
echo "quorvenda-dev run: ${ours} s; mutool draw: ${bare} s; ratio $(echo "scale=2; $ours / $bare" | bc)"
