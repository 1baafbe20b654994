#include "common/docmodel/meta_scan.h"

#include <algorithm>

#include "common/text.h"

namespace ruva {

namespace {

constexpr size_t kDocnoSlot = 10;
constexpr size_t kLangSlot = 14;

// Slot names; "" for the slots no name fills.
constexpr std::array<const char*, kMetaSlots> kSlotNames = {
    "APPR",      "",           "CHECKED",    "COMPANY", "",          "CONFIDENTIALITY",
    "CRIGHT",    "CTW",        "DATE",       "DOCNAME", "DOCNO",     "",
    "ENGTITLE",  "INFO",       "LANG",       "PREP",    "REF",       "REV",
    "",          "",           "",           "SUBRESP", "SUBTITLE",  "USER",
    "",          "TITLE",      "SRCDOCTYPE", "SRCDTD",  "FILTERPRG", "FILTERART",
    "FILTERREV", "FILTERTIME", "GENERATOR",
};

bool containsCaseBlind(std::string_view haystack, std::string_view needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                       [](char a, char b) { return asciiLower(a) == asciiLower(b); }) != haystack.end();
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

std::string metaValue(std::string_view text, std::string_view name) {
    // The first occurrence that follows '=' or a quote; others (inside a
    // longer name such as SUBTITLE for TITLE) are passed over.
    size_t at = text.find(name);
    while (at != std::string_view::npos && !(at > 0 && (text[at - 1] == '=' || isQuote(text[at - 1])))) {
        at = text.find(name, at + 3);
    }
    if (at == std::string_view::npos) return {};

    size_t eq = at + name.size();
    while (eq < text.size() && text[eq] != '=' && text[eq] != '>') ++eq;
    if (eq >= text.size() || text[eq] != '=') return {};

    std::string_view value = text.substr(eq + 1);
    if (!value.empty() && isQuote(value[0])) {
        const char quote = value[0];
        value = value.substr(1, kMetaValueMax);
        return std::string(value.substr(0, value.find(quote)));
    }
    value = value.substr(0, kMetaValueMax);
    value = value.substr(0, value.find('>'));
    const auto blank = std::find_if(value.begin(), value.end(), [](char c) { return isAsciiSpace(c); });
    return std::string(value.begin(), blank);
}

}  // namespace

std::string scanMetaValue(std::string_view text, size_t slot) {
    text = text.substr(0, text.find('\0'));
    std::string value = slot < kMetaSlots && *kSlotNames[slot] ? metaValue(text, kSlotNames[slot]) : std::string();
    return value.empty() ? "&nbsp;" : value;
}

int scanMetaData(std::array<std::string, kMetaSlots>& values, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    for (size_t slot = 0; slot < kMetaSlots; ++slot) {
        values[slot].clear();
        if (*kSlotNames[slot]) values[slot] = metaValue(text, kSlotNames[slot]);
    }
    const int japanese =
        containsCaseBlind(values[kDocnoSlot], "Uja") || containsCaseBlind(values[kLangSlot], "ja") ? 1 : 0;
    for (std::string& value : values) {
        if (value.empty()) value = "&nbsp;";
    }
    return japanese;
}

}  // namespace ruva
