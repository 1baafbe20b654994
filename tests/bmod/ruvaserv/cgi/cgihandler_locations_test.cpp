// Redirections, the previous-page answer and the identity block of a page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kScript = "http://127.0.0.1:8080/cgi-bin/kivoserv";

// Which redirection a case runs, with the arguments of the two that take
// some.
enum class Call { kTop, kDbFile, kKivo };

struct Redirect {
    const char* name;
    Pairs fields;
    Call call;
    std::string uz, dbID, fn, opts;
    uint32_t options = 0;
    bool uzOnUrl = false;
    std::string location;  // the whole response
    Pairs parsed;          // what the far end must read from the query
    std::string fragment;  // after '#', raw
};

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

// The form the python oracle prints: hex name=hex value pairs, then '#' and
// the hex fragment.
std::string oracleLine(const Pairs& pairs, std::string_view fragment) {
    std::string line;
    for (const auto& [name, value] : pairs) {
        if (!line.empty()) line += ' ';
        line += hex(name) + "=" + hex(value);
    }
    return line + "#" + hex(fragment);
}

void prepare(CgiHandler& cg, const Redirect& c) {
    cg.kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    cg.kivoName = "http://127.0.0.1:8080/cgi-bin/kivo";
    cg.options = c.options;
    if (c.uzOnUrl) cg.flags |= kCgiAllowUzOnUrl;
}

void run(CgiHandler& cg, const Redirect& c) {
    switch (c.call) {
        case Call::kTop:
            EXPECT_EQ(cg.locationDbTop(), 1);
            break;
        case Call::kDbFile:
            EXPECT_EQ(cg.locationDbFile(c.uz, c.dbID, c.fn, c.opts), 1);
            break;
        case Call::kKivo:
            EXPECT_EQ(cg.locationKivo(c.uz), 1);
            break;
    }
}

// The target of a "Location: target\n\n" response.
std::string targetOf(const std::string& response) {
    constexpr std::string_view kHead = "Location: ";
    if (!response.starts_with(kHead) || !response.ends_with("\n\n")) return "";
    return response.substr(kHead.size(), response.size() - kHead.size() - 2);
}

// The query as the front end's own field parser reads it, in field order.
Pairs frontEndFields(std::string_view target) {
    const size_t q = target.find('?');
    if (q == std::string_view::npos) return {};
    std::string query(target.substr(q + 1, target.find('#') - q - 1));
    CapturedRequest far;
    far->flags |= kCgiAllowUzOnUrl;
    EXPECT_EQ(far->parseCgiInput(query.c_str(), query.size(), '&'), 1);
    Pairs pairs;
    for (const Value* v = far->valueList->firstValue(); v; v = far->valueList->nextValue(v))
        pairs.emplace_back(v->name, v->value);
    return pairs;
}

// python's parse_qsl, strict and keeping blank values, so that an empty
// field ("&&", "X=") fails the comparison; one output line per target.
std::vector<std::string> pythonFields(const std::vector<std::string>& targets) {
    test::TempDir dir;
    EXPECT_TRUE(dir.ok());
    test::writeFile(dir.file("oracle.py"),
                    "import sys, urllib.parse as u\n"
                    "h = lambda s: s.encode('latin-1').hex()\n"
                    "for t in open(sys.argv[1], encoding='latin-1').read().split('\\n')[:-1]:\n"
                    "    s = u.urlsplit(t)\n"
                    "    try:\n"
                    "        p = u.parse_qsl(s.query, keep_blank_values=True, strict_parsing=True,\n"
                    "                        encoding='latin-1') if s.query else []\n"
                    "    except ValueError:\n"
                    "        print('bad query'); continue\n"
                    "    print(' '.join(h(n) + '=' + h(v) for n, v in p) + '#' + h(s.fragment))\n");
    std::string lines;
    for (const std::string& t : targets) lines += t + "\n";
    test::writeFile(dir.file("targets"), lines);
    int status = -1;
    const std::string out = test::capture(
        test::pythonCommand() + " '" + dir.file("oracle.py") + "' '" + dir.file("targets") + "'", &status);
    EXPECT_EQ(status, 0);
    std::vector<std::string> result;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        result.push_back(out.substr(at, end - at));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return result;
}

// Runs each case, checks its exact response and the front end's reading,
// and hands the targets to python in one run.
void checkRedirects(const std::vector<Redirect>& cases) {
    std::vector<std::string> targets;
    for (const Redirect& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        prepare(*cg, c);
        for (const auto& [name, value] : c.fields) cg.field(name.c_str(), value.c_str());
        run(*cg, c);
        const std::string response = cg.written();
        EXPECT_EQ(response, c.location);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(frontEndFields(targetOf(response)), c.parsed);
        targets.push_back(targetOf(response));
    }
    const std::vector<std::string> python = pythonFields(targets);
    ASSERT_EQ(python.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(python[i], oracleLine(cases[i].parsed, cases[i].fragment));
    }
}

std::string location(std::string_view query) {
    return "Location: " + std::string(kScript) + "?" + std::string(query) + "\n\n";
}

TEST(Locations, RedirectTable) {
    const std::string crlfCookie = "x\r\nSet-Cookie: x";
    const std::vector<Redirect> cases = {
        {"up without a library", {}, Call::kTop, "", "", "", "", 0, false,
         location("AC=link&OP=0"), {{"AC", "link"}, {"OP", "0"}}, ""},
        {"up with type, library, file, main page",
         {{"DT", "QX"}, {"ID", "5"}, {"FN", "a.html"}, {"MP", "x"}}, Call::kTop, "", "", "", "", 0, false,
         location("DT=QX&ID=5&AC=link&MP=x&OP=0"),
         {{"DT", "QX"}, {"ID", "5"}, {"AC", "link"}, {"MP", "x"}, {"OP", "0"}}, ""},
        {"up with ID but no FN, TI or CW", {{"ID", "5"}}, Call::kTop, "", "", "", "", 0, false,
         location("AC=link&OP=0"), {{"AC", "link"}, {"OP", "0"}}, ""},
        {"up with an empty FN before TI", {{"ID", "5"}, {"FN", ""}, {"TI", "t"}}, Call::kTop, "", "", "", "", 0,
         false, location("AC=link&OP=0"), {{"AC", "link"}, {"OP", "0"}}, ""},
        {"up from DB with CW", {{"DB", "guide.kvo"}, {"CW", "abc"}}, Call::kTop, "", "", "", "", 0, false,
         location("DB=guide.kvo&AC=link&OP=0"), {{"DB", "guide.kvo"}, {"AC", "link"}, {"OP", "0"}}, ""},
        {"up clears option 8", {}, Call::kTop, "", "", "", "", 0x128, false, location("AC=link&OP=120"),
         {{"AC", "link"}, {"OP", "120"}}, ""},
        {"up with UZ allowed", {{"UZ", "h:9229"}, {"ID", "5"}, {"TI", "t"}}, Call::kTop, "", "", "", "", 0, true,
         location("UZ=h%3A9229&ID=5&AC=link&OP=0"),
         {{"UZ", "h:9229"}, {"ID", "5"}, {"AC", "link"}, {"OP", "0"}}, ""},
        {"up with UZ not allowed", {{"UZ", "h:9229"}}, Call::kTop, "", "", "", "", 0, false,
         location("AC=link&OP=0"), {{"AC", "link"}, {"OP", "0"}}, ""},
        {"file by library name, chapter, options", {{"CH", "2.3"}}, Call::kDbFile, "", "guide.kvo", "a+b&c.html",
         "&IX=y", 0, false, location("DB=guide.kvo&FN=a%2Bb%26c.html&AC=LINK&IX=y#2.3"),
         {{"DB", "guide.kvo"}, {"FN", "a+b&c.html"}, {"AC", "LINK"}, {"IX", "y"}}, "2.3"},
        {"file by library number", {}, Call::kDbFile, "", "12", "a.html", "", 0, false,
         location("ID=12&FN=a.html&AC=LINK"), {{"ID", "12"}, {"FN", "a.html"}, {"AC", "LINK"}}, ""},
        {"file with every field",
         {{"UZ", "h:1"}, {"VR", "R19K"}, {"DT", "QX"}, {"ID", "7"}, {"IX", "FILTER"}, {"SL", "EN/LIB"},
          {"DB", "x.kvo"}},
         Call::kDbFile, "", "", "b.html", "ST=x&&Y=1&", 0x20, true,
         location("UZ=h%3A1&VR=R19K&DT=QX&ID=7&FN=b.html&IX=FILTER&SL=EN/LIB&AC=LINK&OP=20&ST=x&Y=1"),
         {{"UZ", "h:1"}, {"VR", "R19K"}, {"DT", "QX"}, {"ID", "7"}, {"FN", "b.html"}, {"IX", "FILTER"},
          {"SL", "EN/LIB"}, {"AC", "LINK"}, {"OP", "20"}, {"ST", "x"}, {"Y", "1"}}, ""},
        {"file from the DB field, server argument", {{"DB", "lib.kvo"}, {"UZ", "f:2"}}, Call::kDbFile,
         "10.0.0.1:9229", "", "", "", 0, true, location("UZ=10.0.0.1:9229&DB=lib.kvo&AC=LINK"),
         {{"UZ", "10.0.0.1:9229"}, {"DB", "lib.kvo"}, {"AC", "LINK"}}, ""},
        {"start page", {{"UZ", "h:1"}}, Call::kKivo, "", "", "", "", 0, false,
         "Location: http://127.0.0.1:8080/cgi-bin/kivo\n\n", {}, ""},
        {"start page with the UZ field", {{"UZ", "h:1"}}, Call::kKivo, "", "", "", "", 0, true,
         "Location: http://127.0.0.1:8080/cgi-bin/kivo?UZ=h%3A1\n\n", {{"UZ", "h:1"}}, ""},
        {"start page with a server argument", {}, Call::kKivo, "h:2", "", "", "", 0, true,
         "Location: http://127.0.0.1:8080/cgi-bin/kivo?UZ=h:2\n\n", {{"UZ", "h:2"}}, ""},
        // Header injection: every text taken as it is gets its line ends coded.
        {"SL with a line end", {{"SL", crlfCookie}}, Call::kDbFile, "", "12", "", "", 0, false,
         location("ID=12&SL=x%0D%0ASet-Cookie:%20x&AC=LINK"), {{"ID", "12"}, {"SL", crlfCookie}, {"AC", "LINK"}},
         ""},
        {"CH with a line end", {{"CH", "\r\nSet-Cookie: x"}}, Call::kDbFile, "", "12", "", "", 0, false,
         location("ID=12&AC=LINK#%0D%0ASet-Cookie:%20x"), {{"ID", "12"}, {"AC", "LINK"}},
         "%0D%0ASet-Cookie:%20x"},
        {"server argument with a line end", {}, Call::kDbFile, crlfCookie, "12", "", "", 0, true,
         location("UZ=x%0D%0ASet-Cookie:%20x&ID=12&AC=LINK"), {{"UZ", crlfCookie}, {"ID", "12"}, {"AC", "LINK"}},
         ""},
        {"options with a line end", {}, Call::kDbFile, "", "12", "", "X=" + crlfCookie, 0, false,
         location("ID=12&AC=LINK&X=x%0D%0ASet-Cookie:%20x"), {{"ID", "12"}, {"AC", "LINK"}, {"X", crlfCookie}},
         ""},
        {"start page server with a line end", {}, Call::kKivo, crlfCookie, "", "", "", 0, true,
         "Location: http://127.0.0.1:8080/cgi-bin/kivo?UZ=x%0D%0ASet-Cookie:%20x\n\n", {{"UZ", crlfCookie}}, ""},
        {"coded field with a line end", {{"DT", "\r\nX-Evil: 1"}}, Call::kTop, "", "", "", "", 0, false,
         location("DT=%0D%0AX-Evil%3A+1&AC=link&OP=0"),
         {{"DT", "\r\nX-Evil: 1"}, {"AC", "link"}, {"OP", "0"}}, ""},
    };
    checkRedirects(cases);
}

TEST(Locations, ChapterLeavesTheFieldsCutLikeCurCh) {
    CapturedRequest cg;
    cg->kivoServName = "/h/cgi-bin/kivoserv";
    cg.field("CH", "1.2.3.4.5.6.7.8.9");
    cg.field("CW", "x");
    EXPECT_EQ(cg->locationDbFile("", "12", "", ""), 1);
    EXPECT_EQ(cg.written(), "Location: http://h/cgi-bin/kivoserv?ID=12&AC=LINK#1.2.3.4.5.6.7.8\n\n");
    EXPECT_EQ(cg->valueList->findValue("CH"), nullptr);
    EXPECT_NE(cg->valueList->findValue("CW"), nullptr);
}

TEST(Locations, AnsweredRequestGetsNoSecondResponse) {
    CapturedRequest cg;
    cg->flags |= kCgiResponseDone;
    EXPECT_EQ(cg->locationDbTop(), 1);
    EXPECT_EQ(cg->locationDbFile("", "12", "a.html", ""), 1);
    EXPECT_EQ(cg->locationKivo(""), 1);
    EXPECT_EQ(cg.written(), "");
}

// Parts that would take the query past 3071 characters are left out whole;
// what stays still parses field by field.
TEST(Locations, LongFieldsStayWithinTheQuery) {
    const std::string big(5000, 'v');
    const std::string half(2000, 'w');
    struct {
        const char* name;
        Pairs fields;
        std::string fn, opts;
        std::string query;
    } const cases[] = {
        {"every value 5000 bytes",
         {{"DT", big}, {"VR", big}, {"SL", big}, {"IX", big}, {"CH", big}, {"UZ", big}}, big, "X=" + big,
         "ID=12&AC=LINK#vvvvvvvvvvvvvvv"},
        {"the second half does not fit", {{"DT", half}, {"SL", half}}, "a.html", "", "DT=" + half +
         "&ID=12&FN=a.html&AC=LINK"},
        {"coded growth counts", {{"DT", std::string(1100, '&')}}, "a.html", "",
         "ID=12&FN=a.html&AC=LINK"},
    };
    std::vector<std::string> targets;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        cg->kivoServName = "/h/kivoserv";
        cg->flags |= kCgiAllowUzOnUrl;
        for (const auto& [name, value] : c.fields) cg.field(name.c_str(), value.c_str());
        EXPECT_EQ(cg->locationDbFile("", "12", c.fn, c.opts), 1);
        const std::string target = targetOf(cg.written());
        ASSERT_TRUE(target.starts_with("http://h/kivoserv?"));
        const std::string query = target.substr(std::strlen("http://h/kivoserv?"));
        EXPECT_LE(query.size(), kLocationQueryMax);
        EXPECT_EQ(query, c.query);
        targets.push_back(target);
    }
    for (const std::string& line : pythonFields(targets)) EXPECT_NE(line, "bad query");
}

// The page in a heap block of exactly its size, the output buffer in the
// pass mode, as post-processing calls the identity block.
class MetaHeader : public ::testing::Test {
protected:
    void TearDown() override {
        cg->endDstPass();
        cg->freeDocBuf();
        cg->freeDstBuf();
    }

    // Runs it with the read position just after the page's "<body>".
    int run(const std::string& text) {
        cg->freeDocBuf();
        cg->docBuf = static_cast<char*>(std::malloc(text.size()));
        std::memcpy(cg->docBuf, text.data(), text.size());
        cg->docSize = cg->docbufSize = text.size();
        EXPECT_EQ(cg->allocDstBuf(64), 1);
        cg->beginDstPass();
        so = text.find("<body>") + 6;
        return cg->writeMetaHeader(so);
    }
    std::string written() const { return std::string(cg->dstBuf, cg->dstOffs); }

    CapturedRequest cg;
    size_t so = 0;
};

std::string metaPage(const char* generator, const char* docname, const char* docno, std::string_view rest) {
    std::string page = "<html><head>";
    auto meta = [&page](const char* name, const char* value) {
        if (value) page += "<meta name=\"" + std::string(name) + "\" content=\"" + value + "\">\n";
    };
    meta("GENERATOR", generator);
    meta("DOCNAME", docname);
    meta("DOCNO", docno);
    meta("REV", "A");
    return page + "</head><body>" + std::string(rest);
}

TEST_F(MetaHeader, Table) {
    const std::string block = "<p align=\"right\" class=\"IDENTITY\">";
    const std::string top = "<a name=\"TOP\">&nbsp;</a>";
    auto font = [](const std::string& name, const std::string& no) {
        return "<font size=\"2\">" + name + "<br />" + no +
               " A</font><hr align=\"right\" size=\"1\" width=\"200\"></p>\n";
    };
    const std::string guide = font("User Guide", "1551-ABC 101 01 Uen");
    struct {
        const char* name;
        std::string page;
        std::string out;
        size_t moved;
    } const cases[] = {
        {"quoted TOP anchor replaced", metaPage("KIVOprod 3.1", "User Guide", "1551-ABC 101 01 Uen", top + "<h1>"),
         block + top + guide, 24},
        {"bare TOP anchor, any case",
         metaPage("x KIVOprod", "User Guide", "1551-ABC 101 01 Uen", "<A NAME=top>&NBSP;</a><h1>"),
         block + top + guide, 22},
        {"no anchor", metaPage("KIVOprod", "User Guide", "1551-ABC 101 01 Uen", "<h1>"), block + guide, 0},
        {"anchor cut at the page's end", metaPage("KIVOprod", "User Guide", "1551-ABC 101 01 Uen", top.substr(0, 23)),
         block + guide, 0},
        {"body at the page's end", metaPage("KIVOprod", "User Guide", "1551-ABC 101 01 Uen", ""), block + guide,
         0},
        {"other generator", metaPage("Word 97", "User Guide", "1551-ABC 101 01 Uen", top), "", 0},
        {"generator name case matters", metaPage("kivoprod", "User Guide", "1", top), "", 0},
        {"no generator", metaPage(nullptr, "User Guide", "1551-ABC 101 01 Uen", top), "", 0},
        {"missing DOCNO", metaPage("KIVOprod", "User Guide", nullptr, "<h1>"), block + font("User Guide", "&nbsp;"),
         0},
        {"markup as text", metaPage("KIVOprod", "<img src=x onerror=alert(1)>", "1", "<h1>"),
         block + font("&lt;img src=x onerror=alert(1)&gt;", "1"), 0},
        {"entities kept", metaPage("KIVOprod", "R&amp;D &lt;b&gt; &#34;x", "1", "<h1>"),
         block + font("R&amp;D &lt;b&gt; &#34;x", "1"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t start = c.page.find("<body>") + 6;
        EXPECT_EQ(run(c.page), 1);
        EXPECT_EQ(written(), c.out);
        EXPECT_EQ(so, start + c.moved);
    }
}

TEST(PreviousPage, GoesTwoStepsBackAndMarksThePage) {
    CapturedRequest cg;
    ASSERT_EQ(cg->allocDocBuf(100), 1);
    EXPECT_EQ(cg->outputPrevious(), 1);
    const std::string page(cg->docBuf, cg->docSize);
    EXPECT_EQ(page, std::string(kXhtmlDoctype) + kXhtmlStartTag +
                        "<head><title></title></head>"
                        "<body onload=\"if (top.kivotbar &amp;&amp; top.kivotbar.enableBut) "
                        "top.kivotbar.enableBut('b3'); window.history.go(-2);\"></body></html>\n");
    EXPECT_TRUE(cg->flags & kCgiWholePage);
    EXPECT_GE(cg->docbufSize, 8192u);
    EXPECT_EQ(cg.written(), "");
}

}  // namespace
}  // namespace ruva
