#!/usr/bin/env bash
# Background removal's subject masks on photos whose true mask is known: photographed cut-outs
# from Tux Paint's stamps (Debian's tuxpaint-stamps-default, GPL-2+: animals, people, vehicles,
# food, tools) pasted on its photos of scenes (tuxpaint-data's templates, slightly blurred) at
# 1200 x 900, some standing on the bottom edge, saved as JPEG. The trained model against the old saliency
# heuristic (mean intersection over union, limit 0.90); pictures without a subject; then the
# model's time and memory on a 12-megapixel photo (limits 4 s with all cores, 1.5 GB; 3 s with
# the malloc the application's workers run with); then the whole job through the driver.
# Usage: bench/subject_masks.sh [COUNT], from the repository with build/ built.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/build/bench/bench_subject_masks"
stamps=/usr/share/tuxpaint/stamps
templates=/usr/share/tuxpaint/templates
count=${1:-50}
if [ ! -d "$stamps" ] || [ ! -d "$templates" ]; then
    echo "needs tuxpaint-stamps-default and tuxpaint-data (scripts/install-deps.sh)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

subjects=(
  food/fruit/orange_seville food/fruit/Cherry_Stella food/fruit/Strawberry2 food/fruit/avocado
  food/fruit/cherimoya food/fruit/Apricot_whole food/fruit/kiwi food/spices/ginger
  household/cylinder household/Lightbulb household/tools/cementmixer household/tools/spade
  town/monuments/inukshuk-photo plants/trees/holm_oak plants/flowers/daffodil plants/flowers/anemone_red
  military/paratrooper military/vehicles/infantry-stryker military/vehicles/f22_raptor military/vehicles/bradley
  seasonal/candle seasonal/christmas/Roast_turkey seasonal/christmas/German_Christmas_toy
  seasonal/christmas/Christmas_pudding seasonal/christmas/Mince_Pie animals/insects/mantis
  animals/insects/Woodlouse animals/mammals/rodents/capybara animals/mammals/bears/european-bear
  animals/mammals/aquatic/otter animals/mammals/cats/tiger_sumatran animals/mammals/cats/lion-2
  animals/mammals/bovines/indian_blackbuck animals/mammals/bovines/gnu-stand animals/birds/albino_peahen
  animals/birds/helmeted_guineafowl animals/birds/heron_greatblue_flying animals/birds/pelican
  animals/birds/crowned_crane animals/fish/lobster vehicles/garbagetruck vehicles/race/indycar
  vehicles/emergency/firetruck vehicles/construction/dumper vehicles/flight/balloon360
  vehicles/flight/planes/747 vehicles/wheel_tractor vehicles/masstransit/green_korean_bus
  people/fireman240a people/fireman200b
)
# Scenes without a subject of their own (the sheep, the lighthouse, the jellyfish, the spider's
# web and the mill's machine would be subjects too, and leaves in front would hide one), a
# little out of focus as behind a photographed subject.
backgrounds=()
for scene in burnt_bark cliff corn_maze mossy_bark mossy_log mudstone ocean_splash ocean_waves \
             redwoods_above rocks sun_behind_clouds trees_above trees_at_dusk; do
    backgrounds+=("$templates/$scene.jpg")
done
: > "$work/list.txt"
i=0
for subject in "${subjects[@]:0:$count}"; do
    background=${backgrounds[$((i % ${#backgrounds[@]}))]}
    vips thumbnail "$background" "$work/sharp.v" 1200 --height 900 --crop centre
    vips gaussblur "$work/sharp.v" "$work/bg.v" 2
    # Between half and four fifths of the height; every third one stands on the bottom edge.
    side=$((450 + (i * 97) % 270))
    vips thumbnail "$stamps/$subject.png" "$work/st.v" "$side" --height "$side"
    w=$(vipsheader -f width "$work/st.v"); h=$(vipsheader -f height "$work/st.v")
    x=$(( (1200 - w) * ((i * 37) % 100) / 100 ))
    if [ $((i % 3)) -eq 0 ]; then y=$((900 - h)); else y=$(( (900 - h) * ((i * 53) % 100) / 100 )); fi
    vips composite2 "$work/bg.v" "$work/st.v" "$work/c.v" over --x "$x" --y "$y"
    vips flatten "$work/c.v" "$work/photo$i.jpg[Q=90]"
    vips extract_band "$work/st.v" "$work/a.v" 3
    vips embed "$work/a.v" "$work/mask$i.png" "$x" "$y" 1200 900
    echo "$work/photo$i.jpg $work/mask$i.png" >> "$work/list.txt"
    i=$((i + 1))
done
echo "$i photos of 1200 x 900" >&2

"$bench" "$work/list.txt"
# 12 megapixels: the first photo enlarged, read fresh so the memory figure is its own.
vips resize "$work/photo0.jpg" "$work/big.jpg[Q=90]" 3.3334
"$bench" --one "$work/big.jpg"
# The same in the conditions of the application's workers, which the launcher starts with glibc's
# huge-page malloc (HugePageMalloc): the network's 176 MB are copied three times into fresh memory.
GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$bench" --one "$work/big.jpg" \
    | sed -n 's/^| remove the background of a \([0-9]*\) MP photo | \([0-9]*\) ms |.*/\1 \2/p' | {
    read -r megapixels ms
    bound "remove the background of a $megapixels MP photo, the application's malloc" "$ms" 3000 " ms"
}
# The whole job from a shell, as the application runs it: the driver's start, its worker, the
# picture read, the mask, the PNG written and checked; median of 3.
mkdir -p "$work/job" "$work/config/quorvenda" "$work/cache"
cp "$work/big.jpg" "$work/job/big.jpg"
job=$(for _ in 1 2 3; do
    rm -f "$work/job/big (no background).png"
    XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=offscreen \
        GLIBC_TUNABLES=glibc.malloc.hugetlb=1 seconds "$root/build/quorvenda-dev" run tool.image.removeBackground "$work/job/big.jpg"
    [ -s "$work/job/big (no background).png" ] || { echo "the background removal wrote nothing" >&2; exit 1; }
done | median)
echo "| remove the background of a 12 MP photo through the driver, the application's malloc | $(printf '%.2f' "$job") s | - | - | - | - |"
