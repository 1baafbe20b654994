// The annotation marks of document pages: the chapter anchors the walk
// matches, and what the real post-processing pass weaves into a page over
// a scripted document server.
#include "bmod/ruvaserv/actions/kvo_srv_annot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/actions/anno_peer.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"

namespace ruva {
namespace {

using namespace annotest;
using AnnotationMarksTest = AnnoWaits;

std::string listedName(const std::string& chapter) {
    return "1551-abc10101uen.a." + chapter;
}

std::vector<Listed> listing(const std::vector<std::string>& chapters) {
    std::vector<Listed> members;
    for (const std::string& chapter : chapters) members.push_back({listedName(chapter), 52});
    return members;
}

constexpr char kListLine[] = "VER\nCONTV \"annot.anx\" 1551-ABC10101Uen.A.*\n";

TEST_F(AnnotationMarksTest, ChapterAnchorsSetTheReferenceAndMatchTheNextMember) {
    struct {
        const char* tag;
        int result;
        const char* chapRef;
    } const cases[] = {
        {" name=\"CHAPTER3\">Three</a>", 1, "3"},
        // The member 3 sorts before 3.1 and is passed over.
        {" NAME=chapter3.1>Three</a>", 1, "3.1"},
        {" name=\"TITLE\"></a>", 1, "ALL"},
        {" name=TITLE2></a>", 0, "A2"},
        {" name=\"CHAPTER3\"", 0, ""},
        {" id=\"CHAPTER3\">", 0, ""},
        {" name=\"CHAPTERX\">", 0, ""},
        {" href=\"#x\">name=\"CHAPTER3\"", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        test::ActionRequest request(
            {Daemon().answer(test::verLine()).answer(contv(listing({"3", "3.1"}))).done()}, {});
        ASSERT_TRUE(request.ok());
        std::unique_ptr<KvoSrvAnnot> made = newKvoSrvAnnot(kDoc, *request);
        ASSERT_TRUE(made);
        ASSERT_EQ(made->status, 0);
        auto& marks = static_cast<AnnotationMarks&>(*made);
        EXPECT_EQ(marks.checkNameAttr(c.tag), c.result);
        EXPECT_EQ(marks.currChapRef(), c.chapRef);
    }
}

TEST_F(AnnotationMarksTest, ReferenceIsCutAt255Characters) {
    test::ActionRequest request({Daemon().answer(test::verLine()).answer(contv(listing({"1"}))).done()}, {});
    ASSERT_TRUE(request.ok());
    std::unique_ptr<KvoSrvAnnot> made = newKvoSrvAnnot(kDoc, *request);
    ASSERT_TRUE(made);
    auto& marks = static_cast<AnnotationMarks&>(*made);
    EXPECT_EQ(marks.checkNameAttr(" name=\"TITLE" + std::string(300, '9') + "\">"), 0);
    EXPECT_EQ(marks.currChapRef(), "A" + std::string(254, '9'));
    EXPECT_EQ(marks.checkNameAttr(" name=\"CHAPTER" + std::string(300, '1') + "\">"), 0);
    EXPECT_EQ(marks.currChapRef(), std::string(255, '1'));
    // Every member is used up now: the reference is cleared.
    EXPECT_EQ(marks.checkNameAttr(" name=\"CHAPTER1\">"), 0);
    EXPECT_EQ(marks.currChapRef(), "");
}

TEST_F(AnnotationMarksTest, TitleTakesOnlyAWholeDocumentMemberStillNext) {
    test::ActionRequest request({Daemon().answer(test::verLine()).answer(contv(listing({"1", "0"}))).done()},
                                {});
    ASSERT_TRUE(request.ok());
    std::unique_ptr<KvoSrvAnnot> made = newKvoSrvAnnot(kDoc, *request);
    ASSERT_TRUE(made);
    auto& marks = static_cast<AnnotationMarks&>(*made);
    for (int title = 0; title < 2; ++title) {
        SCOPED_TRACE(title);
        EXPECT_EQ(marks.checkNameAttr(" name=\"TITLE\">"), 1);
        EXPECT_EQ(marks.currChapRef(), "ALL");
    }
    // The second title anchor left chapter 1's member to its heading.
    EXPECT_EQ(marks.checkNameAttr(" name=\"CHAPTER1\">"), 1);
}

TEST_F(AnnotationMarksTest, StatusByNameAndListing) {
    struct {
        const char* name;
        std::string docname;
        std::vector<std::string> replies;  // none: nothing may be sent
        int status;
        size_t members;
    } const cases[] = {
        {"members", kDoc, {contv(listing({"10", "2"}))}, 0, 2},
        {"no archive", kDoc, {kEmptyContv}, -1, 0},
        {"no member", kDoc, {contv({})}, -1, 0},
        {"being updated", kDoc, {k577}, -1, 0},
        {"toolbar page", "kivotbar.html", {}, -1, 0},
        {"one dot", "stem.html", {}, -1, 0},
        {"pattern", "*.A.html", {}, -1, 0},
        {"option", "-h.A.html", {}, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Daemon d;
        if (!c.replies.empty()) d.answer(test::verLine());
        for (const std::string& reply : c.replies) d.answer(reply);
        test::ActionRequest request({d.done()}, {});
        ASSERT_TRUE(request.ok());
        request->setError("%s", "before");
        std::unique_ptr<KvoSrvAnnot> made = newKvoSrvAnnot(c.docname, *request);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->status, c.status);
        EXPECT_EQ(static_cast<AnnotationMarks&>(*made).members().size(), c.members);
        // A page being served keeps its error text.
        EXPECT_EQ(request->getError(), "before");
        EXPECT_EQ(request.sent(), c.replies.empty() ? "" : kListLine);
    }
}

// ---- the walk through the post-processing pass

const std::string kPage =
    "<html><head><title>Doc</title>\n</head><body>\n<!--@BODY-->\n"
    "<h1><a name=\"TITLE\"></a>The document</h1>\n<p>Intro.</p>\n"
    "<h2><a name=\"CHAPTER1\"></a>One</h2>\n<p>First.</p>\n"
    "<h2><a name=\"CHAPTER2\"></a>Two</h2>\n<p>Second.</p>\n"
    "<h2><a name=\"CHAPTER3\"></a>Three</h2>\n<p>Third.</p>\n"
    "</body></html>\n";

struct Served {
    std::string page;
    std::string prefix;  // the front end's address prefix of woven links
    std::string sent;    // what the server received
};

// kPage served for FN kDoc (and AN when given) with an annotation archive
// listing chapters; each chapter in boxes is read in that order.
Served serve(const std::vector<std::string>& chapters, const char* an,
             const std::vector<std::string>& boxes) {
    Daemon d;
    d.answer(test::verLine()).answer(chapters.empty() ? kEmptyContv : contv(listing(chapters)));
    for (const std::string& chapter : boxes) {
        AnnoStruct as = record("Note " + chapter, chapter);
        as.header = "H" + chapter;
        d.answer(retr(listedName(chapter), bytesOf(as)));
    }
    test::Fields fields = {{"AC", "LINK"}, {"FN", kDoc}};
    if (an) fields.push_back({"AN", an});
    test::ActionRequest request({d.done()}, {.fields = fields});
    Served served;
    if (!request.ok()) return served;
    request->annotFactory = &newKvoSrvAnnot;
    test::setHeapPage(*request, kPage);
    served.page = request.postProcessed();
    served.prefix = request->urlProto + request->kivoServName + "?";
    served.sent = request.sent();
    return served;
}

// The marks woven into page, each as "<anchor before it>: <what>", after
// checking that the page outside them equals plain.
std::vector<std::string> marksIn(const Served& served, const std::string& plain) {
    const std::string& page = served.page;
    const std::string iconStart = "<a href=\"" + served.prefix;
    const std::string iconImage = "\"><img src=\"" + served.prefix + "AC=TBIMG&amp;IM=1\" border=\"0\"";
    const std::string boxStart = "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\"";
    const std::string scriptStart = "<script type=\"text/javascript\">\n<!--\nvar kvTexts";
    std::vector<std::string> marks;
    size_t i = 0, j = 0;
    while (i < page.size()) {
        std::string what;
        size_t end = std::string::npos;
        if (page.compare(i, iconStart.size(), iconStart) == 0) {
            const size_t image = page.find(iconImage, i);
            end = page.find("/></a>", i);
            if (image == std::string::npos || end == std::string::npos || image > end) break;
            what = "icon " + page.substr(i + iconStart.size(), image - i - iconStart.size());
            end += 6;
        } else if (page.compare(i, boxStart.size(), boxStart) == 0) {
            const size_t bold = page.find("<b>", i);
            end = page.find("</table>\n", i);
            if (bold == std::string::npos || end == std::string::npos) break;
            what = "box " + page.substr(bold + 3, page.find("</b>", bold) - bold - 3);
            end += 9;
        } else if (page.compare(i, scriptStart.size(), scriptStart) == 0) {
            end = page.find("</script>\n", i);
            if (end == std::string::npos) break;
            what = "openAnEd script";
            end += 10;
        }
        if (end != std::string::npos) {
            const size_t name = plain.rfind("name=\"", j);
            const std::string anchor = name == std::string::npos
                                           ? "head"
                                           : plain.substr(name + 6, plain.find('"', name + 6) - name - 6);
            marks.push_back(anchor + ": " + what);
            i = end;
            continue;
        }
        if (j >= plain.size() || page[i] != plain[j]) {
            ADD_FAILURE() << "differs at " << i << ": " << page.substr(i, 60)
                          << "\nplain: " << plain.substr(j, 60);
            return marks;
        }
        ++i;
        ++j;
    }
    EXPECT_EQ(i, page.size()) << "a mark is cut: " << page.substr(i, 80);
    EXPECT_EQ(j, plain.size());
    return marks;
}

TEST_F(AnnotationMarksTest, WalkOverAPageWeavesIconsAndBoxesAtTheirHeadings) {
    const Served plain = serve({}, nullptr, {});
    ASSERT_NE(plain.page, "");
    EXPECT_EQ(plain.sent, kListLine);
    const std::string doc = "FN=1551-ABC10101Uen.A.html&amp;AN=";
    struct {
        const char* name;
        std::vector<std::string> chapters;
        const char* an;
        std::vector<std::string> boxes;
        std::vector<std::string> marks;
    } const cases[] = {
        {"members 1 and 3",
         {"3", "1"},
         nullptr,
         {},
         {"head: openAnEd script", "TITLE: icon " + doc + "ALL#CHAPTER1",
          "CHAPTER1: icon " + doc + "1#CHAPTER1", "CHAPTER3: icon " + doc + "3#CHAPTER3"}},
        {"AN=3",
         {"1", "3"},
         "3",
         {"3"},
         {"head: openAnEd script", "TITLE: icon " + doc + "ALL#CHAPTER1",
          "CHAPTER1: icon " + doc + "1#CHAPTER1", "CHAPTER3: box H3"}},
        {"AN=ALL",
         {"1", "3"},
         "ALL",
         {"1", "3"},
         {"head: openAnEd script", "CHAPTER1: box H1", "CHAPTER3: box H3"}},
        {"a whole-document member: the title links to the top",
         {"0", "1", "3"},
         nullptr,
         {},
         {"head: openAnEd script", "TITLE: icon " + doc + "ALL", "CHAPTER1: icon " + doc + "1#CHAPTER1",
          "CHAPTER3: icon " + doc + "3#CHAPTER3"}},
        {"a whole-document member with AN=ALL",
         {"0", "1", "3"},
         "ALL",
         {"0", "1", "3"},
         {"head: openAnEd script", "TITLE: box H0", "CHAPTER1: box H1", "CHAPTER3: box H3"}},
        {"a member no heading carries hides no later one",
         {"1", "2.99", "3"},
         nullptr,
         {},
         {"head: openAnEd script", "TITLE: icon " + doc + "ALL#CHAPTER1",
          "CHAPTER1: icon " + doc + "1#CHAPTER1", "CHAPTER3: icon " + doc + "3#CHAPTER3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Served served = serve(c.chapters, c.an, c.boxes);
        ASSERT_NE(served.page, "");
        EXPECT_EQ(marksIn(served, plain.page), c.marks);
        std::string reads;
        for (const std::string& chapter : c.boxes)
            reads += "RETR \"annot.anx\" " + listedName(chapter) + "\n";
        EXPECT_EQ(served.sent, kListLine + reads);
    }
}

TEST_F(AnnotationMarksTest, ToolbarPageGetsTheButtonImagesAndCell) {
    const std::string page =
        "<html><head><script type=\"text/javascript\">\nfunction chg(a,b){}\n    zmainchg = new Image "
        "(34,34);\n"
        "</script></head><body><table><tr><td width=\"34\">a</td>\n<td width=\"34\">b</td></tr></table>"
        "</body></html>\n";
    test::ActionRequest request({Daemon().done()}, {.fields = {{"AC", "LINK"}, {"FN", "kivotbar.html"}}});
    ASSERT_TRUE(request.ok());
    request->annotFactory = &newKvoSrvAnnot;
    test::setHeapPage(*request, page);
    const std::string shown = request.postProcessed();
    const std::string p = request->urlProto + request->kivoServName + "?";
    const std::string variables =
        "zannchg = new Image (34,34);\n    zannchg.src = \"" + p +
        "VR=R19K&AC=TBIMG&IM=15\";\n    annchg = new Image (34,34);\n    annchg.src = \"" + p +
        "VR=R19K&AC=TBIMG&IM=14\";\n    ";
    const std::string button = "<td width=\"34\" valign=\"center\">\n\n<a href='javascript:openAnEd(\"" + p +
                               "AC=ANNOED&AN=NEW\")' onMouseOver=\"chg('annot','zannchg'); status='Add an "
                               "annotation to this document'; "
                               "return true; \" onMouseOut=\"chg('annot','annchg')\"><img width=\"34\" "
                               "height=\"34\" border=\"0\" src=\"" +
                               p +
                               "VR=R19K&AC=TBIMG&IM=14\" name=\"annot\" alt=\"Annotation\" /></a>\n</TD>\n";
    EXPECT_NE(shown.find("\n    " + variables + "zmainchg = new Image"), std::string::npos) << shown;
    EXPECT_NE(shown.find("<td width=\"34\">a</td>\n" + button + "<td width=\"34\">b</td>"), std::string::npos)
        << shown;
    // The toolbar is no document: no listing.
    EXPECT_EQ(request.sent(), "");
}

}  // namespace
}  // namespace ruva
