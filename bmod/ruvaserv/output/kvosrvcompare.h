// One request to compare two libraries: each library's SDI parts are
// fetched from the document server and joined into a private temporary
// file, both library titles are looked up, and the comparison report is
// written into the request's page buffer. All state lives in the request
// passed to each call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ruva {

class CgiHandler;

// Results of doKvoSrvCompare and prepareSdiFile; the values are the ones
// callers have always compared against.
enum class KvoSrvCompareResult : int {
    kFailed = 0,  // the request's error text says why
    kOk = 1,
};

class KvoSrvCompare {
public:
    ~KvoSrvCompare();
    KvoSrvCompare(const KvoSrvCompare&) = delete;
    KvoSrvCompare& operator=(const KvoSrvCompare&) = delete;

    // Writes the report of newLib against oldLib (each a library name or an
    // all-digit hash id) into cg's document buffer. oldLib's list is the
    // older side, so a document only in newLib is "new". Rows link, and
    // titles are looked up by, the one library each listing named (a
    // pattern or a bracketed library id becomes that name or hash id).
    // kFailed with cg's
    // error text set (message 116 around the comparison's text, or the
    // fetch and title messages). The private temporary directory and its
    // files are gone on every return.
    KvoSrvCompareResult doKvoSrvCompare(CgiHandler& cg, const std::string& newLib, const std::string& oldLib);

    // Joins library's SDI parts into fileName, which must not exist yet
    // (created exclusively, mode 0600, no symlink followed): the head of
    // the first part, every part's body in part-number order, then
    // "</body>\n</tavr>\n". Each part is read into storage of its own; cg's
    // document buffer is left freed. database, when given, receives the one
    // library the listing named (the name titles are looked up by). kFailed
    // with cg's error text set and fileName removed (a part without a
    // complete body is message 122).
    KvoSrvCompareResult prepareSdiFile(CgiHandler& cg, const std::string& library, const std::string& fileName,
                                       std::string* database = nullptr);

    std::uint16_t flags = 0;  // kept from the constructor; nothing reads it

private:
    friend std::unique_ptr<KvoSrvCompare> newKvoSrvCompare(std::uint16_t flags);
    explicit KvoSrvCompare(std::uint16_t f) : flags(f) {}
};

// The comparison object; null when memory is short.
std::unique_ptr<KvoSrvCompare> newKvoSrvCompare(std::uint16_t flags);

// The title of database (as the listing named it: a library name, or an
// all-digit hash id looked up with MLLIST): the first entry's comment cut
// after its first ']', the library name when the comment is missing or
// blank. None with cg's error text set (message 125 or 126) when the
// server answers other than 200 or lists no entry of that library. The
// title is raw text; whoever places it in HTML escapes it.
std::optional<std::string> getDatabaseTitle(CgiHandler& cg, const std::string& database);

// The decimal-class filter of a DDC field: the number its leading decimal
// digits form, at most 9 of them read; no field or no digit gives 0 (all).
std::uint32_t classFilterOf(const std::string* ddc);

}  // namespace ruva
