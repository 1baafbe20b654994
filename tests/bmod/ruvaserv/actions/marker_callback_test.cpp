// The template-marker callback: which operation each marker text reaches,
// with which arguments, and which texts it leaves to the page.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

// Records the marker operations; each fails, which the callback ignores.
class MarkerRecorder : public KivoHandler {
public:
    explicit MarkerRecorder(CgiHandler* request) : KivoHandler(request) {
        cg->setSpecCallback(&KivoHandler::specCallback, this);
    }
    std::string calls;

    int outputListDb(const std::string& server, const std::string& pattern, int listType) override {
        return note("outputListDb(" + server + "|" + pattern + "|" + std::to_string(listType) + ")");
    }
    int outputCompare(const std::string& server, const std::string& pattern) override {
        return note("outputCompare(" + server + "|" + pattern + ")");
    }
    int outputListServ() override { return note("outputListServ"); }
    int outputServName() override { return note("outputServName"); }
    int outputProgInfo() override { return note("outputProgInfo"); }
    int outputKivoDoc() override { return note("outputKivoDoc"); }
    int outputDbName() override { return note("outputDbName"); }
    int outputRootID() override { return note("outputRootID"); }
    int outputUzAddr() override { return note("outputUzAddr"); }

private:
    int note(const std::string& call) {
        calls += calls.empty() ? call : " " + call;
        return 0;
    }
};

// Marker texts as post-processing hands them over: from the name up to
// just before '>', so a marker's "--" comes along.
TEST(MarkerCallback, NamesPickTheirOperationAndArgumentsAreRead) {
    struct {
        const char* name;
        std::string_view marker;
        int known;
        const char* calls;
    } const cases[] = {
        {"no arguments", "listdb--", 1, "outputListDb(default||0)"},
        {"sort keyword", "LISTDB default @sort_date--", 1, "outputListDb(default|@sort_date|0)"},
        {"other server", "listdb 127.0.0.1:4567 *.zip--", 1, "outputListDb(127.0.0.1:4567|*.zip|0)"},
        {"hyphen ends the empty first word", "listdb-default--", 1, "outputListDb(default||0)"},
        {"words end at a hyphen", "listdb srv:1-*.kvo", 1, "outputListDb(srv:1||0)"},
        {"DEFAULT is passed on", "listdb DEFAULT lib*--", 1, "outputListDb(DEFAULT|lib*|0)"},
        {"white space of any kind", "listdb\t default\n*.kvo  ", 1, "outputListDb(default|*.kvo|0)"},
        {"view ending at the page end", "listdb default", 1, "outputListDb(default||0)"},
        {"cmplistdb before listdb", "CmpListDb default *--", 1, "outputListDb(default|*|1)"},
        {"listdbx: x is the server word", "listdbx--", 1, "outputListDb(x||0)"},
        {"listserv", "ListServ--", 1, "outputListServ"},
        {"servname", "SERVNAME --", 1, "outputServName"},
        {"proginfo", "proginfo", 1, "outputProgInfo"},
        {"kivomain", "KivoMain--", 1, "outputKivoDoc"},
        {"dbname", "dbname--", 1, "outputDbName"},
        {"rootid", "RootID--", 1, "outputRootID"},
        {"uzaddr", "uzaddr--", 1, "outputUzAddr"},
        {"compare", "compare default *.kvo--", 1, "outputCompare(default|*.kvo)"},
        {"compare without arguments", "COMPARE--", 1, "outputCompare(default|)"},
        {"the toolbar's own marker", "noprnt--", 0, ""},
        {"a name's beginning only", "compar", 0, ""},
        {"list", "list--", 0, ""},
        {"empty", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        MarkerRecorder kh(cg.get());
        EXPECT_EQ(cg->specCallback(cg->specClientData, c.marker), c.known);
        EXPECT_EQ(kh.calls, c.calls);
        EXPECT_EQ(cg.written(), "");
    }
}

// The registered handler is the one that runs; without client data a
// known name is still known, and nothing runs.
TEST(MarkerCallback, NewHandlerRegistersItselfAndNullDataRunsNothing) {
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    EXPECT_EQ(cg->specClientData, kh.get());
    EXPECT_EQ(KivoHandler::specCallback(nullptr, "listdb--"), 1);
    EXPECT_EQ(KivoHandler::specCallback(nullptr, "toolbar--"), 0);
    EXPECT_EQ(cg->dstOffs, 0u);
}

}  // namespace
}  // namespace ruva
