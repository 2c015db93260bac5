#!/usr/bin/env bash
# The layer check on a staged tree: two layers in a row, two peers beside each other, and a
# header of the upper folder placed in the lower layer by an earlier line of the table.
set -u
checker=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0

# check NAME RC EXPECTED [FILE[:INCLUDE]...]: stages src/ with each FILE, its third line the
# INCLUDE if given, runs the check and wants exit code RC and the line EXPECTED in its output.
check() {
    local name=$1 rc=$2 expected=$3 entry file got status
    shift 3
    rm -rf "${stage:?}"/*
    mkdir -p "$stage/scripts"
    cat >"$stage/scripts/layers.txt" <<'EOF'
low   |       | src/high/Unit.h   # out of its folder, so before the folder's line
high  | low   | src/high/*
left  | low   | src/left/*
right | low   | src/right/*
low   | -     | src/low/*
EOF
    for entry in "$@"; do
        file=$stage/${entry%%:*}
        mkdir -p "$(dirname "$file")"
        printf '// staged\n#include <string>\n%s\n' "${entry#*:}" >"$file"
    done
    got=$(bash "$checker" "$stage" 2>&1)
    status=$?
    if [ "$status" -ne "$rc" ] || ! grep -qxF -- "$expected" <<<"$got"; then
        printf 'FAIL: %s: exit %s, expected %s with "%s"; output:\n%s\n' \
            "$name" "$status" "$rc" "$expected" "$got"
        failures=$((failures + 1))
    else
        echo "PASS: $name"
    fi
}

ok="layers: 2 includes of 3 files keep to the layers (0 not in src/)"
check "down a layer" 0 "$ok" \
    'src/low/A.h:' 'src/high/B.cpp:#include "low/A.h"' 'src/high/B.h:#include "B.cpp"'
check "up a layer" 1 'src/low/A.cpp:3: includes high/B.h (layer low may not use layer high)' \
    'src/low/A.cpp:#include "high/B.h"' 'src/high/B.h:'
check "to a peer" 1 'src/left/L.h:3: includes right/R.h (layer left may not use layer right)' \
    'src/left/L.h:  #  include "right/R.h"' 'src/right/R.h:'
check "a file out of its folder's layer" 0 \
    "layers: 1 includes of 2 files keep to the layers (0 not in src/)" \
    'src/low/A.cpp:#include "high/Unit.h"' 'src/high/Unit.h:'
check "a file in no layer" 1 "src/stray/S.h: in no layer (add a pattern for it to $stage/scripts/layers.txt)" \
    'src/stray/S.h:' 'src/low/A.h:'
check "system and generated headers" 0 \
    "layers: 0 includes of 2 files keep to the layers (1 not in src/)" \
    'src/low/A.cpp:#include <high/B.h>' 'src/high/B.h:#include "ui_generated.h"'
exit $((failures > 0))
