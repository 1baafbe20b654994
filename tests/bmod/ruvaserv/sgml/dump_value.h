// Value quoting shared by the test dump programs, so their goldens and the
// scripts that read them agree on one form.
#pragma once

#include <cstdio>

namespace ruva {

// A value in double quotes; '"' and '\\' escaped with a backslash, control
// bytes as \n, \r, \t or \xHH, bytes from 0x80 as they are.
inline void putDumpValue(const char* value) {
    std::fputc('"', stdout);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p) {
        switch (*p) {
        case '"': std::fputs("\\\"", stdout); break;
        case '\\': std::fputs("\\\\", stdout); break;
        case '\n': std::fputs("\\n", stdout); break;
        case '\r': std::fputs("\\r", stdout); break;
        case '\t': std::fputs("\\t", stdout); break;
        default:
            if (*p < 0x20) {
                std::fprintf(stdout, "\\x%02X", *p);
            } else {
                std::fputc(*p, stdout);
            }
        }
    }
    std::fputc('"', stdout);
}

}  // namespace ruva
