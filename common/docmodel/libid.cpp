#include "common/docmodel/libid.h"

#include <cstring>
#include <string_view>

#include "common/text.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

void toUpper(std::string& text) {
    for (char& c : text) c = static_cast<char>(ltoupper(c));
}

// Where the language code of a document name lies, if it has one.
struct CodeSpan {
    size_t start = 0;
    size_t length = 0;
};

bool findDocCode(std::string_view name, CodeSpan& span) {
    size_t dot = name.find('.');
    if (dot == std::string_view::npos) return false;
    std::string_view stem = name.substr(0, dot);
    size_t u = stem.rfind('U');
    if (u == std::string_view::npos) return false;
    size_t length = stem.size() - u - 1;
    if (length < 1 || length > 2) return false;
    for (size_t i = u + 1; i < stem.size(); ++i) {
        if (!isAsciiAlpha(stem[i])) return false;
    }
    span.start = u + 1;
    span.length = length;
    return true;
}

std::optional<std::string> replaceDocCode(const char* docid, std::string_view code) {
    if (!docid) return std::nullopt;
    std::string name(docid);
    CodeSpan span;
    if (findDocCode(name, span)) name.replace(span.start, span.length, code);
    return name;
}

}  // namespace

std::optional<std::string> libidGetFromText(const char* text) {
    if (!text) return std::nullopt;
    const char* close = std::strrchr(text, ']');
    if (!close) return std::nullopt;
    const std::string_view before(text, close - text);
    size_t open = before.rfind('[');
    if (open == std::string_view::npos || open + 1 == before.size()) return std::nullopt;
    const std::string inside(before.substr(open + 1));
    std::string id(inside.size() + 1, '\0');
    removeSpaces(id.data(), inside.c_str(), static_cast<int>(inside.size()));
    id.resize(std::strlen(id.c_str()));
    toUpper(id);
    return id;
}

int libidIsValidLanguageCode(const char* code) {
    return code && isAsciiAlpha(code[0]) && isAsciiAlpha(code[1]) ? 1 : 0;
}

const char* libidFindLanguageCode(const char* libid) {
    if (!libidIsValidLanguageCode(libid) || libid[2] != '/') return nullptr;
    return libid + 2;
}

std::optional<std::string> libidGetLanguageCode(const char* libid) {
    if (!libidFindLanguageCode(libid)) return std::nullopt;
    std::string code(libid, 2);
    toUpper(code);
    return code;
}

std::optional<std::string> libidGetLanguageCodeOrDefault(const char* libid) {
    if (!libid) return std::nullopt;
    auto code = libidGetLanguageCode(libid);
    return code ? code : std::string(kDefaultLanguageCode);
}

std::optional<std::string> libidSetLanguageCode(const char* libid, const char* code) {
    if (!libid) return std::nullopt;
    const char* slash = libidFindLanguageCode(libid);
    std::string rest(slash ? slash + 1 : libid);
    if (!code) return rest;
    toUpper(rest);
    return std::string(code) + "/" + rest;
}

int docidFindLanguageCode(const char* docid, size_t* start, size_t* length) {
    if (start) *start = 0;
    if (length) *length = 0;
    if (!start || !length || !docid || !*docid) return -1;
    CodeSpan span;
    if (!findDocCode(docid, span)) return 0;
    *start = span.start;
    *length = span.length;
    return 1;
}

std::optional<std::string> docidMaskLanguageCode(const char* docid) {
    return replaceDocCode(docid, "*");
}

std::optional<std::string> docidChangeLanguageCode(const char* docid, const char* code) {
    if (!code) return docid ? std::optional<std::string>(docid) : std::nullopt;
    return replaceDocCode(docid, code);
}

}  // namespace ruva
