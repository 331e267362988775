#!/usr/bin/env bash
# Runs every benchmark and prints one Markdown table: what is measured, ours, the peer tool (or a
# note), their ratio, the limit and whether it held. Details each benchmark prints go to
# bench-run.log in the current folder. bench/README.md keeps the last table with its machine.
# Usage: bench/run-all.sh [--quick], from the repository with build/ built (Release).
# --quick runs smaller inputs and leaves out the slowest sets (the fidelity corpora, twenty
# office files, the batch memory budget): about 20 minutes instead of well over an hour.
# The remux, media-tools and media-copy benchmarks need root (a tmpfs of their own) and are skipped without.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
quick=0
[ "${1:-}" = --quick ] && quick=1
log="$PWD/bench-run.log"
: > "$log"

. "$root/bench/lib.sh"
private_display
trap '[ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null' EXIT

missing() { echo "| $1 | $2 | - | - | - | missed |"; }

# The rows of six cells a benchmark prints, without table heads (a per-file table has more cells).
table_rows() { awk -F'|' 'NF == 8 && $2 !~ /^ *what *$/ && $2 !~ /^ *-+ *$/'; }

# script NAME [ARGS...]: the rows a bench/ script prints; the rest goes to the log.
script() {
    local name=$1; shift
    echo "== $name $*" >> "$log"
    local rows status
    rows=$(bash "$root/bench/$name" "$@" 2>>"$log" | tee -a "$log" | table_rows)
    status=${PIPESTATUS[0]}
    if [ -n "$rows" ]; then echo "$rows"; else missing "$name" "failed (status $status, see $(basename "$log"))"; fi
}

# program NAME [ARGS...]: the rows one of build/bench's own programs prints.
program() {
    local name=$1; shift
    echo "== $name $*" >> "$log"
    local rows
    rows=$("$build/bench/$name" "$@" 2>>"$log" | tee -a "$log" | table_rows)
    if [ -n "$rows" ]; then echo "$rows"; else missing "$name" "failed (see $(basename "$log"))"; fi
}

# gbench NAME WHAT LIMITS: a Google Benchmark program, median of 3 repetitions per argument;
# LIMITS maps the argument to a limit in the benchmark's unit ("1000=10 10000=16").
gbench() {
    local name=$1 what=$2 limits=$3
    echo "== $name" >> "$log"
    "$build/bench/$name" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
        --benchmark_format=json 2>>"$log" | tee -a "$log" | /usr/bin/python3 -c '
import json, sys
what, limits = sys.argv[1], dict(p.split("=") for p in sys.argv[2].split())
data = json.load(sys.stdin)
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    arg = b["run_name"].split("/")[1]
    time, unit = b["real_time"], b["time_unit"]
    limit = limits.get(arg)
    held = "-" if limit is None else ("held" if time <= float(limit) else "missed")
    shown = "-" if limit is None else f"≤ {limit} {unit}"
    label = what.replace("{n}", arg)
    print(f"| {label} | {time:.2f} {unit} | - | - | {shown} | {held} |")
' "$what" "$limits" || missing "$name" "failed (see $(basename "$log"))"
}

cat <<EOF
Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo), load $(cut -d' ' -f1 /proc/loadavg) at the start; $(date -u +%Y-%m-%d)$([ $quick = 1 ] && echo ", --quick")

| what | ours | peer | ratio | limit | held |
| --- | --- | --- | --- | --- | --- |
EOF

if [ $quick = 1 ]; then
    script image_convert.sh 8
    script image_tools.sh 8
    script pdf_ocr.sh 4
    # The limits are set on the 10 MB file; it takes seconds, and smaller ones measure start-up.
    script document_markdown.sh
    script xlsx_to_csv.sh 20000
    script subject_masks.sh 12
    script workers.sh 8
    missing "sheets_fidelity.sh, document_fidelity.sh, document_photos.sh, document_pictures_size.sh, document_pdf.sh, batch_memory.sh" "left out by --quick"
else
    script image_convert.sh
    script image_tools.sh
    script pdf_ocr.sh
    script document_markdown.sh
    script xlsx_to_csv.sh
    script subject_masks.sh
    script workers.sh
    script sheets_fidelity.sh
    script document_fidelity.sh
    script document_photos.sh
    script document_pictures_size.sh
    script document_pdf.sh
    script batch_memory.sh
fi
script pdf_merge.sh
script pdf_pages.sh
script pdf_render.sh
script pdf_slides.sh
script editors.sh
script media_editor.sh
script animation_memory.sh
script playback_pace.sh
script wheel_open.sh
script wheel_first_look.sh
script tray_start.sh
# Starting small, cancelling at once, memory that comes back.
script worker_start.sh
script archive_extract.sh
script job_in_app.sh
script cancel_load.sh
script background_load.sh
script open_with.sh
if [ $quick = 1 ]; then
    script app_memory.sh 300
else
    script app_memory.sh 1000
fi
if [ "$(id -u)" -eq 0 ]; then
    if [ $quick = 1 ]; then
        script media_remux.sh 512
        script media_tools.sh 256
        script media_copy.sh 400
    else
        script media_remux.sh
        script media_tools.sh
        script media_copy.sh
    fi
else
    missing "media_remux.sh, media_tools.sh, media_copy.sh" "skipped: need root for their tmpfs"
fi
gbench bench_drag_watcher_x11 "drag watcher reports {n} files" ""
gbench bench_demo_frame "one welcome-demo frame at {n} ms" "200=2000 1700=2000 3000=2000 4000=2000"
program bench_float_panel_x11
program bench_move
program bench_practice_photo
program bench_settings
