#!/usr/bin/env bash
# Merging 50 PDFs of 60 pages: `quorvenda-dev run tool.pdf.merge` against
# `qpdf --empty --pages ... --`, median of 3 each, both in one run.
# Usage: bench/pdf_merge.sh, from the repository with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One page with text and a drawing; qpdf writes the cross-reference table.
cat > "$work/page.raw" <<'PDF'
%PDF-1.7
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >> endobj
4 0 obj << /Length 120 >> stream
BT /F1 24 Tf 72 700 Td (A page of the benchmark) Tj ET
0 0 1 rg 72 72 300 300 re f 1 0 0 RG 4 w 72 400 m 540 600 l S
endstream endobj
5 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj
trailer << /Root 1 0 R >>
%%EOF
PDF
qpdf "$work/page.raw" "$work/page.pdf" 2>/dev/null || true
pages=()
for i in $(seq 60); do pages+=("$work/page.pdf"); done
mkdir -p "$work/in"
for i in $(seq -w 50); do
    qpdf --empty --pages "${pages[@]}" -- "$work/in/part$i.pdf"
done
inputs=("$work"/in/part*.pdf)
echo "input: ${#inputs[@]} PDFs of $(qpdf --show-npages "${inputs[0]}") pages"

median() { sort -n | sed -n 2p; }
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }

ours=$(for i in 1 2 3; do
    rm -f "$work/in/part01 (merged)"*.pdf
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        "$dev" run tool.pdf.merge "${inputs[@]}"
done | median)
bare=$(for i in 1 2 3; do
    rm -f "$work/bare.pdf"
    seconds qpdf --empty --pages "${inputs[@]}" -- "$work/bare.pdf"
done | median)
echo "pages merged: $(qpdf --show-npages "$work/in/part01 (merged).pdf")"
echo "quorvenda-dev run: ${ours} s; qpdf: ${bare} s; ratio $(echo "scale=2; $ours / $bare" | bc)"
