#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs every test.
# In the environment (CI sets both): KT_COVERAGE=ON instruments the build for
# scripts/coverage.sh, KT_SANITIZE=address,undefined builds it with those sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build ${KT_COVERAGE:+-DKT_COVERAGE=$KT_COVERAGE} \
    ${KT_SANITIZE:+-DKT_SANITIZE=$KT_SANITIZE}
ctest --test-dir build --output-on-failure -j"$(nproc)"
