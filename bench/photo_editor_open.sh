#!/usr/bin/env bash
# Opening the photo editor through `quorvenda-dev edit tool.image.edit` (idleMs: the window shown
# with its 1400 px preview and model) on a 48 MP JPEG less on a 100 x 100 one, against
# `vipsthumbnail -s 1400` of the big one in the same run, median of 3 each (limit 2x).
# Usage: bench/photo_editor_open.sh, from the repository with build/ built; needs a display or
# runs offscreen. Exits 1 when over the limit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dev="$root/build/quorvenda-dev"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

median() { sort -n | sed -n 2p; }
now_ms() { date +%s%3N; }
field() { sed -E "s/.*\"$1\":([0-9.]+).*/\1/"; }

# 8000 x 6000 of noise: no shortcut in the JPEG decoder helps.
vips gaussnoise "$work/g.v" 8000 6000 --mean 128 --sigma 40
vips cast "$work/g.v" "$work/c.v" uchar
vips bandjoin "$work/c.v $work/c.v $work/c.v" "$work/big.jpg[Q=90]"
vips black "$work/small.jpg" 100 100 --bands 3

big_ms=(); small_ms=(); thumb_ms=()
for run in 1 2 3; do
    big_ms+=("$("$dev" edit tool.image.edit "$work/big.jpg" --no-run | tail -1 | field idleMs)")
    small_ms+=("$("$dev" edit tool.image.edit "$work/small.jpg" --no-run | tail -1 | field idleMs)")
    start=$(now_ms)
    vipsthumbnail -s 1400 -o "$work/thumb.jpg" "$work/big.jpg"
    thumb_ms+=("$(( $(now_ms) - start ))")
done
big=$(printf '%s\n' "${big_ms[@]}" | median)
small=$(printf '%s\n' "${small_ms[@]}" | median)
thumb=$(printf '%s\n' "${thumb_ms[@]}" | median)
ratio=$(awk "BEGIN{printf \"%.2f\", ($big-$small)/$thumb}")
echo "photo editor: 48 MP ${big} ms, 100 x 100 ${small} ms, vipsthumbnail -s 1400 ${thumb} ms," \
     "ratio ${ratio} (limit 2)"
awk "BEGIN{exit !($ratio <= 2)}"
