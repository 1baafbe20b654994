#!/bin/bash
# Every function a library defines must carry a C++ (mangled) name: an
# unmangled one such as strcasestr would replace libc's for the whole process.
# AddressSanitizer adds an "__odr_asan." marker for each global variable; the
# marker of a C++ (mangled) name is no such clash.
set -euo pipefail
status=0
for lib in "$@"; do
    bad=$(nm --defined-only "$lib" | awk '$2 ~ /^[TWDBR]$/ && $3 !~ /^_Z/ && $3 !~ /^__odr_asan\._Z/ {print $3}')
    if [ -n "$bad" ]; then
        echo "unmangled symbols defined in $lib:"
        echo "$bad"
        status=1
    else
        echo "no unmangled symbols in $lib"
    fi
done
exit $status
