// The annotation pages: the annotations table, the box, the edit form in
// its three kinds and what stored or requested values become in them.
#include "bmod/ruvaserv/actions/annotation_fmt.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/actions/anno_peer.h"

namespace ruva {
namespace {

using namespace annotest;
using AnnotationPages = AnnoWaits;

// A page writer over a request whose server plays script.
struct PageRun {
    explicit PageRun(PeerScript script, const test::Fields& fields = {})
        : request({std::move(script)}, {.fields = fields}) {
        if (request.cg()) request->commandTimeout = 1;
        store = newAnnotation(request.cg());
        ao = newKvoOutput(0);
        ao->kvoSetOutput(request.cg(), KVO_OUT_INTERNAL);
        fmt = newAnnotationFmt(store.get(), ao.get());
    }
    bool ok() const { return request.ok() && store && fmt; }
    std::string page() const { return request.page(); }

    test::ActionRequest request;
    std::unique_ptr<Annotation> store;
    std::unique_ptr<KvoOutput> ao;
    std::unique_ptr<AnnotationFmt> fmt;
};

// Positions of the texts in page, in order; npos for a missing one.
bool inOrder(const std::string& page, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
        at = page.find(text, at);
        if (at == std::string::npos) return false;
        at += text.size();
    }
    return true;
}

TEST_F(AnnotationPages, TableListsRevisionsDownThenChaptersUp) {
    const std::vector<std::pair<std::string, std::string>> stored = {
        {"A", "10"}, {"B", "9"}, {"A", "2"}, {"B", "0"}, {"B", "10"}, {"A", "0"}, {"B", "2"}, {"A", "9"},
    };
    std::vector<Listed> listed;
    for (const auto& [rev, chapter] : stored)
        listed.push_back({"1551-abc10101uen." + rev + "." + chapter, 52});
    Daemon d;
    d.answer(test::verLine()).answer(contv(listed));
    for (const auto& [rev, chapter] : stored) {
        AnnoStruct as = record("text " + rev + chapter, chapter, rev);
        as.header = "head" + rev + chapter;
        d.answer(retr("1551-abc10101uen." + rev + "." + chapter, bytesOf(as)));
    }
    PageRun run(d.done());
    ASSERT_TRUE(run.ok());
    ASSERT_EQ(run.fmt->getAnnotationDoc(kDoc, ""), 0);
    const std::string page = run.page();
    EXPECT_TRUE(inOrder(page, {"<title>Annotations for 1551-ABC 101 01 Uen</title>", "headB0", "headB2",
                               "headB9", "headB10", "headA0", "headA2", "headA9", "headA10"}))
        << page;
    // The revision heads its group, bold for the document's own; section 0
    // shows as an empty cell.
    EXPECT_TRUE(inOrder(page, {"<font color=\"#ee4444\">B</font></td><td></td><td>Ann</td>",
                               "<font color=\"#ee4444\"><b>A</b></font></td><td></td><td>Ann</td>"}));
    EXPECT_NE(page.find("<td class=\"annorev\"></td><td>2</td><td>Ann</td><td><a href=\"qzl:/kivo?FN="
                        "1551-ABC10101Uen.A.html#CHAPTER2\">headB2</a></td>\n<td>2026-12-11</td>"),
              std::string::npos);
    // Each row is edited in its own revision's document.
    EXPECT_NE(page.find("openAnEd(\"qzl:/kivo?FN=1551-ABC10101Uen.B.html&AC=ANNOED&AN=10\")"),
              std::string::npos);
    EXPECT_NE(page.find("openAnEd(\"qzl:/kivo?FN=1551-ABC10101Uen.A.html&AC=ANNOED&AN=9\")"),
              std::string::npos);
    EXPECT_NE(page.find("<i>Comment:</i></td><td colspan=\"4\" class=\"annotext\">text A9</td>"),
              std::string::npos);
    EXPECT_EQ(page.find("No annotations made"), std::string::npos);
    EXPECT_TRUE(page.ends_with("</table>\n</body></html>\n"));
}

TEST_F(AnnotationPages, EditLinksKeepTheWholeStem) {
    const std::string stem(80, 'x');
    struct {
        std::string docname;
        std::string link;
    } const cases[] = {
        {stem + ".A.html", "FN=" + stem + ".B.html&AC=ANNOED&AN=3"},
        {"stem.A", "FN=stem.B&AC=ANNOED&AN=3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.docname);
        PageRun run(Daemon().done());
        ASSERT_TRUE(run.ok());
        ASSERT_EQ(run.ao->kvoOpenOutput(1024), kKvoOpenOk);
        run.fmt->formatAnnoTable(c.docname, {record("t", "3", "B")}, "");
        EXPECT_NE(run.page().find("openAnEd(\"qzl:/kivo?" + c.link + "\")"), std::string::npos) << run.page();
    }
}

TEST_F(AnnotationPages, StoredAndRequestedValuesStayText) {
    const std::vector<std::string> hostile = {
        "<img src=x onerror=window.__x=1>",
        "\"'><script>window.__x=1</script>",
        "</textarea><script>window.__x=1</script>",
        "x\");window.__x=1;//",
    };
    // What none of the pages may hold: markup or a string's end from a value.
    const std::vector<std::string> forbidden = {
        "<img src=x", "<script>window", "</textarea><script", "x\");window", "'><", "\"'>"};
    for (const std::string& value : hostile) {
        SCOPED_TRACE(value);
        PageRun run(Daemon().done(),
                    {{"FN", kDoc}, {"DB", "x\");window.__x=1;//"}, {"ID", "x\");window.__x=1;//"}});
        ASSERT_TRUE(run.ok());
        const AnnoStruct as = newAnnoStruct(value, value, value, value, value, value, value, "HTMLTEXT");
        ASSERT_EQ(run.fmt->getUpdateForm(kDoc, "3", &as), 0);
        std::string page = run.page();
        ASSERT_EQ(run.ao->kvoOpenOutput(4096), kKvoOpenOk);
        run.fmt->formatAnnoTable(kDoc, {as}, "");
        run.fmt->formatAnnotation(kDoc, as);
        run.fmt->formatAnnotationGif("", kDoc, value, "0");
        page += run.page();
        for (const std::string& f : forbidden)
            EXPECT_EQ(page.find(f), std::string::npos) << f << "\n" << page;
        // The page's own script element only.
        EXPECT_EQ(page.find("<script", page.find("<script") + 1), std::string::npos);
    }
    // References show as the characters they stand for; a bare '&' stays.
    for (const std::string value : {"&lt;b&gt;", "&#8364;", "a & b"}) {
        SCOPED_TRACE(value);
        PageRun run(Daemon().done());
        ASSERT_TRUE(run.ok());
        ASSERT_EQ(run.ao->kvoOpenOutput(4096), kKvoOpenOk);
        run.fmt->formatAnnotation(kDoc, newAnnoStruct(value, "u", value, "3", "d", "t", "A", "HTMLTEXT"));
        EXPECT_NE(run.page().find("<b>" + value + "</b>"), std::string::npos);
        EXPECT_NE(run.page().find("<td colspan=\"2\">" + value + "</td>"), std::string::npos);
    }
}

// Every page's script elements parse, the edit window's among them.
TEST_F(AnnotationPages, ScriptsParse) {
    PageRun run(Daemon().done(), {{"FN", kDoc}, {"DB", "x\");window.__x=1;//"}});
    ASSERT_TRUE(run.ok());
    const AnnoStruct as = record("x\");window.__x=1;//", "3");
    ASSERT_EQ(run.fmt->getUpdateForm(kDoc, "3", &as), 0);
    EXPECT_EQ(test::checkPageScripts(run.page()), 1);
    ASSERT_EQ(run.fmt->generateOKresponse(), 0);
    EXPECT_EQ(test::checkPageScripts(run.page()), 1);
    ASSERT_EQ(run.ao->kvoOpenOutput(4096), kKvoOpenOk);
    run.fmt->insertJavaScript();
    EXPECT_EQ(test::checkPageScripts(run.page()), 1);
    EXPECT_NE(run.page().find("kvTexts[22] = 'Annotations cannot be made until"), std::string::npos);
}

// openAnEd in node: from the toolbar it checks the document shown (its
// glDocHref) and joins its file name; elsewhere it opens what it is given.
TEST_F(AnnotationPages, EditWindowOpener) {
    PageRun run(Daemon().done());
    ASSERT_TRUE(run.ok());
    ASSERT_EQ(run.ao->kvoOpenOutput(4096), kKvoOpenOk);
    run.fmt->insertJavaScript();
    test::TempDir dir;
    const std::string file = dir.file("opener.html");
    test::writeFile(file, run.page());
    const std::string form = "http://h/kivo?AC=ANNOED&AN=NEW";
    const std::string opened = R"({"fn":"window.open","args":[")";
    struct {
        const char* name;
        std::string globals;
        std::string result;  // in the runner's JSON
    } const cases[] = {
        {"not loaded", R"({"name": "kivotbar"})",
         R"("alerts":["Annotations cannot be made until the document is completely loaded)"},
        {"help", R"({"name": "kivotbar", "glDocHref": "http://h/kivo?FN=kivo_help.khx"})",
         R"("alerts":["Annotations cannot be made on Help documents."])"},
        {"list", R"({"name": "kivotbar", "glDocHref": "http://h/kivo?AC=SEARCH&PA=x"})",
         R"("alerts":["Annotations cannot be made on document lists."])"},
        {"one dot", R"({"name": "kivotbar", "glDocHref": "http://h/kivo?fn=index.html"})",
         R"("alerts":["Annotations cannot be made on document lists."])"},
        {"document",
         R"({"name": "kivotbar", "glDocHref": "http://h/kivo?ID=1&FN=1551-ABC10101Uen.A.html#CHAPTER2"})",
         opened + form + R"(&FN=1551-ABC10101Uen.A.html","annoed",)"},
        {"page", R"({"name": "kivodoc"})", opened + form + R"(","annoed",)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string options =
            R"({"globals": )" + c.globals + R"x(, "calls": ["openAnEd(\")x" + form + R"x(\")"]})x";
        const std::string out =
            test::capture("node " RUVA_PAGE_SCRIPT_RUNNER " " + file + " '" + options + "' 2>&1");
        EXPECT_NE(out.find(c.result), std::string::npos) << out;
        EXPECT_NE(out.find(R"("errors":[])"), std::string::npos) << out;
    }
}

TEST_F(AnnotationPages, MarksLinkToTheirChapter) {
    struct {
        const char* chapRef;
        const char* first;
        std::string href;
        const char* alt;
    } const cases[] = {
        {"3", "1", "FN=1551-ABC10101Uen.A.html&amp;AN=3#CHAPTER3", "Show this annotation"},
        {"ALL", "2", "FN=1551-ABC10101Uen.A.html&amp;AN=ALL#CHAPTER2", "Show all annotations"},
        {"ALL", "0", "FN=1551-ABC10101Uen.A.html&amp;AN=ALL", "Show all annotations"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chapRef + std::string("/") + c.first);
        PageRun run(Daemon().done());
        ASSERT_TRUE(run.ok());
        ASSERT_EQ(run.ao->kvoOpenOutput(1024), kKvoOpenOk);
        run.fmt->formatAnnotationGif("", kDoc, c.chapRef, c.first);
        EXPECT_EQ(run.page(),
                  "<a href=\"qzl:/kivo?" + c.href +
                      "\"><img src=\"qzl:/kivo?AC=TBIMG&amp;IM=1\" border=\"0\" align=\"right\" alt=\"" +
                      c.alt + "\" /></a>");
    }
}

}  // namespace
}  // namespace ruva
