#!/usr/bin/env bash
# OCR of 20 scanned 300-dpi pages: `quorvenda-dev run tool.pdf.ocr` against `tesseract` run page
# by page on the same page pictures with OMP_THREAD_LIMIT=1, both in one run, and how many of
# the distinct words tesseract finds the text layer holds.
# Usage: bench/pdf_ocr.sh [PAGES], from the repository with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
pages=${1:-20}
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT; echo "work: $work"

for tool in tesseract convert pdftotext python3 bc; do
    command -v "$tool" >/dev/null || { echo "$tool is needed for the comparison"; exit 1; }
done

sentences=(
    "The harbour lights glowed over seventeen quiet fishing boats."
    "A marmalade invoice arrived with the morning post on Tuesday."
    "Every quantum giraffe prefers tall acacia trees to short hedges."
    "Please return the borrowed ladder before the autumn festival."
    "Our committee approved the budget for the new village library."
    "Bright copper kettles and warm woollen mittens filled the shop."
    "The railway timetable changes on the first Sunday of October."
    "Seven patient walruses waited beside the frozen northern lake."
    "Gardeners planted tulips, daffodils and crocuses along the path."
    "The museum will close early because of the electrical repairs."
    "An orchestra rehearsed the symphony twice before the concert."
    "Fresh bread from the bakery sold out within twenty minutes."
)
# Page pictures as a scanner makes them: 2550 x 3300 pixels, 8-bit grey, at 300 dpi.
for p in $(seq "$pages"); do
    text=""
    for line in $(seq 0 27); do
        text+="${sentences[$(( (p * 5 + line * 7) % ${#sentences[@]} ))]}\n"
    done
    convert -size 2550x3300 xc:white -font DejaVu-Sans -pointsize 40 -fill black \
        -interline-spacing 30 -annotate +200+260 "$(printf "$text")" \
        -colorspace Gray -depth 8 -density 300 -units PixelsPerInch "$work/page$(printf %02d "$p").png"
    convert "$work/page$(printf %02d "$p").png" -depth 8 "gray:$work/page$(printf %02d "$p").raw"
done

# The pictures wrapped into a PDF, one full page each.
python3 - "$work" "$pages" <<'PY'
import sys, zlib
work, count = sys.argv[1], int(sys.argv[2])
w, h, dpi = 2550, 3300, 300
objs = ["<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join("%d 0 R" % (3 + i * 3) for i in range(count)), count)]
streams = {}
for i in range(count):
    pw, ph = w * 72 / dpi, h * 72 / dpi
    objs.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Resources << /XObject << /Im %d 0 R >> >> /Contents %d 0 R >>" % (pw, ph, 5 + i * 3, 4 + i * 3))
    draw = ("q %.2f 0 0 %.2f 0 0 cm /Im Do Q\n" % (pw, ph)).encode()
    objs.append(None); streams[len(objs)] = (b"<< /Length %d >>" % len(draw), draw)
    data = zlib.compress(open("%s/page%02d.raw" % (work, i + 1), "rb").read())
    objs.append(None); streams[len(objs)] = (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length %d >>" % (w, h, len(data)), data)
out = bytearray(b"%PDF-1.4\n")
offsets = []
for n, body in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % n
    if body is None:
        d, s = streams[n]
        out += d + b"\nstream\n" + s + b"\nendstream"
    else:
        out += body.encode()
    out += b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for o in offsets:
    out += b"%010d 00000 n \n" % o
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(work + "/scan.pdf", "wb").write(out)
PY
echo "input: $pages pages of 2550x3300 at 300 dpi, $(nproc) cores"

seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }

# Ours three times, the median counts: other work on the machine slows a single run unevenly.
: > "$work/ours.txt"
for i in 1 2 3; do
    rm -f "$work/scan (searchable).pdf"
    seconds env HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" \
        QT_QPA_PLATFORM=offscreen "$dev" run tool.pdf.ocr "$work/scan.pdf" >> "$work/ours.txt"
done
ours=$(sort -n "$work/ours.txt" | sed -n 2p)
mkdir -p "$work/bare"
bare_pages() {
    for picture in "$work"/page*.png; do
        OMP_THREAD_LIMIT=1 tesseract "$picture" "$work/bare/$(basename "$picture" .png)" -l eng
    done
}
bare=$(seconds bare_pages)

words() { tr -cs '[:alnum:]' '\n' | tr '[:upper:]' '[:lower:]' | grep -v '^$' | sort -u; }
cat "$work"/bare/*.txt | words > "$work/bare.words"
pdftotext "$work/scan (searchable).pdf" - | words > "$work/ours.words"
found=$(comm -12 "$work/bare.words" "$work/ours.words" | wc -l)
total=$(wc -l < "$work/bare.words")
echo "quorvenda-dev run tool.pdf.ocr: ${ours} s; tesseract page by page: ${bare} s;" \
     "speed-up $(echo "scale=2; $bare / $ours" | bc)"
echo "distinct words of tesseract in the layer: $found of $total ($(echo "scale=1; 100 * $found / $total" | bc) %)"
