// The front end's one printf-style formatter. Its formats are string
// literals or entries of the message and text tables, never outside text:
// a request value used as a format would read arguments that were never
// passed. Each call compares its argument types with the format's
// conversions before anything is formatted.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "common/string_format.h"

namespace ruva {

// A format written in the program: only a string literal converts to it.
class FormatLiteral {
public:
    template <std::size_t N>
    consteval FormatLiteral(const char (&literal)[N]) : text_(literal) {}
    const char* c_str() const { return text_; }

private:
    const char* text_;
};

// A numbered table of texts (messages or interface words); an empty entry
// is a number without text.
using TextTable = std::span<const char* const>;

// A message (with its tag span) or a text of a table, as a format. Made only
// by msgFormat (kvo_msg.h) and textFormat (kvo_text.h).
class TableFormat {
public:
    const std::string& text() const { return text_; }

private:
    explicit TableFormat(std::string text) : text_(std::move(text)) {}
    friend TableFormat msgFormat(TextTable table, int index, const char* tag);
    friend TableFormat textFormat(int index);

    std::string text_;
};

namespace format_detail {

// An argument as printf reads it after the default promotions.
enum class ArgKind : unsigned char { kInt, kLong, kString };

template <class T>
constexpr ArgKind kindOf() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, std::string> || std::is_same_v<std::decay_t<T>, const char*> ||
                  std::is_same_v<std::decay_t<T>, char*>) {
        return ArgKind::kString;
    } else if constexpr (std::is_integral_v<U> && !std::is_same_v<U, bool> && sizeof(U) <= sizeof(int)) {
        return ArgKind::kInt;
    } else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, unsigned long>) {
        return ArgKind::kLong;
    } else {
        // string_view is not NUL-terminated; bool, long long and the rest
        // have no conversion among ours.
        static_assert(sizeof(U) == 0, "no printf conversion of the front end takes this argument type");
    }
}

// printf's argument for a value: the text of a std::string, "" for a null
// text pointer.
inline const char* pass(const std::string& s) { return s.c_str(); }
inline const char* pass(const char* s) { return s ? s : ""; }
template <class T>
    requires std::is_integral_v<T>
T pass(T v) {
    return v;
}

// 1 when the conversions of format take the kinds in order, one each. On a
// mismatch the sanitizer build stops the program with the format and the
// argument named on stderr; the release build gives 0.
int conversionsFit(const char* format, const ArgKind* kinds, std::size_t count);

template <class... Args>
std::string formatArgs(const char* fmt, const Args&... args) {
    const ArgKind kinds[] = {kindOf<Args>()..., ArgKind::kInt};
    if (!conversionsFit(fmt, kinds, sizeof...(Args))) return fmt;
    return ruva::format(fmt, pass(args)...);
}

}  // namespace format_detail

// The formatted text; when the arguments do not fit the conversions, the
// format itself, unformatted (the sanitizer build stops instead). The
// conversions understood are %s %d %i %u %x %X %c %ld %lu and %%, with flags,
// width and precision in literals.
template <class... Args>
std::string formatChecked(FormatLiteral format, const Args&... args) {
    return format_detail::formatArgs(format.c_str(), args...);
}
template <class... Args>
std::string formatChecked(const TableFormat& format, const Args&... args) {
    return format_detail::formatArgs(format.text().c_str(), args...);
}

// An object's last error text, set from a literal or a table format;
// outside text goes in as an argument, never as the format.
class ErrorText {
public:
    // The error text, "" when none.
    const std::string& getError() const { return errmsg; }
    template <class... Args>
    void setError(FormatLiteral format, const Args&... args) {
        errmsg = formatChecked(format, args...);
    }
    template <class... Args>
    void setError(const TableFormat& format, const Args&... args) {
        errmsg = formatChecked(format, args...);
    }
    void setError(std::nullptr_t) { errmsg.clear(); }

    std::string errmsg;
};

}  // namespace ruva
