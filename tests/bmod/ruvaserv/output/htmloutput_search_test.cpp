#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "common/search_expr.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

// A writer without a channel: the highlighting helpers read no fields then.
struct BareFormat : KvoFormat {
    BareFormat() : KvoFormat(nullptr) {}
};

TEST(HtmlOutputSearch, FilterPattTurnsUserPatternsIntoOperators) {
    struct {
        const char* name;
        const char* in;
        int chkKwd;
        int hyphenCounter;
        const char* out;
    } const cases[] = {
        {"blank plus blank", "a + b", 0, 0, "a&b"},
        {"blank minus blank", "a - b", 0, 0, "a!b"},
        {"lone blank", "a b", 0, 0, "a&b"},
        {"blank star before word", "a *b", 0, 0, "a&b"},
        {"blank plus before word", "a +b", 0, 0, "a&b"},
        {"blank minus before word", "a -b", 0, 0, "a!b"},
        {"braces", "{x}", 0, 0, "&x&"},
        {"angle brackets and star", "<a*b>", 0, 0, "&a&b&"},
        {"underscore kept for a keyword hit", "a_b", 1, 0, "a_b"},
        {"underscore as slash when chkKwd is 2", "a_b", 2, 0, "a/b"},
        {"hyphen kept", "TCP-IP", 0, 0, "TCP-IP"},
        {"hyphen as AND with hyphenCounter", "TCP-IP", 0, 1, "TCP&IP"},
        {"trailing blank plus", "a +", 0, 0, "a&+"},
        {"empty", "", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareFormat f;
        f.row.chkKwd = c.chkKwd;
        f.row.hyphenCounter = c.hyphenCounter;
        EXPECT_EQ(f.filterPatt(c.in), c.out);
    }
    EXPECT_EQ(BareFormat().filterPatt(nullptr), "");
}

TEST(HtmlOutputSearch, PatternMarksTermsOnceAndLeavesEntitiesAndMarksAlone) {
    struct {
        const char* name;
        std::string text;
        std::string patt;
        int padCounter;
        std::string out;
    } const cases[] = {
        {"longer term first", "xabcx", "ab&abc", 0, "x<b>abc</b>x"},
        {"case blind, case kept", "Alpha beta", "ALPHA|Beta", 0, "<b>Alpha</b> <b>beta</b>"},
        {"marked span left alone", "<b>ab</b> ab", "ab", 0, "<b>ab</b> <b>ab</b>"},
        {"entity not split", "a &amp; amp", "amp", 0, "a &amp; <b>amp</b>"},
        {"phrase drops quotes and keeps blanks", "x a b y", "\"a b\"", 0, "x <b>a b</b> y"},
        {"blanks skipped in the identity", "1551-ABC 101 01 Uen", "ABC10101", 1, "1551-<b>ABC 101 01</b> Uen"},
        {"phrase never skips blanks", "ABC 101", "\"ABC101\"", 1, "ABC 101"},
        {"not operator splits terms", "a b", "a!b", 0, "<b>a</b> <b>b</b>"},
        {"no pattern", "abc", "", 0, "abc"},
        {"ampersand without semicolon is a character", "a & b", "b", 0, "a & <b>b</b>"},
        {"text ending in ampersand", "ab&", "b", 0, "a<b>b</b>&"},
        {"unclosed mark runs to the end", "x <b>ab", "ab", 0, "x <b>ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareFormat f;
        f.row.PADcounter = c.padCounter;
        EXPECT_EQ(f.pattern(c.text.c_str(), c.patt.c_str()), c.out);
    }
}

TEST(HtmlOutputSearch, PatternKeepsItsTermLimits) {
    BareFormat f;
    // 51 terms: the 51st is not used.
    std::string patt;
    std::string text;
    for (int i = 0; i < 51; ++i) {
        const std::string term = "t" + std::to_string(100 + i);
        patt += (i ? "|" : "") + term;
        text += term + " ";
    }
    const std::string marked = f.pattern(text.c_str(), patt.c_str());
    EXPECT_NE(marked.find("<b>t149</b>"), std::string::npos);
    EXPECT_EQ(marked.find("<b>t150</b>"), std::string::npos);
    EXPECT_NE(marked.find("t150"), std::string::npos);

    // A 60-character term is cut to 49.
    const std::string longTerm(60, 'q');
    const std::string textQ = longTerm + "z";
    EXPECT_EQ(f.pattern(textQ.c_str(), longTerm.c_str()), "<b>" + std::string(49, 'q') + "</b>" + "qqqqqqqqqqqz");
}

TEST(HtmlOutputSearch, PatternStaysInsideHostileTexts) {
    BareFormat f;
    std::string tokens;
    for (int i = 0; i < 10000; ++i) tokens += "ab|";
    EXPECT_EQ(f.pattern(tokens.c_str(), "ab&b").size(), tokens.size() + 10000 * 7);
    const std::string manyTerms = tokens;  // 10,000 terms, 50 used
    EXPECT_EQ(f.pattern("xab", manyTerms.c_str()), "x<b>ab</b>");
    EXPECT_EQ(f.pattern("&", "&"), "&");
    EXPECT_EQ(f.pattern("a&", "&a"), "<b>a</b>&");
    EXPECT_EQ(f.pattern("<b>", "b"), "<b>");
    const std::string pa(3071, 'x');
    EXPECT_EQ(f.pattern(pa.c_str(), "x").size(), 3071u * 8);
    const std::string huge(20000, 'x');
    EXPECT_EQ(f.pattern(huge.c_str(), "x").size(), 131144u);  // the pass's cut
}

TEST(HtmlOutputSearch, ExtractTooltipGivesTheFolderPath) {
    struct {
        const char* name;
        std::string title;
        std::string out;
    } const cases[] = {
        {"path and name", "a b|Name", "Folder&nbsp;path:&nbsp;a&nbsp;b"},
        {"root", "|Name", "Folder&nbsp;path:&nbsp;/"},
        {"no bar", "Name", "Folder&nbsp;path:&nbsp;"},
        {"last bar counts", "a|b|Name", "Folder&nbsp;path:&nbsp;a|b"},
        {"markup escaped", "<x>\"|N", "Folder&nbsp;path:&nbsp;&lt;x&gt;&quot;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(extractTooltip(c.title.c_str()), c.out);
    }
    EXPECT_EQ(extractTooltip("a b|Name").size(), 31u);
    const std::string longPath = std::string(5000, 'p') + "|N";
    EXPECT_EQ(extractTooltip(longPath.c_str()).size(), 2000u);
    const std::string blanks = std::string(5000, ' ') + "|N";
    const std::string tip = extractTooltip(blanks.c_str());
    EXPECT_LE(tip.size(), 2000u);
    EXPECT_TRUE(tip.ends_with("&nbsp;"));  // no entity cut in half
}

// A writer on a real request's document buffer; fields come through its
// value list, cookies through HTTP_COOKIE.
using Fields = std::vector<std::pair<const char*, const char*>>;

class RowPage {
public:
    explicit RowPage(const Fields& fields, const char* cookie = nullptr)
        : out_(newKvoOutput(0)) {
        env_.set("HTTP_COOKIE", cookie ? std::optional<std::string>(cookie) : std::nullopt);
        for (const auto& [name, value] : fields) request_->valueList->addValue(name, value);
        out_->kvoSetOutput(request_.get(), KVO_OUT_INTERNAL);
        EXPECT_EQ(out_->kvoOpenOutput(0), kKvoOpenOk);
        format_ = newKvoHtmlFormat(out_.get());
    }
    KvoFormat& f() { return *format_; }
    std::string text() const { return std::string(request_->docBuf, request_->docSize); }

    struct Hit {
        const char* db = "lib2";
        const char* dbname = nullptr;
        const char* fn = "1551-ABC10101Uen.A.htm";
        int toolbar = 0;
        const char* title = "Title text";
        const char* engtitle = "";
        const char* subtitle = "";
        const char* synopsis = "";
        int searchType = 0;
        const char* SL = nullptr;
        const char* extn = "";
        const char* tokens = "";
        int isKwd = 0;
        int isTopic = 0;
        int ctwFlag = 0;
        const char* librayID = nullptr;
    };
    std::string row(const Hit& h) {
        const size_t before = request_->docSize;
        int fr = 5;
        EXPECT_EQ(format_->writeDocRowSearch(h.db, h.dbname, h.fn, h.toolbar, &fr, h.title, h.engtitle, h.subtitle,
                                             h.synopsis, h.searchType, 0, 0, 0, h.SL, "ZUnknown", "", "", h.extn,
                                             h.tokens, h.isKwd, h.isTopic, h.ctwFlag, h.librayID),
                  0);
        EXPECT_EQ(fr, 0);
        return text().substr(before);
    }

private:
    test::EnvGuard env_;
    test::CapturedRequest request_;
    std::unique_ptr<KvoOutput> out_;
    std::unique_ptr<KvoFormat> format_;
};

std::string after(const std::string& page, const std::string& marker) {
    const size_t at = page.find(marker);
    return at == std::string::npos ? std::string() : page.substr(at + marker.size());
}

constexpr const char* kInert = "<a style=\"pointer-events: none;color:#333333;cursor: default;\" name=\"";

TEST(HtmlOutputSearch, HitLinkOpeningFollowsToolbarCollectionAndHitKind) {
    struct {
        const char* name;
        int toolbar;
        const char* SL;
        int isKwd;
        int searchType;
        std::string opening;
    } const cases[] = {
        {"toolbar, topic search", 1, nullptr, 0, 512, "<a href=\"qzl:/kivo?AC=LINKEXT&amp;DB="},
        {"toolbar, catchword search", 1, nullptr, 0, 1024, std::string(kInert) + "kivo?AC=LINKEXT&amp;DB="},
        {"toolbar, title search", 1, nullptr, 0, 2048, "<a href=\"qzl:/kivo?AC=LINKEXT&amp;DB="},
        {"collection, topic search", 0, "x", 0, 512, std::string(kInert) + "('kivo?AC=LINKEXT&amp;DB="},
        {"collection, catchword search", 0, "x", 0, 1024, std::string(kInert) + "('kivo?AC=LINKEXT&amp;DB="},
        {"collection, title search", 0, "x", 0, 2048,
         "<a href=\"#\" onclick=\"openDoc('qzl:/kivo?AC=LINKEXT&amp;DB="},
        {"keyword hit, topic search", 0, nullptr, 1, 512, std::string(kInert) + "kivo?AC=LINK&amp;DB="},
        {"keyword hit, catchword search", 0, nullptr, 1, 1024, std::string(kInert) + "kivo?AC=LINK&amp;DB="},
        {"keyword hit, title search", 0, nullptr, 1, 2048, "<a href=\"qzl:/kivo?AC=LINK&amp;DB="},
        {"plain hit, topic search", 0, nullptr, 0, 512, "<a href=\"qzl:/kivo?AC=LINK&amp;DB="},
        {"plain hit, catchword search", 0, nullptr, 0, 1024, "<a href=\"qzl:/kivo?AC=LINK&amp;DB="},
        {"plain hit, title search", 0, nullptr, 0, 2048, "<a href=\"qzl:/kivo?AC=LINK&amp;DB="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RowPage page({});
        RowPage::Hit hit;
        hit.toolbar = c.toolbar;
        hit.SL = c.SL;
        hit.isKwd = c.isKwd;
        hit.searchType = c.searchType;
        const std::string row = after(page.row(hit), "<td class=\"tdT\">");
        EXPECT_TRUE(row.starts_with(c.opening)) << row;
        // Without PA and ST the link ends where its opening needs it to.
        const bool scriptCall = c.opening.find("('") != std::string::npos;
        EXPECT_NE(row.find(std::string("FN=1551-ABC10101Uen.A.htm") + (scriptCall ? "')\">" : "\">")),
                  std::string::npos)
            << row;
    }
}

TEST(HtmlOutputSearch, HitLinkClosingParameters) {
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::uint16_t flags;
        const char* fn;
        int searchType;
        const char* SL;
        int isKwd;
        int isTopic;
        const char* tokens;
        std::string closing;
    } const cases[] = {
        {"normal", {{"PA", "a b"}, {"ST", "Fulltext"}}, 0, "x.A.htm", 0, nullptr, 0, 0, "",
         "&amp;PA=a+b&amp;ST=Fulltext\">"},
        {"normal, title word", {{"PA", "a"}, {"ST", "Fulltext"}}, 0, "x.A.htm", 2048, nullptr, 0, 0, "",
         "&amp;PA=a&amp;ST=Title\">"},
        {"normal, collection", {{"PA", "a"}, {"ST", "Fulltext"}}, 0, "x.A.htm", 0, "x", 0, 0, "",
         "&amp;PA=a&amp;ST=Fulltext')\">"},
        {"normal keyword with tokens", {{"PA", "a"}, {"ST", "Catchword"}}, 0, "x.A.htm", 1024, nullptr, 1, 0, "ab",
         "&amp;PA=a&amp;ST=Catchword#KW:AB\">"},
        {"normal keyword without tokens", {{"PA", "a"}, {"ST", "Catchword"}}, 0, "x.A.htm", 1024, nullptr, 1, 0,
         "", "&amp;PA=a&amp;ST=Catchword\">"},
        {"normal topic with tokens", {{"PA", "a"}, {"ST", "Topic"}}, 0, "x.A.htm", 512, nullptr, 0, 1, "T|3|",
         "&amp;PA=a&amp;ST=Topictitle#CHAPTERT|3|\">"},
        {"match, isKwd 0", {{"PA", "a"}, {"ST", "FullText"}}, kKvoFormatMatchAnchor, "x.A.htm", 0, nullptr, 0, 0,
         "", "&amp;PA=a&amp;ST=Catchword\">"},
        {"match, isKwd 1 with tokens", {{"PA", "a"}, {"ST", "advsearch"}}, kKvoFormatMatchAnchor, "x.A", 0,
         nullptr, 1, 0, "k", "&amp;PA=a&amp;ST=Catchword#KW:K\">"},
        {"match, isKwd 2, isTopic 0", {{"PA", "a"}, {"ST", "DocSearch"}}, kKvoFormatMatchAnchor, "x.A.htm", 0,
         nullptr, 2, 0, "", "&amp;PA=a&amp;\">"},
        {"match, isTopic 1 with tokens", {{"PA", "a"}, {"ST", "DocSearch"}}, kKvoFormatMatchAnchor, "x.A.htm", 0,
         nullptr, 2, 1, "T|3|", "&amp;PA=a&amp;ST=Topictitle#CHAPTERT|3|\">"},
        {"match, other isTopic", {{"PA", "a"}, {"ST", "DocSearch"}}, kKvoFormatMatchAnchor, "x.A.htm", 0, nullptr, 2,
         2, "", "&amp;PA=a&amp;ST=DocSearch#SearchMatch1\">"},
        {"match, other isTopic, collection", {{"PA", "a"}, {"ST", "DocSearch"}}, kKvoFormatMatchAnchor, "x.A.htm",
         0, "x", 2, 2, "", "&amp;PA=a&amp;ST=DocSearch#SearchMatch1')\">"},
        {"PDF member is never a match", {{"PA", "a"}, {"ST", "DocSearch"}}, kKvoFormatMatchAnchor, "x.A.PDF", 0,
         nullptr, 2, 2, "", "&amp;PA=a&amp;ST=DocSearch\">"},
        {"no flag is never a match", {{"PA", "a"}, {"ST", "DocSearch"}}, 0, "x.A.htm", 0, nullptr, 2, 2, "",
         "&amp;PA=a&amp;ST=DocSearch\">"},
        {"PA missing", {{"ST", "Fulltext"}}, 0, "x.A.htm", 0, nullptr, 0, 0, "", "FN=x.A.htm\">"},
        {"ST missing", {{"PA", "a"}}, 0, "x.A.htm", 0, nullptr, 0, 0, "", "FN=x.A.htm\">"},
        {"PA missing, collection", {{"ST", "Fulltext"}}, 0, "x.A.htm", 0, "x", 0, 0, "", "FN=x.A.htm')\">"},
        {"toolbar in collection mode closes the href", {{"PA", "a"}, {"ST", "Fulltext"}}, 0, "x.A.htm", 0, "x", 0,
         0, "", "&amp;PA=a&amp;ST=Fulltext\">"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RowPage page(c.fields);
        page.f().flags = c.flags;
        RowPage::Hit hit;
        hit.fn = c.fn;
        hit.searchType = c.searchType;
        hit.SL = c.SL;
        hit.isKwd = c.isKwd;
        hit.isTopic = c.isTopic;
        hit.tokens = c.tokens;
        hit.toolbar = std::string(c.name).starts_with("toolbar") ? 1 : 0;
        const std::string row = page.row(hit);
        EXPECT_NE(row.find(c.closing + "<img src=\"qzl:/kivo?VR=R19K&amp;AC=TBIMG&amp;IM="), std::string::npos)
            << row;
    }
}

TEST(HtmlOutputSearch, KeywordAndTopicLinesCutTheHitLinkAtItsFragment) {
    struct {
        const char* name;
        const char* SL;
        int searchType;
        int isKwd;
        int isTopic;
        const char* tokens;
        std::vector<std::string> links;  // each line's link, up to its class
    } const cases[] = {
        {"keywords", nullptr, 1024, 1, 0, "a b|c",
         {"<a href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Catchword#KW:A_B\"",
          "<a href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Catchword#KW:C\""}},
        {"quoted keywords joined by the daemon", nullptr, 1024, 1, 0, "\"a b\" | \"c\"",
         {"<a href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Catchword#KW:A_B\"",
          "<a href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Catchword#KW:C\""}},
        {"keywords in collection mode", "x", 1024, 1, 0, "a b|c",
         {"<a href=\"#\" onclick=\"openDoc('qzl:/kivo?AC=LINKEXT&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;"
          "ST=Catchword#KW:A_B')\"",
          "<a href=\"#\" onclick=\"openDoc('qzl:/kivo?AC=LINKEXT&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;"
          "ST=Catchword#KW:C')\""}},
        {"topics", nullptr, 512, 0, 1, "Install|12|Setup|3|",
         {"href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Topictitle#CHAPTER12\"",
          "href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Topictitle#CHAPTER3\""}},
        {"topics in collection mode: a coloured anchor gets no script end", "x", 512, 0, 1, "Install|12|",
         {"href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.htm&amp;PA=p&amp;ST=Topictitle#CHAPTER12\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RowPage page(Fields{{"PA", "p"}, {"ST", "Catchword"}});
        RowPage::Hit hit;
        hit.SL = c.SL;
        hit.searchType = c.searchType;
        hit.isKwd = c.isKwd;
        hit.isTopic = c.isTopic;
        hit.tokens = c.tokens;
        const std::string lines = after(page.row(hit), "<div class=\"cx\">");
        size_t from = 0;
        for (const std::string& link : c.links) {
            const size_t at = lines.find(link + " class=\"cy\" ><span title= 'Show topic'>", from);
            EXPECT_NE(at, std::string::npos) << link << "\nin " << lines;
            from = at == std::string::npos ? from : at + 1;
        }
        if (c.isTopic) {
            EXPECT_NE(lines.find(">Install</span></a>"), std::string::npos) << lines;
            EXPECT_EQ(lines.find("')"), std::string::npos) << lines;
        }
    }
}

TEST(HtmlOutputSearch, HitRowTitlesContextFolderAndIdentity) {
    {
        SCOPED_TRACE("subtitle and English title with MT=1");
        RowPage page(Fields{{"MT", "1"}});
        RowPage::Hit hit;
        hit.subtitle = "Sub <x>";
        hit.engtitle = "Eng";
        const std::string row = page.row(hit);
        EXPECT_NE(row.find("</small></div></a><div class=\"cs\">Sub &lt;x&gt;</div><div class=\"cs\">Eng</div>"),
                  std::string::npos)
            << row;
    }
    {
        SCOPED_TRACE("subtitle with the cookie showAllTitles=1");
        RowPage page({}, "showAllTitles=1");
        RowPage::Hit hit;
        hit.subtitle = "Sub";
        EXPECT_NE(page.row(hit).find("<div class=\"cs\">Sub</div>"), std::string::npos);
    }
    {
        SCOPED_TRACE("no titles without MT or cookie");
        RowPage page({});
        RowPage::Hit hit;
        hit.subtitle = "Sub";
        EXPECT_EQ(page.row(hit).find("class=\"cs\""), std::string::npos);
    }
    const char* const synopsis = "a <span class=\"ch\">b</span> &amp; c";
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        const char* cookie;
        const char* synopsis;
        int isKwd;
        bool shown;
    } const contexts[] = {
        {"SP=1", {{"SP", "1"}}, nullptr, synopsis, 1, true},
        {"cookie showContext=1", {}, "showContext=1", synopsis, 2, true},
        {"isKwd 0", {{"SP", "1"}}, nullptr, synopsis, 0, false},
        {"6 characters", {{"SP", "1"}}, nullptr, "abcdef", 1, false},
        {"7 characters", {{"SP", "1"}}, nullptr, "abcdefg", 1, true},
        {"SP=0", {{"SP", "0"}}, nullptr, synopsis, 1, false},
    };
    for (const auto& c : contexts) {
        SCOPED_TRACE(c.name);
        RowPage page(c.fields, c.cookie);
        RowPage::Hit hit;
        hit.synopsis = c.synopsis;
        hit.isKwd = c.isKwd;
        const bool found = page.row(hit).find(std::string("<div class=\"cx\">") + c.synopsis + "</div></td>") !=
                           std::string::npos;
        EXPECT_EQ(found, c.shown);
    }
    {
        SCOPED_TRACE("folder hit");
        RowPage page({});
        RowPage::Hit hit;
        hit.searchType = kSearchTypeFolder;
        hit.title = "a b|Name";
        const std::string row = page.row(hit);
        EXPECT_NE(row.find("IM=93") == std::string::npos ? row.find("title=\"Folder&nbsp;path:&nbsp;a&nbsp;b\"/>")
                                                          : std::string::npos,
                  std::string::npos)
            << row;
        EXPECT_NE(row.find("<small>\nName</small>"), std::string::npos) << row;
    }
    {
        SCOPED_TRACE("spreadsheet hit");
        RowPage page({});
        RowPage::Hit hit;
        hit.extn = "xls";
        EXPECT_NE(page.row(hit).find("IM=93\""), std::string::npos);
    }
    {
        SCOPED_TRACE("document-number hit");
        RowPage page(Fields{{"PAD", "ABC10101"}});
        RowPage::Hit hit;
        hit.searchType = kSearchTypeDocNo;
        const std::string row = page.row(hit);
        EXPECT_NE(row.find("<td class=\"c1\">1551-<b>ABC 101 01</b> Uen A</td>\n"), std::string::npos) << row;
    }
    {
        SCOPED_TRACE("a name that does not split writes nothing");
        RowPage page({});
        RowPage::Hit hit;
        hit.fn = "nodots";
        EXPECT_EQ(page.row(hit), "");
    }
}

// The double-quoted values of the named attributes in page.
std::vector<std::string> attributeValues(const std::string& page, std::initializer_list<const char*> names) {
    std::vector<std::string> values;
    for (const char* name : names) {
        const std::string open = name;
        for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
            const size_t start = at + open.size();
            const size_t end = page.find('"', start);
            if (end == std::string::npos) break;
            values.push_back(page.substr(start, end - start));
        }
    }
    return values;
}

TEST(HtmlOutputSearch, HostileValuesStayInsideTheirAttributes) {
    const char* const hostile = "'\"\\</script><img src=x onerror=alert(1)>');alert(1);//";
    struct {
        const char* name;
        int searchType;
        const char* SL;
        int isKwd;
        int isTopic;
    } const cases[] = {
        {"plain hit", 0, nullptr, 0, 0},
        {"collection hit", 0, "x", 0, 0},
        {"keyword hit", 1024, nullptr, 1, 0},
        {"keyword hit in collection mode", 1024, "x", 1, 0},
        {"topic hit", 512, nullptr, 0, 1},
        {"folder hit", kSearchTypeFolder, nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RowPage page(Fields{{"PA", hostile}, {"ST", hostile}, {"CH", hostile}, {"MT", "1"}, {"SP", "1"}});
        RowPage::Hit hit;
        const std::string tokens = std::string(hostile) + "|" + hostile + "|";
        const std::string sl = c.SL ? hostile : "";
        const std::string title = std::string(hostile) + "|" + hostile;
        hit.db = hostile;
        hit.dbname = hostile;
        hit.librayID = hostile;
        hit.SL = c.SL ? sl.c_str() : nullptr;
        hit.title = title.c_str();
        hit.subtitle = hostile;
        hit.engtitle = hostile;
        hit.tokens = tokens.c_str();
        hit.searchType = c.searchType;
        hit.isKwd = c.isKwd;
        hit.isTopic = c.isTopic;
        const std::string row = page.row(hit);
        ASSERT_FALSE(row.empty());
        // Markup from the values never appears raw, in text or attributes.
        for (const char* raw : {"</script>", "<img src=x", "\"'"}) {
            EXPECT_EQ(row.find(raw), std::string::npos) << raw << " in " << row;
        }
        // Link and script values hold none of the value's quotes, backslash
        // or angle brackets; only the fixed script call holds "('" "')".
        for (const std::string& value : attributeValues(row, {" href=\"", " onclick=\"", " name=\""})) {
            std::string inner = value;
            if (inner.starts_with("openDoc('")) inner = inner.substr(9);
            if (inner.starts_with("('")) inner = inner.substr(2);
            if (inner.ends_with("')")) inner.resize(inner.size() - 2);
            EXPECT_EQ(inner.find_first_of("'\\<>"), std::string::npos) << inner;
        }
    }
}

std::string headOf(const Fields& fields, const char* cookie = nullptr) {
    RowPage page(fields, cookie);
    EXPECT_EQ(page.f().writeListingHeadTitlesSearch(), 1);
    return page.text();
}

TEST(HtmlOutputSearch, ListHeadReSearchAddressKeepsTheFieldsInOrder) {
    const std::string head = headOf(Fields{{"PA", "p q"},
                                           {"PAOR", "a b"},
                                           {"PAC", "c"},
                                           {"PAD", "d"},
                                           {"PAT", "t"},
                                           {"SP", "1"},
                                           {"MT", "0"},
                                           {"OD", "19x"},
                                           {"BA", "TYPE"},
                                           {"DO", "doc"},
                                           {"ST", "Fulltext"},
                                           {"DB", "lib2"},
                                           {"SL", "x"}});
    EXPECT_NE(head.find("sortdisplayMulti('qzl:/kivo?AC=SEARCH&amp;SS=Database&amp;DB=lib2&amp;ST=Fulltext&amp;"
                        "DO=doc&amp;BA=TYPE&amp;OD=19&amp;MT=0&amp;SP=1&amp;PAT=t&amp;PAD=d&amp;PAC=c&amp;PA=a+b',"),
              std::string::npos)
        << head;
    EXPECT_NE(head.find("setCookieMulti('qzl:/kivo?AC=SEARCH"), std::string::npos);
    EXPECT_NE(head.find("<td class=\"c7\">"), std::string::npos);
    EXPECT_NE(head.find("<td class=\"c8\">"), std::string::npos);
    EXPECT_NE(head.find("<img style=\"height:0px\" width=\"418\""), std::string::npos) << head;
}

TEST(HtmlOutputSearch, ListHeadOfDocumentSearches) {
    const std::string withLibs =
        headOf(Fields{{"ST", "DocSearch"}, {"MLIDS", "L1 L2"}, {"PROFILE", "p"}, {"PA", "x"}, {"SL", "s"}});
    EXPECT_NE(withLibs.find("&amp;ST=DocSearch&amp;LIBIDS=%22L1+L2+%22&amp;PROFILE=0&amp;PA=x"), std::string::npos)
        << withLibs;
    const std::string without = headOf(Fields{{"ST", "DocSearch"}, {"SL", "s"}});
    EXPECT_NE(without.find("&amp;DB=*.kvo"), std::string::npos) << without;
    EXPECT_EQ(without.find("search_list"), std::string::npos);
    EXPECT_EQ(without.find("IM=9" "6"), std::string::npos);  // no sort image
}

TEST(HtmlOutputSearch, ListHeadSortImageAndArguments) {
    struct {
        const char* name;
        Fields fields;
        std::string expected;
    } const cases[] = {
        {"fulltext, OD absent", {{"ST", "fulltext"}}, "sortdisplay(1,'TITLE',0)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=98\""},
        {"fulltext, OD 0", {{"ST", "FullText"}, {"OD", "0"}}, "sortdisplay(1,'TITLE',0)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=98\""},
        {"OD 1", {{"ST", "Title"}, {"OD", "1"}}, "sortdisplay(0,'TITLE',0)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=97\""},
        {"OD 9", {{"OD", "9"}}, "sortdisplay(8,'TITLE',8)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=97\""},
        {"OD 8", {{"OD", "8"}}, "sortdisplay(9,'TITLE',8)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=96\""},
        {"OD absent outside full text", {{"ST", "Title"}}, "sortdisplay(1,'TITLE',0)\">Title</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=96\""},
        {"OD 0 outside full text", {{"OD", "0"}}, "&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=96\""},
        {"image follows BA", {{"BA", "identity"}, {"OD", "9"}},
         "sortdisplay(8, 'IDENTITY',8)\">Identity</a></b>&nbsp;<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=97\""},
        {"other columns take the ascending value", {{"BA", "identity"}, {"OD", "9"}},
         "sortdisplay(8, 'TYPE',8)\">Type</a></b></td>\n"},
        {"OD not a number is absent", {{"OD", "x1"}}, "sortdisplay(1,'TITLE',0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string head = headOf(c.fields);
        EXPECT_NE(head.find(c.expected), std::string::npos) << head;
        EXPECT_NE(head.find("<td class=\"ht\"><img class=\"img_df\" src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=99\""),
                  std::string::npos);
        EXPECT_NE(head.find("<img style=\"height:52px\" width=\"418\""), std::string::npos);
        EXPECT_NE(head.find("width=\"176\""), std::string::npos);
        EXPECT_NE(head.find("width=\"236\""), std::string::npos);
    }
}

TEST(HtmlOutputSearch, ListHeadSwitchesAndLaterRows) {
    const std::string checked = headOf(Fields{{"MT", "1"}}, "showContext=1");
    EXPECT_NE(checked.find("class=\"mt\" checked=\"checked\" onclick=\"top.kivotbar.document.lib.MT.value"),
              std::string::npos)
        << checked;
    EXPECT_NE(checked.find("class=\"sp\" checked=\"checked\" onclick=\"top.kivotbar.document.lib.SP.value"),
              std::string::npos);
    const std::string plain = headOf(Fields{});
    EXPECT_EQ(plain.find("checked=\"checked\""), std::string::npos);
    const std::string adv = headOf(Fields{{"ST", "AdvSearch"}});
    EXPECT_EQ(adv.find("Hits in body text"), adv.rfind("Hits in body text"));
    EXPECT_NE(adv.find("Hits in body text"), std::string::npos);

    // The spreadsheet icon changes for the rest of this writer's life.
    RowPage page(Fields{});
    RowPage::Hit hit;
    hit.extn = "xls";
    EXPECT_NE(page.row(hit).find("IM=93\""), std::string::npos);
    page.f().writeListingHeadTitlesSearch();
    EXPECT_NE(page.row(hit).find("IM=118\""), std::string::npos);
    EXPECT_NE(page.row(hit).find("IM=118\""), std::string::npos);
}

TEST(HtmlOutputSearch, ListHeadKeepsHostileValuesInsideItsScriptStrings) {
    const char* const hostile = "'\"\\</script><img src=x onerror=alert(1)>');alert(1);//";
    for (const char* st : {"Fulltext", "DocSearch", "AdvSearch"}) {
        SCOPED_TRACE(st);
        const std::string head = headOf(Fields{{"SL", hostile}, {"ST", st}, {"DB", hostile}, {"DO", hostile},
                                               {"BA", hostile}, {"OD", hostile}, {"MT", hostile}, {"SP", hostile},
                                               {"PAT", hostile}, {"PAD", hostile}, {"PAC", hostile},
                                               {"PA", hostile}, {"PAOR", hostile}, {"MLIDS", hostile},
                                               {"PROFILE", hostile}});
        for (const char* raw : {"</script>", "<img src=x", "');alert", "\\", "\"'"})
            EXPECT_EQ(head.find(raw), std::string::npos) << raw << " in " << head;
    }
}

TEST(HtmlOutputSearch, TitleSearchLeavesTheCatchwordPrefixUnmarked) {
    RowPage page(Fields{{"ST", "Title"}, {"PA", "node"}});
    EXPECT_EQ(page.f().pattern("node: the node", "node"), "node: the <b>node</b>");
    RowPage::Hit hit;
    hit.searchType = kSearchTypeTitle;
    hit.title = "node: the node";
    EXPECT_NE(page.row(hit).find("<small>\nnode: the <b>node</b></small>"), std::string::npos);
}

TEST(HtmlOutputSearch, LongSearchPatternGoesWholeIntoTheHitLink) {
    const std::string pa(3071, 'p');
    RowPage page(Fields{{"PA", pa.c_str()}, {"ST", "Catchword"}});
    RowPage::Hit hit;
    hit.searchType = kSearchTypeCatchword;
    hit.isKwd = 1;
    hit.tokens = "k";
    const std::string row = page.row(hit);
    // The operator rewrite takes a search expression's first 1,023 characters.
    const std::string p(kSearchExprMax, 'p');
    EXPECT_NE(row.find("&amp;PA=" + p + "&amp;ST=Catchword#KW:K\">"), std::string::npos);
    EXPECT_NE(row.find("&amp;PA=" + p + "&amp;ST=Catchword#KW:K\" class=\"cy\" >"), std::string::npos);
}

}  // namespace
}  // namespace ruva
