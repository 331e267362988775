#!/usr/bin/env bash
# Open With: from starting `quorvenda FILE` beside a running Quorvenda to the running one's
# wheel shown for the file, against the bare D-Bus call that hands the same file over
# (dbus-send); median of 7 each, alternating (limit 0.3 s). The application runs on a private
# session bus and the display given (Xvfb), with settings of its own.
# Usage: bench/open_with.sh, from the repository with build/ built, DISPLAY set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ -n "${DISPLAY:-}" ] || { echo "needs DISPLAY" >&2; exit 1; }
if [ -z "${QV_OPEN_WITH_BUS:-}" ]; then
    QV_OPEN_WITH_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
work=$(mktemp -d)
app=""
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/config/quorvenda" "$work/cache"
echo '{"quorvenda.onboardingDone": true}' > "$work/config/quorvenda/settings.json"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
vips black "$work/a.v" 64 64 --bands 3 && vips copy "$work/a.v" "$work/a.png"

log="$work/app.log"
"$root/build/quorvenda" > "$log" 2>&1 &
app=$!
for _ in $(seq 300); do grep -q "Quorvenda started" "$log" && break; sleep 0.05; done
grep -q "Quorvenda started" "$log" || { echo "the application did not start" >&2; cat "$log" >&2; exit 1; }
sleep 2

# Seconds from now until the log holds one more "Opened convert wheel" line than before.
wheel_after() {
    local before start
    before=$(grep -c "Opened convert wheel" "$log" || true)
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    for _ in $(seq 2000); do
        [ "$(grep -c "Opened convert wheel" "$log" || true)" -gt "$before" ] && break
        sleep 0.002
    done
    echo "$(date +%s.%N) - $start" | bc
}

ours=() bare=()
for round in 1 2 3 4 5 6 7; do
    ours+=("$(wheel_after "$root/build/quorvenda" "$work/a.png")")
    sleep 0.5
    bare+=("$(wheel_after dbus-send --session --type=method_call --print-reply --dest=org.quorvenda.Quorvenda \
        /org/quorvenda/Quorvenda org.quorvenda.Quorvenda.OpenFiles array:string:"$work/a.png")")
    sleep 0.5
done
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }
o=$(printf '%s\n' "${ours[@]}" | median)
b=$(printf '%s\n' "${bare[@]}" | median)
echo "open with: quorvenda ${ours[*]}; dbus-send ${bare[*]}" >&2
printf '| Open With: `quorvenda FILE` to the wheel shown | %.3f s | dbus-send %.3f s | %.2f | ≤ 0.3 s | %s |\n' \
    "$o" "$b" "$(echo "$o / $b" | bc -l)" "$(awk -v v="$o" 'BEGIN { print v <= 0.3 ? "held" : "missed" }')"
