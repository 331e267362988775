#!/usr/bin/env bash
# Start to tray icon (bench_tray_start as the session's StatusNotifierWatcher): from the exec of
# quorvenda-app to its icon's registration, against a 20-line Qt tray program (bench_tray_peer,
# QSystemTrayIcon) in the same run, median of RUNS each (default 21), in alternating rounds, on
# two pinned cores. Then the application's Pss, alone and with its workers, after IDLE seconds
# in the tray (default 120; limit 35 MB). Settings, caches and a session bus of its own.
# Usage: bench/tray_start.sh [RUNS] [IDLE], from the repository with build/ built; starts Xvfb
# without DISPLAY.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
runs=${1:-21}
idle=${2:-120}
private_display
trap '[ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true' EXIT
work=$(mktemp -d)
trap 'rm -rf "$work"; [ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true' EXIT
mkdir -p "$work/config/quorvenda" "$work/cache" "$work/data"
echo '{"quorvenda.onboardingDone": true}' > "$work/config/quorvenda/settings.json"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
export QUORVENDA_WORKER="$root/build/quorvenda-worker" QUORVENDA_PLAYER="$root/build/quorvenda-player"
bench=$root/build/bench/bench_tray_start
# The application as the launcher starts it: glibc's huge-page malloc in its environment.
launched=(env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 QUORVENDA_HUGE_PAGE_MALLOC=1)
# Three rounds each, alternating, so a change in the machine's load weighs on both.
rounds=3
per=$(( (runs + rounds - 1) / rounds ))
: > "$work/ours"; : > "$work/peer"
for _ in $(seq $rounds); do
    dbus-run-session -- taskset -c 0,1 "$bench" "$per" 0 "$root/build/bench/bench_tray_peer" 2>/dev/null \
        | awk '/^run /{print $2}' >> "$work/peer"
    dbus-run-session -- taskset -c 0,1 "${launched[@]}" "$bench" "$per" 0 "$root/build/quorvenda-app" 2>/dev/null \
        | awk '/^run /{print $2}' >> "$work/ours"
done
row "start to tray icon (exec to the icon registered, median of $(wc -l < "$work/ours"))" \
    "$(median < "$work/ours")" "$(median < "$work/peer")" 1.5 " ms" "a 20-line Qt tray program"
read -r own all < <(dbus-run-session -- taskset -c 0,1 "${launched[@]}" "$bench" 0 "$idle" "$root/build/quorvenda-app" 2>/dev/null \
    | awk '/^pss /{print $2, $3}')
bound "Pss of the application after $idle s idle in the tray" "$own" 35 " MB" "with its workers $all MB"
