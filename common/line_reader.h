// Whole lines of a text file, with a bound on their length.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ruva {

// Calls onLine(char* text, int lineNo, bool tooLong) for each line of fp
// (numbered from 1), text NUL-ended in place of its LF, at most max
// characters. A longer line comes with tooLong and its first max
// characters; the rest up to its LF is skipped, never read as a new line.
// A last line without LF counts; an empty file gives no line. Stops early
// when onLine returns false.
template <size_t max, typename OnLine>
void forEachLine(FILE* fp, OnLine onLine) {
    char line[max + 1];
    size_t len = 0;
    bool tooLong = false;
    int lineNo = 1;
    for (;;) {
        int c = std::getc(fp);
        if (c != EOF && c != '\n') {
            if (len < max)
                line[len++] = static_cast<char>(c);
            else
                tooLong = true;
            continue;
        }
        if (c == EOF && len == 0 && !tooLong) return;
        line[len] = '\0';
        if (!onLine(line, lineNo, tooLong) || c == EOF) return;
        len = 0;
        tooLong = false;
        ++lineNo;
    }
}

}  // namespace ruva
