#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds into DIR, warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"; shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKT_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
