#include "common/fulltext_helpers.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using namespace std::string_literals;

const std::string kSpan = R"(<span class="CHAPTITLE">)";

struct Context {
    std::string text;
    size_t count = 0;
    bool spaceContext = false;
};

// backStrFT at the nth occurrence of word, with isTitle as FSRCH finds it
// (hitpos) unless given; the text is an exact copy, so an over-read is an
// AddressSanitizer report.
Context contextAt(const std::string& html, const std::string& word, int nth = 0) {
    size_t hit = html.find(word);
    for (int i = 0; i < nth; ++i) hit = html.find(word, hit + 1);
    EXPECT_NE(hit, std::string::npos) << word;
    auto copy = test::exactCopy(html);
    const std::string_view view(copy.get(), html.size());
    Context c;
    SnippetState state;
    state.spaceContext = true;  // cleared unless the hit word ends at "&nbsp;"
    c.count = backStrFT(c.text, view, hit, hitpos(view.substr(hit)), state);
    c.spaceContext = state.spaceContext;
    return c;
}

TEST(BackStrFT, Table) {
    std::string paragraph = "<body><p>";
    for (int i = 0; i < 40; ++i) paragraph += "word" + std::to_string(i) + " ";
    paragraph += "HIT end";
    const struct {
        const char* name;
        std::string html;
        const char* hit;
        std::string want;
        size_t count;
        bool spaceContext;
    } cases[] = {
        // Boundaries add two blanks; the end adds one more.
        {"three words after a full stop", "<body><p>Intro text. One two three HIT more</p>", "HIT",
         "\"  One two three  ", 18, false},
        {"a table cell", "<body><table><tr><td>cell one</td><td>cell two HIT</td>", "HIT", "\"  cell two  ",
         13, false},
        {"a paragraph tag in capitals", "<body><P>Some words HIT", "HIT", "\"  Some words  ", 15, false},
        {"&nbsp; as a blank", "<body><p>a&nbsp;b HIT</p>", "HIT", "\"  a b  ", 8, false},
        {"blank runs once", "<body><p>a  \n b HIT</p>", "HIT", "\"  a b  ", 8, false},
        {"no boundary before the text's start", "<body>plain text HIT", "HIT", "\"...plain text  ", 16,
         false},
        {"hit word ends at &nbsp;", "<body><p>x HIT&nbsp;z", "HIT", "\"  x  ", 6, true},
        {"quotes escaped", "<body><p>say \"so\" HIT", "HIT", "\"  say \\\"so\\\"  ", 15, false},
        {"under a chapter title", "<body>xx<h2>" + kSpan + "My \"Title\"</span></h2>body text HIT z", "HIT",
         "\"My \\\"Title\\\"\x11"
         "body text  ",
         12, false},
        {"titled block is no title", "<body>xx<div class=\"titled-block\">" + kSpan + "T</span></h2>text HIT",
         "HIT", "\"text  ", 7, false},
        {"heading, one title end", "<body>xx<h2>" + kSpan + "Safety HIT rules</span></h2><p>after", "HIT",
         "\"Safety HIT rules\x11", 17, false},
        {"heading, two title ends",
         "<body>xx<h2>" + kSpan +
             "Safety</span></h2><p>Words here.</p><h3><span class=N>1</span></h3> more HIT "
             "rules</span></h2>",
         "HIT", "\"Safety...xxSafetyWords here.1 more  ", 36, false},
        {"no text before the hit", "HIT", "HIT", "\"... ", 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Context got = contextAt(c.html, c.hit);
        EXPECT_EQ(got.text, c.want);
        EXPECT_EQ(got.count, c.count);
        EXPECT_EQ(got.spaceContext, c.spaceContext);
    }
}

TEST(BackStrFT, EmptyTextGivesTheQuote) {
    std::string dst = "stale";
    SnippetState state;
    state.spaceContext = true;
    EXPECT_EQ(backStrFT(dst, "", 0, 0, state), 0u);
    EXPECT_EQ(dst, "\"");
    EXPECT_FALSE(state.spaceContext);
    EXPECT_EQ(backStrFT(dst, "\0HIT"s, 1, 0, state), 0u);
    EXPECT_EQ(dst, "\"");
}

TEST(BackStrFT, DeepHitIsCutTo150Characters) {
    std::string html = "<body><p>";
    for (int i = 0; i < 40; ++i) html += "word" + std::to_string(i) + " ";
    html += "HIT end";
    const Context got = contextAt(html, "HIT");
    ASSERT_EQ(got.text.substr(0, 4), "\"...");
    ASSERT_EQ(got.text.back(), ' ');
    // The collected text, between "..." and the final blank, starts at a word.
    const std::string collected = got.text.substr(4, got.text.size() - 5);
    EXPECT_LE(collected.size(), 150u);
    EXPECT_GT(collected.size(), 140u);
    EXPECT_EQ(collected.substr(0, 8), " word19 ");
    EXPECT_EQ(got.count, 3 + collected.size() + 2);
}

// The title is copied whole, each quote doubled in size: nothing bounds it.
TEST(BackStrFT, LongTitleWithQuotes) {
    std::string title;
    int quotes = 0;
    for (int i = 0; title.size() < 5000; ++i) {
        const bool quote = i % 16 == 5 && quotes < 300;
        quotes += quote;
        title += quote ? '"' : i % 7 == 0 ? ' ' : static_cast<char>('a' + i % 26);
    }
    ASSERT_EQ(quotes, 300);
    std::string escaped;
    for (char c : title) escaped += c == '"' ? "\\\""s : std::string(1, c);
    const std::string heading = "<body>xx<h2>" + kSpan + title + " HIT</span></h2><p>after HAT";
    const Context inHeading = contextAt(heading, "HIT");
    EXPECT_EQ(inHeading.text, "\"" + escaped + " HIT\x11");
    EXPECT_EQ(inHeading.count, escaped.size() + 5);
    const Context inBody = contextAt(heading, "HAT");
    EXPECT_EQ(inBody.text, "\"" + escaped + " HIT\x11  after  ");
    EXPECT_EQ(inBody.count, 10u);
}

std::string section(const std::string& html, const std::string& at, int chktag) {
    auto copy = test::exactCopy(html);
    std::string dst = "stale";
    EXPECT_EQ(userdoc(dst, std::string_view(copy.get(), html.size()), html.find(at), chktag), 0);
    return dst;
}

TEST(Userdoc, Table) {
    const struct {
        const char* name;
        std::string html;
        int chktag;
        std::string want;
    } cases[] = {
        {"heading: to the next of its level, not cut at a lower one",
         R"(<body><h1>Top</h1><h2 id="x">Sec</h2><p>a</p><h3>Sub</h3><p>b</p><h2>Next</h2></body>)", 0,
         R"(<h2 id="x">Sec</h2><p>a</p><h3>Sub</h3><p>b</p>)"},
        {"heading: a higher level ends it", R"(<body><h2 id="x">Sec</h2><p>a</p><h1>Top</h1>)", 0,
         R"(<h2 id="x">Sec</h2><p>a</p>)"},
        {"heading: none before the hit", R"(<body><p id="x">t</p><h2>Later</h2>)", 0, ""},
        {"heading: body marker", R"(<body><h2 id="x">Last</h2><p>t</p><!--@/BODY--></body>)", 0,
         R"(<h2 id="x">Last</h2><p>t</p>)"},
        {"heading: closing body tag", R"(<body><h2 id="x">Last</h2><p>t</p></BOdy>)", 0,
         R"(<h2 id="x">Last</h2><p>t</p>)"},
        {"heading: to the end", R"(<h2 id="x">Last</h2><p>t</p>)", 0, R"(<h2 id="x">Last</h2><p>t</p>)"},
        {"DITA: nested divs, cut before the next topic",
         "<body><div class=\"t\" id=\"x\"><h2>T</h2><div><p>hit</p></div></div>\n<div class=\"t\" "
         "id=\"y\"><h2>U</h2>"
         "</div></body>",
         1, "<div class=\"t\" id=\"x\"><h2>T</h2><div><p>hit</p></div></div>\n"},
        {"DITA: cut before the parent's end",
         R"(<body><div class="p"><div id="x"><h2>T</h2><p>a</p><div id="z"><h3>S</h3></div></div></div><p>o</p>)",
         1, R"(<div id="x"><h2>T</h2><p>a</p><div id="z"><h3>S</h3></div></div>)"},
        {"DITA: message division", R"(<body><div id="x"><h2>T</h2><p>a</p><div id="msg_1">m</div>)", 1,
         R"(<div id="x"><h2>T</h2><p>a</p>)"},
        {"DITA: second heading", R"(<body><div id="x"><h2>T</h2><p>a</p><h2>U</h2>)", 1,
         R"(<div id="x"><h2>T</h2><p>a</p>)"},
        {"DITA: closing body tag", R"(<body><div id="x"><h2>T</h2><p>a</p></BODY>)", 1,
         R"(<div id="x"><h2>T</h2><p>a</p>)"},
        {"DITA: body marker", R"(<body><div id="x"><h2>T</h2><p>a</p><!--@/B-->x)", 1,
         R"(<div id="x"><h2>T</h2><p>a</p>)"},
        {"DITA: message division before any heading",
         R"(<body><div id="x"><p>pre</p><div id="msg_2"><h2>T</h2>)", 1, R"(<div id="x"><p>pre</p>)"},
        {"DITA: no division before the hit", R"(<p id="x">a</p><h2>T</h2><p>b</p>)", 1,
         R"(<p id="x">a</p><h2>T</h2><p>b</p>)"},
        {"other modes: nothing", R"(<body><div id="x"><h2>T</h2>)", 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(section(c.html, "x\"", c.chktag), c.want);
    }
}

TEST(Userdoc, SectionIsCappedAt500000) {
    const std::string body(600000, 'a');
    EXPECT_EQ(section("<h2 id=\"x\">T</h2>" + body, "x\"", 0).size(), kUserdocMax);
    EXPECT_EQ(section("<div id=\"x\"><h2>T</h2>" + body, "x\"", 1).size(), kUserdocMax);
    EXPECT_EQ(section("<div id=\"x\">" + body + "<h2>", "x\"", 1).size(), kUserdocMax);
}

TEST(FulltextHelpers, TextEndsAtNulAndHitsPastItAreClamped) {
    const std::string html = "<h2 id=\"x\">T</h2>ab\0cd"s;
    std::string dst;
    userdoc(dst, html, 8, 0);
    EXPECT_EQ(dst, "<h2 id=\"x\">T</h2>ab");
    // A hit position past the end is taken as the end.
    userdoc(dst, html, std::string::npos, 0);
    EXPECT_EQ(dst, "<h2 id=\"x\">T</h2>ab");
    SnippetState state;
    EXPECT_EQ(backStrFT(dst, html, std::string::npos, std::string::npos, state), 1u);
    EXPECT_EQ(dst, "\"\x11");
}

// Member text is not NUL-ended: each text here ends a page, and nothing
// after it can be read.
TEST(FulltextHelpers, NothingIsReadPastTheText) {
    const struct {
        const char* name;
        std::string html;
        size_t isTitle;
        std::string want;
    } contexts[] = {
        {"hit word to the end", "<body><p>a b HIT", 0, "\"  a b  "},
        {"hit word ends in a partial &nbsp;", "<body><p>a b HIT&nbs", 0, "\"  a b  "},
        {"title not closed", "<body>xx<h2>" + kSpan + "Title HIT", 9, "\"Title HIT\x11"},
    };
    for (const auto& c : contexts) {
        SCOPED_TRACE(c.name);
        const test::PageEndText text(c.html);
        std::string dst;
        SnippetState state;
        backStrFT(dst, text.view(), c.html.find("HIT"), c.isTitle, state);
        EXPECT_EQ(dst, c.want);
    }
    const struct {
        const char* name;
        std::string html;
        int chktag;
        std::string want;
    } sections[] = {
        {"heading, partial heading at the end", R"(<h2 id="x">T</h2><h)", 0, R"(<h2 id="x">T</h2><h)"},
        {"heading, partial body end", R"(<h2 id="x">T</h2></b)", 0, R"(<h2 id="x">T</h2></b)"},
        {"DITA, partial division end", R"(<div id="x"><h2>T</h2></di)", 1, R"(<div id="x"><h2>T</h2></di)"},
        {"DITA, partial message division", R"(<div id="x"><h2>T</h2><div id="msg)", 1,
         R"(<div id="x"><h2>T</h2><div id="msg)"},
        {"DITA, partial marker before a heading", R"(<div id="x"><!--@/)", 1, R"(<div id="x"><!--@/)"},
    };
    for (const auto& c : sections) {
        SCOPED_TRACE(c.name);
        const test::PageEndText text(c.html);
        std::string dst;
        userdoc(dst, text.view(), c.html.find("x\""), c.chktag);
        EXPECT_EQ(dst, c.want);
    }
}

TEST(FdUDprintf, Lines) {
    const struct {
        const char* name;
        size_t size;
        std::string base, member, section, want;
    } cases[] = {
        {"plain", 5, "lib", "a.html", "hello", "300 5 \"lib\" \"a.html\"  hello\n"},
        {"section keeps its line feeds", 7, "lib", "a.html", "a\nb\r\nc",
         "300 7 \"lib\" \"a.html\"  a\nb\r\nc\n"},
        {"control bytes of names as blanks", 1, "l\nb", "a\x01.html", "x", "300 1 \"l b\" \"a .html\"  x\n"},
        {"NUL in the section as a blank", 3, "lib", "m", "a\0b"s, "300 3 \"lib\" \"m\"  a b\n"},
        {"empty section", 0, "lib", "m", "", "300 0 \"lib\" \"m\"  \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::SocketReader reader;
        EXPECT_EQ(fdUDprintf(reader.fd(), c.size, c.base, c.member, c.section), 1);
        EXPECT_EQ(reader.finish(), c.want);
    }
    const std::string big(kUserdocMax, 'z');
    test::SocketReader reader;
    EXPECT_EQ(fdUDprintf(reader.fd(), big.size(), "lib", "m", big), 1);
    EXPECT_EQ(reader.finish(), "300 500000 \"lib\" \"m\"  " + big + "\n");
}

TEST(FdUDprintf, ClosedPeerGivesMinusOne) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    close(fds[1]);
    EXPECT_EQ(fdUDprintf(fds[0], 5, "lib", "a.html", "hello"), -1);
    close(fds[0]);
}

}  // namespace
}  // namespace ruva
