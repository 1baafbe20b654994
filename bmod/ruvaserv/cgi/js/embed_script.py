#!/usr/bin/env python3
"""Writes a text file as a C++ source: a byte array and a function that gives
it as a std::string_view, in namespace ruva (mangled names only; see
tests/common/check_no_c_symbols.sh).

usage: embed_script.py INPUT OUTPUT.cpp HEADER FUNCTION
"""

import os
import sys


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    source, output, header, function = sys.argv[1:]
    with open(source, "rb") as f:
        data = f.read()
    rows = []
    for at in range(0, len(data), 16):
        rows.append("    " + " ".join(f"0x{b:02x}," for b in data[at:at + 16]))
    lines = [
        f"// Generated from {os.path.basename(source)} by embed_script.py.",
        f'#include "{header}"',
        "",
        "namespace ruva {",
        "namespace {",
        "",
        "constexpr unsigned char kBytes[] = {",
        *rows,
        "};",
        "",
        "}  // namespace",
        "",
        f"std::string_view {function}() {{",
        "    return {reinterpret_cast<const char*>(kBytes), sizeof kBytes};",
        "}",
        "",
        "}  // namespace ruva",
        "",
    ]
    with open(output, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
