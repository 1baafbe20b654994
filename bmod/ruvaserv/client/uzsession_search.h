// The search commands' own steps, apart from the socket: which QXSRCH lines
// one call sends, the words of each command line, and what one reply line
// does to a response. UzSession's search operations (uzsession_search.cpp)
// run them over the transport.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

// Reply codes of QXSRCH summary lines.
inline constexpr int kQxTooManyHits = 348;  // more hits than maxHits: the count only
inline constexpr int kQxNoHits = 349;       // a library given by ID without a hit

// A QXSRCH bitmap filters when a hex digit other than '0' stands before its
// 32nd '|' (the daemon compares at most 32 words). None, "null" and a
// bitmap of zeros and bars never filter.
bool isFilteringBitmap(std::optional<std::string_view> bitmap);

// One QXSRCH line of a qxsrch call.
struct QxSearchStep {
    std::string library;
    std::optional<std::string> bitmap;  // the bitmap paired with the library
    bool filters = false;               // isFilteringBitmap(bitmap): sent with maxHits 0
};

// The lines one qxsrch call sends, in order. Each list is one word, its
// quotes removed when it begins with '"', holding blank-separated entries.
// The first library is always searched, with the first bitmap when there
// is one; a further library needs a further bitmap when bitmaps are given,
// and stops at count libraries (count <= 0: every library).
std::vector<QxSearchStep> planQxSearch(std::string_view libraries, std::optional<std::string_view> bitmaps,
                                       int count);

// The words after the command word. The UzArgs view the arguments, which
// must outlive them.
std::vector<UzArg> qxsrchArgs(std::string_view pattern, const QxSearchStep& step, std::string_view index,
                              std::string_view maxHits);
// At most eight fields: the daemon reads no more.
std::vector<UzArg> pusrchArgs(std::string_view library, std::string_view members,
                              std::span<const std::string_view> fields);
// A product id is absent when not given, "(null)" or of decimal value 1.
bool productIdAbsent(std::optional<std::string_view> productId);
std::vector<UzArg> msrchArgs(std::string_view pattern, std::optional<std::string_view> productId);
// With a product id: name prodid from to system productId.
std::vector<UzArg> mpsrchArgs(std::string_view name, std::string_view prodid, std::string_view from,
                              std::string_view to, std::string_view system,
                              std::optional<std::string_view> productId);

// What one classified reply line did to a response.
enum class SearchLineStep {
    kMore,    // a header or an entry: read on
    kEnd,     // "nnn-" up to 299: resultCode and resultMessage are the line's
    kError,   // a final error line: likewise; the reply is complete
    kFailed,  // no line, a short line, no memory or an unreadable entry: code
              // 500 and the command's message; the rest of the reply is unread
};

// An entry line fills the first record while it is empty, else a new one
// appended; a line without its first field adds none. servname goes into
// every QXSRCH record; index chooses how a hit's bracketed tokens are read.
SearchLineStep applyQxSearchLine(UzResponse& r, const UzLine& line, std::string_view index,
                                 std::string_view servname);
SearchLineStep applyQxSgsLine(UzResponse& r, const UzLine& line);
// A type letter other than 'N' or 'D' fails the reply (message 407).
SearchLineStep applyQxdtLine(UzResponse& r, const UzLine& line);
SearchLineStep applySrchLine(UzResponse& r, const UzLine& line);
SearchLineStep applyPuSrchLine(UzResponse& r, const UzLine& line);
// MSRCH and MPSRCH.
SearchLineStep applyMetaSearchLine(UzResponse& r, const UzLine& line);

}  // namespace ruva
