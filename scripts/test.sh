#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs every test.
# KT_COVERAGE=ON in the environment instruments the build for scripts/coverage.sh (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build ${KT_COVERAGE:+-DKT_COVERAGE=$KT_COVERAGE}
ctest --test-dir build --output-on-failure -j"$(nproc)"
