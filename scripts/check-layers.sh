#!/usr/bin/env bash
# Fails when an include in src/ points up a layer: model < platform < engines, graphics,
# jobs, catalogue, documents < wheel, app, editors, settings; the engines and documents include
# neither jobs nor the catalogue. A folder's ui/ part sits above
# its core, so core code never includes a ui/ header; widgets (small controls several windows
# share) sit low among the ui parts, so only ui code includes them and they include no ui/. A system library's headers are included
# only in the folders that own the library (the table below); the rest reach it through them.
# D-Bus is the platform layer's alone: the layers above reach the desktop's services through it.
# Each layer's folder is split into rooms (platform/x11, documents/readers...): a room keeps its
# layer's rules, the X11 and Wayland headers stay in their own rooms, and every room is named
# in the map of docs/DEVELOPING.md.
set -euo pipefail
cd "${1:-$(dirname "$0")/../src}"
bad=0

{ grep -rnE '^#include *"[a-z]+/' --include='*.h' --include='*.cpp' . || true; } | sed 's#^\./##' | awk '
BEGIN {
    split("model:0 platform:1 engines:2 graphics:2 jobs:2 catalogue:2 documents:2 widgets:2 wheel:3 app:3 editors:3 settings:3", pairs, " ")
    for (i in pairs) { split(pairs[i], kv, ":"); rank[kv[1]] = kv[2] }
}
{
    file = $0; sub(/:.*/, "", file)
    target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
    from = file; sub(/\/.*/, "", from)
    to = target; sub(/\/.*/, "", to)
    if (!(to in rank) || !(from in rank)) next
    if (rank[to] > rank[from]) { print $0 ": " from " may not include " to; bad = 1 }
    # The engines and documents sit beside jobs and the catalogue, which drive them: they reach
    # the work item through adapters the catalogue fills in.
    if ((from == "engines" || from == "documents") && (to == "jobs" || to == "catalogue")) {
        print $0 ": " from " may not include " to; bad = 1
    }
    ui = file ~ /(^|\/)ui\// || from == "app" || from == "editors" || from == "settings" || from == "widgets"
    if (!ui && (target ~ /(^|\/)ui\// || to == "widgets")) { print $0 ": core code may not include a ui/ header or a widget"; bad = 1 }
    if (from == "widgets" && target ~ /(^|\/)ui\//) { print $0 ": widgets may not include a ui/ header"; bad = 1 }
}
END { exit bad }' || bad=1

# Header prefix, then the folders (below src/) whose code may include it. The longest prefix
# that matches decides.
owners='
X11/                 platform/x11
X11/Xlib.h           platform/x11 platform/wayland
X11/keysym.h         platform/x11 model
xcb/                 platform/x11
wayland-             platform/wayland
qpa/                 platform/wayland platform/x11
canberra.h           platform/feedback
gio/                 platform/desktop
QDBus                platform
QtDBus               platform
glib                 platform/desktop
seccomp.h            platform/sandbox platform/processes worker
linux/seccomp.h      platform/sandbox platform/processes worker
linux/landlock.h     platform/sandbox worker
linux/filter.h       platform/sandbox platform/processes worker
vips/                engines/image
exiv2/               engines/image
webp/                engines/image
libheif/             engines/image
mupdf/               engines/pdf
qpdf/                engines/pdf
libav                engines/media
tesseract/           engines/vision
leptonica/           engines/vision
allheaders.h         engines/vision
opencv2/             engines/vision
ZXing/               engines/vision
ReadBarcode.h        engines/vision
BarcodeFormat.h      engines/vision
DecodeHints.h        engines/vision
ReaderOptions.h      engines/vision
MultiFormatWriter.h  engines/vision
omp.h                engines/vision
archive.h            catalogue documents
archive_entry.h      catalogue documents
zlib.h               catalogue documents
libxml/              documents
cmark                documents
cld2/                documents
plist/               documents
'

{ grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<[^>]+>' --include='*.h' --include='*.cpp' \
      --include='*.hpp' --include='*.c' . || true; } | sed 's#^\./##' | awk -v owners="$owners" '
BEGIN {
    n = split(owners, lines, "\n")
    for (i = 1; i <= n; i++) {
        if (split(lines[i], f, " ") < 2) continue
        allowed[f[1]] = ""
        for (j = 2; j in f; j++) allowed[f[1]] = allowed[f[1]] " " f[j]
    }
}
{
    file = $0; sub(/:.*/, "", file)
    header = $0; sub(/^[^<]*</, "", header); sub(/>.*/, "", header)
    best = ""
    for (prefix in allowed)
        if (index(header, prefix) == 1 && length(prefix) > length(best)) best = prefix
    if (best == "") next
    split(allowed[best], folders, " ")
    ok = 0
    for (k in folders)
        if (index(file, folders[k] "/") == 1) ok = 1
    if (!ok) { print $0 ": <" header "> belongs to" allowed[best] " only"; bad = 1 }
}
END { exit bad }' || bad=1

# The glue wayland-scanner makes for a protocol is the Wayland room's alone.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    case "${line#./}" in
    platform/wayland/*) ;;
    *) echo "${line#./}: a Wayland protocol's header belongs to platform/wayland only"; bad=1 ;;
    esac
done < <(grep -rnE '^#include *"[^"]*-client-protocol\.h"' --include='*.h' --include='*.cpp' . || true)

# The developers' map names every room: a folder added or moved without a line there fails.
map=../docs/DEVELOPING.md
if [ -f "$map" ]; then
    while IFS= read -r folder; do
        folder=${folder#./}
        if ! grep -qF "\`src/$folder/\`" "$map"; then
            echo "src/$folder: not in the map of rooms in docs/DEVELOPING.md"
            bad=1
        fi
    done < <(find . -mindepth 1 -type d ! -path '*/protocols' ! -path '*/module' | sort)
fi

exit "$bad"
