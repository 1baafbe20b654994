#include "common/docmodel/revision.h"

#include <strings.h>

#include <string>
#include <utility>

#include "common/text.h"

namespace ruva {

namespace {

// Reads the digits at *p and advances past them; the value stops growing
// at nine digits, so any length gives a defined int.
int readNumber(const char*& p) {
    int n = 0;
    int digits = 0;
    for (; isAsciiDigit(*p); ++p) {
        if (digits++ < 9) n = n * 10 + (*p - '0');
    }
    return n;
}

bool isEmpty(const char* text) {
    return !text || !*text;
}

bool startsPreliminary(const char* rev) {
    return (rev[0] == 'P' || rev[0] == 'p') && isAsciiAlpha(rev[1]);
}

}  // namespace

int swVersionToParts(const char* ver, char* rp, int* maj, char* min, int* build) {
    if (!ver || !rp || !maj || !min || !build) return 0;
    const char kind = static_cast<char>(asciiUpper(ver[0]));
    if ((kind != 'R' && kind != 'P') || !isAsciiDigit(ver[1])) return 0;
    int major = 0;
    const char* p = ver + 1;
    for (int i = 0; i < 3 && isAsciiDigit(*p); ++i, ++p) major = major * 10 + (*p - '0');
    const char letter = static_cast<char>(asciiUpper(*p));
    if (letter < 'A' || letter > 'Z') return 0;
    ++p;
    *rp = kind;
    *maj = major;
    *min = letter;
    *build = kind == 'P' ? readNumber(p) : 0;
    return 1;
}

int isPrelDocrev(const char* rev) {
    if (isEmpty(rev)) return 0;
    return rev[0] == '-' || startsPreliminary(rev) ? 1 : 0;
}

int computedocRevSizeValue(const char* rev) {
    if (isEmpty(rev)) return 0;
    if (rev[0] == '-') return 1;
    int value = 0;
    if (startsPreliminary(rev)) {
        value = -99;
        ++rev;
    }
    if (isAsciiAlpha(rev[0]) && isAsciiAlpha(rev[1])) {
        value += (asciiUpper(rev[0]) - 'A') * 5200 + (asciiUpper(rev[1]) - 'A') * 200 + 5400;
        rev += 2;
    } else if (isAsciiAlpha(rev[0])) {
        value += (asciiUpper(rev[0]) - 'A' + 1) * 200;
        ++rev;
    }
    return value + readNumber(rev);
}

int compareDocRev(const char* rev, const char* crev) {
    if (isEmpty(rev)) return 1;
    if (isEmpty(crev)) return -1;
    if (strcasecmp(rev, crev) == 0) return 0;
    const int a = computedocRevSizeValue(rev);
    const int b = computedocRevSizeValue(crev);
    return a < b ? 1 : a == b ? 0 : -1;
}

int isSameDocRevRange(const char* rev, const char* crev) {
    if (isEmpty(rev) || isEmpty(crev)) return 0;
    int low = computedocRevSizeValue(rev);
    int high = computedocRevSizeValue(crev);
    if (low > high) std::swap(low, high);
    if (low < 100 || high < 100) return rev[0] == '*' || crev[0] == '*' ? 1 : 0;
    const int lowRange = (low - 100) / 100;
    const int highRange = (high - 100) / 100;
    return lowRange == highRange || (highRange == lowRange + 1 && lowRange % 2 == 0) ? 1 : 0;
}

int productRevToDocRev(const char* prev, std::string& drev) {
    drev.clear();
    if (!prev) return 0;
    const char kind = static_cast<char>(asciiUpper(prev[0]));
    if (kind != 'R' && kind != 'P') return 0;
    const char* p = prev + 1;
    const int n = readNumber(p);
    // Past 702 (ZZ) the first letter would leave the alphabet.
    if (n < 1 || n > 702) return 0;
    if (*p == '/') ++p;
    if (kind == 'P') drev += 'P';
    if (n > 26) drev += static_cast<char>('A' + (n - 1) / 26 - 1);
    drev += static_cast<char>('A' + (n - 1) % 26);
    if (isAsciiDigit(*p)) {
        drev += p;
    } else if (isAsciiAlpha(*p)) {
        drev += std::to_string(asciiUpper(*p) - 'A' + 1);
    }
    return 1;
}

}  // namespace ruva
