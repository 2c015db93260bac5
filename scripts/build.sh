#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds into DIR, warnings as errors.
# KT_TARGETS (space-separated) builds only those targets and what they need; unset, everything.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"; shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKT_WERROR=ON "$@" >/dev/null
targets=()
for t in ${KT_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
