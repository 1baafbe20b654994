// The annotation store against a real daemon. Run step by step by
// annotation_daemon_test.py, which starts the daemon at RUVA_PORT with its
// AnnotationDb folder, writes foreign archives with annotation_records.py
// and checks annot.anx's bytes between the steps. Without RUVA_PORT every
// case is skipped.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

const std::string kDoc = "1551-ABC10101Uen.A.html";

AnnoStruct record(const std::string& text, const std::string& chapter = "3") {
    return newAnnoStruct("Hdr", "Ann", text, chapter, "2026-12-11", "17:05:09", "A", "HTMLTEXT");
}

class AnnotationDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> port = test::envValue("RUVA_PORT");
        if (!port) GTEST_SKIP() << "needs a daemon (annotation_daemon_test.py)";
        server = "127.0.0.1:" + *port;
        env.set("RUVA_ADDR", std::nullopt);
        env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
    }

    // Each request is a page of its own: a new session, as a reload has.
    struct Request {
        explicit Request(const std::string& server) {
            cg->docServAddr = server;
            store = newAnnotation(cg.get());
        }
        test::CapturedRequest cg;
        std::unique_ptr<Annotation> store;
    };

    test::EnvGuard env;
    std::string server;
};

// Into an AnnotationDb without archive; a second one for the chapter is
// offered joined and writes nothing.
TEST_F(AnnotationDaemon, StoreThenCreateAgain) {
    {
        Request r(server);
        AnnoStruct as = record("Text");
        EXPECT_EQ(r.store->putAnnotation(kDoc, as, true), kAnnoDone) << r.cg->getError();
    }
    Request r(server);
    const auto members = r.store->getAnnotFiles(kDoc, false);
    ASSERT_TRUE(members) << r.cg->getError();
    ASSERT_EQ(members->size(), 1u);
    EXPECT_TRUE(annoNamesEqual((*members)[0].szFName, "1551-ABC10101Uen.A.3"));
    EXPECT_EQ((*members)[0].usize, 52u);
    const auto records = r.store->getAnnotations(kDoc, true);
    ASSERT_TRUE(records) << r.cg->getError();
    ASSERT_EQ(records->size(), 1u);
    EXPECT_EQ(encodeAnnoRecord((*records)[0], false), encodeAnnoRecord(record("Text"), false));

    AnnoStruct again = record("new");
    EXPECT_EQ(r.store->putAnnotation(kDoc, again, true), kAnnoJoined);
    EXPECT_EQ(again.text, "Text\r\n- - - - -\r\nnew");
    EXPECT_EQ(r.store->memberVersion(), annoVersionOf(encodeAnnoRecord(record("Text"), false)));
}

// A form's version against the stored member, then the removal of the
// archive's last member.
TEST_F(AnnotationDaemon, VersionsThenRemoveTheLastMember) {
    Request r(server);
    AnnoStruct stored;
    ASSERT_EQ(r.store->getAnnotation(kDoc, "3", &stored), AnnoRead::kFound) << r.cg->getError();
    const std::string first = r.store->memberVersion();
    const std::string stale = "0badf00d";
    AnnoStruct second = record("second");
    EXPECT_EQ(r.store->putAnnotation(kDoc, second, false, &stale), kAnnoJoined);
    EXPECT_EQ(second.text, "Text\r\n- - - - -\r\nsecond");
    second = record("second");
    EXPECT_EQ(r.store->putAnnotation(kDoc, second, false, &first), kAnnoDone) << r.cg->getError();
    EXPECT_EQ(r.store->removeAnnotation(kDoc, "3", &first), kAnnoChanged);
    ASSERT_EQ(r.store->getAnnotation(kDoc, "3", &stored), AnnoRead::kFound) << r.cg->getError();
    EXPECT_EQ(stored.text, "second");
    const std::string now = r.store->memberVersion();
    EXPECT_EQ(r.store->removeAnnotation(kDoc, "3", &now), kAnnoDone) << r.cg->getError();
    EXPECT_EQ(r.store->getAnnotation(kDoc, "3", &stored), AnnoRead::kAbsent);
    EXPECT_EQ(r.cg->getError(), "");
    EXPECT_EQ(r.store->removeAnnotation(kDoc, "3"), kAnnoFailed);
}

// The empty archive that is left is still catalogued and takes the next.
TEST_F(AnnotationDaemon, EmptyArchiveListsNothingAndTakesTheNext) {
    Request r(server);
    const auto records = r.store->getAnnotations(kDoc, true);
    ASSERT_TRUE(records) << r.cg->getError();
    EXPECT_TRUE(records->empty());
    AnnoStruct as = record("again", "0");
    EXPECT_EQ(r.store->putAnnotation(kDoc, as, true), kAnnoDone) << r.cg->getError();
}

// Members another writer left (annotation_daemon_test.py's FOREIGN): each
// field from its own member's bytes, in display order.
TEST_F(AnnotationDaemon, ForeignMembers) {
    Request r(server);
    const auto records = r.store->getAnnotations(kDoc, false);
    ASSERT_TRUE(records) << r.cg->getError();
    std::vector<std::string> rows;
    for (const AnnoStruct& as : *records) {
        rows.push_back(as.header + "|" + as.user + "|" + std::to_string(as.text.size()) + "|" + as.chapter +
                       "|" + as.docrev);
    }
    EXPECT_EQ(rows,
              (std::vector<std::string>{"Hdr|Ann|4|3|A", "Hdr|Ann|4|4|A", "Hdr|Ann|2000|5|A", "Hdr||0||",
                                        "Hdr|Ann|4||", "x|" + std::string(18, 'z') + "|0||"}));
}

}  // namespace
}  // namespace ruva
