#!/usr/bin/env bash
# lint.sh [BUILD_DIR]: the checks that keep the code as we write it.
#   - every quoted include of src/ keeps to the layers of scripts/layers.txt;
#   - every C++ file formatted by .clang-format;
#   - clang-tidy with .clang-tidy at zero findings on every source file of src/ and tools/
#     (BUILD_DIR, default "build", must hold a finished build: its compile_commands.json and
#     generated headers).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

# A broken layer fails the run at the end, after the other checks have had their say.
echo "--- layers: scripts/layers.txt"
layers=0
bash scripts/check-layers.sh || layers=$?

files=$(git ls-files '*.cpp' '*.h')
echo "--- clang-format: $(echo "$files" | wc -l) files"
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files

TIDY_DIRS="src tools"
sources=$(for dir in $TIDY_DIRS; do git ls-files "$dir/*.cpp"; done)
echo "--- clang-tidy: $(echo "$sources" | wc -l) files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# shellcheck disable=SC2086
echo "$sources" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$log" 2>/dev/null || true
findings=$(grep -cE '^[^ ].*: (warning|error): ' "$log" || true)
if [ "$findings" -ne 0 ]; then
    grep -E '^[^ ].*: (warning|error): ' "$log" | sort -u
    echo "clang-tidy: $findings findings"
    exit 1
fi
echo "clang-tidy: no findings"
exit "$layers"
