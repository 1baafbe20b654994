#!/bin/bash
# Every function the library defines must carry a C++ (mangled) name: an
# unmangled one such as strcasestr would replace libc's for the whole process.
set -euo pipefail
lib=$1
bad=$(nm --defined-only "$lib" | awk '$2 ~ /^[TWDBR]$/ && $3 !~ /^_Z/ {print $3}')
if [ -n "$bad" ]; then
    echo "unmangled symbols defined in $lib:"
    echo "$bad"
    exit 1
fi
echo "no unmangled symbols in $lib"
