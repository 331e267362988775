#!/usr/bin/env bash
# What a user of the running application waits for, from the drop to the result, against the
# peer command from a shell (bench_job_in_app, median of 9, alternating): the extraction of
# bench/archive_extract.sh's zip against `bsdtar -xf`, and a 16x16 JPEG to PNG against
# `vips copy`. Ours with a worker waiting warm, as after the trigger key's tap that opened the
# wheel, and with none (the first job after a minute idle). No program starts for ours: the
# application runs already; bench/archive_extract.sh and bench/worker_start.sh time the same
# jobs started from a shell by `quorvenda-dev run`. The files are in the temporary folder
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

extraction_zip "$work/src" "$work/in/archive.zip"
vips black "$work/in/tiny.jpg" 16 16 --bands 3

# side WHICH: the line of bench_job_in_app's output for that side.
side() { awk -v w="$1" '$1 == w { print $2 }' "$work/out"; }
echo "jobs in the running application: load $(cut -d' ' -f1 /proc/loadavg), temporary folder $(df --output=fstype "$work" | tail -1)" >&2

"$build/bench/bench_job_in_app" tool.archive.extract "$work/in/archive.zip" --clear "$work/in/archive" \
    --peer-dir "$work/peer" --runs 9 -- bsdtar -xf "$work/in/archive.zip" > "$work/out" 2>/dev/null
row "extract a zip of 2,004 files in the running application, a worker warm" "$(side warm)" "$(side peer)" 1.2 " s" "bsdtar"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 1.2 " s" "bsdtar"

"$build/bench/bench_job_in_app" convert.image.png "$work/in/tiny.jpg" --clear "$work/in/tiny.png" \
    --peer-dir "$work/peer" --runs 9 -- vips copy "$work/in/tiny.jpg" "$work/peer/tiny.png" > "$work/out" 2>/dev/null
row "a 16x16 JPEG to PNG in the running application, a worker warm" "$(side warm)" "$(side peer)" 2 " s" "vips copy"
row "the same, no worker waiting" "$(side cold)" "$(side peer)" 2 " s" "vips copy"
