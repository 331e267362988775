#!/usr/bin/env bash
# Twenty Word files to PDF in one job of `quorvenda-dev run convert.document.pdf`, against a bare
# loop of `soffice --headless --convert-to pdf`, one start per file with one profile kept warm.
# DOC files are read by LibreOffice on both sides; DOCX files take the pandoc road on ours.
# Median of 3 runs each. Usage: bench/document_pdf.sh, with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
driver="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$work/docx" "$work/doc" "$work/warm"
for i in $(seq -w 1 20); do
    {
        echo "# Report $i"
        for p in $(seq 1 30); do
            echo
            echo "Paragraph $p of report $i: the figures for the quarter were steady and the outlook stays the same."
        done
    } > "$work/report$i.md"
    pandoc "$work/report$i.md" -o "$work/docx/report$i.docx"
done
profile="-env:UserInstallation=file://$work/warm"
soffice --headless "$profile" --convert-to doc --outdir "$work/doc" "$work"/docx/*.docx > /dev/null 2>&1


loop() { # folder
    rm -rf "$work/out" && mkdir "$work/out"
    for f in "$1"/*; do soffice --headless "$profile" --convert-to pdf --outdir "$work/out" "$f"; done
}
ours() { # folder
    rm -f "$1"/*.pdf
    "$driver" run convert.document.pdf "$1"/*.d*
}
for kind in doc docx; do
    bare=$(for r in 1 2 3; do seconds loop "$work/$kind"; done | median)
    mine=$(for r in 1 2 3; do seconds ours "$work/$kind"; done | median)
    limit=0.7; [ "$kind" = docx ] && limit=0.25
    row "20 ${kind^^} files to PDF" "$mine" "$bare" "$limit" " s" "soffice loop"
done
