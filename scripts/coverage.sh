#!/usr/bin/env bash
# coverage.sh [BUILD_DIR]: line coverage of src/ and tools/ per folder, from a build configured
# with -DKT_COVERAGE=ON whose tests have run (default "build").
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
json=$(mktemp)
trap 'rm -f "$json"' EXIT
gcovr --root . --object-directory "$build" --filter 'src/' --filter 'tools/' \
      --gcov-ignore-parse-errors --json-summary "$json" >/dev/null
python3 - "$json" <<'PY'
import collections, json, sys
summary = json.load(open(sys.argv[1]))
folders = collections.OrderedDict()
for f in sorted(summary["files"], key=lambda f: f["filename"]):
    parts = f["filename"].split("/")
    folder = "/".join(parts[:2]) if len(parts) > 2 else parts[0]
    covered, total = folders.get(folder, (0, 0))
    folders[folder] = (covered + f["line_covered"], total + f["line_total"])
print(f"{'folder':<24}{'lines':>8}{'covered':>9}{'share':>8}")
for folder, (covered, total) in folders.items():
    share = 100.0 * covered / total if total else 0.0
    print(f"{folder:<24}{total:>8}{covered:>9}{share:>7.1f}%")
covered = sum(c for c, _ in folders.values()); total = sum(t for _, t in folders.values())
print(f"{'all':<24}{total:>8}{covered:>9}{100.0 * covered / max(total, 1):>7.1f}%")
PY
