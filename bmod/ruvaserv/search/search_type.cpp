#include "bmod/ruvaserv/search/search_type.h"

#include <string_view>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "common/text.h"

namespace ruva {

namespace {

// "Present with a value": an empty field counts as missing.
bool hasValue(const ValueList& fields, const char* name) {
    const Value* v = fields.findValue(name);
    return v && !v->value.empty();
}

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

// The form fields of ADVSEARCH and DOCSEARCH: each pattern given adds the
// type that searches it.
void addFormTypes(const ValueList& fields, SearchRequest& request) {
    if (hasValue(fields, "PA")) request.searchType |= OST_BODYTEXT;
    if (hasValue(fields, "PAT")) {
        request.searchType |= OST_TITLE;
        if (request.folderTitleSearch) {
            request.searchType |= OST_FOLTITLE;
            request.srchTypeBoolOperation = STYPE_OR;
        }
    }
    if (hasValue(fields, "PAC")) request.searchType |= OST_CTW;
    if (hasValue(fields, "PAD")) request.searchType |= OST_DOCNO;
}

// The types of the (upper-cased) ST: its first letter or digit picks the
// row, words anywhere in it the types.
void addTypesOfWord(const ValueList& fields, std::string_view st, SearchRequest& request) {
    size_t first = 0;
    while (first < st.size() && !isAsciiAlpha(static_cast<unsigned char>(st[first])) &&
           !isAsciiDigit(static_cast<unsigned char>(st[first])))
        ++first;
    if (first == st.size()) return;
    constexpr KivoSearchType kIndexSet = OST_TITLE | OST_DOCNO | OST_CTW | OST_FOLTITLE | OST_TOPICTITLE;
    KivoSearchType& type = request.searchType;
    switch (ltoupper(st[first])) {
        case 'A':
            if (contains(st, "ADI"))
                type |= OST_ADI;
            else if (contains(st, "AI"))
                type |= OST_2AI;
            if (contains(st, "ADVSEARCH")) {
                if (!request.listSearch) request.isAdvanced = 1;
                addFormTypes(fields, request);
            }
            break;
        case 'C':
            if (contains(st, "CATCHWORD")) {
                type |= OST_CTW;
            } else if (contains(st, "COMBINED")) {
                type |= kIndexSet;
                request.srchTypeBoolOperation = STYPE_OR;
                request.sortOrder = SRSO_SRCHTYPE;
            } else if (contains(st, "COD")) {
                type |= OST_COD;
            } else if (contains(st, "MAN")) {
                type |= OST_MAN;
            }
            break;
        case 'D':
            if (contains(st, "DOCSEARCH")) {
                request.isAdvanced = 1;
                addFormTypes(fields, request);
            } else {
                type |= OST_DOCNO;
            }
            break;
        case 'F':
            if (contains(st, "FULLTEXT")) {
                type |= OST_BODYTEXT | kIndexSet;
                request.srchTypeBoolOperation = STYPE_OR;
                request.sortOrder = SRSO_SRCHTYPE;
            } else if (contains(st, "FOLDER")) {
                type |= OST_FOLTITLE;
            }
            break;
        case 'O':
            type |= OST_OPI;
            break;
        case 'P':
            type |= OST_POD;
            break;
        case 'T':
            type |= OST_TITLE;
            break;
        default:
            // MAN, 2AI and the like name no row.
            break;
    }
}

}  // namespace

int chooseSearchTypes(ValueList& fields, TextTable messages, SearchRequest& request, ErrorText& error) {
    request = SearchRequest{};
    Value* st = fields.findValue("ST");
    const Value* stb = fields.findValue("STB");
    request.listSearch = stb && stb->value == "2";
    if (!st || st->value.empty()) {
        error.setError(msgFormat(messages, 21, "SearchActions/4"));
        return 0;
    }
    if (const Value* sl = fields.findValue("SL")) request.SL = sl->value;
    if (const Value* sypa = fields.findValue("SYPA"); sypa && !sypa->value.empty()) {
        // Through addValue, so PA is stored as if it had come itself.
        const std::string pattern = sypa->value;
        fields.addValue("PA", pattern.c_str());
    }
    // Later readers (the loop, the results page) see the upper-cased word.
    for (char& c : st->value) c = static_cast<char>(ltoupper(c));
    const std::string_view word = st->value;

    if (contains(word, "ADVSEARCH") || contains(word, "DOCSEARCH")) {
        const bool otherPattern = hasValue(fields, "PA") || hasValue(fields, "PAC") || hasValue(fields, "PAD");
        if (!otherPattern && !hasValue(fields, "PAT")) {
            error.setError(msgFormat(messages, 23, "SearchActions/6"));
            return 0;
        }
        request.folderTitleSearch = hasValue(fields, "PAT") && (request.listSearch || !otherPattern);
    } else if (!hasValue(fields, "PA")) {
        // An empty PA would send an empty pattern: it counts as missing.
        error.setError(msgFormat(messages, 23, "SearchActions/6.1"));
        return 0;
    }

    request.srchTypeBoolOperation = request.listSearch || word == "TITLE" ? STYPE_OR : STYPE_AND;
    request.sortOrder = SRSO_DEFAULT;
    request.searchType = OST_UNKNOWN;
    addTypesOfWord(fields, word, request);
    if (request.searchType == OST_UNKNOWN) {
        error.setError(msgFormat(messages, 24, "SearchActions/7"), st->value);
        return 0;
    }
    return 1;
}

}  // namespace ruva
