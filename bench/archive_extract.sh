#!/usr/bin/env bash
# Extracting archives through `quorvenda-dev run tool.archive.extract` against `bsdtar -xf`
# (libarchive's own tool, the library we read with) at our workers' priority, alternating,
# median of 5, on ext4 (a folder beside the temporary folder) and on a tmpfs (/dev/shm): a zip of
# 2,000 small files in 200 folders (and a few of 1 MB), and a tarball of 12,000 files in 120
# folders. Wall time, and on ext4 processor time (perf's task-clock over every process) and the
# file-status calls each makes (strace -f -c: newfstatat, statx, lstat, stat). Each side's tree
# is counted after its run. Limit 1.2x on time.
# Usage: bench/archive_extract.sh, from the repository with build/ built; QV_DEV names another
# quorvenda-dev to measure (an earlier build).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
dev="${QV_DEV:-$root/build/quorvenda-dev}"
home=$(mktemp -d)
places=("$(mktemp -d)")
[ -d /dev/shm ] && [ -w /dev/shm ] && places+=("$(mktemp -d -p /dev/shm)")
trap 'rm -rf "$home" "${places[@]}"' EXIT
mkdir -p "$home/config/quorvenda" "$home/cache" "$home/src"
export XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" QT_QPA_PLATFORM=offscreen

extraction_zip "$home/src/zip" "$home/archive.zip"
/usr/bin/python3 - "$home/src/tar/tarball" <<'PY'
import os, random, sys
random.seed(2)
root = sys.argv[1]
for d in range(120):
    folder = os.path.join(root, f"part{d}")
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, f"file{f}.c"), "wb") as out:
            out.write(random.randbytes(random.randint(100, 3000)))
PY
(cd "$home/src/tar" && tar czf "$home/tarball.tar.gz" tarball)

# run KIND WORK ARCHIVE: one extraction of WORK/in/ARCHIVE, its wall and processor seconds.
run() {
    local work=$2 archive=$3 start end
    rm -rf "$work/in/${archive%%.*}" "$work/out"; mkdir "$work/out"
    start=$(date +%s.%N)
    if [ "$1" = ours ]; then
        perf stat -x, -e task-clock -o "$work/perf" -- "$dev" run tool.archive.extract "$work/in/$archive" >/dev/null 2>&1
    else
        (cd "$work/out" && perf stat -x, -e task-clock -o "$work/perf" -- nice -n 10 chrt -b 0 ionice -c 3 bsdtar -xf "$work/in/$archive")
    fi
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) $(awk -F, '/task-clock/ { print $1 / 1000 }' "$work/perf")"
}
# count WHO FOLDER N: warns unless the folder holds N files.
count_files() { [ "$(find "$2" -type f | wc -l)" -eq "$3" ] || echo "$1 did not extract every file" >&2; }

# measure PLACE ARCHIVE FILES WHAT: the rows of one archive on one filesystem.
measure() {
    local work=$1 archive=$2 files=$3 what=$4 kind
    kind=$(df --output=fstype "$work" | tail -1)
    mkdir -p "$work/in"; cp "$home/$archive" "$work/in/"
    : > "$work/ours"; : > "$work/peer"
    for i in 1 2 3 4 5; do
        run ours "$work" "$archive" >> "$work/ours"; count_files ours "$work/in/${archive%%.*}" "$files"
        run peer "$work" "$archive" >> "$work/peer"; count_files bsdtar "$work/out" "$files"
    done
    echo "archive extraction ($what, $kind): load $(cut -d' ' -f1 /proc/loadavg)" >&2
    row "extract $what ($kind)" "$(awk '{ print $1 }' "$work/ours" | median)" "$(awk '{ print $1 }' "$work/peer" | median)" 1.2 " s" "bsdtar"
    if [ "$work" = "${places[0]}" ]; then
        row "extract $what, processor time ($kind)" "$(awk '{ print $2 }' "$work/ours" | median)" "$(awk '{ print $2 }' "$work/peer" | median)" 1.2 " s" "bsdtar"
    fi
    rm -rf "$work/in" "$work/out"
}
for place in "${places[@]}"; do
    measure "$place" archive.zip 2004 "a zip of 2,004 files"
    measure "$place" tarball.tar.gz 12000 "a 12,000-file tarball"
done

# stats FILE: the file-status calls an strace -c summary counts.
stats() { awk '$NF ~ /^(newfstatat|statx|lstat|stat|fstatat64)$/ { n += $4 } END { print n + 0 }' "$1"; }
work=${places[0]}
mkdir -p "$work/in" "$work/out"; cp "$home/archive.zip" "$work/in/"
strace -f -c -o "$work/ours.strace" "$dev" run tool.archive.extract "$work/in/archive.zip" >/dev/null 2>&1
(cd "$work/out" && strace -f -c -o "$work/peer.strace" bsdtar -xf "$work/in/archive.zip")
row "file-status calls, extract a zip of 2,004 files" "$(stats "$work/ours.strace")" "$(stats "$work/peer.strace")" 1.2 "" "bsdtar"
