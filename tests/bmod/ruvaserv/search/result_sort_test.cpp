#include "bmod/ruvaserv/search/result_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/hit_comment.h"
#include "bmod/ruvaserv/search/library_titles.h"

namespace ruva {
namespace {

// A hit as a test writes it; label names it in expected orders.
struct Hit {
    std::string label;
    std::string file;  // "" for a library summary entry
    std::string comment;
    unsigned long searchType = OST_BODYTEXT;
    int isKwd = 0;
    std::string id = "1";
};

// Owns the entries of one case and sorts them through sortSearchResults.
class Reply {
public:
    explicit Reply(const std::vector<Hit>& hits) {
        for (const Hit& h : hits) {
            auto e = std::make_unique<UzQxSearchEntry>();
            e->database = "lib";
            e->ID = h.id;
            e->filename = h.file;
            e->comment = h.comment;
            e->searchType = h.searchType;
            e->isKwd = h.isKwd;
            e->hit = h.file.empty() ? 0 : 1;
            e->actualHits = h.file.empty() ? 7 : 0;
            labels_[e.get()] = h.label;
            order.push_back(e.get());
            owned_.push_back(std::move(e));
        }
    }
    std::vector<std::string> labels() const {
        std::vector<std::string> out;
        for (const UzQxSearchEntry* e : order) out.push_back(labels_.at(e));
        return out;
    }
    std::vector<UzQxSearchEntry*> order;

private:
    std::vector<std::unique_ptr<UzQxSearchEntry>> owned_;
    std::map<const UzQxSearchEntry*, std::string> labels_;
};

std::vector<std::string> sorted(const std::vector<Hit>& hits, const char* OD, const char* BA,
                                SearchResultSortOrder order, HitSortSettings settings = {}) {
    Reply reply(hits);
    EXPECT_TRUE(sortSearchResults(reply.order, 0, OD, BA, order, settings, LibraryTable{}));
    return reply.labels();
}

std::string titled(const std::string& title) {
    return "TITLE: \"" + title + "\"";
}

TEST(HitSortSettings, StartGroupedAscendingByTitle) {
    HitSortSettings settings;
    EXPECT_EQ(settings.desOrder, 0);
    EXPECT_EQ(settings.searchtypeNeeded, 1);
    EXPECT_EQ(settings.base, "TITLE");
}

TEST(ReadHitComment, TakesTheTokenAfterEachKeyword) {
    struct Case {
        const char* name;
        std::string comment;
        HitComment want;
    };
    const std::string longTitle(2000, 't');
    const std::string longWord(200, 'c');
    const Case cases[] = {
        {"all five",
         "TITLE: \"Install Guide\" ENGTITLE: Eng SUBTITLE: \"Sub T\" CTW: ABC EXTN: pdf",
         {"Install Guide", "Eng", "Sub T", "ABC", "pdf"}},
        {"quoted title keeps an escaped quote", "TITLE: \"say \\\"hi\\\"\"", {"say \"hi\"", "", "", "", ""}},
        {"last occurrence wins", "TITLE: one CTW: a TITLE: two CTW: b", {"two", "", "", "b", ""}},
        {"keyword last sets nothing", "TITLE: kept TITLE:", {"kept", "", "", "", ""}},
        {"a value is not read as a keyword", "TITLE: CTW: x", {"CTW:", "", "", "", ""}},
        {"keywords are case-exact", "title: no Title: no", {}},
        {"empty line", "", {}},
        {"catchword cut to 80, extension to 5",
         "CTW: " + longWord + " EXTN: abcdefg",
         {"", "", "", std::string(80, 'c'), "abcde"}},
        // The line is cut to 1,024 bytes before reading: 1,024 - 7 of the title.
        {"line cut to 1024", "TITLE: " + longTitle + " CTW: lost", {std::string(1017, 't'), "", "", "", ""}},
        {"unterminated quote runs to the end", "TITLE: \"open end", {"open end", "", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HitComment got = readHitComment(c.comment);
        EXPECT_EQ(got.title, c.want.title);
        EXPECT_EQ(got.engTitle, c.want.engTitle);
        EXPECT_EQ(got.subTitle, c.want.subTitle);
        EXPECT_EQ(got.ctw, c.want.ctw);
        EXPECT_EQ(got.extn, c.want.extn);
    }
}

TEST(ReadHitComment, ReadsNoFurtherThanTheView) {
    const std::string line = "TITLE: abcdef";
    EXPECT_EQ(readHitComment(std::string_view(line).substr(0, 10)).title, "abc");
}

TEST(MakeHitSortKey, ComputesTheShownTitleAndDocumentKeys) {
    struct Case {
        const char* name;
        std::string file;
        std::string comment;
        bool folder;
        std::string prefix;
        int prefixNumber;
        std::string typeName;
        std::string title;
    };
    const std::string longCtw(100, 'k');
    const Case cases[] = {
        {"catchword before title", "1553-AB.R1A.html", "TITLE: Intro CTW: ABC", false, "", 0, "User Guide",
         "ABC: Intro"},
        {"folder path keeps its last level", "h12.R1.html", "TITLE: \"a|b|Guide\"", true, "", 0, "Folder",
         "Guide"},
        {"prefixed description", "9_1551-AB.R1A.html", "TITLE: \"The \\\"Best\\\"\"", false, "9", 9,
         "Description", "The \"Best\""},
        {"catchword cut to 80", "1553-AB.R1A.html", "TITLE: T CTW: " + longCtw, false, "", 0, "User Guide",
         std::string(80, 'k') + ": T"},
        {"name that does not split has the missing class's type", "readme", "", false, "", 0,
         "General Office Document", ""},
        {"prefix up to its slash", "12/1553-A.R1A.html", "", false, "12", 12, "User Guide", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UzQxSearchEntry e;
        e.filename = c.file;
        e.comment = c.comment;
        const HitSortKey k = makeHitSortKey(e);
        EXPECT_TRUE(k.hasFileName);
        EXPECT_EQ(k.entry, &e);
        EXPECT_EQ(k.folder, c.folder);
        EXPECT_EQ(k.prefix, c.prefix);
        EXPECT_EQ(k.prefixNumber, c.prefixNumber);
        EXPECT_EQ(k.typeName, c.typeName);
        EXPECT_EQ(k.title, c.title);
    }
}

// A: body-text User Guide, B: title-hit Description, C: prefixed User
// Guide, D: folder hit, E: a library summary without file name.
const std::vector<Hit> kMixed = {
    {"A", "1553-AAA.R1A.html", titled("Beta")},
    {"E", "", ""},
    {"B", "1551-BBB.R1A.html", titled("alpha"), OST_TITLE},
    {"C", "2_1553-CCC.R1A.html", titled("gamma")},
    {"D", "h100.R1.html", titled("x|Delta"), OST_FOLTITLE},
};

TEST(SortSearchResults, OrdersByODAndBA) {
    struct Case {
        const char* OD;
        const char* BA;
        SearchResultSortOrder order;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        // Titles case-blind; entries without file name last in every order.
        {nullptr, nullptr, SRSO_DEFAULT, {"B", "A", "D", "C", "E"}},
        {"", "", SRSO_DEFAULT, {"B", "A", "D", "C", "E"}},
        {"0", "title", SRSO_DEFAULT, {"B", "A", "D", "C", "E"}},
        {"1", "TITLE", SRSO_DEFAULT, {"C", "D", "A", "B", "E"}},
        {"9", "TITLE", SRSO_DEFAULT, {"C", "D", "A", "B", "E"}},
        {"8", "TITLE", SRSO_SRCHTYPE, {"B", "A", "D", "C", "E"}},
        {"9", "TITLE", SRSO_SRCHTYPE, {"C", "D", "A", "B", "E"}},
        // Grouped: search type descending first, never reversed.
        {"0", "TITLE", SRSO_SRCHTYPE, {"D", "B", "A", "C", "E"}},
        {"1", "TITLE", SRSO_SRCHTYPE, {"D", "B", "C", "A", "E"}},
        {"2", "TYPE", SRSO_SRCHTYPE, {"D", "B", "A", "C", "E"}},
        // Type names, titles ascending within a type in both directions.
        {"0", "TYPE", SRSO_DEFAULT, {"B", "D", "A", "C", "E"}},
        {"9", "type", SRSO_DEFAULT, {"A", "C", "D", "B", "E"}},
        // Unprefixed documents by file name, prefixed, then folders.
        {"0", "IDENTITY", SRSO_DEFAULT, {"B", "A", "C", "D", "E"}},
        {"9", "Identity", SRSO_DEFAULT, {"D", "C", "A", "B", "E"}},
        // An unknown key keeps the input order.
        {"0", "xyz", SRSO_DEFAULT, {"A", "B", "C", "D", "E"}},
        {"1", "xyz", SRSO_DEFAULT, {"A", "B", "C", "D", "E"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("OD=") + (c.OD ? c.OD : "(none)") + " BA=" + (c.BA ? c.BA : "(none)") +
                     " order=" + std::to_string(c.order));
        EXPECT_EQ(sorted(kMixed, c.OD, c.BA, c.order), c.want);
    }
}

TEST(SortSearchResults, ReadsODIntoTheSettings) {
    struct Case {
        const char* OD;
        int startNeeded;
        int desOrder;
        int searchtypeNeeded;
    };
    const Case cases[] = {
        {"1", 0, 1, 1}, {"9", 1, 1, 0}, {"8", 1, 0, 0}, {"0", 0, 0, 1},
        {"x", 0, 0, 1}, {"", 0, 0, 0},  {"", 1, 0, 1},  {nullptr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.OD ? c.OD : "(none)");
        HitSortSettings s;
        s.desOrder = 1;
        s.searchtypeNeeded = c.startNeeded;
        s.base = "IDENTITY";
        std::vector<UzQxSearchEntry*> none;
        ASSERT_TRUE(sortSearchResults(none, 0, c.OD, nullptr, SRSO_SRCHTYPE, s, LibraryTable{}));
        EXPECT_EQ(s.desOrder, c.desOrder);
        EXPECT_EQ(s.searchtypeNeeded, c.searchtypeNeeded);
        EXPECT_EQ(s.base, "TITLE");
    }
}

TEST(SortSearchResults, EmptyODKeepsAnEarlierChoiceOfNoGrouping) {
    HitSortSettings s;
    s.searchtypeNeeded = 0;
    EXPECT_EQ(sorted(kMixed, "", "TITLE", SRSO_SRCHTYPE, s),
              (std::vector<std::string>{"B", "A", "D", "C", "E"}));
}

TEST(SortSearchResults, GroupsKeywordHitsAfterTitlesAndBeforeBodyText) {
    const std::vector<Hit> hits = {
        {"body", "1553-A.R1A.html", titled("a")},
        {"keyword", "1553-B.R1A.html", titled("m"), OST_KEYWORD_LOGICAL, 1},
        {"title", "1553-C.R1A.html", titled("z"), OST_TITLE},
        // Same search type: the lower document type first.
        {"description", "1551-D.R1A.html", titled("a"), OST_CTW},
        {"guide", "1553-E.R1A.html", titled("z"), OST_CTW},
    };
    const std::vector<std::string> want = {"guide", "description", "title", "keyword", "body"};
    for (const char* OD : {"0", "1"}) {
        SCOPED_TRACE(OD);
        EXPECT_EQ(sorted(hits, OD, "TITLE", SRSO_SRCHTYPE), want);
    }
}

TEST(SortSearchResults, TypesDescendWithTitlesAscendingWithin) {
    const std::vector<Hit> hits = {
        {"desc", "1551-A.R1A.html", titled("a")},    {"folder", "h7.R1.html", titled("a")},
        {"guide-b", "1553-B.R1A.html", titled("b")}, {"manual", "19080-C.R1A.html", titled("a")},
        {"guide-a", "1553-D.R1A.html", titled("A")}, {"opi", "15431-E.R1A.html", titled("a")},
    };
    EXPECT_EQ(sorted(hits, "1", "TYPE", SRSO_DEFAULT),
              (std::vector<std::string>{"guide-a", "guide-b", "opi", "manual", "folder", "desc"}));
}

TEST(SortSearchResults, EqualTitlesFallBackToFileNames) {
    const std::vector<Hit> hits = {
        {"b", "1553-B.R1A.html", titled("Same")},
        {"a", "1553-A.R1A.html", titled("same")},
        {"empty", "1553-Z.R1A.html", ""},
    };
    EXPECT_EQ(sorted(hits, "0", "TITLE", SRSO_DEFAULT), (std::vector<std::string>{"empty", "a", "b"}));
    EXPECT_EQ(sorted(hits, "9", "TITLE", SRSO_DEFAULT), (std::vector<std::string>{"b", "a", "empty"}));
}

TEST(UqxSortCallback, TitlesCompareCaseBlindAtAnyLength) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"Installation Guide A", "installation guide b", -1},  // case differs in the first eight bytes
        {"abcdefgHZ", "ABCDEFGha", 1},                         // and after them
        {"Installation Guide", "INSTALLATION GUIDE", 0},       // equal: the file names decide
        {"Installation", "Installation Guide", -1},
        {"AB", "A[", 1},  // '[' lies between the cases: letters compare as lower case
        {"", "a", -1},
    };
    UzQxSearchEntry x, y;
    x.filename = y.filename = "1553-A.R1A.html";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        x.comment = titled(c.a);
        y.comment = titled(c.b);
        const int r = uqxSortCallback(makeHitSortKey(x), makeHitSortKey(y), SRSO_DEFAULT, HitSortSettings{});
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

TEST(UqxSortCallback, IdentityOfOnePrefixedHit) {
    UzQxSearchEntry prefixed, folder, document;
    prefixed.filename = "9_1553-A.R1A.html";
    folder.filename = "h100.R1.html";
    document.filename = "1553-B.R1A.html";
    const HitSortKey p = makeHitSortKey(prefixed);
    const HitSortKey f = makeHitSortKey(folder);
    const HitSortKey d = makeHitSortKey(document);
    struct Case {
        const HitSortKey* a;
        const HitSortKey* b;
        int want;
    };
    const Case cases[] = {{&p, &f, -1}, {&p, &d, 1}, {&f, &p, 1}, {&d, &p, -1}, {&d, &f, -1}, {&f, &d, 1}};
    for (int desOrder : {0, 1}) {
        HitSortSettings s;
        s.desOrder = desOrder;
        s.base = "IDENTITY";
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.a->fileName) + " vs " + std::string(c.b->fileName) + " desOrder " +
                         std::to_string(desOrder));
            EXPECT_EQ(uqxSortCallback(*c.a, *c.b, SRSO_DEFAULT, s), desOrder ? -c.want : c.want);
        }
    }
}

TEST(SortSearchResults, IdentityOrdersPrefixesByNumberAndFoldersByTitle) {
    const std::vector<Hit> hits = {
        {"10", "10_1553-A.R1A.html", titled("a")},
        {"folder-b", "h1.R1.html", titled("b")},
        {"9", "9_1553-B.R1A.html", titled("z")},
        {"folder-a", "h2.R1.html", titled("p|a")},
    };
    EXPECT_EQ(sorted(hits, "0", "IDENTITY", SRSO_DEFAULT),
              (std::vector<std::string>{"9", "10", "folder-a", "folder-b"}));
    EXPECT_EQ(sorted(hits, "9", "IDENTITY", SRSO_DEFAULT),
              (std::vector<std::string>{"folder-a", "folder-b", "10", "9"}));
}

TEST(SortSearchResults, ShortListsComeBackAsTheyAre) {
    EXPECT_EQ(sorted({}, "0", "TITLE", SRSO_DEFAULT), std::vector<std::string>{});
    EXPECT_EQ(sorted({{"only", "", ""}}, "1", "IDENTITY", SRSO_SRCHTYPE), std::vector<std::string>{"only"});
}

LibraryTable titles(const std::vector<LibraryTable::Row>& rows) {
    LibraryTable t;
    t.rows = rows;
    return t;
}

TEST(UqxSortCallbackLibs, ComparesTitlesOnlyWhenBothAreKnown) {
    const LibraryTable libs = titles({{"a1", "Beta"}, {"b2", "alpha"}, {"c3", std::nullopt}, {"d4", ""}});
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"a1", "b2", 1}, {"b2", "A1", -1}, {"A1", "a1", 0},  // titles case-blind, ids too
        {"a1", "c3", 0}, {"zz", "a1", 0},  {"d4", "b2", 0},  // unknown, unlisted or empty titles
        {"c3", "C3", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const int r = uqxSortCallbackLibs(c.a, c.b, libs);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

TEST(SortSearchResults, LibraryOrderKeepsEachLibraryTogether) {
    const LibraryTable libs = titles({{"L1", "Beta lib"},
                                      {"L2", "alpha lib"},
                                      {"L4", "ALPHA LIB"},
                                      {"L5", ""},
                                      {"L6", std::string(499, 'x') + "b"},
                                      {"L7", std::string(499, 'x') + "a"}});
    const std::vector<Hit> hits = {
        {"1a", "1553-Z.R1A.html", titled("z"), OST_BODYTEXT, 0, "L1"},
        {"3a", "", "", OST_BODYTEXT, 0, "L3"},
        {"2a", "1553-Y.R1A.html", titled("y"), OST_BODYTEXT, 0, "L2"},
        {"6a", "1553-X.R1A.html", "", OST_BODYTEXT, 0, "L6"},
        {"1b", "1553-A.R1A.html", titled("a"), OST_BODYTEXT, 0, "l1"},
        {"4a", "1553-W.R1A.html", titled("w"), OST_BODYTEXT, 0, "L4"},
        {"5a", "1553-V.R1A.html", titled("v"), OST_BODYTEXT, 0, "L5"},
        {"7a", "1553-U.R1A.html", "", OST_BODYTEXT, 0, "L7"},
        {"2b", "", "", OST_BODYTEXT, 0, "L2"},
        {"1c", "1553-B.R1A.html", titled("b"), OST_BODYTEXT, 0, "L1"},
    };
    // Equal titles (case-blind, or equal in their first 499 bytes) keep
    // their order; untitled libraries follow in theirs; hits keep theirs.
    const std::vector<std::string> want = {"2a", "2b", "4a", "1a", "1b", "1c", "6a", "7a", "3a", "5a"};
    for (const char* OD : {"0", "1"}) {
        SCOPED_TRACE(OD);
        Reply reply(hits);
        HitSortSettings s;
        ASSERT_TRUE(sortSearchResults(reply.order, 1, OD, "TITLE", SRSO_SRCHTYPE, s, libs));
        EXPECT_EQ(reply.labels(), want);
    }
}

// Hits meant to find any order fault: no file names, empty and equal
// titles, unknown library titles, any BA, several summaries per library.
std::vector<Hit> adversarialHits(std::mt19937& rng, std::size_t count) {
    const char* files[] = {
        "",           "",           "1553-A.R1A.html", "9_1553-B.R1A.html", "10_1551-C.R1A.html",
        "h1.R1.html", "h2.R1.html", "readme",          "15431-D.R1A.html",  "1553-A.R1A.html"};
    const std::string comments[] = {
        "",          titled(""), titled("Same"), titled("same"), titled("a|b|c"), "TITLE: x CTW: k",
        titled("Z"), "CTW: only"};
    const unsigned long types[] = {OST_BODYTEXT, OST_DOCNO, OST_TOPICTITLE, OST_KEYWORD_LOGICAL,
                                   OST_TITLE,    OST_CTW,   OST_FOLTITLE};
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < count; ++i) {
        Hit h;
        h.label = std::to_string(i);
        h.file = files[rng() % std::size(files)];
        h.comment = comments[rng() % std::size(comments)];
        h.searchType = types[rng() % std::size(types)];
        h.isKwd = static_cast<int>(rng() % 3);
        h.id = (rng() % 2 ? "L" : "l") + std::to_string(rng() % 40);
        hits.push_back(h);
    }
    return hits;
}

std::string folded(std::string id) {
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

TEST(SortSearchResults, AdversarialHitsStayAPermutationInContiguousLibraries) {
    std::mt19937 rng(31);
    std::vector<LibraryTable::Row> rows;
    for (int i = 0; i < 40; ++i) {
        // Every third library unknown, some titles equal.
        if (i % 3 == 0) continue;
        rows.push_back(
            {"L" + std::to_string(i), i % 5 == 0 ? std::string("") : "Lib " + std::to_string(i % 7)});
    }
    const LibraryTable libs = titles(rows);
    const char* ODs[] = {nullptr, "0", "1", "8", "9", "x"};
    const char* BAs[] = {nullptr, "TITLE", "IDENTITY", "TYPE", "xyz", "type"};
    for (const char* BA : BAs) {
        const char* OD = ODs[rng() % std::size(ODs)];
        SCOPED_TRACE(std::string("BA ") + (BA ? BA : "(none)") + " OD " + (OD ? OD : "(none)"));
        Reply reply(adversarialHits(rng, 10000));
        const std::vector<UzQxSearchEntry*> input = reply.order;
        HitSortSettings s;
        ASSERT_TRUE(sortSearchResults(reply.order, 1, OD, BA, SRSO_SRCHTYPE, s, libs));

        // Sort each library's run as the preparation does.
        std::vector<std::size_t> starts;
        std::set<std::string> seen;
        for (std::size_t i = 0; i < reply.order.size(); ++i) {
            if (i > 0 && folded(reply.order[i]->ID) == folded(reply.order[i - 1]->ID)) continue;
            EXPECT_TRUE(seen.insert(folded(reply.order[i]->ID)).second)
                << "split library " << reply.order[i]->ID;
            starts.push_back(i);
        }
        starts.push_back(reply.order.size());
        // Titled libraries by title (case-blind), the untitled after them.
        const std::string* previous = nullptr;
        bool untitledSeen = false;
        for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
            const std::string* title = libs.titleOf(reply.order[starts[r]]->ID);
            if (title == nullptr || title->empty()) {
                untitledSeen = true;
                continue;
            }
            EXPECT_FALSE(untitledSeen) << "titled library after an untitled one";
            if (previous != nullptr) {
                EXPECT_LE(folded(*previous), folded(*title));
            }
            previous = title;
        }
        for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
            std::vector<UzQxSearchEntry*> run(reply.order.begin() + starts[r],
                                              reply.order.begin() + starts[r + 1]);
            const std::vector<UzQxSearchEntry*> before = run;
            ASSERT_TRUE(sortSearchResults(run, 0, OD, BA, SRSO_SRCHTYPE, s, libs));
            // Adjacent hits in order, equal ones in their order before.
            for (std::size_t i = 1; i < run.size(); ++i) {
                const int c =
                    uqxSortCallback(makeHitSortKey(*run[i - 1]), makeHitSortKey(*run[i]), SRSO_SRCHTYPE, s);
                ASSERT_LE(c, 0);
                if (c == 0) {
                    ASSERT_LT(std::find(before.begin(), before.end(), run[i - 1]),
                              std::find(before.begin(), before.end(), run[i]));
                }
            }
            std::copy(run.begin(), run.end(), reply.order.begin() + starts[r]);
        }
        std::vector<UzQxSearchEntry*> a = input, b = reply.order;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
}

}  // namespace
}  // namespace ruva
