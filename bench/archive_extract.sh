#!/usr/bin/env bash
# Extracting a zip of 2,000 small files in 200 folders (and a few of 1 MB) through
# `quorvenda-dev run tool.archive.extract` against `bsdtar -xf` (libarchive's own tool, the
# library we read with) at our workers' priority, alternating, median of 5: wall time and
# processor time (perf's task-clock over every process). Then the file-status calls each makes
# (strace -f -c: newfstatat, statx, lstat, stat). Limit 1.2x on time.
# Usage: bench/archive_extract.sh, from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/quorvenda" "$work/cache" "$work/src" "$work/in"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen

extraction_zip "$work/src" "$work/in/archive.zip"

# run KIND: one extraction, its wall and processor seconds.
run() {
    local start end
    rm -rf "$work/in/archive" "$work/out"; mkdir "$work/out"
    start=$(date +%s.%N)
    if [ "$1" = ours ]; then
        perf stat -x, -e task-clock -o "$work/perf" -- "$dev" run tool.archive.extract "$work/in/archive.zip" >/dev/null 2>&1
    else
        (cd "$work/out" && perf stat -x, -e task-clock -o "$work/perf" -- nice -n 10 chrt -b 0 ionice -c 3 bsdtar -xf "$work/in/archive.zip")
    fi
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) $(awk -F, '/task-clock/ { print $1 / 1000 }' "$work/perf")"
}
: > "$work/ours"; : > "$work/peer"
# Each side's files are counted right after its own run: the next run clears both places.
count_files() { [ "$(find "$2" -type f | wc -l)" -eq 2004 ] || echo "$1 did not extract every file" >&2; }
for i in 1 2 3 4 5; do
    run ours >> "$work/ours"; count_files ours "$work/in/archive"
    run peer >> "$work/peer"; count_files bsdtar "$work/out"
done
echo "archive extraction: load $(cut -d' ' -f1 /proc/loadavg)" >&2
row "extract a zip of 2,004 files" "$(awk '{ print $1 }' "$work/ours" | median)" "$(awk '{ print $1 }' "$work/peer" | median)" 1.2 " s" "bsdtar"
row "extract a zip of 2,004 files, processor time" "$(awk '{ print $2 }' "$work/ours" | median)" "$(awk '{ print $2 }' "$work/peer" | median)" 1.2 " s" "bsdtar"

# stats FILE: the file-status calls an strace -c summary counts.
stats() { awk '$NF ~ /^(newfstatat|statx|lstat|stat|fstatat64)$/ { n += $4 } END { print n + 0 }' "$1"; }
rm -rf "$work/in/archive" "$work/out"; mkdir "$work/out"
strace -f -c -o "$work/ours.strace" "$dev" run tool.archive.extract "$work/in/archive.zip" >/dev/null 2>&1
(cd "$work/out" && strace -f -c -o "$work/peer.strace" bsdtar -xf "$work/in/archive.zip")
row "file-status calls, extract a zip of 2,004 files" "$(stats "$work/ours.strace")" "$(stats "$work/peer.strace")" 1.2 "" "bsdtar"
