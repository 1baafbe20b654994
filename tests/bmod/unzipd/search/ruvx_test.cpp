#include "bmod/unzipd/search/ruvx.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bmod/unzipd/search/wtb.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/byte_order.h"
#include "common/patterns.h"
#include "tests/bmod/unzipd/search/ruvx_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::HeapImage;
using test::IndexDef;
using test::TempDir;

void quietWarn(void*, int, const char*, ...) {}

const char kEucWord[] = "\xB0\xA1\xB0\xA2";  // two kanji
const char kApfel[] = "\xC4PFEL";

// The words of the round trip, each with its own postings.
IndexDef roundTripDef(int dimension, bool postings16) {
    IndexDef s;
    s.dimension = dimension;
    s.postings16 = postings16;
    for (int i = 0; i < 6; ++i) s.doc("doc" + std::to_string(i) + ".html", i == 5 ? 19 : 4, i == 3 ? 50 : 0);
    s.word("A", {{0, 1}, {2, 3}})
        .word("AB", {{1, 2}})
        .word("AB1", {{0, 255}, {5, 1}})
        .word("ABC", {{3, 4}})
        .word("ABCDEF", {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}})
        .word("1ST", {{4, 9}})
        .word("ZZZ", {{5, 7}})
        .word(kApfel, {{2, 2}})
        .word(kEucWord, {{1, 5}, {4, 6}});
    for (const auto& d : s.docs) s.members.push_back({d.name, "", "<html>x</html>"});
    return s;
}

struct Posting {
    unsigned long docId;
    int count;
    bool operator==(const Posting&) const = default;
};

std::vector<Posting> postingsOf(const RuvxSearchList* list) {
    std::vector<Posting> out;
    if (list)
        for (const auto& e : *list) out.push_back({e.docId, e.occuranceCount[0]});
    return out;
}

void checkRoundTrip(const IndexDef& def, const std::string& lib, int dimension) {
    const bool postings16 = def.postings16;
    ZipStructure* zs = newZipStructure(nullptr, lib.c_str(), 0, nullptr, quietWarn);
    ASSERT_TRUE(zs);
    auto uz = newUnzip(0);
    CentralHeader* ch = zs->findCentralHeader("title.qxx", nullptr);
    ASSERT_TRUE(ch);
    ASSERT_EQ(uz->unzip(zs, ch, -1, -1), 1);
    auto r = newRuvx(uz->buf, uz->bufwritten, nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wtbDimension(), dimension);
    EXPECT_EQ(r->fileFlags() & kRuvxPostings16, postings16 ? 1u : 0u);

    for (const auto& [word, postings] : def.words) {
        SCOPED_TRACE(word);
        auto list = r->searchWord(word.c_str());
        ASSERT_TRUE(list) << r->getError();
        std::vector<Posting> want;
        for (auto [doc, count] : postings) want.push_back({doc, static_cast<int>(count)});
        EXPECT_EQ(postingsOf(list.get()), want);
        for (const auto& e : *list) {
            EXPECT_EQ(e.docType, def.docs[e.docId].docType);
            EXPECT_EQ(e.subType, def.docs[e.docId].subType);
        }
    }
    // Lower case finds the upper-cased words, Latin-1 included.
    EXPECT_EQ(r->searchWord("abc")->size(), 1u);
    EXPECT_EQ(r->searchWord("\xE4pfel")->size(), 1u);

    for (size_t i = 0; i < def.docs.size(); ++i) {
        int dt = 0, st = 0;
        EXPECT_EQ(r->getFilenameByDocId(i, &dt, &st), def.docs[i].name);
        EXPECT_EQ(dt, def.docs[i].docType);
        EXPECT_EQ(st, def.docs[i].subType);
    }
    int dt = 0;
    EXPECT_EQ(r->getFilenameByDocId(def.docs.size(), &dt, nullptr), std::nullopt);
    EXPECT_EQ(dt, -1);
    EXPECT_EQ(r->listFiles()->size(), def.docs.size());

    // A missing word in a filled slot: an empty list and no error.
    auto none = r->searchWord("ABCD");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_STREQ(r->getError(), "");
    // An empty slot fails over the first d characters.
    EXPECT_FALSE(r->searchWord("qqqqq"));
    EXPECT_EQ(std::string(r->getError()), "No word starts with '" + std::string(dimension, 'Q') + "'");
    r.reset();
    uz.reset();
    zs->del();
}

// One builder run (a python start costs seconds on a loaded machine) writes
// the index stored and deflated.
class RuvxRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RuvxRoundTrip, EveryWordGivesTheBuildersPostings) {
    const auto [dimension, postings16] = GetParam();
    TempDir dir;
    const IndexDef def = roundTripDef(dimension, postings16);
    const std::vector<test::LibraryOut> libs = {{dir.file("stored.zip"), "title.qxx", false},
                                                {dir.file("deflated.zip"), "title.qxx", true}};
    ASSERT_EQ(test::runRuvxBuilder({def, def}, dir, libs).size(), 2u);
    for (const test::LibraryOut& lib : libs) {
        SCOPED_TRACE(lib.path);
        checkRoundTrip(def, lib.path, dimension);
    }
}

INSTANTIATE_TEST_SUITE_P(DimensionWidth, RuvxRoundTrip,
                         ::testing::Combine(::testing::Values(2, 3, 4), ::testing::Bool()));

// ---------------------------------------------------------------- opening

using test::buildImage;

// Images of several defs from one builder run.
std::vector<std::string> buildImages(const std::vector<IndexDef>& defs) {
    TempDir dir;
    return test::runRuvxBuilder(defs, dir);
}

TEST(RuvxOpen, HeaderChecks) {
    const struct {
        const char* header;
        int layoutDim;
        bool opens;
        int dimension;
    } cases[] = {
        {"RUVX 1 0 0 3 0", 3, true, 3},   {"RUVX 1 99 0 2 0", 2, true, 2}, {"RUVX 0 0 0 2 0", 2, true, 2},
        {"RUVY 1 0 0 2 0", 2, false, 0},  {"RUVX 1 0 0 2", 2, false, 0},   {"RUVX 2 0 0 2 0", 2, false, 0},
        {"RUVX 1 0 0 1 0", 2, true, 2},   {"RUVX 1 0 0 9 0", 4, true, 4},  {"RUVXX 1 0 0 2 0", 2, false, 0},
        {"RUVX 1 0 5 0 0", 2, true, 2},
    };
    std::vector<IndexDef> defs;
    for (const auto& c : cases) {
        IndexDef s;
        s.dimension = c.layoutDim;
        s.header = c.header;
        s.doc("a.html").word("ABC", {{0, 1}});
        defs.push_back(s);
    }
    std::vector<std::string> images = buildImages(defs);
    ASSERT_EQ(images.size(), std::size(cases));
    for (size_t i = 0; i < images.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.header);
        HeapImage img(images[i]);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        EXPECT_EQ(bool(r), c.opens);
        if (!r) continue;
        EXPECT_EQ(r->wtbDimension(), c.dimension);
        auto hits = r->search("abc", 0);
        ASSERT_TRUE(hits) << r->getError();
        EXPECT_EQ(hits->size(), 1u);
    }
}

TEST(RuvxOpen, HeaderMustEndWithin80Bytes) {
    // 79 characters and the NUL open; 80 characters do not.
    std::vector<IndexDef> defs;
    for (int pad : {0, 1}) {
        std::string header = "RUVX 1 0 0 3 0";
        header += std::string(79 - header.size() + pad, ' ');
        IndexDef s;
        s.header = header;
        s.doc("a.html").word("ABC", {{0, 1}});
        defs.push_back(s);
    }
    std::vector<std::string> images = buildImages(defs);
    ASSERT_EQ(images.size(), 2u);
    for (int pad : {0, 1}) {
        HeapImage img(images[pad]);
        EXPECT_EQ(bool(newRuvx(img.data(), img.size(), nullptr)), pad == 0);
    }
    HeapImage noNul(std::string(40, 'R'));
    EXPECT_FALSE(newRuvx(noNul.data(), noNul.size(), nullptr));
    HeapImage empty("");
    EXPECT_FALSE(newRuvx(empty.data(), empty.size(), nullptr));
}

TEST(RuvxOpen, MapsAFileWhenNoDataIsGiven) {
    TempDir dir;
    IndexDef s;
    s.doc("a.html").word("ABC", {{0, 1}});
    ASSERT_FALSE(test::runRuvxBuilder({s}, dir).empty());
    auto r = newRuvx(nullptr, 0, dir.file("image0.qxx").c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->search("ABC", 0)->size(), 1u);
    EXPECT_FALSE(newRuvx(nullptr, 0, dir.file("missing.qxx").c_str()));
}

TEST(RuvxOpen, EmptyWordTableFindsNothing) {
    IndexDef s;
    s.doc("a.html");
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->search("a*", 0));
    EXPECT_STREQ(r->getError(), "");
    EXPECT_EQ(r->searchSugs("a", 5), "");
}

// ------------------------------------------------------- hostile images

// Every public read of an image, so that ASan sees any stray access.
void exercise(Ruvx& r) {
    r.search("ab | abc a* !zzz", 0);
    r.search("*", 0);
    r.searchFS("a* | 1st", 10, "1", nullptr, 0, nullptr);
    r.searchSugs("a", 5);
    SuggestionCollection col;
    r.searchSugsCol("ab", 5, col);
    r.listFiles();
}

IndexDef smallDef(bool postings16) {
    IndexDef s;
    s.dimension = 2;
    s.postings16 = postings16;
    s.doc("x.html").doc("y.html").doc("z.html");
    s.word("A", {{0, 1}, {2, 2}}).word("AB", {{1, 1}}).word("ABC", {{0, 3}, {1, 1}}).word("1ST", {{2, 1}});
    return s;
}

TEST(RuvxHostile, EveryOffsetOutOfPlace) {
    const std::string good = buildImage(smallDef(false));
    ASSERT_FALSE(good.empty());
    const size_t offsets = good.find('\0') + 1;
    for (int field = 0; field < 6; ++field) {
        for (uint64_t value : {uint64_t(0xFFFFFFFF), uint64_t(good.size()), uint64_t(good.size() - 1)}) {
            SCOPED_TRACE(std::to_string(field) + " = " + std::to_string(value));
            std::string bad = good;
            putLong(&bad[offsets + 4 * field], static_cast<uint32_t>(value));
            HeapImage img(bad);
            auto r = newRuvx(img.data(), img.size(), nullptr);
            if (r) exercise(*r);
        }
    }
}

TEST(RuvxHostile, HandMadeCuts) {
    const std::string good = buildImage(smallDef(false));
    const size_t offsets = good.find('\0') + 1;
    const uint32_t wtbdata = getLong(&good[offsets]);
    const uint32_t lstIndex = getLong(&good[offsets + 4]);
    const uint32_t wrd = getLong(&good[offsets + 12]);

    // The WTB cut short: refused.
    HeapImage cutWtb(good.substr(0, wtbdata + 702 * 4 + 3));
    EXPECT_FALSE(newRuvx(cutWtb.data(), cutWtb.size(), nullptr));
    // Only the offsets: refused.
    HeapImage cutOffsets(good.substr(0, offsets + 23));
    EXPECT_FALSE(newRuvx(cutOffsets.data(), cutOffsets.size(), nullptr));

    // The image without its last bytes; reserved1 and 2 (which point at the
    // end mark) moved to the start, as offsets must lie inside the image.
    const auto cut = [&](size_t bytes) {
        std::string s = good.substr(0, good.size() - bytes);
        putLong(&s[offsets + 16], 0);
        putLong(&s[offsets + 20], 0);
        return s;
    };
    {  // WRD without its end mark: the words are all still found.
        HeapImage img(cut(4));
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        auto hits = r->search("a*", 0);
        ASSERT_TRUE(hits);
        EXPECT_EQ(hits->size(), 3u);
        EXPECT_EQ(r->searchSugs("a", 5), "A,AB,ABC");
    }
    {  // A word record cut in its postings: the scan ends there.
        HeapImage img(cut(6));
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->search("abc", 0));
        EXPECT_EQ(r->search("abc", 0)->size(), 1u);
        exercise(*r);
    }
    {  // A WTB entry past WRD counts as an empty slot.
        std::string bad = good;
        putLong(&bad[wtbdata + 4 * 1], 0x7FFFFFF0);
        HeapImage img(bad);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->searchWord("A"));
        EXPECT_STREQ(r->getError(), "No word starts with 'A'");
        EXPECT_TRUE(r->search("a | abc", 0));
    }
    {  // An LST name with no NUL before the image end: no record.
        std::string bad = good;
        putLong(&bad[offsets + 8], static_cast<uint32_t>(good.size() - 3));  // LST = last 3 bytes (FF FF FF)
        putLong(&bad[lstIndex], 0);
        HeapImage img(bad);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->getFilenameByDocId(0, nullptr, nullptr), std::nullopt);
        EXPECT_FALSE(r->searchWord("ABC"));
        EXPECT_STREQ(r->getError(), "No LST pointer for docid 0");
        exercise(*r);
    }
    {  // An LST-index entry pointing past the image.
        std::string bad = good;
        putLong(&bad[lstIndex + 4], 0x7FFFFFFF);
        HeapImage img(bad);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->searchWord("AB"));
        EXPECT_STREQ(r->getError(), "No LST pointer for docid 1");
    }
    {  // A word without its NUL at the image end.
        std::string bad = good.substr(0, wrd) + "ABCD";
        putLong(&bad[wtbdata + 4 * 1], 0);
        putLong(&bad[offsets + 16], 0);  // reserved1 and 2 pointed at the cut end mark
        putLong(&bad[offsets + 20], 0);
        HeapImage img(bad);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        auto list = r->searchWord("A");
        ASSERT_TRUE(list);
        EXPECT_TRUE(list->empty());
        exercise(*r);
    }
}

TEST(RuvxHostile, SeededFlipsAndTruncations) {
    std::vector<std::string> images = buildImages({smallDef(false), smallDef(true)});
    ASSERT_EQ(images.size(), 2u);
    for (bool postings16 : {false, true}) {
        const std::string& good = images[postings16];
        std::mt19937 rng(postings16 ? 1515 : 1516);
        const size_t headerEnd = good.find('\0') + 1;
        const size_t wtbEnd = headerEnd + 24 + 703 * 4;
        for (int round = 0; round < 1000; ++round) {
            std::string bad = good;
            int flips = 1 + static_cast<int>(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                // Aim most flips at the header, offsets and sections behind the WTB.
                size_t at = rng() % 3 == 0 ? rng() % (headerEnd + 24) : wtbEnd + rng() % (bad.size() - wtbEnd);
                bad[at] = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
            }
            if (rng() % 3 == 0) bad.resize(rng() % bad.size());
            HeapImage img(bad);
            auto r = newRuvx(img.data(), img.size(), nullptr);
            if (r) exercise(*r);
        }
    }
}

// ------------------------------------------------------------ the search

struct Row {
    std::string expr;
    std::string want;  // "name[tokens]c1,c2 ..." per hit, or "null"
};

std::string describe(const RuvxSearchList* list) {
    if (!list) return "null";
    std::string s;
    for (const auto& e : *list) {
        if (!s.empty()) s += ' ';
        s += e.filename.value_or("?") + "[" + e.tokens + "]" + std::to_string(e.occuranceCount[0]);
        if (e.occuranceCount[1]) s += "," + std::to_string(e.occuranceCount[1]);
    }
    return s;
}

// Five documents: a in 0 1 2, b in 1 3, c in 2 4, and "ab" in 4.
IndexDef fiveDocs(int type, bool mixedCase) {
    IndexDef s;
    s.type = type;
    for (int i = 0; i < 5; ++i) s.doc("d" + std::to_string(i));
    s.word(mixedCase ? "a" : "A", {{0, 1}, {1, 2}, {2, 3}})
        .word("B", {{1, 4}, {3, 5}})
        .word(mixedCase ? "c" : "C", {{2, 6}, {4, 7}})
        .word(mixedCase ? "Ab" : "AB", {{4, 8}});
    return s;
}

TEST(RuvxSearch, ExpressionTableByIndexType) {
    // Columns: full text (type 0), CTW with mixed-case words.
    const struct {
        const char* expr;
        const char* full;
        const char* ctw;
    } rows[] = {
        {"a", "d0[A]1 d1[A]2 d2[A]3", "d0[a]1 d1[a]2 d2[a]3"},
        {"a !b", "d0[A \"!b\"]1 d2[A \"!b\"]3", "d0[a]1 d2[a]3"},
        {"a & !b", "d0[A \"!b\"]1 d2[A \"!b\"]3", "d0[a]1 d2[a]3"},
        {"a | !b", "d0[A]1 d1[A B]2,4 d2[A]3 d3[B]5", "d0[a]1 d1[a | B]3,4 d2[a]3 d3[B]5"},
        {"a | b", "d0[A]1 d1[A B]2,4 d2[A]3 d3[B]5", "d0[a]1 d1[a | B]3,4 d2[a]3 d3[B]5"},
        {"!a", "d0[A]1 d1[A]2 d2[A]3", "d0[a]1 d1[a]2 d2[a]3"},
        {"a b", "d1[A B]2,4", "d1[a]2,4"},
        {"a & b | c", "d1[A B]2,4 d2[C]6 d4[C]7", "d1[a]2,4 d2[c]6 d4[c]7"},
        {"b !a", "d3[B \"!a\"]5", "d3[B]5"},
        {"a !zq", "d0[A]1 d1[A]2 d2[A]3", "d0[a]1 d1[a]2 d2[a]3"},
        {"a | zq", "d0[A]1 d1[A]2 d2[A]3", "d0[a]1 d1[a]2 d2[a]3"},
        {"zq", "null", "null"},
        {"a*", "d0[A]1 d1[A]2 d2[A]3 d4[AB]8", "d4[Ab]8 d0[a]1 d1[a]2 d2[a]3"},
        {"a !\"x\\\"y\"", "d0[A \"!x\\\"y\"]1 d1[A \"!x\\\"y\"]2 d2[A \"!x\\\"y\"]3", "d0[a]1 d1[a]2 d2[a]3"},
        {"(a", "null", "null"},
    };
    auto full = fiveDocs(IXT_FULLTEXT, false);
    auto ctw = fiveDocs(IXT_CTW, true);
    // The "!x\"y" case needs a word x"y in the right list to take effect.
    full.word("X\"Y", {{4, 1}});
    ctw.word("x\"y", {{4, 1}});
    std::vector<std::string> images = buildImages({full, ctw});
    ASSERT_EQ(images.size(), 2u);
    HeapImage fullImg(images[0]), ctwImg(images[1]);
    auto rf = newRuvx(fullImg.data(), fullImg.size(), nullptr);
    auto rc = newRuvx(ctwImg.data(), ctwImg.size(), nullptr);
    ASSERT_TRUE(rf && rc);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expr);
        EXPECT_EQ(describe(rf->search(row.expr, 0)), row.full) << rf->getError();
        EXPECT_EQ(describe(rc->search(row.expr, 0)), row.ctw) << rc->getError();
    }
    rf->search("(a", 0);
    EXPECT_STREQ(rf->getError(), "Expression error, Expected closing parenthesis, got ");
    rf->search("zq", 0);
    EXPECT_STREQ(rf->getError(), "No word starts with 'ZQ'");
}

TEST(RuvxSearch, TopicTitleWords) {
    IndexDef s;
    s.type = IXT_TOPICTITLE;
    s.doc("t0").doc("t1").doc("t2");
    s.word("SAFETY|2.10|", {{0, 1}}).word("scope|2.3|x", {{0, 1}, {1, 1}}).word("SCALE|x|", {{2, 1}})
        .word("STAR|1", {{2, 1}});
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(describe(r->search("s*", 0)), "t0[\"SAFETY|2.10|\" | \"SCOPE|2.3|X\"]2 t1[\"SCOPE|2.3|X\"]1");
    EXPECT_EQ(describe(r->search("scope", 0)), "null");
    EXPECT_EQ(describe(r->search("safety* | scope*", 0)), "t0[\"SAFETY|2.10|\" | \"SCOPE|2.3|X\"]2,1 t1[\"SCOPE|2.3|X\"]1");
}

TEST(RuvxSearch, DocnoPatternsTakeTheFirstOccurrence) {
    EXPECT_EQ(matchPatternDocID("*A*B", "AXBAB", 0), 0);
    EXPECT_EQ(matchPattern("*A*B", "AXBAB", 0), 1);
    EXPECT_EQ(matchPatternDocID("*A*B", "XAYB", 0), 1);
    std::vector<IndexDef> defs;
    for (int type : {IXT_DOCNO, IXT_FULLTEXT}) {
        IndexDef s;
        s.type = type;
        s.doc("n0");
        s.word("AXBAB", {{0, 1}});
        defs.push_back(s);
    }
    std::vector<std::string> images = buildImages(defs);
    ASSERT_EQ(images.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const int type = defs[i].type;
        HeapImage img(images[i]);
        auto r = newRuvx(img.data(), img.size(), nullptr);
        ASSERT_TRUE(r);
        EXPECT_EQ(describe(r->search("*A*B", 0)), type == IXT_DOCNO ? "null" : "n0[AXBAB]1");
        // The full-text search matches every pattern the plain way.
        EXPECT_EQ(describe(r->searchFS("*A*B", 5, nullptr, nullptr, 0, nullptr)), "n0[AXBAB]1");
    }
}

TEST(RuvxSearch, TitleAndWithJapaneseTokens) {
    // EUC pairs pass only by the substring test (on the quoted token
    // texts), or once an earlier pair of the same AND step has passed it.
    const std::string k1 = "\xB0\xA1", k2 = "\xB0\xA2", k3 = "\xB0\xA3";
    IndexDef s;
    s.type = IXT_TITLE;
    s.doc("j0").doc("j1");
    s.word(k1, {{0, 1}}).word(k2, {{1, 2}}).word(k3, {{1, 3}});
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    const auto q = [](const std::string& w) { return "\"" + w + "\""; };
    EXPECT_EQ(describe(r->search((k2 + " " + k3).c_str(), 0)), "null");
    EXPECT_EQ(describe(r->search(("(" + k1 + " | " + k2 + ") & (" + k1 + " | " + k3 + ")").c_str(), 0)),
              "j0[" + q(k1) + " " + q(k1) + "]1,1 j1[" + q(k2) + " " + q(k3) + "]2,3");
}

TEST(RuvxSearch, HitLimitContracts) {
    IndexDef s;
    IndexDef::Postings all;
    for (unsigned i = 0; i < 6; ++i) {
        s.doc("f" + std::to_string(i) + ".html");
        all.push_back({i, 1});
    }
    s.word("W", all);
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->search("w", 5), nullptr);
    EXPECT_EQ(r->numberOfHits(), 6);
    EXPECT_STREQ(r->getError(), "");
    EXPECT_EQ(r->search("w", 6)->size(), 6u);
    EXPECT_EQ(r->search("w", 0)->size(), 6u);
    auto fs = r->searchFS("w", 5, nullptr, nullptr, 0, nullptr);
    ASSERT_TRUE(fs);
    EXPECT_EQ(fs->size(), 5u);
    EXPECT_EQ(r->numberOfHits(), 5);
    EXPECT_EQ(r->searchFS("w", 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(r->searchFS("w", -1, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(RuvxSearch, PhraseTestDecidesFullTextHits) {
    IndexDef s = fiveDocs(IXT_FULLTEXT, false);
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    std::vector<std::string> asked;
    PhraseTest test = [&](const std::string& name) {
        asked.push_back(name);
        return name == "d1" ? 1 : 0;
    };
    EXPECT_EQ(describe(r->searchFS("a | b", 10, nullptr, nullptr, 1, test)), "d1[A B]2,4");
    EXPECT_EQ(asked, (std::vector<std::string>{"d0", "d1", "d2", "d3"}));
    EXPECT_EQ(describe(r->searchFS("a | b", 10, nullptr, nullptr, 0, test)), "d0[A]1 d1[A B]2,4 d2[A]3 d3[B]5");
}

TEST(RuvxSearch, ScanStartsAndEnds) {
    // The words of the round trip, d = 3.
    IndexDef letters;
    letters.doc("l").word("ZZZ", {{0, 1}});
    std::vector<std::string> images = buildImages({roundTripDef(3, false), letters});
    ASSERT_EQ(images.size(), 2u);
    HeapImage img(images[0]);
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    const auto names = [&](const char* pattern) {
        auto l = r->searchWord(pattern);
        if (!l) return std::string("error: ") + r->getError();
        std::string out;
        for (const auto& e : *l) out += e.tokens + " ";
        return out;
    };
    // 'AB*' scans from word 0; 'ABC*' from the slot of ABC.
    EXPECT_EQ(names("AB*"), "AB AB1 AB1 ABC ABCDEF ABCDEF ABCDEF ABCDEF ABCDEF ABCDEF ");
    EXPECT_EQ(names("ABC*"), "ABC ABCDEF ABCDEF ABCDEF ABCDEF ABCDEF ABCDEF ");
    EXPECT_EQ(names("ABD*"), "error: No word starts with 'ABD'");
    EXPECT_EQ(names("AD*"), "");
    EXPECT_EQ(names("*ST"), "1ST ");
    EXPECT_EQ(names("?ZZ"), "ZZZ ");
    // '[' without '*' or '?' among the first d characters starts at slot 0
    // (here the slot of 1ST), and a pattern scans on to the end.
    EXPECT_EQ(names("[1]ST"), "1ST ");
    EXPECT_EQ(names("[Z]ZZ"), "ZZZ ");
    HeapImage limg(images[1]);
    auto rl = newRuvx(limg.data(), limg.size(), nullptr);
    EXPECT_FALSE(rl->searchWord("[Z]ZZ"));
    EXPECT_STREQ(rl->getError(), "No word starts with '[Z]'");
}

TEST(RuvxSearch, StartsAtTheSlotOfAbc) {
    // A WTB pointing ABC's slot at a word of its own shows where the scan starts.
    IndexDef s = roundTripDef(3, false);
    std::string bytes = buildImage(s);
    const size_t offsets = bytes.find('\0') + 1;
    const uint32_t wtbdata = getLong(&bytes[offsets]);
    // Slot 2081 now points at "ABCDEF": 'ABC*' no longer sees "ABC".
    putLong(&bytes[wtbdata + 4 * 2081], getLong(&bytes[wtbdata + 4 * 2081]) + 4 + 5);
    HeapImage img(bytes);
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->searchWord("ABC*")->size(), 6u);
    EXPECT_EQ(r->searchWord("AB*")->size(), 10u);
}

TEST(RuvxSearch, CountZeroAndAllOnesEndTheTable) {
    std::vector<IndexDef> defs;
    for (bool postings16 : {false, true}) {
        IndexDef s;
        s.postings16 = postings16;
        s.doc("p0").doc("p1");
        s.word("A", {{0, 1}, {1, 1}}).word("B", {{0, 1}}).word("C", {{1, 1}});
        defs.push_back(s);
    }
    std::vector<std::string> images = buildImages(defs);
    ASSERT_EQ(images.size(), 2u);
    for (bool postings16 : {false, true}) {
        SCOPED_TRACE(postings16);
        const std::string& bytes = images[postings16];
        const size_t offsets = bytes.find('\0') + 1;
        const uint32_t wrd = getLong(&bytes[offsets + 12]);
        const size_t ps = postings16 ? 3 : 5;
        const size_t bPost = wrd + 2 + 2 * ps + 2;  // "A\0" two postings, "B\0"
        {
            std::string b = bytes;
            b[bPost + ps - 1] = 0;  // B's last posting: count 0
            HeapImage img(b);
            auto r = newRuvx(img.data(), img.size(), nullptr);
            EXPECT_EQ(describe(r->search("*", 0)), "p0[A]1 p1[A]1");
        }
        {
            std::string b = bytes;
            for (size_t i = 0; i < ps - 1; ++i) b[bPost + i] = '\xFF';
            HeapImage img(b);
            auto r = newRuvx(img.data(), img.size(), nullptr);
            EXPECT_EQ(describe(r->search("?", 0)), "p0[A]1 p1[A]1");
            EXPECT_EQ(r->searchSugs("", 9), "A");
        }
        {
            // Count 0 on a posting that is not the last: no hit, the scan goes on.
            std::string b = bytes;
            b[wrd + 2 + ps - 1] = 0;
            HeapImage img(b);
            auto r = newRuvx(img.data(), img.size(), nullptr);
            EXPECT_EQ(postingsOf(r->searchWord("?").get()), (std::vector<Posting>{{1, 1}, {0, 1}, {1, 1}}));
        }
    }
}

TEST(RuvxBitmap, FilterTable) {
    const struct {
        const char* lib;
        const char* doc;
        int want;
    } cases[] = {
        {"0|8", "1|c", 1}, {"0|8", "1|C", 1},  {"0|8", "1|3", 0},     {"0|4", "ff|4", 1},
        {"0|4", "ff|3", 0}, {"0|4", "ff", 0},  {"0|0", "", 1},        {"0", "", 1},
        {"1", "", 0},      {"|1", "1|1", 1},   {"|1", "1", 0},        {"ffffffffffffffff", "8000000000000000", 1},
        {"8000000000000000", "7fffffffffffffff", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.lib) + " / " + c.doc);
        EXPECT_EQ(filterSearchResultFS(c.lib, c.doc), c.want);
    }
    // Only the first 32 library numbers are read.
    std::string lib(32 * 2, '|');
    lib = std::string();
    for (int i = 0; i < 32; ++i) lib += "0|";
    lib += "1";
    EXPECT_EQ(filterSearchResultFS(lib.c_str(), ""), 1);
}

TEST(RuvxBitmap, FullTextHitsFilteredByMemberBitmaps) {
    TempDir dir;
    IndexDef s;
    for (const char* n : {"m0.html", "m1.html", "m2.html", "m3.html"}) s.doc(n);
    s.word("W", {{0, 1}, {1, 1}, {2, 1}, {3, 1}});
    // m0 passes 0|1, m1 fails it, m2 has no bitmap, m3 is not in the library.
    s.members = {{"m0.html", "CAT:\"1|1\"", "x"}, {"m1.html", "CAT:\"1|2\"", "x"}, {"m2.html", "A title", "x"}};
    const std::string lib = dir.file("lib.zip");
    std::vector<std::string> images = test::runRuvxBuilder({s}, dir, {{lib, "fulltext.qxx"}});
    ASSERT_EQ(images.size(), 1u);
    ZipStructure* zs = newZipStructure(nullptr, lib.c_str(), 0, nullptr, quietWarn);
    ASSERT_TRUE(zs);
    HeapImage img(images[0]);
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(describe(r->searchFS("w", 10, "0|1", zs, 0, nullptr)), "m0.html[W]1 m3.html[W]1");
    EXPECT_EQ(describe(r->searchFS("w", 10, "0|0", zs, 0, nullptr)), "m0.html[W]1 m1.html[W]1 m3.html[W]1");
    EXPECT_EQ(describe(r->searchFS("w", 10, nullptr, zs, 0, nullptr)),
              "m0.html[W]1 m1.html[W]1 m2.html[W]1 m3.html[W]1");
    r.reset();
    zs->del();
}

// ------------------------------------------------------------ suggestions

TEST(RuvxSuggestions, ListsAndLimits) {
    IndexDef s;
    s.doc("s0");
    for (const char* w : {"W1", "W2", "W3", "W4", "W5", "X"}) s.word(w, {{0, 1}});
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->searchSugs("w", 2), "W1,W2,...");
    EXPECT_EQ(r->searchSugs("w", 5), "W1,W2,W3,W4,W5");
    EXPECT_EQ(r->searchSugs("w3", 5), "W3");
    EXPECT_EQ(r->searchSugs("wq", 5), "");
    EXPECT_EQ(r->searchSugs("q", 5), "");
    EXPECT_EQ(r->searchSugs("x", 5), "X");
}

TEST(RuvxSuggestions, ShortPrefixTriesCompletions) {
    // d = 3: a prefix of one or two letters without a slot of its own tries
    // the slots of its completions (one letter: also two more letters).
    IndexDef s;
    s.doc("t0");
    s.word("ABC", {{0, 1}}).word("ABD", {{0, 1}}).word("AC", {{0, 1}}).word("BXYZ", {{0, 1}});
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->searchSugs("a", 5), "ABC,ABD,AC");
    EXPECT_EQ(r->searchSugs("ab", 5), "ABC,ABD");
    EXPECT_EQ(r->searchSugs("b", 5), "BXYZ");
    EXPECT_EQ(r->searchSugs("bx", 5), "BXYZ");
    EXPECT_EQ(r->searchSugs("bxyz", 5), "BXYZ");
    EXPECT_EQ(r->searchSugs("abcd", 5), "");
}

TEST(RuvxSuggestions, CollectionOverTwoLibraries) {
    IndexDef s12, s13;
    s12.doc("a").word("AB", {{0, 1}}).word("ABC", {{0, 1}}).word("B", {{0, 1}});
    s13.doc("b").word("ABC", {{0, 1}}).word("ABD", {{0, 1}}).word("AC", {{0, 1}});
    std::vector<std::string> images = buildImages({s12, s13});
    ASSERT_EQ(images.size(), 2u);
    HeapImage i12(images[0]), i13(images[1]);
    auto r12 = newRuvx(i12.data(), i12.size(), nullptr);
    auto r13 = newRuvx(i13.data(), i13.size(), nullptr);
    SuggestionCollection col;
    EXPECT_EQ(r12->searchSugsCol("ab", 10, col), 1);
    EXPECT_EQ(r13->searchSugsCol("ab", 10, col), 1);
    EXPECT_EQ(col.list, ",AB,ABC,ABD,");
    EXPECT_EQ(col.count, 3);
    // Full (count above maxHits): only the prefix itself still joins.
    SuggestionCollection full;
    full.count = 5;
    r13->searchSugsCol("ab", 4, full);
    EXPECT_EQ(full.list, "");
    r12->searchSugsCol("ab", 4, full);
    EXPECT_EQ(full.list, ",AB,");
}

TEST(RuvxSuggestions, LongWordsStayWithinTheRoom) {
    IndexDef s;
    s.doc("s0");
    for (int i = 0; i < 12; ++i) s.word("W" + std::string(299, static_cast<char>('A' + i)), {{0, 1}});
    HeapImage img(buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    std::string list = *r->searchSugs("w", 100);
    EXPECT_LE(list.size(), kSuggestionRoom - 1);
    EXPECT_EQ(list.substr(list.size() - 4), ",...");
    EXPECT_EQ(list.size(), 6 * 300 + 5 + 4u);  // six words fit with room for ",..."
    SuggestionCollection col;
    r->searchSugsCol("w", 100, col);
    EXPECT_LE(col.list.size(), kSuggestionRoom - 1);
    EXPECT_EQ(col.count, 6);
    EXPECT_EQ(col.list.size(), 1 + 6 * 301u);
}

}  // namespace
}  // namespace ruva

namespace ruva {
namespace {

TEST(RuvxSearch, HugeExpressionsFailAsExpressionErrors) {
    IndexDef s = fiveDocs(IXT_FULLTEXT, false);
    HeapImage img(test::buildImage(s));
    auto r = newRuvx(img.data(), img.size(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->search(std::string(65000, '(').c_str(), 12), nullptr);
    EXPECT_STREQ(r->getError(), "Expression error, Expression nested too deeply");
    std::string words;
    for (int i = 0; i < 65000; ++i) words += i ? " a" : "a";
    EXPECT_EQ(r->search(words.c_str(), 12), nullptr);
    EXPECT_STREQ(r->getError(), "Expression error, Too many terms in expression");
    // The longest expression allowed is evaluated without recursion.
    std::string most;
    for (int i = 1; i < 4096; ++i) most += "zq | ";
    most += "a";
    EXPECT_EQ(describe(r->search(most.c_str(), 0)), "d0[A]1 d1[A]2 d2[A]3");
    EXPECT_EQ(r->searchFS(most.c_str(), 100, nullptr, nullptr, 0, nullptr)->size(), 3u);
}

}  // namespace
}  // namespace ruva
