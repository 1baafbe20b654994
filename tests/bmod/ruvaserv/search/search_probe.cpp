// Runs one search request for the python tests: the query from
// QUERY_STRING, cookies from HTTP_COOKIE, the configuration KIVOSERVCONF
// names. Each hit reaching the result formatter is one JSON line; the last
// line holds the action's result and message.
//
//   search_probe            searchAction
//   search_probe --lookup   getKivoDocument (the request's library)
//   search_probe --lookup LIBRARY
//                           getKivoDocument naming LIBRARY in message 83
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "tests/support/json_line.h"

namespace ruva {
namespace {

using test::JsonObject;

// What the formatter was given, for the closing line.
struct Presented {
    bool called = false;
    int hits = 0;
    SearchResultSortOrder order = SRSO_DEFAULT;
    std::optional<std::string> SL;
};
Presented presented;

class RecordingFmt : public SearchResultFmt {
public:
    RecordingFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) : SearchResultFmt(sd, cg, order) {}

    int presentSearchResult(KivoHandler&, UzResponse* reply, unsigned, const std::optional<std::string>& SL) override {
        presented.called = true;
        presented.order = srchSortOrder;
        presented.SL = SL;
        for (const UzQxSearchEntry* e = reply ? reply->qxsrch() : nullptr; e; e = e->next.get()) {
            // The loop drops a hit by emptying its file name; the page skips it.
            if (!e->filled() || e->filename.empty()) continue;
            ++presented.hits;
            std::printf("%s\n", JsonObject()
                                    .maybe("database", e->database)
                                    .text("ID", e->ID)
                                    .text("filename", e->filename)
                                    .text("comment", e->comment)
                                    .number("hit", e->hit)
                                    .number("isKwd", e->isKwd)
                                    .number("isTopic", e->isTopic)
                                    .text("synopsis", e->synopsis)
                                    .number("searchType", static_cast<long long>(e->searchType))
                                    .str()
                                    .c_str());
        }
        return 1;
    }
};

std::unique_ptr<SearchResultFmt> makeRecording(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::make_unique<RecordingFmt>(sd, cg, order);
}

int run(int argc, char** argv, char** envp) {
    setMsgLanguage("Uen");
    setTextLanguage("Uen");
    setenv("REQUEST_METHOD", "GET", 0);
    std::unique_ptr<CgiHandler> cg = newCgiHandler(kKivoservFlags, envp);
    if (!cg) return 2;
    const std::string config = findConfigFile();
    cg->readConfigFile(config.empty() ? nullptr : config.c_str());
    if (!cg->cgiEntry()) {
        std::printf("%s\n", JsonObject().number("result", 0).text("message", cg->getError()).str().c_str());
        return 0;
    }
    std::unique_ptr<KivoHandler> kh = newKivoHandler(cg.get());
    std::unique_ptr<SearchActions> sa = newSearchActions(cg.get());
    if (!kh || !sa) return 2;
    setSearchResultFmtFactory(&makeRecording);

    int result;
    const bool lookup = argc > 1 && std::strcmp(argv[1], "--lookup") == 0;
    if (lookup && argc > 2)
        result = sa->getKivoDocument(*kh, DocumentLookup{argv[2], true});
    else if (lookup)
        result = sa->getKivoDocument(*kh);
    else
        result = sa->searchAction(*kh);

    JsonObject last;
    last.number("result", result)
        .text("message", sa->getError())
        .text("requestError", cg->getError())
        .number("presented", presented.called)
        .number("hits", presented.hits)
        .number("sortOrder", presented.order)
        .maybe("SL", presented.SL)
        .number("searchType", static_cast<long long>(sa->sd->searchType))
        .number("srchTypeBoolOperation", sa->sd->srchTypeBoolOperation)
        .number("sTypeCounter", sa->sd->sTypeCounter)
        .number("isAdvanced", sa->sd->isAdvanced)
        .text("searchPat", sa->sd->searchPat)
        .number("responseDone", (cg->flags & kCgiResponseDone) != 0);
    std::printf("%s\n", last.str().c_str());
    return 0;
}

}  // namespace
}  // namespace ruva

int main(int argc, char** argv, char** envp) {
    const int status = ruva::run(argc, argv, envp);
    std::fflush(stdout);
    return status;
}
