#!/usr/bin/env bash
# check-layers.sh [ROOT [TABLE]]: every quoted include of ROOT/src (default: this repository)
# against the layer table (default: ROOT/scripts/layers.txt). A file may include headers of its
# own layer and of the layers its line names under "may use"; anything else is printed as
#   FILE:LINE: includes HEADER (layer A may not use layer B)
# and so is a source file of src/ that no pattern of the table places. Exit 1 on any of these,
# 2 on a table that cannot be read; otherwise a one-line summary and exit 0.
# A quoted include is looked up beside the including file first, then in src/, as the compiler
# does; one found in neither (a generated header) is no project header and is skipped.
# Includes in angle brackets are never project headers here.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
table=${2:-$root/scripts/layers.txt}
[[ $table == /* ]] || table=$PWD/$table
cd "$root" || exit 2
[ -r "$table" ] || {
    echo "check-layers: no layer table at $table" >&2
    exit 2
}
[ -d src ] || {
    echo "check-layers: no src/ in $root" >&2
    exit 2
}

# The table: NAME | MAY USE... | PATTERN...   ("#" starts a comment; either list may be empty). A
# layer may take several lines; the patterns are tried in the order of the lines, and the first
# match places a file.
declare -A uses=() known=()
patterns=() owners=()
lineno=0
set -f # the patterns are matched against the file list below, never expanded on the disk
while IFS= read -r row || [ -n "$row" ]; do
    lineno=$((lineno + 1))
    row=${row%%#*}
    [[ $row =~ ^[[:space:]]*$ ]] && continue
    IFS='|' read -r name used globs <<<"$row"
    read -ra words <<<"$name"
    name=${words[0]:-}
    read -ra used <<<"${used:-}"
    read -ra globs <<<"${globs:-}"
    pipes=${row//[^|]/}
    if [ ${#words[@]} -ne 1 ] || [ ${#pipes} -ne 2 ]; then
        echo "check-layers: $table:$lineno: expected NAME | MAY USE... | PATTERN..." >&2
        exit 2
    fi
    known[$name]=1
    for other in "${used[@]}"; do
        [ "$other" = "-" ] || uses["$name $other"]=1
    done
    for glob in "${globs[@]}"; do
        patterns+=("$glob")
        owners+=("$name")
    done
done <"$table"
set +f
for pair in "${!uses[@]}"; do
    if [ -z "${known[${pair#* }]:-}" ]; then
        echo "check-layers: $table: layer ${pair% *} may use ${pair#* }, which no line defines" >&2
        exit 2
    fi
done

# place FILE: the layer of the first pattern that matches FILE, into layer[FILE] ("" for none).
declare -A layer=()
place() {
    local i
    layer[$1]=
    for i in "${!patterns[@]}"; do
        # shellcheck disable=SC2053 # the right side is a glob on purpose
        if [[ $1 == ${patterns[i]} ]]; then
            layer[$1]=${owners[i]}
            return
        fi
    done
}

failures=0
mapfile -t files < <(find src -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' \
    -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.inl' \) | LC_ALL=C sort)
for file in "${files[@]}"; do
    place "$file"
    if [ -z "${layer[$file]}" ]; then
        echo "$file: in no layer (add a pattern for it to $table)"
        failures=$((failures + 1))
    fi
done

# A path with "." and ".." steps taken out, so "../link/X.h" from src/trend is src/link/X.h.
normalise() {
    local part out=()
    local IFS=/
    for part in $1; do
        case $part in
        . | '') ;;
        ..) [ ${#out[@]} -gt 0 ] && unset 'out[${#out[@]}-1]' ;;
        *) out+=("$part") ;;
        esac
    done
    normalised="${out[*]}"
}

checked=0
skipped=0
while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    header=${rest#*:}
    header=${header#*\"}
    header=${header%%\"*}
    normalise "${file%/*}/$header"
    target=$normalised
    if [ ! -f "$target" ]; then
        normalise "src/$header"
        target=$normalised
    fi
    if [ ! -f "$target" ] || [[ $target != src/* ]]; then
        skipped=$((skipped + 1))
        continue
    fi
    checked=$((checked + 1))
    [ -n "${layer[$target]+placed}" ] || place "$target"
    from=${layer[$file]}
    to=${layer[$target]}
    # A source file in no layer was reported above, once.
    [ -z "$from" ] || [ -z "$to" ] || [ "$from" = "$to" ] && continue
    [ -n "${uses["$from $to"]:-}" ] && continue
    echo "$file:$line: includes $header (layer $from may not use layer $to)"
    failures=$((failures + 1))
done < <([ ${#files[@]} -eq 0 ] ||
    grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "${files[@]}")

if [ "$failures" -ne 0 ]; then
    echo "layers: $failures violations in $checked includes of ${#files[@]} files"
    exit 1
fi
echo "layers: $checked includes of ${#files[@]} files keep to the layers ($skipped not in src/)"
