// The libraries of one result page: their titles from the daemon, asked
// once per request, and the filter cell of the library table.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

class CgiHandler;
class KivoHandler;

// One MLLIST answer as the page needs it; failures are kept too, so a
// library gets one answer everywhere on the page.
struct LibraryAnswer {
    int ok = 0;             // 1: code 200 (with or without an entry)
    bool hasEntry = false;  // the reply held a library line
    std::string comment;    // its comment line, "" without one
    std::string server;     // "address:port" asked, for message 55; "" without session
    // On failure the reply's text or the session's error text, fit for a
    // page: the server's text HTML-escaped, the client's own messages
    // (already HTML) as they are.
    std::string resultMessage;
};

// MLLIST and getDBfromLI answers of one request, by argument.
class LibraryMemo {
public:
    // The answer for libid, asking the request's session the first time.
    const LibraryAnswer& mllist(CgiHandler& cg, const std::string& libid);
    // getDBfromLI of reference, asked once per distinct reference; title
    // gets the answer's title when there is one.
    const std::optional<std::string>& dbFromLI(KivoHandler& ah, const std::string& reference,
                                               std::string& title);
    // Answers held; a test's check that nothing is asked twice.
    std::size_t size() const { return answers_.size(); }

private:
    std::map<std::string, LibraryAnswer> answers_;
    struct DbAnswer {
        std::optional<std::string> db;
        std::string title;
    };
    std::map<std::string, DbAnswer> dbs_;
};

// The libraries of the page in their order, identities with their comment
// lines; the comparators read titles from here.
struct LibraryTable {
    struct Row {
        std::string id;
        std::optional<std::string> title;  // the comment line; none when unknown
    };
    std::vector<Row> rows;
    // The title of the first row whose id equals id (ASCII case-blind); null
    // when not listed or without title.
    const std::string* titleOf(std::string_view id) const;
};

// 1 and the library's comment line in libTitle, or 0 (libTitle untouched):
// no session, a refusal, or a reply without comment.
int getLibraryname(CgiHandler& cg, LibraryMemo& memo, const std::string& libid, std::string& libTitle);

// The filter cell of the library table: an empty cell without a "CAT:"
// bitmap, else icon 140 when the bitmap (the cookie's, else the default)
// filters and 139 when it does not, the image linked with revision. Sets
// filtered when the bitmap filters, never clears it.
std::string validateLibrary(std::string_view comment, const char* revision, bool& filtered);

}  // namespace ruva
