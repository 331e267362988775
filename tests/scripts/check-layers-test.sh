#!/usr/bin/env bash
# The layer check fails on each kind of include it exists to catch and passes what is allowed:
# a tree of its own for each case, so the real source never has to be wrong.
set -uo pipefail
script="$(cd "$(dirname "$0")/../../scripts" && pwd)/check-layers.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# check EXPECTED FILE LINE: a tree holding only FILE with LINE; EXPECTED is pass or fail.
check() {
    local expected="$1" file="$2" line="$3" tree output status
    tree="$(mktemp -d "$work/tree.XXXXXX")"
    mkdir -p "$tree/$(dirname "$file")"
    printf '%s\n' "$line" > "$tree/$file"
    output="$(bash "$script" "$tree" 2>&1)"
    status=$?
    if [[ "$expected" == pass && $status -ne 0 ]] || [[ "$expected" == fail && $status -eq 0 ]]; then
        echo "expected $expected: $file: $line (exit $status) $output"
        failures=$((failures + 1))
    elif [[ "$expected" == fail && "$output" != *"$file"* ]]; then
        echo "the failure does not name $file: $output"
        failures=$((failures + 1))
    fi
}

# System libraries outside the folders that own them.
check fail settings/WindowTitle.cpp '#include <xcb/xcb.h>'
check fail app/Panel.cpp '#include <X11/Xlib.h>'
check fail model/Keys.cpp '#include <X11/Xlib.h>'
check fail jobs/Thumbs.cpp '#include <vips/vips.h>'
check fail catalogue/Pdf.cpp '#include <mupdf/fitz.h>'
check fail catalogue/Pages.cpp '#include <qpdf/QPDF.hh>'
check fail editors/Ocr.h '#include <tesseract/baseapi.h>'
check fail wheel/Codes.cpp '#include <ReadBarcode.h>'
check fail engines/image/Mask.cpp '#include <opencv2/core.hpp>'
check fail jobs/Unpack.cpp '#  include <archive.h>'
check fail engines/pdf/Xml.cpp '#include <libxml/tree.h>'
check fail catalogue/Markdown.cpp '#include <cmark-gfm.h>'
check fail documents/Tags.cpp '#include <exiv2/exiv2.hpp>'
check fail app/Sandbox.cpp '#include <seccomp.h>'
check fail platform/ui/Sounds.cpp '#include <vips/vips.h>'
# The X11 and Wayland headers stay in their own rooms.
check fail platform/ui/Thing.cpp '#include <X11/Xlib.h>'
check fail platform/desktop/Screens.cpp '#include <xcb/xcb.h>'
check fail platform/x11/Strip.cpp '#include <wayland-client.h>'
check fail platform/Strip.cpp '#include <wayland-client.h>'
check fail platform/x11/Strip.cpp '#include "wlr-layer-shell-unstable-v1-client-protocol.h"'
check fail platform/files/Walls.cpp '#include <linux/landlock.h>'

# Where they belong, and what is no system library.
check pass platform/x11/X11WindowHints.cpp '#include <xcb/xcb.h>'
check pass platform/x11/Thing.cpp '#include <X11/Xlib.h>'
check pass platform/wayland/LayerShell.cpp '#include <wayland-client.h>'
check pass platform/wayland/LayerShell.cpp '#include "wlr-layer-shell-unstable-v1-client-protocol.h"'
check pass platform/sandbox/WorkerSandbox.cpp '#include <linux/landlock.h>'
check pass model/settings/KeyTable.cpp '#include <X11/keysym.h>'
check pass engines/image/Decode.cpp '#include <vips/vips.h>'
check pass engines/vision/Ocr.cpp '#include <tesseract/baseapi.h>'
check pass catalogue/archives/ArchiveReader.cpp '#include <archive_entry.h>'
check pass documents/Markdown.cpp '#include <cmark-gfm-core-extensions.h>'
check pass settings/Window.cpp '#include <QWidget>'
check pass jobs/Files.cpp '#include <sys/stat.h>'

# Project includes still point down only.
check fail model/Thing.cpp '#include "platform/Files.h"'
check fail jobs/Thing.cpp '#include "jobs/ui/Pill.h"'
check pass settings/Thing.cpp '#include "platform/Files.h"'
# A room keeps its layer's rules.
check fail model/files/Thing.cpp '#include "platform/files/Items.h"'
check fail engines/image/foreign/Thing.cpp '#include "jobs/OutputPlanner.h"'
check pass settings/Thing.cpp '#include "platform/files/Items.h"'
check pass documents/readers/Thing.cpp '#include "documents/model/DocBlock.h"'
# The engines and documents reach jobs only through the catalogue's adapters.
check fail documents/Thing.cpp '#include "jobs/OutputPlanner.h"'
check fail engines/media/Thing.cpp '#include "catalogue/Adapter.h"'
check pass catalogue/Thing.cpp '#include "documents/DocumentPlanner.h"'
# Widgets are ui code, low among it.
check fail jobs/Thing.cpp '#include "widgets/ColorWell.h"'
check fail widgets/Thing.cpp '#include "jobs/ui/Pill.h"'
check pass jobs/ui/Thing.cpp '#include "widgets/ColorWell.h"'
check pass settings/Thing.cpp '#include "widgets/SegmentedPicker.h"'

exit $((failures > 0))
