// The annotation action over a scripted document server: which requests
// send nothing, the commands each road sends and the page or message it
// ends with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/actions/anno_peer.h"

namespace ruva {
namespace {

using namespace annotest;
using AnnotationAction = AnnoWaits;

const std::string kContvMember = "CONTV \"annot.anx\" " + kMember + "\n";
const std::string kReadLines = "VER\nLIST \"annot.anx\"\n" + kContvMember;
const std::string kRetrLine = "RETR \"annot.anx\" " + kListed + "\n";

struct ActionRun {
    ActionRun(PeerScript script, const test::Fields& fields)
        : request({std::move(script)}, {.fields = fields}) {
        if (request.cg()) request->commandTimeout = 1;
    }
    int run(const std::string& word) { return request.handler().annotAction(word); }
    std::string received() { return request.peer().received(0); }
    std::string message(int index, const char* tag) { return formatChecked(request->msg(index, tag)); }
    std::string error() const { return request->getError(); }

    test::ActionRequest request;
};

test::Fields withDoc(test::Fields fields) {
    fields.insert(fields.begin(), {"FN", kDoc});
    return fields;
}

TEST_F(AnnotationAction, RefusedRequestsSendNothing) {
    const std::string longName = std::string(296, 'a') + ".A.html";
    struct {
        const char* word;
        test::Fields fields;
        int message;
        const char* tag;
    } const cases[] = {
        {"ANNOTS", {}, 130, "annotact/4"},
        {"ANNOTS", {{"FN", "*"}}, 463, "annotact/14"},
        {"ANNOTS", {{"FN", "-h.A.html"}}, 463, "annotact/14"},
        {"ANNORM", {{"FN", "a b.A.html"}, {"AN", "3"}}, 463, "annotact/14"},
        {"ANNOED", {{"FN", "../x.A.html"}, {"AN", "3"}}, 463, "annotact/14"},
        {"ANNOED", {{"FN", "x\"y.A.html"}, {"AN", "3"}}, 463, "annotact/14"},
        {"ANNOTS", {{"FN", longName}}, 463, "annotact/14"},
        {"ANNOTS", {{"FN", "stem.html"}}, 465, "annotact/16"},
        {"ANNORM", withDoc({{"AN", "*"}}), 464, "annotact/15"},
        {"ANNORM", withDoc({{"AN", "1/2"}}), 464, "annotact/15"},
        {"ANNOED", withDoc({{"AN", "-h"}}), 464, "annotact/15"},
        {"ANNOUP", withDoc({{"AN", "123456789012"}, {"AU", "u"}, {"AH", "h"}}), 464, "annotact/15"},
        {"ANNOUP", withDoc({{"AN", "NEW"}, {"AU", "u"}, {"AH", "h"}}), 464, "annotact/15"},
        {"ANNOCR", withDoc({{"AN", "3a"}, {"AU", "u"}, {"AH", "h"}}), 464, "annotact/15"},
        {"ANNORM", withDoc({}), 132, "annotact/6"},
        {"ANNOUP", withDoc({{"AN", "3"}, {"AH", "h"}}), 134, "annotact/8"},
        {"ANNOCR", withDoc({{"AU", "u"}}), 136, "annotact/10"},
        {"ANNOXY", withDoc({{"AN", "3"}}), 139, "annotact/13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " " + (c.fields.empty() ? "" : c.fields[0].second));
        ActionRun run(Daemon().done(), c.fields);
        ASSERT_TRUE(run.request.ok());
        EXPECT_EQ(run.run(c.word), 0);
        EXPECT_EQ(run.error(), run.message(c.message, c.tag));
        EXPECT_EQ(run.request.peer().connections(), 0u);
    }
    // With annotations off, no word reaches the store.
    for (const char* word : {"ANNOTS", "ANNOED", "ANNOCR", "ANNOUP", "ANNORM", "ANNOXY"}) {
        SCOPED_TRACE(word);
        ActionRun run(Daemon().done(), withDoc({{"AN", "3"}, {"AU", "u"}, {"AH", "h"}}));
        ASSERT_TRUE(run.request.ok());
        run.request->flags &= ~kCgiUseAnnotation;
        EXPECT_EQ(run.run(word), 0);
        EXPECT_EQ(run.error(), run.message(466, "annotact/17"));
        EXPECT_EQ(run.request.peer().connections(), 0u);
    }
}

TEST_F(AnnotationAction, SavesEndWithQuitAndTheConfirmation) {
    const std::string stored = bytesOf(record("old"));
    struct {
        const char* name;
        const char* word;
        test::Fields fields;
        PeerScript script;
        std::string sent;  // up to the upload's line
    } cases[] = {
        {"create without an archive", "ANNOCR",
         withDoc({{"AN", "3"}, {"AU", "Ann"}, {"AH", "Hdr"}, {"AT", "t"}}),
         Daemon().answer(test::verLine()).answer(kNoArchiveList).upload(kUpdOk).answer(kQuitOk).done(),
         "VER\nLIST \"annot.anx\"\nUPDFILE annot.anx " + kMember + " "},
        {"create without the member", "ANNOCR", withDoc({{"AN", "3"}, {"AU", "Ann"}, {"AH", "Hdr"}}),
         listArchive().answer(contv({})).upload(kUpdOk).answer(kQuitOk).done(),
         kReadLines + "UPDFILE annot.anx " + kMember + " "},
        {"create at a blank-led chapter", "ANNOCR", withDoc({{"AN", " 3"}, {"AU", "Ann"}, {"AH", "Hdr"}}),
         listArchive().answer(contv({})).upload(kUpdOk).answer(kQuitOk).done(),
         "VER\nLIST \"annot.anx\"\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.0\nUPDFILE annot.anx "
         "1551-ABC10101Uen.A.0 "},
        {"update without a version", "ANNOUP", withDoc({{"AN", "3"}, {"AU", "Ann"}, {"AH", "Hdr"}}),
         Daemon().answer(test::verLine()).upload(kUpdOk).answer(kQuitOk).done(),
         "VER\nUPDFILE annot.anx " + kMember + " "},
        {"removal", "ANNORM", withDoc({{"AN", "3"}}),
         Daemon().answer(test::verLine()).answer(kRmOk).answer(kQuitOk).done(),
         "VER\nRMFILE \"annot.anx\" " + kMember + "\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRun run(std::move(c.script), c.fields);
        ASSERT_TRUE(run.request.ok());
        EXPECT_EQ(run.run(c.word), 1) << run.error();
        const std::string received = run.received();
        EXPECT_TRUE(received.starts_with(c.sent)) << received;
        EXPECT_TRUE(received.ends_with("QUIT\n")) << received;
        EXPECT_NE(run.request.page().find("Action done"), std::string::npos);
        EXPECT_EQ(run.request->mimeType, "text/html");
        EXPECT_EQ(run.request->mimeFilename, "annotupd.html");
        EXPECT_EQ(run.request->expirePeriod, 1);
    }
}

TEST_F(AnnotationAction, FailedReadsAndWritesShowTheirMessage) {
    const std::string stored = bytesOf(record("old"));
    const auto reading = [&] { return listArchive().answer(contv({{kListed, stored.size()}})); };
    struct {
        const char* name;
        const char* word;
        test::Fields fields;
        PeerScript script;
        std::string sent;
        std::string error;  // a text the message holds
        int message;
        const char* tag;
    } cases[] = {
        {"create while the archive is updated", "ANNOCR", withDoc({{"AN", "3"}, {"AU", "u"}, {"AH", "h"}}),
         listArchive().answer(k577).done(), kReadLines, "", 7, "cgihandler/43"},
        {"create whose read times out", "ANNOCR", withDoc({{"AN", "3"}, {"AU", "u"}, {"AH", "h"}}),
         reading().stall(), kReadLines + kRetrLine, "", 0, ""},
        {"edit form while the archive is updated", "ANNOED", withDoc({{"AN", "3"}}),
         listArchive().answer(k577).done(), kReadLines, "", 7, "cgihandler/43"},
        {"annotations page while the archive is updated", "ANNOTS", withDoc({}),
         Daemon().answer(test::verLine()).answer(k577).done(),
         "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.*\n", "", 7, "annotation/10"},
        {"annotations page with a member unread", "ANNOTS", withDoc({}),
         Daemon()
             .answer(test::verLine())
             .answer(contv({{"1551-abc10101uen.a.2", 52}, {kListed, 52}}))
             .answer(retr("1551-abc10101uen.a.2", stored))
             .answer("500 No such file\n")
             .done(),
         "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.*\nRETR \"annot.anx\" 1551-abc10101uen.a.2\n" + kRetrLine,
         "[annotation/9]", 0, ""},
        {"upload locked", "ANNOUP", withDoc({{"AN", "3"}, {"AU", "u"}, {"AH", "h"}}),
         Daemon()
             .answer(test::verLine())
             .upload("520-Cannot update ZIP, function locked by other user\n")
             .done(),
         "", "Cannot update ZIP, function locked by other user", 0, ""},
        {"upload refused", "ANNOUP", withDoc({{"AN", "3"}, {"AU", "u"}, {"AH", "h"}}),
         Daemon().answer(test::verLine()).upload("500-ZIP file update not allowed by server\n").done(), "",
         "ZIP file update not allowed by server", 0, ""},
        {"removal busy", "ANNORM", withDoc({{"AN", "3"}}),
         Daemon()
             .answer(test::verLine())
             .answer("520-Cannot perform ZIP updates, the update function is busy\n")
             .done(),
         "VER\nRMFILE \"annot.anx\" " + kMember + "\n",
         "Cannot perform ZIP updates, the update function is busy", 0, ""},
        {"removal of a changed annotation", "ANNORM", withDoc({{"AN", "3"}, {"AV", "0badf00d"}}),
         Daemon().answer(test::verLine()).answer(contv({{kListed, 52}})).done(), "VER\n" + kContvMember, "",
         469, "annotact/18"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRun run(std::move(c.script), c.fields);
        ASSERT_TRUE(run.request.ok());
        EXPECT_EQ(run.run(c.word), 0);
        const std::string received = run.received();
        if (!c.sent.empty()) {
            EXPECT_EQ(received, c.sent);
        }
        // Nothing was written, and no page stands in for the failure.
        EXPECT_EQ(received.find("QUIT"), std::string::npos);
        if (std::string(c.word) != "ANNOUP") {
            EXPECT_EQ(received.find("UPDFILE"), std::string::npos);
        }
        EXPECT_NE(run.error(), "");
        if (c.message) {
            // Message 7 names the library.
            EXPECT_EQ(run.error(), c.message == 7
                                       ? formatChecked(run.request->msg(c.message, c.tag), "annot.anx")
                                       : run.message(c.message, c.tag));
        }
        if (!c.error.empty()) {
            EXPECT_NE(run.error().find(c.error), std::string::npos) << run.error();
        }
        EXPECT_EQ(run.request.page().find("edannot"), std::string::npos);
        EXPECT_EQ(run.request.page().find("No annotations made"), std::string::npos);
        EXPECT_EQ(run.request->mimeFilename, "annotupd.html");
    }
}

TEST_F(AnnotationAction, AnEmptyListingSaysSo) {
    ActionRun run(Daemon().answer(test::verLine()).answer(contv({})).done(), withDoc({}));
    ASSERT_TRUE(run.request.ok());
    EXPECT_EQ(run.run("annots"), 1) << run.error();
    EXPECT_NE(
        run.request.page().find("<tr><td colspan=\"6\">No annotations made for this document.</td></tr>"),
        std::string::npos);
}

// The three kinds of the edit form.
TEST_F(AnnotationAction, EditFormsForNewStoredAndJoinedAnnotations) {
    AnnoStruct old = record("old");
    old.header = "Old header";
    const std::string stored = bytesOf(old);
    const std::string version = annoVersionOf(stored);
    const auto storedOne = [&] {
        return listArchive().answer(contv({{kListed, stored.size()}})).answer(retr(kListed, stored)).done();
    };
    struct {
        const char* name;
        const char* word;
        test::Fields fields;
        PeerScript script;
        bool allowUz;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"new at a chapter",
         "ANNOED",
         withDoc({{"AN", "3"}}),
         listArchive().answer(contv({})).done(),
         false,
         {"<input type=\"hidden\" name=\"AC\" value=\"ANNOCR\" />",
          "<input type=\"hidden\" name=\"AV\" value=\"0\" />",
          "name=\"AN\" size=\"10\" maxlength=\"10\" value=\"3\" />",
          "Attach&nbsp;to&nbsp;section:", "<input type=\"submit\" value=\"Save\" />"},
         {"Remove", "name=\"UZ\"", "already exists"}},
        {"new from the toolbar",
         "ANNOED",
         withDoc({{"AN", "NEW"}}),
         Daemon()
             .answer(test::verLine())
             .answer(test::listReply(test::listLine("annot.anx")))
             .answer(contv({}))
             .done(),
         true,
         {"value=\"ANNOCR\"", "maxlength=\"10\" value=\"\" />",
          "<input type=\"hidden\" name=\"UZ\" value=\""},
         {"Remove"}},
        {"stored",
         "ANNOED",
         withDoc({{"AN", "3"}, {"DB", "lib"}}),
         storedOne(),
         false,
         {"<input type=\"hidden\" name=\"AC\" value=\"ANNOUP\" />",
          "<input type=\"hidden\" name=\"AV\" value=\"" + version + "\" />",
          "Attached&nbsp;to&nbsp;section:</td><td>3<input type=\"hidden\" name=\"AN\" value=\"3\" />",
          "name=\"AH\" size=\"50\" maxlength=\"250\" value=\"Old header\" />",
          "showDoc(\"qzl:/kivo?FN=1551-ABC10101Uen.A.html&amp;DB=lib\")",
          "<textarea name=\"AT\" rows=\"10\" cols=\"80\">\nold</textarea>",
          "<input type=\"submit\" value=\"Save\" />",
          "location.href=\"qzl:/kivo?AC=ANNORM&FN=1551-ABC10101Uen.A.html&AN=3&AV=" + version + "\""},
         {"already exists", "maxlength=\"10\""}},
        {"joined",
         "ANNOCR",
         withDoc({{"AN", "3"}, {"AU", "Ann"}, {"AH", "Hdr"}, {"AT", "new"}}),
         storedOne(),
         false,
         {"alert(\"An annotation already exists", "value=\"ANNOUP\"",
          "<input type=\"hidden\" name=\"AV\" value=\"" + version + "\" />",
          ">\nold\r\n- - - - -\r\nnew</textarea>", "<input type=\"submit\" value=\"Replace\" />", "Remove"},
         {"value=\"Save\""}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRun run(std::move(c.script), c.fields);
        ASSERT_TRUE(run.request.ok());
        if (c.allowUz) run.request->flags |= kCgiAllowUzOnUrl;
        EXPECT_EQ(run.run(c.word), 1) << run.error();
        const std::string page = run.request.page();
        EXPECT_NE(page.find("<form name=\"edannot\" action=\"qzl:/kivo\" method=\"post\" "
                            "onsubmit=\"return validate();\">"),
                  std::string::npos);
        EXPECT_NE(page.find("<input type=\"hidden\" name=\"FN\" value=\"" + kDoc + "\" />"),
                  std::string::npos);
        for (const std::string& text : c.present)
            EXPECT_NE(page.find(text), std::string::npos) << text << "\n" << page;
        for (const std::string& text : c.absent) EXPECT_EQ(page.find(text), std::string::npos) << text;
        EXPECT_EQ(run.received().find("UPDFILE"), std::string::npos);
    }
}

// A form built from an older version comes back with both texts.
TEST_F(AnnotationAction, AStaleUpdateComesBackJoined) {
    const std::string theirs = bytesOf(record("theirs"));
    ActionRun run(Daemon()
                      .answer(test::verLine())
                      .answer(contv({{kListed, 52, 0xcafe0001}}))
                      .answer(test::listReply(test::listLine("annot.anx")))
                      .answer(contv({{kListed, theirs.size(), 0xcafe0001}}))
                      .answer(retr(kListed, theirs))
                      .done(),
                  withDoc({{"AN", "3"}, {"AU", "Ann"}, {"AH", "Hdr"}, {"AT", "mine"}, {"AV", "0badf00d"}}));
    ASSERT_TRUE(run.request.ok());
    EXPECT_EQ(run.run("ANNOUP"), 1) << run.error();
    EXPECT_EQ(run.received().find("UPDFILE"), std::string::npos);
    const std::string page = run.request.page();
    EXPECT_NE(page.find(">\ntheirs\r\n- - - - -\r\nmine</textarea>"), std::string::npos) << page;
    EXPECT_NE(page.find("<input type=\"hidden\" name=\"AV\" value=\"" + annoVersionOf(theirs) + "\" />"),
              std::string::npos);
    EXPECT_NE(page.find("value=\"Replace\""), std::string::npos);
}

TEST_F(AnnotationAction, JapaneseDocumentsDeclareTheirCharset) {
    const std::string doc = "1551-ABC10101Uja.A.html";
    const std::string meta = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-jp\" />";
    ActionRun list(Daemon().answer(test::verLine()).answer(contv({})).done(), {{"FN", doc}});
    ASSERT_TRUE(list.request.ok());
    EXPECT_EQ(list.run("ANNOTS"), 1) << list.error();
    EXPECT_NE(list.request.page().find(meta), std::string::npos);
    ActionRun form(listArchive().answer(contv({})).done(), {{"FN", doc}, {"AN", "3"}});
    ASSERT_TRUE(form.request.ok());
    EXPECT_EQ(form.run("ANNOED"), 1) << form.error();
    EXPECT_NE(form.request.page().find(meta), std::string::npos);
}

}  // namespace
}  // namespace ruva
