#!/usr/bin/env bash
# What a user of the running application waits for, from the drop to the result, against the
# peer command from a shell (bench_job_in_app, median of 9, alternating): the extraction of
# bench/archive_extract.sh's zip against `bsdtar -xf`, a 16x16 JPEG to PNG against
# `vips copy`, and bench/pdf_pages.sh's turn of a 1,000-page PDF and split of a 202-page one
# against qpdf. Ours with a worker waiting warm, as after the trigger key's tap that opened the
# wheel, and with none (the first job after a minute idle). No program starts for ours: the
# application runs already; bench/archive_extract.sh and bench/worker_start.sh time the same
# jobs started from a shell by `quorvenda-dev run`, and bench/pdf_pages.sh the PDF ones. The files are in the temporary folder
# (TMPDIR=/dev/shm for a tmpfs, where the filesystem's own work weighs least).
# Usage: bench/job_in_app.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/quorvenda" "$work/cache" "$work/src" "$work/in" "$work/peer"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen
export QUORVENDA_WORKER="$build/quorvenda-worker"
# Started as the launcher starts the application: glibc's huge-page malloc in its environment.
launched=(env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 QUORVENDA_HUGE_PAGE_MALLOC=1)

extraction_zip "$work/src" "$work/in/archive.zip"
vips black "$work/in/tiny.jpg" 16 16 --bands 3

# side WHICH: the line of bench_job_in_app's output for that side.
side() { awk -v w="$1" '$1 == w { print $2 }' "$work/out"; }
echo "jobs in the running application: load $(cut -d' ' -f1 /proc/loadavg), temporary folder $(df --output=fstype "$work" | tail -1)" >&2

"${launched[@]}" "$build/bench/bench_job_in_app" tool.archive.extract "$work/in/archive.zip" --clear "$work/in/archive" \
    --peer-dir "$work/peer" --runs 9 -- bsdtar -xf "$work/in/archive.zip" > "$work/out" 2>/dev/null
row "extract a zip of 2,004 files in the running application, a worker warm" "$(side warm)" "$(side peer)" 1.2 " s" "bsdtar"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 1.2 " s" "bsdtar"

"${launched[@]}" "$build/bench/bench_job_in_app" convert.image.png "$work/in/tiny.jpg" --clear "$work/in/tiny.png" \
    --peer-dir "$work/peer" --runs 9 -- vips copy "$work/in/tiny.jpg" "$work/peer/tiny.png" > "$work/out" 2>/dev/null
row "a 16x16 JPEG to PNG in the running application, a worker warm" "$(side warm)" "$(side peer)" 2 " s" "vips copy"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 2 " s" "vips copy"

mkdir -p "$work/pictures"
for i in $(seq 12); do
    convert -seed "$i" -size 800x600 plasma:fractal -quality 85 "$work/pictures/photo$i.jpg"
done
convert -size 120x60 gradient:blue-white -quality 90 "$work/pictures/logo.jpg"
office() { /usr/bin/python3 "$root/bench/office_pdf.py" "$1" "$2" "$work/pictures/logo.jpg" "$work"/pictures/photo*.jpg; }
office "$work/in/book.pdf" 1000
office "$work/in/report.pdf" 202
"${launched[@]}" "$build/bench/bench_job_in_app" tool.pdf.rotate "$work/in/book.pdf" --clear "$work/in/book (rotated).pdf" \
    --peer-dir "$work/peer" --runs 9 -- qpdf --rotate=+90 "$work/in/book.pdf" "$work/peer/book.pdf" > "$work/out" 2>/dev/null
# Ours is checked by the job itself (a run that did not finish fails the benchmark), the peer here.
[ "$(qpdf --show-npages "$work/peer/book.pdf")" = 1000 ] || { echo "qpdf's turn lost pages" >&2; exit 1; }
row "turn a 1,000-page PDF by 90° in the running application, a worker warm" "$(side warm)" "$(side peer)" 1.5 " s" "qpdf --rotate"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 1.5 " s" "qpdf --rotate"
"${launched[@]}" "$build/bench/bench_job_in_app" tool.pdf.split "$work/in/report.pdf" --clear "$work/in/report (parts)" \
    --peer-dir "$work/peer" --runs 9 -- qpdf --split-pages "$work/in/report.pdf" "$work/peer/page-%d.pdf" > "$work/out" 2>/dev/null
[ "$(ls "$work/peer" | wc -l)" = 202 ] || { echo "qpdf's split lost pages" >&2; exit 1; }
row "split a 202-page PDF in the running application, a worker warm" "$(side warm)" "$(side peer)" 1.5 " s" "qpdf --split-pages"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 1.5 " s" "qpdf --split-pages"
