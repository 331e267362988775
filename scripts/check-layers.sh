#!/usr/bin/env bash
# Fails when an include in src/ points up a layer: model < platform < engines, graphics,
# jobs, catalogue, documents < wheel, app, editors, settings. A folder's ui/ part sits above
# its core, so core code never includes a ui/ header.
set -euo pipefail
cd "${1:-$(dirname "$0")/../src}"
grep -rnE '^#include *"[a-z]+/' --include='*.h' --include='*.cpp' . | sed 's#^\./##' | awk '
BEGIN {
    split("model:0 platform:1 engines:2 graphics:2 jobs:2 catalogue:2 documents:2 wheel:3 app:3 editors:3 settings:3", pairs, " ")
    for (i in pairs) { split(pairs[i], kv, ":"); rank[kv[1]] = kv[2] }
}
{
    file = $0; sub(/:.*/, "", file)
    target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
    from = file; sub(/\/.*/, "", from)
    to = target; sub(/\/.*/, "", to)
    if (!(to in rank) || !(from in rank)) next
    if (rank[to] > rank[from]) { print $0 ": " from " may not include " to; bad = 1 }
    ui = file ~ /(^|\/)ui\// || from == "app" || from == "editors" || from == "settings"
    if (!ui && target ~ /(^|\/)ui\//) { print $0 ": core code may not include a ui/ header"; bad = 1 }
}
END { exit bad }'
