#include "common/eucjp.h"

#include <cstring>

#include "common/text.h"

namespace ruva {

namespace {

constexpr size_t kPatternLimit = 1023;

inline bool in(unsigned c, unsigned lo, unsigned hi) {
    return c >= lo && c <= hi;
}

inline const unsigned char* bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

inline bool isEucLead(unsigned c) {
    return c == 0x8E || in(c, 0xA1, 0xFE);
}

inline bool isEucTrail(unsigned c) {
    return in(c, 0xA1, 0xFE);
}

// Shift_JIS lead bytes that can only be Shift_JIS.
inline bool isSjisOnly(unsigned c) {
    return in(c, 0x81, 0x8D) || in(c, 0x8F, 0x9F);
}

// The usual inverse of jis2sjis, to JIS row/cell bytes. Arithmetic modulo
// 256 keeps bytes outside Shift_JIS defined.
BytePair sjis2jis(unsigned s1, unsigned s2) {
    const bool oddRow = s2 < 0x9F;
    const unsigned rowOffset = s1 < 0xA0 ? 0x70 : 0xB0;
    const unsigned cellOffset = oddRow ? (s2 > 0x7F ? 0x20 : 0x1F) : 0x7E;
    return {static_cast<unsigned char>(((s1 - rowOffset) << 1) - (oddRow ? 1 : 0)),
            static_cast<unsigned char>(s2 - cellOffset)};
}

std::string eucToSjis(const unsigned char* p, size_t n, size_t outlen) {
    std::string out;
    const size_t room = outlen == 0 ? 0 : outlen - 1;
    size_t i = 0;
    while (i < n) {
        const unsigned c = p[i];
        const bool hasNext = i + 1 < n;
        const unsigned next = hasNext ? p[i + 1] : 0;
        char piece[2];
        size_t pieceLength = 1;
        size_t consumed = 1;
        piece[0] = static_cast<char>(c);
        if (c == 0x8E && hasNext) {
            consumed = 2;
            if (in(next, 0xA1, 0xDF)) {
                piece[0] = static_cast<char>(next);
            } else {
                piece[1] = static_cast<char>(next);
                pieceLength = 2;
            }
        } else if (in(c, 0xA1, 0xFE) && hasNext) {
            consumed = 2;
            pieceLength = 2;
            if (isEucTrail(next)) {
                const BytePair sj = jis2sjis(c - 0x80, next - 0x80);
                piece[0] = static_cast<char>(sj.first);
                piece[1] = static_cast<char>(sj.second);
            } else {
                piece[1] = static_cast<char>(next);
            }
        }
        if (out.size() + pieceLength > room) break;
        out.append(piece, pieceLength);
        i += consumed;
    }
    return out;
}

std::string sjisToEuc(const unsigned char* p, size_t n) {
    std::string out;
    out.reserve(n + n / 2);
    size_t i = 0;
    while (i < n) {
        const unsigned c = p[i];
        if (in(c, 0xA0, 0xDF)) {
            out += static_cast<char>(0x8E);
            out += static_cast<char>(c);
            ++i;
        } else if (c > 0x80 && i + 1 < n) {
            // 0x81-0x9F and 0xE0-0xFF: the only bytes left above 0x80.
            const BytePair jis = sjis2jis(c, p[i + 1]);
            out += static_cast<char>(jis.first | 0x80);
            out += static_cast<char>(jis.second | 0x80);
            i += 2;
        } else {
            out += static_cast<char>(c);
            ++i;
        }
    }
    return out;
}

}  // namespace

TextEncoding detectJpEncoding(const char* text) {
    if (!text) return TXTENC_UNKNOWN;
    const unsigned char* p = bytes(text);
    bool sawHigh = false;
    while (*p) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        sawHigh = true;
        const unsigned next = p[1];
        size_t step = 1;
        if (isSjisOnly(c)) return TXTENC_SJIS;
        if (c == 0x8E) {
            if (in(next, 0x40, 0x7E) || in(next, 0x80, 0xA0) || in(next, 0xE0, 0xFC)) return TXTENC_SJIS;
            if (in(next, 0xA1, 0xDF)) step = 2;
        } else if (in(c, 0xF0, 0xFE)) {
            return TXTENC_EUCJP;
        } else if (in(c, 0xE0, 0xEF)) {
            if (in(next, 0x40, 0x7E) || in(next, 0x80, 0xA0)) return TXTENC_SJIS;
            if (in(next, 0xFD, 0xFE)) return TXTENC_EUCJP;
            if (next) step = 2;
        } else if (in(c, 0xA1, 0xDF)) {
            if (in(next, 0xF0, 0xFE)) return TXTENC_EUCJP;
            // A Shift_JIS half-width katakana followed by ASCII (or the end).
            if (next < 0xA0) return TXTENC_SJIS;
            if (in(next, 0xA1, 0xDF)) {
                step = 2;
            } else if (in(next, 0xE0, 0xEF)) {
                const unsigned char* q = p + 2;
                while (*q >= 0x40) {
                    if (isSjisOnly(*q)) return TXTENC_SJIS;
                    if (in(*q, 0xFD, 0xFE)) return TXTENC_EUCJP;
                    ++q;
                }
                p = q;
                continue;
            }
        }
        p += step;
    }
    return sawHigh ? TXTENC_UNKNOWN : TXTENC_ASCII;
}

const char* textEncodingName(int encoding) {
    switch (encoding) {
        case TXTENC_EUCJP:
            return "euc-jp";
        case TXTENC_SJIS:
            return "x-sjis";
        default:
            return "";
    }
}

int isEUCenc(const char* text) {
    if (!text) return 0;
    int pairs = 0;
    for (const unsigned char* p = bytes(text); *p;) {
        if (!isEucLead(*p)) {
            ++p;
            continue;
        }
        if (!isEucTrail(p[1])) return 0;
        ++pairs;
        p += 2;
    }
    return pairs > 0 ? 1 : 0;
}

int isSJISenc(const char* text) {
    if (!text) return 0;
    for (const unsigned char* p = bytes(text); *p;) {
        const unsigned c = *p;
        if (c < 0x80 || in(c, 0xA1, 0xDF)) {
            ++p;
            continue;
        }
        const bool lead = in(c, 0x81, 0x84) || in(c, 0x87, 0x9F) || in(c, 0xE0, 0xEA) || in(c, 0xED, 0xEE) ||
                          in(c, 0xFA, 0xFC);
        if (!lead || !in(p[1], 0x40, 0xFE)) return 0;
        p += 2;
    }
    return 1;
}

BytePair jis2sjis(unsigned char c1, unsigned char c2) {
    const unsigned first = ((c1 + 1u) >> 1) + (c1 > 0x5E ? 0xB0u : 0x70u);
    unsigned second;
    if (c1 % 2 == 0) {
        second = c2 + 0x7Eu;
    } else {
        second = c2 < 0x60 ? c2 + 0x1Fu : c2 + 0x20u;
    }
    return {static_cast<unsigned char>(first), static_cast<unsigned char>(second)};
}

std::string euc2sjbuf(std::string_view in, size_t outlen) {
    return eucToSjis(reinterpret_cast<const unsigned char*>(in.data()), in.size(), outlen);
}

std::string euc2sj(const char* in, size_t outlen) {
    if (!in) return {};
    return eucToSjis(bytes(in), std::strlen(in), outlen);
}

std::string sj2eucbuf(std::string_view in) {
    return sjisToEuc(reinterpret_cast<const unsigned char*>(in.data()), in.size());
}

std::string sj2euc(const char* in) {
    if (!in) return {};
    return sjisToEuc(bytes(in), std::strlen(in));
}

std::string ucsToUTF8(uint32_t code) {
    if (code < 0x80) return std::string(1, static_cast<char>(code));
    if (code > 0x7FFFFFFF) return {};
    // Lead byte marks and the payload bits that fit in the lead, by length.
    static constexpr unsigned char kLeadMark[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    int length = 2;
    while (length < 6 && code >= (1u << (5 * length + 1))) ++length;
    std::string out(length, '\0');
    for (int i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (code & 0x3F));
        code >>= 6;
    }
    out[0] = static_cast<char>(kLeadMark[length] | code);
    return out;
}

uint32_t utf8ToUCS(const char* text) {
    if (!text) return 0;
    const unsigned char* p = bytes(text);
    const unsigned lead = p[0];
    if (lead < 0x80) return lead;
    int continuation;
    uint32_t code;
    if (lead < 0xE0) {
        continuation = 1;
        code = lead & 0x1F;
    } else if (lead < 0xF0) {
        continuation = 2;
        code = lead & 0x0F;
    } else if (lead < 0xF8) {
        continuation = 3;
        code = lead & 0x07;
    } else if (lead < 0xFC) {
        continuation = 4;
        code = lead & 0x03;
    } else {
        continuation = 5;
        code = lead & 0x01;
    }
    for (int i = 1; i <= continuation && p[i]; ++i) code = (code << 6) | (p[i] & 0x3F);
    return code;
}

const char* eucsinc(const char* p) {
    const unsigned char* b = bytes(p);
    return p + (isEucLead(b[0]) && isEucTrail(b[1]) ? 2 : 1);
}

char* eucsinc(char* p) {
    return p + (eucsinc(static_cast<const char*>(p)) - p);
}

EucJpAlphabet getEucJpAlphabet(unsigned char c1, unsigned char c2) {
    if (isAsciiAlnum(c1) || c1 == '#' || c1 == '&' || c1 == '-' || c1 == '_') return EUCJPALPHA_ASCII;
    if (c1 == 0xA1 && c2 == 0xBC) return EUCJPALPHA_KATAKANA;
    switch (c1) {
        case 0xA3:
            if (in(c2, 0xB0, 0xB9) || in(c2, 0xC1, 0xDA) || in(c2, 0xE1, 0xFA)) return EUCJPALPHA_LATIN;
            break;
        case 0xA4:
            if (in(c2, 0xA1, 0xF3)) return EUCJPALPHA_HIRAGANA;
            break;
        case 0xA5:
            if (in(c2, 0xA1, 0xF6)) return EUCJPALPHA_KATAKANA;
            break;
        case 0xA6:
            if (in(c2, 0xA1, 0xB8) || in(c2, 0xC1, 0xD8)) return EUCJPALPHA_GREEK;
            break;
        case 0xA7:
            if (in(c2, 0xA1, 0xC1) || in(c2, 0xD1, 0xF1)) return EUCJPALPHA_CYRILLIC;
            break;
        case 0xF4:
            if (in(c2, 0xA1, 0xF4)) return EUCJPALPHA_KANJI;
            break;
        default:
            if (in(c1, 0xB0, 0xF3) && in(c2, 0xA1, 0xFE)) return EUCJPALPHA_KANJI;
            break;
    }
    if ((c1 <= 0xA0 && c1 != 0x8E) || (c2 <= 0xA0 && c2 != 0x8E)) return EUCJPALPHA_NONE;
    return EUCJPALPHA_OTHER;
}

int iseucalnum(const char* p) {
    if (!p) return 0;
    const unsigned c1 = bytes(p)[0];
    if (c1 < 0x80) return isAsciiAlnum(c1) ? 1 : 0;
    const unsigned c2 = bytes(p)[1];  // at worst the terminator
    bool alnum;
    switch (c1) {
        case 0x8E:  // half-width katakana and its sound marks, not its punctuation
            alnum = in(c2, 0xA6, 0xDF);
            break;
        case 0xA1:  // iteration marks, 仝, 々, 〆, 〇, ー (not the ditto mark 0xB7)
            alnum = in(c2, 0xB3, 0xB6) || in(c2, 0xB8, 0xBC);
            break;
        default:
            switch (getEucJpAlphabet(c1, c2)) {
                case EUCJPALPHA_LATIN:
                case EUCJPALPHA_HIRAGANA:
                case EUCJPALPHA_KATAKANA:
                case EUCJPALPHA_GREEK:
                case EUCJPALPHA_CYRILLIC:
                case EUCJPALPHA_KANJI:
                    alnum = true;
                    break;
                default:
                    alnum = false;
                    break;
            }
            break;
    }
    return alnum ? 1 : 0;
}

const char* strEUCHiragana(const char* text) {
    if (!text) return nullptr;
    for (const char* p = text; *p; p = eucsinc(p)) {
        if (getEucJpAlphabet(p[0], p[1]) == EUCJPALPHA_HIRAGANA) return p;
    }
    return nullptr;
}

const char* strEUCKanji(const char* text) {
    if (!text) return nullptr;
    for (const char* p = text; *p; p = eucsinc(p)) {
        if (getEucJpAlphabet(p[0], p[1]) == EUCJPALPHA_KANJI) return p;
    }
    return nullptr;
}

int containsKanji(const char* text) {
    if (!text) return 0;
    for (const unsigned char* p = bytes(text); *p;) {
        const unsigned c1 = p[0];
        const unsigned c2 = p[1];
        if (c1 > 0x80 && c2 > 0x80) {
            // Kanji rows begin at 0xB0 (getEucJpAlphabet agrees).
            if ((c1 == 0xA4 || c1 >= 0xB0) && c2 > 0xA0) return 1;
            p += 2;
        } else {
            ++p;
        }
    }
    return 0;
}

std::string separateCharacters(const char* pattern, bool* truncated) {
    std::string out;
    if (truncated) *truncated = false;
    if (!pattern) return out;
    enum class Last { kNone, kSingle, kSingleSpace, kPair };
    Last last = Last::kNone;
    for (const char* p = pattern; *p;) {
        const char* next = eucsinc(p);
        const bool pair = next - p == 2;
        const unsigned char c = bytes(p)[0];
        char piece[3];
        size_t length = 0;
        Last kind;
        if (pair && !iseucalnum(p)) {
            piece[length++] = ' ';
            piece[length++] = ' ';
            kind = Last::kSingleSpace;
        } else if (pair) {
            if (last == Last::kSingle) piece[length++] = ' ';
            piece[length++] = p[0];
            piece[length++] = p[1];
            kind = Last::kPair;
        } else {
            const bool space = isAsciiSpace(c);
            if (last == Last::kPair && !space) piece[length++] = ' ';
            piece[length++] = p[0];
            kind = space ? Last::kSingleSpace : Last::kSingle;
        }
        if (out.size() + length > kPatternLimit) {
            if (truncated) *truncated = true;
            break;
        }
        out.append(piece, length);
        last = kind;
        p = next;
    }
    return out;
}

}  // namespace ruva
