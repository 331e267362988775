#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Quorvenda.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
exec ./build/quorvenda "$@"
