// The character set an HTML page names for itself, by its XML declaration
// or a <meta>. Only a plain name counts: pages put it into headers and
// declarations of their own unescaped.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

inline constexpr size_t kCharsetNameMax = 40;

inline bool isCharsetNameByte(unsigned char c) {
    return isAsciiAlnum(c) || c == '_' || c == '.' || c == ':' || c == '-';
}

// The name after `key` within tag, past blanks, '=' and an opening quote;
// "" unless it is 1 to kCharsetNameMax name bytes.
inline std::string_view charsetNameAfter(std::string_view tag, std::string_view key) {
    size_t at = findCaseBlind(tag, 0, key);
    if (at == std::string_view::npos) return {};
    at += key.size();
    while (at < tag.size() && isAsciiSpace(byteAt(tag, at))) ++at;
    if (at >= tag.size() || tag[at] != '=') return {};
    ++at;
    while (at < tag.size() && isAsciiSpace(byteAt(tag, at))) ++at;
    if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) ++at;
    size_t end = at;
    while (end < tag.size() && end - at <= kCharsetNameMax && isCharsetNameByte(byteAt(tag, end))) ++end;
    if (end == at || end - at > kCharsetNameMax) return {};
    return tag.substr(at, end - at);
}

// The encoding of the XML declaration text starts with; "" without one.
inline std::string_view xmlDeclaredCharset(std::string_view text) {
    if (!startsAt(text, 0, "<?xml")) return {};
    return charsetNameAfter(text.substr(0, text.find('>')), "encoding");
}

// The charset of the first <meta> in text that names one; "" when none.
inline std::string_view metaDeclaredCharset(std::string_view text) {
    for (size_t at = findCaseBlind(text, 0, "<meta"); at != std::string_view::npos;
         at = findCaseBlind(text, at, "<meta")) {
        const size_t end = text.find('>', at);
        const std::string_view name =
            charsetNameAfter(text.substr(at, end == std::string_view::npos ? end : end - at), "charset");
        if (!name.empty()) return name;
        if (end == std::string_view::npos) break;
        at = end;
    }
    return {};
}

}  // namespace ruva
