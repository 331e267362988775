#!/usr/bin/env bash
# The application's memory (bench_app_memory_x11): Pss of it and its workers after start, after
# 25 mixed jobs with every editor, a preview and a float panel opened and closed, and after 2
# minutes idle (limit 40 MB), the application's own growth (limit 20 MB); then a soak of ITEMS
# mixed items (default 1000) whose Pss must stay flat after warm-up (the last sample against the
# median of those from 200 items on, limit 1.1x). About 4 minutes plus a minute per 250 items.
# Settings, caches and a session bus of its own; needs DISPLAY.
# Usage: bench/app_memory.sh [ITEMS], from the repository with build/ built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
items=${1:-1000}
[ -n "${DISPLAY:-}" ] || { echo "needs DISPLAY" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/quorvenda" "$work/cache" "$work/data"
echo '{"quorvenda.onboardingDone": true}' > "$work/config/quorvenda/settings.json"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
export QUORVENDA_WORKER="$root/build/quorvenda-worker" QUORVENDA_PLAYER="$root/build/quorvenda-player"
# Started as the launcher starts the application: glibc's huge-page malloc in its environment.
launched=(env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 QUORVENDA_HUGE_PAGE_MALLOC=1)
dbus-run-session -- "${launched[@]}" "$root/build/bench/bench_app_memory_x11" memory
dbus-run-session -- "${launched[@]}" "$root/build/bench/bench_app_memory_x11" soak "$items"
