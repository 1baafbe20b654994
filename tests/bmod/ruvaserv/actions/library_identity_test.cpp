// The library identity look-ups up to the point where they would ask the
// server; their replies are in library_identity_wire_test.cpp.
#include "bmod/ruvaserv/actions/library_identity.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

using Lookup = int (KivoHandler::*)();

struct Operation {
    const char* name;
    Lookup run;
    const char* field;  // what it would set
};

const Operation kOperations[] = {
    {"getIDbyDbName", &KivoHandler::getIDbyDbName, "ID"},
    {"getLIbyHiddenID", &KivoHandler::getLIbyHiddenID, "LI_Hidden"},
};

TEST(LibraryIdentity, StopsBeforeListingWithoutDbOrServer) {
    test::EnvGuard env;
    env.set("RUVA_ADDR", std::nullopt);
    struct Case {
        const char* name;
        std::optional<const char*> db;
        std::string server;
        bool message91;  // else no text: the session reports nothing when no server is known
    };
    const Case cases[] = {
        {"no DB", std::nullopt, "localhost:9229", true},
        {"empty DB", "", "localhost:9229", true},
        {"no server known", "*.kvo", "", false},
    };
    for (const Operation& op : kOperations) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(op.name) + ": " + c.name);
            CapturedRequest cg;
            cg->docServAddr = c.server;
            if (c.db) cg.field("DB", *c.db);
            auto kh = newKivoHandler(cg.get());
            ASSERT_NE(kh, nullptr);
            EXPECT_EQ(((*kh).*op.run)(), 0);
            EXPECT_EQ(cg->getError(), c.message91 ? formatChecked(cg->msg(91, "kivohandler/76")) : "");
            EXPECT_EQ(cg->valueList->findValue(op.field), nullptr);
            EXPECT_EQ(cg->sess, nullptr);  // no session made for nothing to ask
        }
    }
}

}  // namespace
}  // namespace ruva
