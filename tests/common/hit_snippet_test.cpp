#include "common/hit_snippet.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/tokens.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using namespace std::string_literals;

const std::string kTitleSpan = R"(<span class="CHAPTITLE">)";

// The context of a hit at html[hit] as the daemon's SRCH joins it.
struct Joined {
    std::string back, hex, context;
    size_t isTitle = 0, count = 0, hexResult = 0;
};

Joined joinContext(std::string_view html, size_t hit) {
    Joined j;
    SnippetState state;
    j.isTitle = hitpos(html.substr(hit));
    j.count = backStr(j.back, html, hit, j.isTitle, state);
    j.hexResult = hexStr(j.hex, html.substr(hit), 0, j.count, state);
    j.context = j.back + j.hex.substr(1);
    return j;
}

// The field as getNextToken reads it back; "<bad>" unless it is one quoted
// token whose closing quote, by getNextToken's rule (a backslash escapes a
// quote), is the field's last byte.
std::string readBack(const std::string& field) {
    if (field.size() < 2 || field[0] != '"') return "<bad>";
    size_t close = 1;
    while (close < field.size() && field[close] != '"')
        close += field[close] == '\\' && close + 1 < field.size() && field[close + 1] == '"' ? 2 : 1;
    if (close != field.size() - 1) return "<bad>";
    std::vector<char> buf(field.begin(), field.end());
    buf.push_back('\0');
    char* cursor = buf.data();
    const char* token = getNextToken(&cursor);
    return token != nullptr ? token : "<bad>";
}

TEST(HitSnippetHitpos, FindsTheTitleEndBeforeAnyTitleSpan) {
    struct {
        const char* name;
        std::string in;
        size_t out;
    } const cases[] = {
        {"empty", "", 0},
        {"title end first", "Scope</span></h2><p>text", 17},
        {"any case", "Scope</SPAN></H2>text", 17},
        {"title span first", "body " + kTitleSpan + "T</span></h2>", 0},
        {"unquoted title span first", "body <SPAN CLASS=chaptitle>T</span></h2>", 0},
        {"other span does not count", "x <span class=\"CHAPNUMBER\">2</span></h2>", 40},
        {"body end first", "x<!--@/BODY-->T</span></h2>", 0},
        {"no title end", "just text", 0},
        {"cut markup at the end", "ab</span></h", 12},
        {"NUL first", "ab\0</span></h2>"s, 0},
        {"149 separators", std::string(149, '\n') + "</span></h2>", 161},
        {"150 separators", std::string(150, '\n') + "</span></h2>", 0},
        {"blanks are not separators", std::string(500, ' ') + "</span></h2>", 512},
        {"bytes 127-160 are separators", std::string(150, '\x90') + "</span></h2>", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto copy = test::exactCopy(c.in);
        EXPECT_EQ(hitpos(std::string_view(copy.get(), c.in.size())), c.out);
    }
}

struct HexCase {
    const char* name;
    std::string in;
    int isKwd;
    size_t count;
    std::string out;
    size_t result;
};

void checkHex(const HexCase& c) {
    SCOPED_TRACE(c.name);
    const auto copy = test::exactCopy(c.in);
    SnippetState state;
    std::string dst = "old";
    EXPECT_EQ(hexStr(dst, std::string_view(copy.get(), c.in.size()), c.isKwd, c.count, state), c.result);
    EXPECT_EQ(dst, c.out);
}

TEST(HitSnippetHexStr, WritesVisibleTextInQuotes) {
    const HexCase cases[] = {
        {"plain", "word and more", 0, 0, R"("word and more")", 0},
        {"quote escaped", R"(say "hi")", 0, 0, R"("say \"hi\"")", 0},
        {"tags skipped", "a<b>b</b>c <i class='x'>d</i>", 0, 0, R"("abc d")", 0},
        {"separators as blanks",
         "a\tb\x7f"
         "c\x90"
         "d\xA0"
         "e\xA1",
         0, 0, "\"a b c d e\xA1\"", 0},
        {"blank runs once", "a  \n\t b", 0, 0, R"("a b")", 0},
        {"blank runs kept in keyword mode", "a  \nb", 1, 0, "\"a   b\"", 0},
        {"separator after a tag at the start", "<b>\n\nword</b>\nx", 0, 0, R"("word x")", 0},
        {"separator at the very start", "\nword", 0, 0, R"(" word")", 0},
        {"body end", "ab<!--@/BODY-->cd", 0, 0, R"("ab")", 0},
        {"NUL ends", "ab\0cd"s, 0, 0, R"("ab")", 0},
        {"empty", "", 0, 0, R"("")", 0},
        {"cap 200", std::string(300, 'a'), 0, 0, '"' + std::string(200, 'a') + '"', 0},
        {"cap less count", std::string(300, 'a'), 0, 150, '"' + std::string(50, 'a') + '"', 0},
        {"count above 200", std::string(300, 'a'), 0, 250, R"("")", 0},
        {"keyword mode ignores count", std::string(300, 'a'), 1, 150, '"' + std::string(200, 'a') + '"', 0},
        {"escape not split at the cap", std::string(199, 'a') + "\"b", 0, 0,
         '"' + std::string(199, 'a') + '"', 0},
        {"escape that fits", std::string(198, 'a') + "\"b", 0, 0, '"' + std::string(198, 'a') + "\\\"\"", 0},
        {"trailing backslash dropped",
         R"(a\\)"
         "<p>",
         0, 0, R"("a")", 0},
        {"backslash before a quote kept", R"(a\"b)", 0, 0, R"("a\\"b")", 0},
        {"backslash cut at the cap", std::string(199, 'a') + "\\b", 0, 0, '"' + std::string(199, 'a') + '"',
         0},
        {"restart after the hit's title", "Scope</span></h2>\n<p>Text", 0, 0, R"("Text")", 17},
        {"no restart after a title span", kTitleSpan + "T</span></h2>\nText", 0, 0, R"("T Text")", 0},
        {"restart only once", "a</span></h2>b</span></h3>c", 0, 0, R"("bc")", 13},
        {"keyword title", "Scope</span></h2>\n<p>Text", 1, 0, R"("Scope: Text")", 1},
        {"keyword title resets the cap", std::string(150, 'T') + "</span></h2>" + std::string(300, 'x'), 1, 0,
         '"' + std::string(150, 'T') + ':' + std::string(200, 'x') + '"', 1},
        {"keyword title once", "a</span></h2>b</span></h3>c", 1, 0, R"("a:bc")", 1},
    };
    for (const HexCase& c : cases) checkHex(c);
}

TEST(HitSnippetHexStr, SpaceContextPutsABlankBeforeTheFirstNbsp) {
    const std::string text = "word&nbsp;next&nbsp;last";
    SnippetState state;
    state.spaceContext = true;
    std::string dst;
    hexStr(dst, text, 0, 0, state);
    EXPECT_EQ(dst, R"("word &nbsp;next&nbsp;last")");
    EXPECT_FALSE(state.spaceContext);
    hexStr(dst, text, 0, 0, state);
    EXPECT_EQ(dst, R"("word&nbsp;next&nbsp;last")");

    // Cleared even when hexStr never meets the entity.
    state.spaceContext = true;
    hexStr(dst, "no entity", 0, 0, state);
    EXPECT_FALSE(state.spaceContext);
}

// Stands for the position of "HIT" in the case's text.
constexpr size_t kAtHit = std::string::npos;

struct BackCase {
    const char* name;
    std::string html;
    size_t hit;
    size_t isTitle;
    std::string out;
};

void checkBack(const BackCase& c) {
    SCOPED_TRACE(c.name);
    const auto copy = test::exactCopy(c.html);
    SnippetState state;
    std::string dst = "old";
    const size_t hit = c.hit == kAtHit ? c.html.find("HIT") : c.hit;
    const size_t count = backStr(dst, std::string_view(copy.get(), c.html.size()), hit, c.isTitle, state);
    EXPECT_EQ(dst, c.out);
    EXPECT_EQ(count, dst.size());
}

TEST(HitSnippetBackStr, CollectsTextBeforeTheHit) {
    const std::string longText = std::string(20, 'w') + " " + std::string(300, 'v') + " tail ";
    const BackCase cases[] = {
        {"plain", "one two HIT", kAtHit, 0, R"("one two )"},
        {"hit at the start", "HIT", kAtHit, 0, R"(")"},
        {"tags skipped", "a <b>b</b>\nc HIT", kAtHit, 0, R"("a b c )"},
        {"quotes escaped", R"(he "said" HIT)", kAtHit, 0, R"("he \"said\" )"},
        {"paragraph start", "x</p><p>a b HIT", kAtHit, 0, R"("a b )"},
        {"paragraph with attributes", "x<P class=c>a HIT", kAtHit, 0, R"("a )"},
        {"list item", "x<li>a HIT", kAtHit, 0, R"("a )"},
        {"table row", "x<tr>a HIT", kAtHit, 0, R"("a )"},
        {"definition term", "x<dt>a HIT", kAtHit, 0, R"("a )"},
        {"table cell is no block", "x<td>a HIT", kAtHit, 0, R"("xa )"},
        {"pre is no block", "x<pre>a HIT", kAtHit, 0, R"("xa )"},
        {"title end stops", "T</span></h2>\nbody HIT", kAtHit, 0, R"(" body )"},
        {"chapter title first", "<h2>" + kTitleSpan + "Scope\n aims</span></h2>\n<p>body HIT", kAtHit, 0,
         R"("Scope aims:body )"},
        {"title after the hit not used", "body HIT <h2>" + kTitleSpan + "T</span></h2>", kAtHit, 0,
         R"("body )"},
        {"backslash before the hit", R"(C:\dir\HIT)", kAtHit, 0, R"("C:\dir )"},
        {"hit past the end", "abc", 99, 0, R"("abc)"},
        {"NUL before the hit", "ab\0cd HIT"s, kAtHit, 0, R"("ab)"},
        {"cut at a word", longText + "HIT", kAtHit, 0,
         "\" ... " + std::string(300, 'v').substr(0, 0) + "tail "},
    };
    for (const BackCase& c : cases) checkBack(c);
}

TEST(HitSnippetBackStr, CutContextStartsAtAWordAfterAnEllipsis) {
    std::string words;
    for (int i = 0; words.size() < 400; ++i) words += "w" + std::to_string(i) + " ";
    const std::string html = words + "HIT";
    SnippetState state;
    std::string back;
    const size_t count = backStr(back, html, words.size(), 0, state);
    ASSERT_EQ(back.substr(0, 6), "\" ... ");
    // The word after the ellipsis is whole: it follows a blank in the text.
    const std::string rest = back.substr(6);
    EXPECT_NE(html.find(" " + rest), std::string::npos);
    EXPECT_TRUE(words.ends_with(rest));
    // 200 less the hit word and 3.
    EXPECT_LE(count, 1u + 200 - 6);
    EXPECT_GT(count, 150u);
}

TEST(HitSnippetBackStr, NbspEndingTheHitWordSetsTheFlag) {
    SnippetState state;
    std::string back;
    backStr(back, "a HIT&nbsp;b", 2, 0, state);
    EXPECT_TRUE(state.spaceContext);
    backStr(back, "a HIT b&nbsp;", 2, 0, state);
    EXPECT_FALSE(state.spaceContext);
    // Only within the 50 characters looked at.
    backStr(back, "a " + std::string(50, 'H') + "&nbsp;", 2, 0, state);
    EXPECT_FALSE(state.spaceContext);
    backStr(back, "a " + std::string(49, 'H') + "&nbsp;", 2, 0, state);
    EXPECT_TRUE(state.spaceContext);
}

TEST(HitSnippetBackStr, TitleModeWritesTheTitle) {
    const std::string heading = "<h2>" + kTitleSpan + "Safety \"rules\"</span></h2>\n<p>After.";
    const size_t hit = heading.find("rules");
    const BackCase cases[] = {
        {"hit in the title", heading, hit, hitpos(std::string_view(heading).substr(hit)),
         R"("Safety \"rules\":)"},
        {"no title span", "<h2>Plain HIT</span></h2>", kAtHit, 12, R"(")"},
        {"title ends before the hit's heading",
         "<h2>" + kTitleSpan + "Intro</span></h2>\n<p>Body text.</p><h3><span>Sub HIT</span></h3>", kAtHit,
         12, R"("Intro: ... Body text.Sub )"},
    };
    for (const BackCase& c : cases) checkBack(c);

    const std::string longTitle = "<h2>" + kTitleSpan + std::string(300, 'T') + "</span></h2>";
    SnippetState state;
    std::string back;
    backStr(back, longTitle, 100, 12, state);
    EXPECT_EQ(back, '"' + std::string(200, 'T') + ':');
}

TEST(HitSnippet, JoinedContextOfAHitInTheBody) {
    const std::string html = "<h2>" + kTitleSpan + "Scope</span></h2>\n<p>The \"unit\" must be tested.</p>" +
                             "<p>Next</p><!--@/BODY-->tail";
    const Joined j = joinContext(html, html.find("must"));
    EXPECT_EQ(j.isTitle, 0u);
    // Tags are left out without a blank in their place.
    EXPECT_EQ(j.context, R"("Scope:The \"unit\" must be tested.Next")");
    EXPECT_EQ(readBack(j.context), R"(Scope:The "unit" must be tested.Next)");
}

TEST(HitSnippet, HitWordKeepsItsRoomAfterATitle) {
    std::string body;
    for (int i = 0; body.size() < 600; ++i) body += "word" + std::to_string(i) + " ";
    const std::string html = "<h2>" + kTitleSpan + "A rather long chapter title for this</span></h2>\n<p>" +
                             body + "HITWORD and after";
    const Joined j = joinContext(html, html.find("HITWORD"));
    EXPECT_TRUE(j.context.starts_with(R"("A rather long chapter title for this: ... )")) << j.context;
    EXPECT_NE(j.context.find(" HITWORD "), std::string::npos) << j.context;
    EXPECT_LE(j.context.size(), 202u);
}

TEST(HitSnippet, JoinedContextOfAHitInATitle) {
    const std::string html = "<h2>" + kTitleSpan + "Scope and aims</span></h2>\n<p>First words.</p>";
    const Joined j = joinContext(html, html.find("aims"));
    EXPECT_EQ(j.isTitle, 16u);
    EXPECT_EQ(j.context, R"("Scope and aims:First words.")");
    EXPECT_EQ(j.hexResult, 16u);
}

// Random HTML-like text: words, blanks, tags, block starts, title
// headings, "&nbsp;", quotes, backslashes, control bytes and 127-160.
std::string randomHtml(std::mt19937& rng, bool titles, bool* hasTitleMarkup) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string html;
    const int pieces = 1 + pick(120);
    for (int i = 0; i < pieces; ++i) {
        switch (pick(titles ? 16 : 14)) {
            case 0:
            case 1:
            case 2: {
                const int n = 1 + pick(12);
                for (int k = 0; k < n; ++k) html += static_cast<char>('a' + pick(26));
                break;
            }
            case 3:
                html += std::string(1 + pick(3), ' ');
                break;
            case 4: {
                static const char* tags[] = {"<p>",   "<p class=x>", "</p>",          "<li>", "<tr>",
                                             "<dt>",  "<td>",        "<b>",           "</b>", "<br>",
                                             "<pre>", "<P\n>",       "<a href=\"x\">"};
                html += tags[pick(13)];
                break;
            }
            case 5:
                html += "&nbsp;";
                break;
            case 6:
                html += '"';
                break;
            case 7:
                html += static_cast<char>(1 + pick(31));
                break;
            case 8:
                html += static_cast<char>(127 + pick(34));
                break;
            case 9:
                html += '\\';
                break;
            case 10:
                html += "</span></h2>";
                break;
            case 11:
                html += pick(4) == 0 ? "<!--@/BODY-->" : "<span>";
                break;
            case 12:
                html += static_cast<char>(161 + pick(95));
                break;
            case 13:
                html += std::string(1 + pick(300), static_cast<char>('a' + pick(26)));
                break;
            default: {
                html += pick(2) ? "<h2><span class=\"CHAPTITLE\">" : "<H3><SPAN CLASS=chaptitle>";
                const int n = pick(30);
                for (int k = 0; k < n; ++k) html += pick(5) ? static_cast<char>('A' + pick(26)) : ' ';
                if (pick(3) == 0) html += "\"\\\x05";
                if (pick(2)) html += std::string(pick(400), 'L');
                html += "</span></h2>";
                break;
            }
        }
    }
    *hasTitleMarkup =
        html.find("CHAPTITLE") != std::string::npos || html.find("chaptitle") != std::string::npos;
    return html;
}

// Characters between the quotes, \" counted once, a leading " ..." left out.
size_t visibleLength(const std::string& context) {
    std::string inner = context.substr(1, context.size() - 2);
    if (inner.starts_with(" ...")) inner = inner.substr(4);
    size_t n = 0;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
        ++n;
    }
    return n;
}

TEST(HitSnippet, RandomTextsGiveWellFormedContexts) {
    std::mt19937 rng(20240611);
    int withTitles = 0, titled = 0, cut = 0;
    for (int round = 0; round < 10000; ++round) {
        SCOPED_TRACE(round);
        bool hasTitle = false;
        const std::string html = randomHtml(rng, round % 2 == 0, &hasTitle);
        const size_t hit = rng() % (html.size() + 1);
        const auto copy = test::exactCopy(html);
        const Joined j = joinContext(std::string_view(copy.get(), html.size()), hit);
        const std::string& c = j.context;

        ASSERT_GE(c.size(), 2u) << html;
        ASSERT_EQ(c.front(), '"');
        ASSERT_EQ(c.back(), '"');
        ASSERT_EQ(j.count, j.back.size());
        for (size_t i = 1; i + 1 < c.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(c[i]);
            ASSERT_TRUE(b != '"' || c[i - 1] == '\\') << "unescaped quote at " << i << " in " << c;
            ASSERT_NE(b, '<') << c;
            ASSERT_GE(b, 32) << c;
        }
        ASSERT_NE(readBack(c), "<bad>") << c;
        if (!hasTitle) {
            ASSERT_LE(visibleLength(c), 200u) << c;
        } else {
            ++withTitles;
            ASSERT_LE(c.size(), 1024u) << c;
        }
        if (j.isTitle != 0) ++titled;
        if (c.find(" ...") != std::string::npos) ++cut;
    }
    // The generator reaches the paths it is meant to.
    EXPECT_GT(withTitles, 1000);
    EXPECT_GT(titled, 100);
    EXPECT_GT(cut, 100);
}

}  // namespace
}  // namespace ruva
