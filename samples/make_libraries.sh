#!/bin/bash
# Builds the sample libraries of manifest.txt with Info-ZIP zip into the folder given (default: samples/libraries).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/libraries}
command -v zip >/dev/null || { echo "make_libraries.sh: zip is missing (scripts/setup installs it)" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

finish() {
    # The archive comment goes in last: zip -z reads it from standard input.
    [ -n "$lib" ] && printf '%s\n' "$libcomment" | zip -q -z "$out/$lib"
    return 0
}

lib=""
libcomment=""
cd "$here/docs"
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
        '#'* | '') continue ;;
        $'\t'*)
            rest=${line#$'\t'}
            doc=${rest%%$'\t'*}
            comment=${rest#*$'\t'}
            [ -n "$lib" ] || { echo "make_libraries.sh: member $doc before any library" >&2; exit 1; }
            # -c reads one comment line per file added.
            printf '%s\n' "$comment" | zip -q -X -c "$out/$lib" "$doc"
            ;;
        *)
            finish
            lib=${line%%$'\t'*}
            libcomment=${line#*$'\t'}
            rm -f "$out/$lib"
            ;;
    esac
done < "$here/manifest.txt"
finish
echo "$out"
