#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/url_code.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view kMark = "<!--@error-->\n";
constexpr std::string_view kEndMark = "<!--@/error-->";

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// A request object whose response goes to a temporary file.
class Pages : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    // A fresh request object and output file, for each row of a table.
    void reset() {
        cg = newCgiHandler(kKivoservFlags, nullptr);
        ASSERT_TRUE(cg);
        out.reset(tmpfile());
        ASSERT_TRUE(out);
        cg->cgifile = out.get();
    }
    void TearDown() override {
        if (cg) cg->cgifile = stdout;
    }

    void setFields(const Fields& fields) {
        for (const auto& [name, value] : fields)
            ASSERT_TRUE(cg->valueList->addValue(name.c_str(), value.c_str()));
    }

    std::string written() {
        fflush(out.get());
        std::string text;
        rewind(out.get());
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, out.get())) > 0;) text.append(chunk, n);
        return text;
    }

    // The text between the error markers.
    std::string between(const std::string& page) {
        size_t from = page.find(kMark);
        size_t to = page.find(kEndMark);
        if (from == std::string::npos || to == std::string::npos || to < from) return "<no markers>";
        return page.substr(from + kMark.size(), to - from - kMark.size());
    }

    std::unique_ptr<CgiHandler> cg;
    std::unique_ptr<FILE, FileCloser> out;
};

TEST_F(Pages, ErrorPageIsTheWholeFixedPage) {
    cg->bodyAttrs = "bgcolor=\"#FFFFFF\"";
    setFields({{"SL", "x"}});
    cg->outputError(cg->msg(237, "cgihandler/34"));
    EXPECT_EQ(written(), test::readFile(RUVA_GOLDEN_DIR "/error_page.txt"));
    EXPECT_TRUE(cg->flags & kCgiResponseDone);
}

TEST_F(Pages, ErrorPageVariesWithRequest) {
    const std::string help = "<p align= \"left\"><font class=\"c2\"><small><b>For more information";
    const std::string back = "<input type=button value=\"Back\"";
    const std::string meta =
        "</title>\n<meta http-equiv=\"Content-type\" content=\"text/html; charset=euc-jp\">\n"
        "<style type='text/css'>";
    struct {
        const char* name;
        Fields fields;
        int charEnc;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } const cases[] = {
        {"no SL: no Back button", {}, 0, {"<pre>\n\n</pre><p>\n<!--@error-->\n"}, {back, help, "charset"}},
        {"SL of any value, no ST: Back button", {{"SL", ""}}, 0, {back}, {help}},
        {"ST of another kind: plain page", {{"ST", "TITLE"}, {"SL", "1"}}, 0, {back}, {help}},
        {"ST fulltext in lower case: help paragraph, no Back button",
         {{"ST", "fulltext"}, {"SL", "1"}},
         0,
         {"<!--@error-->\n<font class=\"c2\"><small>", "</small></font></p><div align= \"center\">\n" + help,
          "&FN=help.html&CH=DBsearching'",
          "?VR=R19K&DB=", " pages.</b></small></font></p></div></body></html>\n"},
         {back, "<pre>"}},
        {"ST AdvSearch", {{"ST", "ADVSEARCH"}}, 0, {help, "CH=DBsearching"}, {"LBmultiple"}},
        {"ST DocSearch links the multiple-library chapter",
         {{"ST", "docsearch"}},
         0,
         {help, "CH=LBmultiple'"},
         {}},
        {"CharEncoding adds the EUC-JP meta line", {}, 1, {meta}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setFields(c.fields);
        cg->charEnc = c.charEnc;
        cg->outputError(cg->msg(237, "cgihandler/34"));
        std::string page = written();
        EXPECT_NE(between(page).find("Missing or Invalid IM argument."), std::string::npos) << page;
        for (const auto& s : c.present) EXPECT_NE(page.find(s), std::string::npos) << s;
        for (const auto& s : c.absent) EXPECT_EQ(page.find(s), std::string::npos) << s;
    }
}

TEST_F(Pages, ErrorPageOfHeadRequestIsHeaderBlockAlone) {
    cg->flags |= kCgiHeadRequest;
    cg->outputError(cg->msg(237, "cgihandler/34"));
    EXPECT_EQ(written(), "Content-type: text/html\n\n");
    EXPECT_TRUE(cg->flags & kCgiResponseDone);
}

TEST_F(Pages, ErrorPageNeedsOutputAndAnOpenResponse) {
    cg->cgifile = nullptr;
    size_t before = cg->flags;
    cg->outputError("x");
    EXPECT_EQ(cg->flags, before);

    // A response already written gets no second page.
    cg->cgifile = out.get();
    cg->flags |= kCgiResponseDone;
    cg->outputError("second");
    EXPECT_EQ(written(), "");
}

TEST_F(Pages, LongMessageIsCutKeepingItsTagAndMarkupWhole) {
    std::string db;
    while (db.size() < 1500) db += "Lib*&#39;<b>";
    db.resize(1500);
    cg->outputError(cg->msg(474, "kivoserv/9.1"), db);
    std::string text = between(written());
    EXPECT_LE(text.size(), kErrorMessageMax);
    EXPECT_EQ(text.find("\"Lib*&#39;"), 0u);
    const std::string span = "<span style='color:#D8D8D8'> [kivoserv/9.1]</span>";
    ASSERT_GE(text.size(), span.size());
    EXPECT_EQ(text.substr(text.size() - span.size()), span);
    std::string body = text.substr(0, text.size() - span.size());
    EXPECT_EQ(body.find('<', body.rfind('>') + 1), std::string::npos) << "a tag left open: " << body;
    size_t amp = body.rfind('&');
    EXPECT_NE(body.find(';', amp), std::string::npos) << "an entity left open";
}

TEST_F(Pages, HelpLinkKeepsOutsideTextsInsideItsAttribute) {
    setFields({{"ST", "FULLTEXT"}});
    cg->helpID = "a'b\"c</script>";
    cg->kivoServName = "/h\"x'/cgi-bin/kivoserv";
    cg->outputError(cg->msg(237, "cgihandler/34"));
    std::string page = written();
    size_t open = page.find("onClick=\"window.open(");
    ASSERT_NE(open, std::string::npos);
    size_t close = page.find('"', open + 9);
    EXPECT_EQ(page.substr(close, 10), "\">Help</a>") << page.substr(open, close - open);
    std::string attribute = page.substr(open, close - open);
    EXPECT_NE(attribute.find("DB=a%27b%22c%3C%2Fscript%3E&FN="), std::string::npos) << attribute;
    EXPECT_EQ(attribute.find_first_of("<>'", attribute.find("?VR=")), attribute.find("','KIVOHELP'"));
}

TEST_F(Pages, HeadAndTailNeedDocumentBuffer) {
    EXPECT_EQ(cg->outputHead("t"), 0);
    EXPECT_NE(cg->getError().find("[cgihandler/32]"), std::string::npos) << cg->getError();
    EXPECT_EQ(cg->outputTail(), 0);
    EXPECT_NE(cg->getError().find("[cgihandler/33]"), std::string::npos) << cg->getError();
}

TEST_F(Pages, HeadAndTailFrameThePage) {
    if (!cg->allocDocBuf(0)) GTEST_SKIP() << "no document buffer: " << cg->getError();
    std::string title(5000, 't');
    ASSERT_EQ(cg->outputHead("%s", title), 1);
    ASSERT_EQ(cg->outputTail(), 1);
    std::string cut(kHeadTitleMax, 't');
    EXPECT_EQ(std::string(cg->docBuf, cg->docSize),
              "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n<head>\n<title>" +
                  cut + "</title>\n</head>\n<body><h1>" + cut + "</h1>\n</body></html>\n");
}

TEST_F(Pages, UrlStringCarriesFieldsOn) {
    struct {
        const char* name;
        Fields fields;
        int kind;
        std::vector<std::string_view> excluded;  // at most two
        std::string want;
    } const cases[] = {
        {"script query",
         {{"AC", "LINK"}, {"DB", "x y"}, {"FN", "a"}},
         kUrlScriptQuery,
         {"AC", "FN"},
         "&amp;DB=" + urlEncode(URLMODE_ENCODE_SCRIPT, "x y", 10)},
        {"excluded names compare case-blind",
         {{"AC", "LINK"}, {"FN", "a"}},
         kUrlScriptQuery,
         {"fn"},
         "&amp;AC=LINK"},
        {"script query codes '&' and '+'", {{"CM", "R&D+1"}}, kUrlScriptQuery, {}, "&amp;CM=R%26D%2B1"},
        {"names are coded like values", {{"a b&", "1"}}, kUrlScriptQuery, {}, "&amp;a+b%26=1"},
        {"path fields", {{"DB", "x y"}, {"CM", "R&D"}}, kUrlPathFields, {}, "/DB=x+y/CM=R&D"},
        {"hidden inputs",
         {{"DB", "x y"}, {"CM", "R&D"}},
         kUrlHiddenInputs,
         {},
         "<input type=\"hidden\" name=\"DB\" value=\"x y\" /><input type=\"hidden\" name=\"CM\" "
         "value=\"R&D\" />"},
        {"empty values are left out", {{"A", ""}, {"B", "1"}}, kUrlPathFields, {}, "/B=1"},
        {"another kind gives nothing", {{"A", "1"}}, 3, {}, ""},
        {"nothing left gives nothing", {{"A", "1"}}, kUrlScriptQuery, {"a"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        setFields(c.fields);
        const auto& e = c.excluded;
        std::string got = e.empty()       ? cg->buildURLstring(c.kind, {})
                          : e.size() == 1 ? cg->buildURLstring(c.kind, {e[0]})
                                          : cg->buildURLstring(c.kind, {e[0], e[1]});
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(Pages, HiddenInputsStayInsideTheirAttributes) {
    setFields({{"PA", "\" onmouseover=x \""}, {"<b>x", "1"}, {"TI", "a'\"/<>&amp;"}});
    std::string inputs = cg->buildURLstring(kUrlHiddenInputs, {});
    std::string rest = inputs;
    const std::string head = "<input type=\"hidden\" name=\"";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(rest.find(head), 0u) << rest;
        size_t name = rest.find('"', head.size());
        ASSERT_EQ(rest.find(R"(" value=")", name), name) << rest;
        size_t value = rest.find('"', name + 9);
        ASSERT_EQ(rest.find("\" />", value), value) << rest;
        EXPECT_EQ(rest.substr(0, value).find_first_of("<>", 1), std::string::npos) << rest;
        rest = rest.substr(value + 4);
    }
    EXPECT_EQ(rest, "");
    EXPECT_NE(inputs.find("value=\"&#34; onmouseover=x &#34;\""), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("name=\"&#60;b&#62;x\""), std::string::npos) << inputs;
}

TEST_F(Pages, UrlStringEndsWithLastWholeField) {
    struct {
        const char* name;
        int count;
        size_t length;
        int kept;  // whole fields expected
    } const cases[] = {
        {"40 fields of 3000", 40, 3000, 1},
        {"40 fields of 1000", 40, 1000, 3},
        {"one field past the limit", 1, 3100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        std::string want;
        for (int i = 0; i < c.count; ++i) {
            std::string name = "F" + std::to_string(i);
            std::string value(c.length, 'a' + i % 26);
            setFields({{name, value}});
            if (i < c.kept) want += "&amp;" + name + "=" + value;
        }
        std::string got = cg->buildURLstring(kUrlScriptQuery, {});
        EXPECT_LE(got.size(), kUrlStringMax);
        EXPECT_EQ(got, want);
    }
}

TEST_F(Pages, UrlStringEndsBeforeValueThatCannotBeCodedWhole) {
    // PA keeps its apostrophes; each codes to three characters.
    setFields({{"A", "1"}, {"B", "2"}, {"PA", std::string(1100, '\'')}, {"C", "3"}});
    EXPECT_EQ(cg->buildURLstring(kUrlScriptQuery, {}), "&amp;A=1&amp;B=2");
    EXPECT_EQ(cg->buildURLstring(kUrlScriptQuery, {"PA"}), "&amp;A=1&amp;B=2&amp;C=3");
}

TEST_F(Pages, ToolbarTakesIconSetsFromIm) {
    struct {
        const char* im;  // null: no IM field
        int result;
        long active;
        long inactive;
    } const cases[] = {
        {"5", 1, 5, 0},
        {"15,14", 1, 15, 14},
        {" 7,8", 1, 7, 8},
        {"7 ,8", 1, 7, 0},
        {"5,x", 1, 5, 0},
        {"-3,2", 1, -3, 2},
        {"99999999999999999999999", 1, LONG_MAX, 0},
        {"abc", 0, 0, 0},
        {"", 0, 0, 0},
        {nullptr, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.im ? c.im : "(none)");
        reset();
        if (c.im) setFields({{"IM", c.im}});
        ASSERT_EQ(cg->initToolbar(), c.result);
        if (!c.result) {
            EXPECT_NE(cg->getError().find("Missing or Invalid IM argument.<br><br>"), std::string::npos);
            EXPECT_NE(cg->getError().find("[cgihandler/34]"), std::string::npos);
            continue;
        }
        ASSERT_TRUE(cg->toolbar);
        EXPECT_EQ(cg->toolbar->activeIcon, c.active);
        EXPECT_EQ(cg->toolbar->inactiveIcon, c.inactive);
    }
}

TEST_F(Pages, ToolbarIsMadeOnce) {
    setFields({{"IM", "1"}});
    ASSERT_EQ(cg->initToolbar(), 1);
    const Toolbar* first = cg->toolbar.get();
    setFields({{"IM", "2,3"}});
    ASSERT_EQ(cg->initToolbar(), 1);
    EXPECT_EQ(cg->toolbar.get(), first);
    EXPECT_EQ(cg->toolbar->activeIcon, 2);
}

bool haveNode() {
    return test::runShell("command -v node >/dev/null 2>&1") == 0;
}

// Runs the script followed by probe in node; its output, or the error.
std::string runNode(const std::string& script, const std::string& probe, int* status) {
    test::TempDir dir;
    test::writeFile(dir.file("menu.js"), script + "\n" + probe);
    return test::capture("node " + dir.file("menu.js") + " 2>&1", status);
}

TEST_F(Pages, MenuScriptParsesAndCarriesState) {
    if (!haveNode()) GTEST_SKIP() << "node is not installed";
    cg->notes_category = "a\"b\\";
    cg->kivoServName = "/h:8080/x</script>'\"/kivoserv";
    cg->browserType = BROWSER_IE_6;
    cg->flags |= kCgiUseInfo;
    if (!cg->generateJSBGMenuFunctions()) GTEST_SKIP() << "no document buffer: " << cg->getError();
    std::string script(cg->docBuf, cg->docSize);
    EXPECT_EQ(script.find("</script"), std::string::npos);

    test::TempDir dir;
    test::writeFile(dir.file("page.js"), script);
    int status = -1;
    std::string complaint = test::capture("node --check " + dir.file("page.js") + " 2>&1", &status);
    EXPECT_EQ(status, 0) << complaint;

    std::string got =
        runNode(script,
                "console.log(JSON.stringify([notes_cat_inline, kivoScriptURL, isIEBrowser, flag_info,"
                " info_enabled, typeof showContextMenu, typeof hideContextMenu]));",
                &status);
    EXPECT_EQ(status, 0) << got;
    EXPECT_EQ(got, R"(["a\"b\\","http://h:8080/x</script>'\"/kivoserv",1,1,1,"function","function"])"
                   "\n");
}

TEST_F(Pages, RemoveIdDbDropsLibraryNumbersFromUrls) {
    if (!haveNode()) GTEST_SKIP() << "node is not installed";
    if (!cg->generateJSBGMenuFunctions()) GTEST_SKIP() << "no document buffer: " << cg->getError();
    struct {
        const char* url;
        const char* want;
    } const cases[] = {
        {"http://h/cgi-bin/kivoserv?DB=lib&ID=12&FN=a.html", "http://h/cgi-bin/kivoserv?FN=a.html"},
        {"qzl:/kivo?ID=5&amp;FN=x&amp;CH=C1#C1", "qzl:/kivo?FN=x&CH=C1#C1"},
        {"http://h/k?db=x&id=1", "http://h/k"},
        {"http://h/k?IDX=1&DBX=2&OP=20", "http://h/k?IDX=1&DBX=2&OP=20"},
        {"http://h/k#ID=1", "http://h/k#ID=1"},
        {"http://h/k", "http://h/k"},
    };
    std::string probe;
    std::string want;
    for (const auto& c : cases) {
        probe += std::string("console.log(removeIDDB('") + c.url + "'));\n";
        want += std::string(c.want) + "\n";
    }
    int status = -1;
    std::string got = runNode(std::string(cg->docBuf, cg->docSize), probe, &status);
    EXPECT_EQ(status, 0) << got;
    EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace ruva
