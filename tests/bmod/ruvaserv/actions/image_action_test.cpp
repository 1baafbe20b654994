// IMAGE run in process: the header lines and the member's bytes on the CGI
// output, and the failures that leave the output to the error page.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

// A GIF's first bytes with a NUL, a blank line and a lone CR: string
// functions would stop or mangle them.
const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\n\n\r;", 17);
const std::string kLibrary = test::mlReply(test::dbLine("images.kvo", 4242, "Images"));

std::string sentFor(const std::string& member) {
    return "VER\nMLLIST 12\nCONTV 12 " + member + "\nRETR 4242 " + member + "\n";
}

TEST(ImageAction, WritesHeaderAndMemberBytesExactly) {
    struct {
        const char* name;
        std::string member;
        size_t flags;  // added to the request's
        std::string head;
    } const cases[] = {
        {"a GIF", "logo.gif", 0, "Content-Length: 17\nContent-type: image/gif\n\n"},
        {"a name without a dot", "readme", 0,
         "Content-Length: 17\nContent-type: application/octet-stream\n\n"},
        {"an extension no row names", "blob.xyz", 0,
         "Content-Length: 17\nContent-type: application/octet-stream\n\n"},
        // lighttpd drops the body of a HEAD answer itself.
        {"HEAD still gets the body", "logo.gif", kCgiHeadRequest,
         "Content-Length: 17\nContent-type: image/gif\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg(
            {.replies = {test::verLine(), kLibrary, test::contvReply("4242", {{kGif.size(), c.member}}),
                         test::retrReply(c.member, kGif)},
             .fields = {{"ID", "12"}, {"FN", c.member}}});
        ASSERT_TRUE(cg.ok());
        cg->expirePeriod = 0;
        cg->flags |= c.flags;
        EXPECT_EQ(cg.handler().imageAction(), 1);
        EXPECT_EQ(cg.handler().getError(), "");
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(cg.written(), c.head + kGif);
        EXPECT_EQ(cg.sent(), sentFor(c.member));
    }
}

TEST(ImageAction, ExpiresLineStandsBetweenLengthAndTypeUnlessSwitchedOff) {
    for (bool noExpires : {false, true}) {
        SCOPED_TRACE(noExpires ? "flag 0x80" : "expiry period");
        ActionRequest cg(
            {.replies = {test::verLine(), kLibrary, test::contvReply("4242", {{kGif.size(), "logo.gif"}}),
                         test::retrReply("logo.gif", kGif)},
             .fields = {{"ID", "12"}, {"FN", "logo.gif"}}});
        ASSERT_TRUE(cg.ok());
        cg->expirePeriod = 600;
        if (noExpires) cg->flags |= kCgiNoExpires;
        const time_t before = std::time(nullptr);
        EXPECT_EQ(cg.handler().imageAction(), 1);
        const time_t after = std::time(nullptr);
        const std::string written = cg.written();
        if (noExpires) {
            EXPECT_EQ(written, "Content-Length: 17\nContent-type: image/gif\n\n" + kGif);
            continue;
        }
        // The date of some second the action ran in, plus the period.
        bool matched = false;
        for (time_t t = before; t <= after && !matched; ++t) {
            matched = written == "Content-Length: 17\nExpires: " + *CgiHandler::createHttpTime(t + 600) +
                                     "\nContent-type: image/gif\n\n" + kGif;
        }
        EXPECT_TRUE(matched) << written.substr(0, written.size() - kGif.size());
    }
}

// Each failure writes nothing, so the error page is the one answer.
TEST(ImageAction, FailuresLeaveTheOutputEmpty) {
    const std::string longName(3000, 'x');
    const std::string noFn = formatChecked(msgFormat(12, "kivohandler/4"));
    auto notFound = [](const std::string& shown) {
        return formatChecked(msgFormat(11, "kivohandler/3"), shown);
    };
    struct {
        const char* name;
        std::vector<std::string> replies;
        test::Fields fields;
        std::string error;
        std::string sent;
    } const cases[] = {
        {"no FN", {test::verLine()}, {{"ID", "12"}}, noFn, "VER\n"},
        {"an empty FN", {test::verLine()}, {{"ID", "12"}, {"FN", ""}}, noFn, "VER\n"},
        {"a member the library lacks",
         {test::verLine(), kLibrary, test::contvReply("12", {})},
         {{"ID", "12"}, {"FN", "gone.gif"}},
         notFound("gone.gif"),
         "VER\nMLLIST 12\nCONTV 12 gone.gif\n"},
        {"a path out of the library",
         {test::verLine(), kLibrary, test::contvReply("12", {})},
         {{"ID", "12"}, {"FN", "../x"}},
         notFound("../x"),
         "VER\nMLLIST 12\nCONTV 12 ../x\n"},
        {"a line end is never sent",
         {test::verLine()},
         {{"ID", "12"}, {"FN", "a\nb"}},
         notFound("a\nb"),
         "VER\n"},
        {"markup in the name is shown as text",
         {test::verLine(), kLibrary, test::contvReply("12", {})},
         {{"ID", "12"}, {"FN", "a'b"}},
         notFound("a&#39;b"),
         "VER\nMLLIST 12\nCONTV 12 a&#39;b\n"},
        {"a long name is shown cut",
         {test::verLine(), kLibrary, test::contvReply("12", {})},
         {{"ID", "12"}, {"FN", longName}},
         notFound(std::string(200, 'x') + "..."),
         "VER\nMLLIST 12\nCONTV 12 " + longName + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().imageAction(), 0);
        EXPECT_EQ(cg.handler().getError(), c.error);
        EXPECT_FALSE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

TEST(ImageAction, RefusedSessionLeavesItsReasonInTheRequest) {
    ActionRequest cg({.replies = {"500 Unknown command\n"}, .fields = {{"ID", "12"}, {"FN", "logo.gif"}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().imageAction(), 0);
    EXPECT_EQ(cg.handler().getError(), "");
    EXPECT_NE(cg->getError(), "");
    EXPECT_EQ(cg.written(), "");
    EXPECT_EQ(cg.sent(), "VER\n");
}

}  // namespace
}  // namespace ruva
