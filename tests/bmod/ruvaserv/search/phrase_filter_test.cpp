// The phrase filter on literal documents and hit lists, and the synopsis
// built from a context.
#include "bmod/ruvaserv/search/phrase_filter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/search_data.h"
#include "bmod/ruvaserv/search/synopsis.h"
#include "bmod/ruvaserv/search/title_path.h"
#include "common/string_list.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

std::string body(const std::string& html) {
    return "<html><head><title>t</title></head><body><!--@BODY-->" + html + "</body></html>\n";
}

TEST(PhraseInDocument, PhraseMustStandBetweenDelimiters) {
    const struct {
        const char* html;
        const char* phrase;
        bool found;
    } cases[] = {
        {"<p>x ab c.</p>", "ab c", true},
        {"<p>xab c</p>", "ab c", false},
        {"<p>x ab cd</p>", "ab c", false},
        {"<p>xab c and later x ab c</p>", "ab c", true},
        {"<p>c and ab apart</p>", "ab c", false},
        {"<p>X AB C.</p>", "ab c", true},
        {"<p>x ab</p><p>c</p>", "ab c", true},  // a block boundary reads as a blank
        {"<p>x <b>ab</b>&nbsp;c</p>", "ab c", true},
        {"<p>x ab\r\n\tc</p>", "ab c", true},
        {"<p>1551-ABC c</p>", "ABC c", false},  // '-' is a word character
        {"<p>\xC4pfel und Birnen</p>", "\xE4pfel und", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.html) + " / " + c.phrase);
        EXPECT_EQ(phraseInDocument(body(c.html), c.phrase, false).has_value(), c.found);
        EXPECT_EQ(phraseInDocument(body(c.html), c.phrase, true).has_value(), c.found);
    }
    EXPECT_EQ(phraseInDocument(body("<p>x ab c.</p>"), "ab c", false), std::optional<std::string>(""));
    // The body runs from its mark to </html>; without the mark from the start.
    EXPECT_FALSE(phraseInDocument("<title>ab c</title><!--@BODY--><p>x</p></html>", "ab c", false));
    EXPECT_FALSE(phraseInDocument("<p>x</p></html><p>ab c</p>", "ab c", false));
    EXPECT_TRUE(phraseInDocument("<p>x ab c", "ab c", false));
}

std::string chapter(const std::string& number, const std::string& title) {
    return "<h2><span class=\"CHAPNUMBER\">" + number + "</span><span class=\"CHAPTITLE\">" + title +
           "</span></h2>";
}

TEST(PhraseInDocument, ContextShowsTheHeadingAndTheTextAround) {
    const std::string w48(48, 'w');
    const std::string w49(49, 'w');
    const std::string long823(823, 'y');
    const std::string long824(824, 'y');
    const struct {
        const char* name;
        std::string html;
        std::string context;
    } cases[] = {
        {"occurrence within the first 50 characters: from the start",
         "<p>Install the unit and check it.</p>", "...Install the unit and check it."},
        {"farther: from 50 before, at the next blank",
         "<p>Alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima the unit mike november "
         "oscar.</p>",
         "... echo foxtrot golf hotel india juliet kilo lima the unit mike november oscar."},
        {"150 characters at most",
         "<p>the unit " + std::string(200, 'z') + "</p>", "...the unit " + std::string(141, 'z')},
        {"after a heading ending within 50 characters", chapter("2", "Setup") + "<p>Connect the unit.</p>",
         "2 Setup Connect the unit."},
        {"heading ending exactly 50 before", chapter("2", "Setup") + "<p>" + w48 + " the unit.</p>",
         "2 Setup " + w48 + " the unit."},
        {"heading ending 51 before: ' ...' and the text from 50 before",
         chapter("2", "Setup") + "<p>" + w49 + " the unit.</p>", "2 Setup ... the unit."},
        {"the far heading's text, then the gap",
         chapter("2", "Setup") +
             "<p>Alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima the unit mike.</p>",
         "2 Setup ... echo foxtrot golf hotel india juliet kilo lima the unit mike."},
        {"the last heading before the occurrence",
         chapter("1", "Scope") + "<p>Read this.</p>" + chapter("2", "Setup") + "<p>Connect the unit.</p>",
         "2 Setup Connect the unit."},
        {"a heading after the occurrence: none shown, no dots either",
         "<p>Connect the unit.</p>" + chapter("2", "Setup"), "Connect the unit.2 Setup"},
        {"a title-only heading",
         "<h3><span class=\"CHAPTITLE\">Cabling</span></h3><p>Connect the unit.</p>", "Cabling Connect the unit."},
        {"a heading of 823 characters is shown",
         "<h2><span class=\"CHAPTITLE\">" + long823 + "</span></h2><p>Connect the unit.</p>",
         long823 + " Connect the unit."},
        {"a heading of 824 characters is ignored",
         "<h2><span class=\"CHAPTITLE\">" + long824 + "</span></h2><p>Connect the unit.</p>", " Connect the unit."},
        {"a titled block's caption opens no heading",
         "<div class=\"titled-block\"><span class=\"CHAPTITLE\">Note</span></h4><p>Connect the unit.</p></div>",
         "...Note Connect the unit."},
        {"the context is HTML: text escaped, entities kept",
         "<p>Set \"mode\" &amp; 1 &gt; 0 then the unit.</p>", "...Set &quot;mode&quot; &amp; 1 &gt; 0 then the unit."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(phraseInDocument(body(c.html), "the unit", true), std::optional<std::string>(c.context));
    }
}

TEST(TopicPairs, KeptWhenTheirTitleHoldsThePhrase) {
    const struct {
        const char* pairs;
        const char* phrase;
        const char* kept;
    } cases[] = {
        {"Safety notes|2.1|Cable setup|2.3|", "cable", "Cable setup|2.3|"},
        {"Safety notes|2.1|Cable setup|2.3|Other cable|4|", "CABLE", "Cable setup|2.3|Other cable|4|"},
        {"Safety notes|2.1|", "cable", ""},
        {"|3|Cable|", "cable", "Cable||"},  // a title without its number
        {"2.1|Cable|", "2.1", "2.1|Cable|"},
        {"", "cable", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pairs);
        EXPECT_EQ(keepTopicPairs(c.pairs, c.phrase), c.kept);
    }
}

TEST(CheckDochit, DocumentNumberInTheFileName) {
    const struct {
        const char* filename;
        const char* docno;
        int found;
    } cases[] = {
        {"1551-ABC10101Uen.A.html", "1551-abc10101", 1},
        {"1551-ABC10101Uen.A.html", "UenA", 1},  // dots left out
        {"EN_LZN7020011.html", "EN/LZN", 1},     // '_' read as '/'
        {"1551-ABC10101Uen.A.html", "1552", 0},
        {"a.html", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.filename) + " / " + c.docno);
        EXPECT_EQ(checkDochit(c.filename, c.docno), c.found);
    }
}

TEST(ExtractTitleFromPath, LastLevelWithItsBar) {
    EXPECT_EQ(extractTitleFromPath("Manuals|Install|Cabling"), std::optional<std::string>("|Cabling"));
    EXPECT_EQ(extractTitleFromPath("Manuals|"), std::optional<std::string>("|"));
    EXPECT_EQ(extractTitleFromPath("Manuals"), std::nullopt);
    EXPECT_EQ(extractTitleFromPath(""), std::nullopt);
}

struct Hit {
    unsigned long type;
    std::string file;
    std::string comment;
    const char* topics = nullptr;
    std::string id = "12";
    int hit = 1;
    std::optional<std::string> database = "guide.kvo";
};

std::unique_ptr<UzResponse> replyOf(const std::vector<Hit>& hits) {
    std::unique_ptr<UzResponse> reply = allocResponse(RT_QXSRCH);
    for (const Hit& h : hits) {
        UzQxSearchEntry* e = reply->nextEntry<UzQxSearchEntry>();
        e->database = h.database;
        e->ID = h.id;
        e->filename = h.file;
        e->comment = h.comment;
        e->searchType = h.type;
        e->hit = h.hit;
        if (h.topics) {
            e->topics = newStringList();
            e->topics->add(h.topics);
        }
    }
    return reply;
}

// The file names left, a summary line as "(summary)".
std::vector<std::string> filesOf(const UzResponse& reply) {
    std::vector<std::string> files;
    for (const UzQxSearchEntry* e = reply.qxsrch(); e; e = e->next.get())
        files.push_back(e->hit == 0 && e->filename.empty() ? "(summary)" : e->filename);
    return files;
}

class PhraseFilterRoad : public test::ScriptedServerTest {
protected:
    // The default session of a new request, connected to peer; it lives
    // until endRequest or the next call.
    UzSession& sessionTo(const ScriptedPeer& peer) {
        cg_ = std::make_unique<CapturedRequest>();
        (*cg_)->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        EXPECT_EQ((*cg_)->createDefaultSession(), 1);
        return *(*cg_)->sess;
    }
    void endRequest() { cg_.reset(); }

private:
    std::unique_ptr<CapturedRequest> cg_;
};

TEST_F(PhraseFilterRoad, KeepsTheHitsThatHoldThePhrase) {
    const std::string match = body("<p>Alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima the "
                                   "unit mike.</p>");
    const std::string apart = body("<p>the other unit</p>");
    const struct {
        const char* name;
        std::vector<Hit> hits;
        const char* phrase;
        std::vector<std::string> replies;
        PhraseFilterMode mode;
        std::vector<std::string> kept;
        std::string sent;
        std::string synopsis;  // of the first entry kept
    } cases[] = {
        {"titles by their comment",
         {{OST_TITLE, "a.html", "TITLE: \"Fit The Unit\""}, {OST_TITLE, "b.html", "TITLE: \"The other unit\""}},
         "the unit", {}, {}, {"a.html"}, "", ""},
        {"document numbers without blanks",
         {{OST_DOCNO, "1551-ABC10101Uen.A.html", ""}, {OST_DOCNO, "1551-XYZ1Uen.html", ""}},
         "1551-abc 10101", {}, {}, {"1551-ABC10101Uen.A.html"}, "", ""},
        {"folder titles by their last level, or whole without '|'",
         {{OST_FOLTITLE, "h1.html", "TITLE: \"The unit|Cabling\""},
          {OST_FOLTITLE, "h2.html", "TITLE: \"Manuals|Fit the unit\""},
          {OST_FOLTITLE, "h3.html", "TITLE: \"Fit the unit\""},
          {OST_FOLTITLE, "h4.html", "no title"}},
         "the unit", {}, {}, {"h2.html", "h3.html"}, "", ""},
        {"topic titles by their pairs",
         {{OST_TOPICTITLE, "a.html", "", "Safety|1|The unit|2.3|"}, {OST_TOPICTITLE, "b.html", "", "Safety|1|"},
          {OST_TOPICTITLE, "c.html", ""}},
         "the unit", {}, {}, {"a.html"}, "", ""},
        {"summary lines stay, hits without file or library go",
         {{OST_TITLE, "", "", nullptr, "12", 0},
          {OST_TITLE, "", "TITLE: \"the unit\""},
          {OST_TITLE, "a.html", "TITLE: \"the unit\"", nullptr, ""},
          {OST_TITLE, "b.html", "TITLE: \"the unit\"", nullptr, "", 1, std::nullopt}},
         "the unit", {}, {}, {"(summary)", "a.html"}, "", ""},
        {"class-bound and PDF hits are not read",
         {{OST_COD, "19082-a.html", "TITLE: \"the unit\""}, {OST_BODYTEXT, "a.PDF", ""},
          {OST_BODYTEXT, "b.pdf.html", ""}},
         "the unit", {}, {}, {}, "", ""},
        {"body text read from the hit's library by ID, with its context",
         {{OST_BODYTEXT, "a.html", ""}, {OST_BODYTEXT, "b.html", ""}},
         "the unit",
         {test::contvReply("12", {{match.size(), "a.html"}}), test::retrReply("a.html", match),
          test::contvReply("12", {{apart.size(), "b.html"}}), test::retrReply("b.html", apart)},
         {false, true}, {"a.html"}, "CONTV 12 a.html\nRETR 12 a.html\nCONTV 12 b.html\nRETR 12 b.html\n",
         "... echo foxtrot golf hotel india juliet kilo lima the unit mike."},
        {"without contexts no synopsis; by database without ID; a member not there goes",
         {{OST_BODYTEXT, "a.html", "", nullptr, ""}, {OST_BODYTEXT, "gone.html", "", nullptr, ""}},
         "the unit",
         {test::contvReply("guide.kvo", {{match.size(), "a.html"}}), test::retrReply("a.html", match),
          test::contvReply("guide.kvo", {})},
         {}, {"a.html"},
         "CONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\nCONTV \"guide.kvo\" gone.html\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        std::unique_ptr<UzResponse> reply = replyOf(c.hits);
        EXPECT_EQ(rmvDocsPhraseSearch(sessionTo(peer), *reply, c.phrase, c.mode), 1);
        endRequest();
        EXPECT_EQ(filesOf(*reply), c.kept);
        if (!c.kept.empty()) {
            EXPECT_EQ(reply->qxsrch()->synopsis, c.synopsis);
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

TEST_F(PhraseFilterRoad, TopicHitKeepsOnlyItsMatchingPairs) {
    ScriptedPeer peer({test::replyScript({})});
    ASSERT_TRUE(peer.ok());
    std::unique_ptr<UzResponse> reply = replyOf({{OST_TOPICTITLE, "a.html", "", "Safety|1|The unit|2.3|"}});
    ASSERT_EQ(rmvDocsPhraseSearch(sessionTo(peer), *reply, "the unit", {}), 1);
    const StringList& topics = *reply->qxsrch()->topics;
    EXPECT_EQ(topics.countEntries(), 1);
    EXPECT_EQ(topics.first->value, "The unit|2.3|");
}

TEST_F(PhraseFilterRoad, DocumentSearchStopsCheckingAfter3001Kept) {
    ScriptedPeer peer({test::replyScript({})});
    ASSERT_TRUE(peer.ok());
    UzSession& session = sessionTo(peer);
    const struct {
        size_t matching;  // of 5000 title hits, the first ones hold the phrase
        bool documentSearch;
        size_t left;
    } cases[] = {
        {3001, true, 5000},  // the 1999 after the 3001st kept stay unchecked
        {3001, false, 3001},
        {3000, true, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.matching) + (c.documentSearch ? " document search" : ""));
        std::vector<Hit> hits;
        for (size_t i = 0; i < 5000; ++i)
            hits.push_back({OST_TITLE, "d" + std::to_string(i) + ".html", i < c.matching ? "the unit" : "other"});
        std::unique_ptr<UzResponse> reply = replyOf(hits);
        ASSERT_EQ(rmvDocsPhraseSearch(session, *reply, "the unit", {c.documentSearch, false}), 1);
        EXPECT_EQ(filesOf(*reply).size(), c.left);
    }
}

ContextWord plain(const char* word) {
    return {word, word};
}

TEST(Synopsis, TextIsCutAndTrimmedBeforeHighlighting) {
    const std::string a97(297, 'a');
    const std::string a98(298, 'a');
    const std::string a100(100, 'a');
    const struct {
        const char* name;
        std::string context;
        SynopsisMode mode;
        std::string synopsis;
    } cases[] = {
        {"the first, cut word goes", "tial word here ", {}, "word here..."},
        {"unless the text is Japanese", "tial word here ", {2, false, true}, "tial word here..."},
        {"control runs one blank, '~' to 160 left out", " a~b\x7f\xa0" "c\xa1\t\n\r x ", {},
         "abc\xa1 x..."},
        {"the last word may be cut: it goes", " one two thr", {}, "one two..."},
        {"one character: no dots", " a ", {}, "a"},
        {"no word left: empty", " abc", {}, ""},
        {"the text stops at 299: a blank there keeps the word before",
         " " + a98 + " b", {0}, a98 + "..."},
        {"the text stops at 299: a word there goes", " " + a97 + " bc d", {0}, a97 + "..."},
        {"a keyword hit's 200 characters are cut to 199", " " + a100 + " " + std::string(98, 'b') + " ", {1},
         a100 + "..."},
        {"199 stay", " " + a100 + " " + std::string(97, 'b') + " ", {1}, a100 + " " + std::string(97, 'b') + "..."},
        {"other hits keep 200", " " + a100 + " " + std::string(98, 'b') + " ", {0},
         a100 + " " + std::string(98, 'b') + "..."},
        {"a phrase's 201 characters are cut to 199", a100 + " " + std::string(99, 'b') + " ", {0, true},
         a100 + "..."},
        {"a phrase's 200 stay, its whole text taken", a100 + " " + std::string(98, 'b') + " ", {0, true},
         a100 + " " + std::string(98, 'b') + "..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(makeSynopsis(c.context, {}, c.mode), c.synopsis);
    }
}

TEST(Synopsis, SearchWordsAreHighlightedInTheEscapedText) {
    const std::string open(kHighlightOpen);
    const std::string close(kHighlightClose);
    auto mark = [&](const std::string& word) { return open + word + close; };
    const struct {
        const char* name;
        std::string context;
        std::vector<ContextWord> words;
        std::string synopsis;
    } cases[] = {
        {"a whole word, any case", " Check the Unit units unit ", {plain("unit")},
         "Check the " + mark("Unit") + " units " + mark("unit") + "..."},
        {"a wildcard word fits the whole word", " The Alarm sounds: alarms, Balance ", {{"al", "al*"}},
         "The " + mark("Alarm") + " sounds: " + mark("alarms") + ", Balance..."},
        {"a wildcard in front", " An alarm sounds ", {{"", "*arm"}}, "An " + mark("alarm") + " sounds..."},
        {"a wildcard alone highlights nothing", " An alarm sounds ", {{"", "*"}}, "An alarm sounds..."},
        {"not inside a tag", " <span class=\"x\">class</span> here ", {plain("class")},
         "&lt;span class=&quot;x&quot;&gt;" + mark("class") + "&lt;/span&gt; here..."},
        {"not inside an entity", " a &amp; amp b ", {plain("amp")}, "a &amp; " + mark("amp") + " b..."},
        {"four words at most", " one two three four five ",
         {plain("one"), plain("two"), plain("three"), plain("four"), plain("five")},
         mark("one") + " " + mark("two") + " " + mark("three") + " " + mark("four") + " five..."},
        {"a word inside an earlier highlight stays plain", " red car ", {plain("red car"), plain("car")},
         mark("red car") + "..."},
        {"a text ending in a highlighted word is balanced", " check install ", {plain("install")},
         "check " + mark("install") + "..."},
        {"'<', '\"' and a lone '&' escaped, '&amp;' kept", " x < y \" z & w &amp; v ", {},
         "x &lt; y &quot; z &amp; w &amp; v..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(makeSynopsis(c.context, c.words, {}), c.synopsis);
    }
    // Keyword and catchword hits are not highlighted.
    EXPECT_EQ(makeSynopsis(" the unit ", {plain("unit")}, {1}), "the unit...");
    EXPECT_EQ(makeSynopsis(" the unit ", {plain("unit")}, {0}), "the unit...");
}

TEST(Synopsis, HundredOneLetterWordsAllHighlighted) {
    std::string context = " ";
    for (int i = 0; i < 100; ++i) context += "a ";
    const std::string synopsis = makeSynopsis(context, {plain("a")}, {});
    std::string want;
    for (int i = 0; i < 100; ++i) want += (i ? " " : "") + std::string(kHighlightOpen) + "a" + std::string(kHighlightClose);
    EXPECT_EQ(synopsis, want + "...");
}

TEST(Synopsis, EscapingTwiceChangesNothingMore) {
    const std::string once = escapeSynopsisText("a < b & c &amp; \"d\" &#34; &#x22; &bogus &;");
    EXPECT_EQ(once, "a &lt; b &amp; c &amp; &quot;d&quot; &#34; &#x22; &amp;bogus &amp;;");
    EXPECT_EQ(escapeSynopsisText(once), once);
}

}  // namespace
}  // namespace ruva
