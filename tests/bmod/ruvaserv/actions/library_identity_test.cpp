// The library identity look-ups up to the point where they would ask the
// server; their replies are in library_identity_wire_test.cpp.
#include "bmod/ruvaserv/actions/library_identity.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/checked_format.h"
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

TEST(LibraryIdentity, DisplayFormOfReferences) {
    struct Case {
        const char* reference;
        const char* shown;
    };
    const Case cases[] = {
        {"en/abc1234567r1a", "EN/ABC 123 4567 R1A"},
        // The letters may hold P and R: the number part is searched after them.
        {"EN/PRD1234567R1A", "EN/PRD 123 4567 R1A"},
        {"1/ABC 123 4567 R2B", "1/ABC 123 4567 R2B"},
        {"EN/ABC12R1A", "EN/ABC 12 R1A"},
        {"EN/ABC1234567", "EN/ABC 123 4567 "},
        {"EN/ABC 123\t4567\x01 p1a", "EN/ABC 123 4567 P1A"},
        // A digit without a '/' copies no prefix, and no letters follow it.
        {"12ABC1234567R1A", " 12A BC1234567 R1A"},
        {"", "  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        EXPECT_EQ(libraryRefDisplayForm(c.reference), c.shown);
    }
}

TEST(LibraryIdentity, NotAvailableTextByAuthServiceAndExtranet) {
    // Under UseAUTH the service name decides, else UseExtranet; the other
    // setting never matters.
    const struct {
        const char* name;
        int withAuth;
    } services[] = {{"Tessaport", 220}, {"tessaport", 220}, {"Other", 221}};
    const struct {
        const char* value;
        int withoutAuth;
    } extranets[] = {{"Yes", 222}, {"yes", 222}, {"No", 224}};
    for (bool useAuth : {true, false}) {
        for (const auto& service : services) {
            for (const auto& extranet : extranets) {
                SCOPED_TRACE(std::string(useAuth ? "UseAUTH " : "") + service.name + " " + extranet.value);
                CapturedRequest cg;
                cg->flags = useAuth ? (cg->flags | kCgiUseAuth) : (cg->flags & ~kCgiUseAuth);
                cg->servicename = service.name;
                cg->useExtranet = extranet.value;
                const int index = useAuth ? service.withAuth : extranet.withoutAuth;
                const std::string text = notAvailableText(*cg, "<b>t</b>", "EN/ABC 1 R1A");
                EXPECT_EQ(text, formatChecked(cg->msg(index, nullptr), "<b>t</b>", "EN/ABC 1 R1A"));
                EXPECT_EQ(text.find("<span"), std::string::npos);  // untagged
            }
        }
    }
}

TEST(LibraryIdentity, FullFilenameNeedsBothOutArguments) {
    CapturedRequest cg;
    cg.field("DB", "guide.kvo");
    cg.field("FN", "guide_sd1.sgml");
    auto kh = newKivoHandler(cg.get());
    ASSERT_NE(kh, nullptr);
    std::optional<std::string> library = "old";
    std::optional<std::string> file = "old";
    EXPECT_EQ(kh->getFullFilename(nullptr, &file), 0);
    EXPECT_EQ(file, std::nullopt);
    EXPECT_EQ(kh->getFullFilename(&library, nullptr), 0);
    EXPECT_EQ(library, std::nullopt);
    EXPECT_EQ(cg->sess, nullptr);
}

// Without ID or DB nothing is listed; with one but no session, the look-up
// fails as a failed listing with empty address and reason, never reaching
// through the missing session.
TEST(LibraryIdentity, TitleAndSolutionWithoutIdentifierOrSession) {
    struct Case {
        const char* name;
        const char* field;  // null: none
        const char* value;
        std::string error;
    };
    CapturedRequest tables;
    const std::string noIdentifier = formatChecked(tables->msg(13, "kivohandler/90"));
    const std::string noSession = formatChecked(tables->msg(92, "kivohandler/91"), "", "");
    const Case cases[] = {
        {"no field", nullptr, nullptr, noIdentifier},
        {"empty ID", "ID", "", noIdentifier},
        {"empty DB", "DB", "", noIdentifier},
        {"ID, no session", "ID", "9140", noSession},
        {"DB, no session", "DB", "guide.kvo", noSession},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        if (c.field) cg.field(c.field, c.value);
        auto kh = newKivoHandler(cg.get());
        ASSERT_NE(kh, nullptr);
        std::string title = "t";
        std::string reference = "r";
        std::string entryId = "e";
        EXPECT_EQ(kh->getLibTitleFromServer(title, reference, entryId), 0);
        EXPECT_EQ(kh->getError(), c.error);
        EXPECT_EQ(title + reference + entryId, "tre");
        kh->clear();
        int collection = 7;
        std::string pairs = "x";
        EXPECT_EQ(kh->getSolutionFromServer(collection, pairs), 0);
        EXPECT_EQ(kh->getError(), c.error);
        EXPECT_EQ(pairs, "");
        EXPECT_EQ(collection, 7);
        EXPECT_EQ(cg->sess, nullptr);
        EXPECT_EQ(kh->isCatEnabled, 0);
    }
    // The second edition's form: message 13 without its tag.
    CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    std::string title, reference, entryId;
    EXPECT_EQ(kh->getLibTitleFromServer(title, reference, entryId, false), 0);
    EXPECT_EQ(kh->getError(), formatChecked(cg->msg(13, nullptr)));
}

}  // namespace
}  // namespace ruva
