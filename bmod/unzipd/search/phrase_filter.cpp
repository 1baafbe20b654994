#include "bmod/unzipd/search/phrase_filter.h"

#include <cstring>

#include "common/text.h"

namespace ruva {

int phrsrch_filter(const char* pattern, const char* text) {
    if (!pattern || !*pattern) return 1;
    if (!text) return 0;
    std::string expression(pattern);
    lstrlwr(expression.data());
    std::string squeezed;
    for (const char* p = text; *p; ++p) {
        if (*p != ' ') squeezed += static_cast<char>(ltolower(static_cast<unsigned char>(*p)));
    }
    return phrsrch_matchExpression(expression.c_str(), squeezed.c_str());
}

int phrsrch_matchExpression(const char* expression, const char* text) {
    int running = -1;  // undefined until the first term
    const char* pos = expression;
    for (;;) {
        char type;
        const char* after;
        if (!phrsrch_getToken(pos, &type, &after)) return running;
        int term;
        if (type == kPhraseToken || type == kNotToken) {
            term = phrsrch_matchPattern(pos, text, &pos);
            if (term < 0) return -1;
            running = running < 0 ? term : (running && term);
        } else if (type == kAndToken || type == kOrToken) {
            term = phrsrch_matchPattern(after, text, &pos);
            if (term < 0) return -1;
            if (running < 0)
                running = term;
            else
                running = type == kAndToken ? (running && term) : (running || term);
        } else {
            return -1;
        }
    }
}

int phrsrch_matchPattern(const char* expression, const char* text, const char** next) {
    // A run of '!' is counted rather than recursed into: a command line may
    // hold over a hundred thousand of them.
    size_t nots = 0;
    char type;
    const char* pos = expression;
    std::optional<std::string> token;
    for (;;) {
        token = phrsrch_getToken(pos, &type, &pos);
        if (type != kNotToken) break;
        ++nots;
    }
    *next = pos;
    if (type != kPhraseToken) return -1;
    const int found = std::strstr(text ? text : "", token->c_str()) != nullptr;
    return nots % 2 ? !found : found;
}

std::optional<std::string> phrsrch_getToken(const char* expression, char* type, const char** next) {
    const char* p = expression ? expression : "";
    while (*p == ' ') ++p;
    if (*p == '\0') {
        *type = kEndToken;
        *next = p;
        return std::nullopt;
    }
    if (*p == kNotToken || *p == kAndToken || *p == kOrToken) {
        *type = *p;
        *next = p + 1;
        return std::string(1, *p);
    }
    if (*p == '"') {
        const char* close = std::strchr(p + 1, '"');
        if (!close) {
            *type = kUnknownToken;
            *next = p + std::strlen(p);
            return std::nullopt;
        }
        *type = kPhraseToken;
        *next = close + 1;
        return phrsrch_makestr(p + 1, close);
    }
    const char* end = p + std::strcspn(p, " !&|");
    *type = kPhraseToken;
    *next = end;
    return phrsrch_makestr(p, end);
}

std::optional<std::string> phrsrch_makestr(const char* first, const char* last) {
    if (!first || !last || last < first) return std::nullopt;
    return std::string(first, last);
}

}  // namespace ruva
