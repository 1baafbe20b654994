#!/bin/bash
# Runs every fuzz target of a RUVA_FUZZ build for FUZZ_SECONDS each (make
# fuzz). libFuzzer writes the inputs it finds into its first corpus dir, so
# that is a fresh one in the build tree; the committed seeds, the failing
# inputs kept in fuzz/regressions/ and the old-method archives beside the
# project follow, read only. Fails on the first crash, leak, timeout or
# out-of-memory, leaving the input in the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
rss_mb=${FUZZ_RSS_MB:-2048}
oldzip=${RUVA_TESTDATA:-../shared/testdata}/oldzip
if [ ! -d "$oldzip" ]; then
    echo "fuzz: missing $oldzip (the old-method archives)" >&2
    exit 1
fi

work=$build/fuzz/run
rm -rf "$work"
mkdir -p "$work"
# The decoder targets take the members of those archives in their own
# input format, made here and never kept in the repository.
python3 fuzz/make_corpus.py from-zips "$oldzip" "$work/oldzip"

for t in reader inflate explode unreduce unshrink ruvx sgml print_filter; do
    mkdir -p "$work/new/$t" "$work/artifacts/$t"
    dirs=("$work/new/$t" "fuzz/corpus/$t")
    [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
    if [ "$t" = reader ]; then
        dirs+=("$oldzip")
    elif [ "$t" != ruvx ] && [ "$t" != sgml ] && [ "$t" != print_filter ]; then
        dirs+=("$work/oldzip/$t")
    fi
    echo "== fuzz_$t: ${seconds}s"
    if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb="$rss_mb" \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$t/" "${dirs[@]}" >"$work/$t.log" 2>&1; then
        tail -n 60 "$work/$t.log"
        echo "fuzz_$t failed; log $work/$t.log, input in $work/artifacts/$t/" >&2
        echo "minimise: $build/fuzz/fuzz_$t -minimize_crash=1 -max_total_time=60 <input>;" \
            "keep the result in fuzz/regressions/$t/" >&2
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$work/$t.log" | tr '\n' ' '
    echo
done
echo "fuzz: no failure"
