#!/usr/bin/env bash
# Fails when an include in src/ points up a layer: model < platform < engines, graphics,
# jobs, catalogue, documents < wheel, app, editors, settings. A folder's ui/ part sits above
# its core, so core code never includes a ui/ header.
set -euo pipefail
src=${1:-$(dirname "$0")/../src}
cd "$src"

rank() {
  case "$1" in
    model) echo 0 ;;
    platform) echo 1 ;;
    engines|graphics|jobs|catalogue|documents) echo 2 ;;
    wheel|app|editors|settings) echo 3 ;;
    *) echo 9 ;;
  esac
}

status=0
while IFS= read -r line; do
  file=${line%%:*}
  target=$(sed -E 's/.*#include *"([^"]+)".*/\1/' <<<"${line#*:}")
  from=${file%%/*}
  to=${target%%/*}
  [ -d "$to" ] || continue
  if [ "$(rank "$to")" -gt "$(rank "$from")" ]; then
    echo "$line: $from may not include $to"
    status=1
  fi
  case "$file" in
    */ui/*|app/*|editors/*|settings/*) ;;
    *) if [[ $target == */ui/* ]]; then echo "$line: core code may not include a ui/ header"; status=1; fi ;;
  esac
done < <(grep -rnE '^#include *"' --include='*.h' --include='*.cpp' . | sed 's#^\./##')
exit $status
