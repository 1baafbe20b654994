// INFO in process: the META cells, the charset and the failures.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

const std::string kLibrary = test::mlReply(test::dbLine("meta.kvo", 4242, "Meta"));
const std::string kFetched = "VER\nMLLIST 12\nCONTV 12 doc.html\nRETR 4242 doc.html\n";

using Metas = std::vector<std::pair<std::string, std::string>>;

// A page whose head holds one META per pair, after `lead` (a charset
// declaration or padding).
std::string metaPage(const Metas& metas, const std::string& lead = "") {
    std::string page = lead + "<html><head>";
    for (const auto& [name, value] : metas)
        page += "<meta name=\"" + name + "\" content=\"" + value + "\">\n";
    return page + "</head><body><p>text</p></body></html>\n";
}

// INFO over a server that serves `document` as doc.html of library 12.
struct InfoRun {
    explicit InfoRun(const std::string& document, test::Fields fields = {{"ID", "12"}, {"FN", "doc.html"}})
        : cg({.replies = {test::verLine(), kLibrary,
                          test::contvReply("4242", {{document.size(), "doc.html"}}),
                          test::retrReply("doc.html", document)},
              .fields = std::move(fields)}) {}
    ActionRequest cg;
};

// INFO's page for `document`; "" when the action failed.
std::string infoPageOf(const std::string& document) {
    InfoRun run(document);
    if (!run.cg.ok() || run.cg.handler().infoAction() != 1) return "";
    return run.cg.page();
}

// The value shown under a caption of the data table.
std::string cellOf(const std::string& page, const std::string& caption) {
    const std::string lead = "<span class=\"mcaption\">" + caption + "</span><br />";
    const size_t at = page.find(lead);
    if (at == std::string::npos) return "(no cell)";
    const size_t start = at + lead.size();
    return page.substr(start, page.find("</td>", start) - start);
}

TEST(InfoPage, CellsShowTheDocumentsMetaValues) {
    const Metas metas = {{"PREP", "EAB/ABC Anna"}, {"DOCNO", "1/1551-LZA 701 0001"},
                         {"APPR", "EAB/X Bo"},     {"CHECKED", "Cid"},
                         {"DATE", "2024-05-01"},   {"REV", "B"},
                         {"REF", "R&amp;D"},       {"TITLE", "Guide"},
                         {"CTW", "Wiring"},        {"SUBTITLE", "Sub"},
                         {"ENGTITLE", "English"},  {"CONFIDENTIALITY", "Open"},
                         {"DOCNAME", "USER GUIDE"}};
    InfoRun run(metaPage(metas));
    ActionRequest& cg = run.cg;
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().infoAction(), 1);
    const std::string page = cg.page();
    struct {
        const char* caption;
        const char* value;
    } const cells[] = {
        {"Prepared (also subject responsible if other)", "EAB/ABC Anna"},
        {"No.", "1/1551-LZA 701 0001"},
        {"Approved", "EAB/X Bo"},
        {"Checked", "Cid"},
        {"Date", "2024-05-01"},
        {"Rev", "B"},
        {"Reference", "R&amp;D"},
    };
    for (const auto& c : cells) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(cellOf(page, c.caption), c.value);
    }
    EXPECT_NE(page.find("<h2 align=\"right\"><font class=\"SHORTTITLE\">Wiring</font></h2>\n"
                        "<h1 align=\"left\">Guide</h1>\n"
                        "<h2 align=\"left\"><font class=\"SUBTITLE\">Sub</font></h2>\n"
                        "<h2 align=\"left\"><font class=\"SUBTITLE\">English</font></h2>\n"),
              std::string::npos);
    EXPECT_NE(page.find("Open<br />USER GUIDE</td>"), std::string::npos);
    EXPECT_NE(page.find("<title>Document Information</title>\n</head><body>\n"), std::string::npos);
    EXPECT_NE(page.find("AC=tbimg&amp;IM=13\" title=\"VANDROVE /// \" alt=\"VANDROVE /// \""),
              std::string::npos);
    EXPECT_TRUE(page.ends_with("</body></html>\n"));
    EXPECT_TRUE(cg->flags & kCgiNoSearchWords);
    EXPECT_EQ(cg.written(), "");
    EXPECT_EQ(cg.sent(), kFetched);
}

TEST(InfoPage, WithoutMetaEveryCellIsEmptyAndNoSubtitleLineIsWritten) {
    const std::string page = infoPageOf(metaPage({}));
    for (const char* caption : {"No.", "Approved", "Checked", "Date", "Rev", "Reference"}) {
        SCOPED_TRACE(caption);
        EXPECT_EQ(cellOf(page, caption), "&nbsp;");
    }
    EXPECT_NE(page.find("<h1 align=\"left\">&nbsp;</h1>\n"), std::string::npos);
    EXPECT_EQ(page.find("SUBTITLE\">"), std::string::npos);
}

// The declaration and meta say what the bytes of the values are in.
TEST(InfoPage, CharsetFollowsTheDocument) {
    struct {
        const char* name;
        std::string document;
        std::string charset;
        bool meta;
    } const cases[] = {
        {"Japanese by its document number", metaPage({{"DOCNO", "1/1551-CRA 119 Uja"}}), "euc-jp", true},
        {"Japanese by its language",
         metaPage({{"LANG", "JA"}}, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"), "euc-jp", true},
        {"a meta http-equiv",
         metaPage({{"TITLE", "Caf\xe9"}},
                  "<meta http-equiv=\"Content-Type\" content=\"text/html; "
                  "charset=iso-8859-1\">\n"),
         "iso-8859-1", true},
        {"an XML declaration", metaPage({}, "<?xml version=\"1.0\" encoding='windows-1252'?>\n"),
         "windows-1252", true},
        {"a meta charset", metaPage({}, "<META CHARSET = \"Shift_JIS\">"), "Shift_JIS", true},
        {"none declared", metaPage({}), "UTF-8", false},
        {"a name that would leave the attribute", metaPage({}, "<meta charset=\"x\"><script>\">"), "x", true},
        {"only markup where the name should be", metaPage({}, "<meta charset=\"<script>\">"), "UTF-8", false},
        {"a name over 40 characters", metaPage({}, "<meta charset=\"" + std::string(41, 'a') + "\">"),
         "UTF-8", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string page = infoPageOf(c.document);
        EXPECT_TRUE(page.starts_with("<?xml version=\"1.0\" encoding=\"" + c.charset + "\"?>\n"))
            << page.substr(0, 60);
        const std::string meta =
            "<meta http-equiv=\"Content-type\" content=\"text/html; charset=" + c.charset + "\">\n";
        EXPECT_EQ(page.find(meta) != std::string::npos, c.meta);
        EXPECT_EQ(page.find("charset=") != std::string::npos, c.meta);
        // Browsers look for the charset in the first 1024 bytes.
        if (c.meta) {
            EXPECT_LT(page.find(meta), 1024u);
        }
    }
}

// The copy holds bytes 0 to 6142 of the document, and never its last byte;
// an unquoted value ends where the copy does.
TEST(InfoPage, MetaIsLookedForInTheFirst6143Bytes) {
    const std::string tag = "<meta name=\"TITLE\" content=TT>";
    struct {
        const char* name;
        std::string document;
        const char* title;
    } const cases[] = {
        {"the value ends at byte 6142", std::string(6144 - tag.size(), ' ') + tag + "\n", "TT"},
        {"the value ends at byte 6143", std::string(6145 - tag.size(), ' ') + tag + "\n", "T"},
        {"far after", std::string(9000, ' ') + tag + "\n", "&nbsp;"},
        {"the last byte of a short document is left out", "<meta name=\"TITLE\" content=TT", "T"},
        {"a one-byte document", "x", "&nbsp;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(infoPageOf(c.document).find(std::string("<h1 align=\"left\">") + c.title + "</h1>"),
                  std::string::npos);
    }
}

// Values are page text: markup in them is shown, the entities they hold
// stay, and "&nbsp;" written by the document is no subtitle.
TEST(InfoPage, ValuesAreEscapedAfterTheEmptyTest) {
    const std::string document =
        "<html><head><meta name='TITLE' content='<script>x()</script>'>"
        "<meta name=\"SUBTITLE\" content=\"&nbsp;\"><meta name=\"ENGTITLE\" "
        "content='a\"b&amp;c'><meta name=\"REF\" content=\"x' onmouseover='y\"></head></html>\n";
    const std::string page = infoPageOf(document);
    EXPECT_NE(page.find("<h1 align=\"left\">&lt;script&gt;x()&lt;/script&gt;</h1>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("SUBTITLE\">&nbsp;"), std::string::npos);
    EXPECT_NE(page.find("<font class=\"SUBTITLE\">a&quot;b&amp;c</font>"), std::string::npos);
    EXPECT_EQ(cellOf(page, "Reference"), "x&#39; onmouseover=&#39;y");
}

// A chapter would turn the lookup into a redirection: INFO drops it.
TEST(InfoPage, ChapterIsDroppedBeforeTheLookup) {
    InfoRun run(metaPage({{"TITLE", "Guide"}}), {{"ID", "12"}, {"FN", "doc.html"}, {"CH", "sect2"}});
    ActionRequest& cg = run.cg;
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().infoAction(), 1);
    EXPECT_NE(cg.page().find("<h1 align=\"left\">Guide</h1>"), std::string::npos);
    EXPECT_FALSE(cg.value("CH"));
    EXPECT_EQ(cg.written(), "");
    EXPECT_EQ(cg.sent(), kFetched);
}

TEST(InfoPage, FailuresGiveOneAnswer) {
    struct {
        const char* name;
        std::vector<std::string> replies;
        test::Fields fields;
        int result;
        std::string error;  // the handler's; "@cg" the request's
        bool errorPage;     // the lookup wrote its own
        std::string sent;
    } const cases[] = {
        {"DT other than QX",
         {test::verLine()},
         {{"ID", "12"}, {"FN", "doc.html"}, {"DT", "<b>"}},
         0,
         formatChecked(msgFormat(34, "kivohandler/23"), std::string(" b ")),
         false,
         "VER\n"},
        {"a member that is not there",
         {test::verLine(), kLibrary, test::contvReply("12", {})},
         {{"ID", "12"}, {"FN", "gone.html"}},
         1,
         "",
         true,
         "VER\nMLLIST 12\nCONTV 12 gone.html\n"},
        {"an empty document",
         {test::verLine(), kLibrary, test::contvReply("4242", {{10, "doc.html"}}),
          test::retrReply("doc.html", "")},
         {{"ID", "12"}, {"FN", "doc.html"}},
         0,
         formatChecked(msgFormat(35, "kivohandler/24")),
         false,
         kFetched},
        {"nothing names a document",
         {test::verLine()},
         {{"ID", "12"}},
         0,
         formatChecked(msgFormat(35, "kivohandler/24")),
         false,
         "VER\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().infoAction(), c.result);
        EXPECT_EQ(cg.handler().getError(), c.error);
        const std::string written = cg.written();
        if (c.errorPage) {
            EXPECT_TRUE(cg->flags & kCgiResponseDone);
            EXPECT_TRUE(written.starts_with("Content-type: text/html\n")) << written.substr(0, 80);
            EXPECT_EQ(written.find("Content-type:", 1), std::string::npos) << "one header block";
        } else {
            EXPECT_EQ(written, "");
        }
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

// The session's failure is the request's text inside message 33, in the
// handler, so that the program writes the one error page.
TEST(InfoPage, RefusedSessionGivesMessage33) {
    ActionRequest cg({.replies = {"500 Unknown command\n"}, .fields = {{"ID", "12"}, {"FN", "doc.html"}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().infoAction(), 0);
    ASSERT_NE(cg->getError(), "");
    EXPECT_EQ(cg.handler().getError(), formatChecked(msgFormat(33, "kivohandler/22"), cg->getError()));
    EXPECT_EQ(cg.written(), "");
    EXPECT_EQ(cg.sent(), "VER\n");
}

}  // namespace
}  // namespace ruva
