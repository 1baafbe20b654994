#include "bmod/ruvaserv/sgml/tagmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/tavrmap.h"

namespace ruva {
namespace {

constexpr int kBody = 22;
constexpr int kFd = 44;
constexpr int kF = 45;
constexpr int kLanguage = 79;
constexpr int kChl1 = 23;

std::unique_ptr<TagMap> tavrMap() {
    std::unique_ptr<TagMap> map = newTagMap(MAPDTD_TAVR, 0);
    EXPECT_NE(map, nullptr);
    return map;
}

TEST(TagMap, MapTagFindsNamesWithoutRegardToCase) {
    struct Case {
        const char* tag;
        int want;
    };
    const Case cases[] = {
        {"body", kBody}, {"Body", kBody}, {"BODY", kBody},        {"", -1},
        {nullptr, -1},   {"T:P", 132},    {"set:meta-data", 148}, {"BOD", -1},
        {"BODYX", -1},   {"emph", 0},     {"refexpansion", 186},  {"language", kLanguage},
    };
    std::unique_ptr<TagMap> map = tavrMap();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag ? c.tag : "(null)");
        EXPECT_EQ(map->mapTag(c.tag), c.want);
        const TagEntry* e = map->getTagEntry(c.tag);
        if (c.want < 0) {
            EXPECT_EQ(e, nullptr);
        } else {
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e, &map->entries[c.want]);
        }
        EXPECT_EQ(map->getBigTagEntry(c.tag), nullptr);
    }
}

TEST(TagMap, NumbersOutOfRangeGiveNothing) {
    std::unique_ptr<TagMap> map = tavrMap();
    for (int no : {-1, 187, 255, 100000}) {
        SCOPED_TRACE(no);
        EXPECT_EQ(map->getTagName(no), nullptr);
        EXPECT_EQ(map->getTagFlags(no), 0);
    }
    EXPECT_STREQ(map->getTagName(0), "EMPH");
    EXPECT_STREQ(map->getTagName(186), "REFEXPANSION");
    EXPECT_EQ(map->getTagFlags(kLanguage), 0x0C);
    EXPECT_EQ(map->getTagFlags(kF), kTagOpenContent);
}

TEST(TagMap, IsAllowedFollowsChildListsAndOpenContent) {
    struct Case {
        int parent;
        int child;
        int want;
    };
    const Case cases[] = {
        {kBody, kChl1, 1},  // the last of BODY's 14 children
        {kBody, 10, 1},     // LIST, the first
        {kChl1, kChl1, 0}, {kF, -1, 1},     {kF, 0, 1},     {kF, 500, 1},    {kFd, 500, 1}, {-1, 0, 0},
        {187, 0, 0},       {kBody, 255, 0}, {kBody, -1, 0}, {kBody, 500, 0}, {6, 0, 0},  // GRAPHICS has no
                                                                                         // children
    };
    std::unique_ptr<TagMap> map = tavrMap();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.parent << " " << c.child);
        EXPECT_EQ(map->isAllowed(c.parent, c.child), c.want);
    }
}

// The table as a whole: counts and properties the element stack relies on.
TEST(TagMap, TavrTableInvariants) {
    ASSERT_EQ(kTavrTags.size(), 187u);
    std::map<int, int> flagCounts;
    std::set<std::string> names;
    for (size_t no = 0; no < kTavrTags.size(); ++no) {
        const TagEntry& e = kTavrTags[no];
        SCOPED_TRACE(no);
        ++flagCounts[e.flags];
        EXPECT_EQ(e.flags & kTagImpliedStart, 0);
        ASSERT_LE(strnlen(e.name, sizeof e.name), kTagNameMax);
        std::string name = e.name;
        ASSERT_FALSE(name.empty());
        for (char ch : name) EXPECT_FALSE(ch >= 'a' && ch <= 'z');
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
        bool ended = false;
        for (uint8_t child : e.map) {
            if (child == kTagMapEnd) {
                ended = true;
            } else {
                EXPECT_FALSE(ended) << "child after the end";
                EXPECT_LT(child, kTavrTagCount);
            }
        }
    }
    EXPECT_EQ(flagCounts, (std::map<int, int>{{0x00, 105}, {0x04, 74}, {0x01, 5}, {0x02, 2}, {0x0C, 1}}));
    EXPECT_STREQ(kTavrTags[kTavrTopTavr].name, "TAVR");
    EXPECT_STREQ(kTavrTags[kTavrTopDoc].name, "DOC");
    EXPECT_STREQ(kTavrTags[kTavrTopSet].name, "SET");
}

TEST(TagMap, InitLoadsTavrFamilyOnly) {
    struct Case {
        const char* name;
        MapDtd dtd;
        const char* top;
        int result;
        MapDtd mapDtd;
        int topElement;
        int tagCount;
    };
    const Case cases[] = {
        {"tavr no top", MAPDTD_TAVR, nullptr, 1, MAPDTD_TAVR, -1, 187},
        {"xtavr TAVR", MAPDTD_XTAVR, "TAVR", 1, MAPDTD_XTAVR, 55, 187},
        {"hob doc", MAPDTD_HOB, "doc", 1, MAPDTD_HOB, 136, 187},
        {"tavr set", MAPDTD_TAVR, "set", 1, MAPDTD_TAVR, 147, 187},
        {"searched top", MAPDTD_TAVR, "Body", 1, MAPDTD_TAVR, kBody, 187},
        {"unknown top keeps the table", MAPDTD_TAVR, "NOSUCH", 0, MAPDTD_UNKNOWN, -1, 187},
        {"no table", MAPDTD_COD, nullptr, 0, MAPDTD_UNKNOWN, -1, 0},
        {"unknown dtd", MAPDTD_UNKNOWN, "TAVR", 0, MAPDTD_UNKNOWN, -1, 0},
        {"manpage", MAPDTD_MANPAGE, nullptr, 0, MAPDTD_UNKNOWN, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TagMap> map = newTagMap(MAPDTD_UNKNOWN, kTagMapBigEntries);
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->tagCount, 0);
        EXPECT_EQ(map->mapTag("BODY"), -1);
        EXPECT_EQ(map->init(c.dtd, c.top), c.result);
        EXPECT_EQ(map->mapDtd, c.mapDtd);
        EXPECT_EQ(map->topElement, c.topElement);
        EXPECT_EQ(map->tagCount, c.tagCount);
        EXPECT_EQ(map->flags & kTagMapBigEntries, 0);
    }
}

TEST(TagMap, FailedInitLeavesTheLoadedTable) {
    std::unique_ptr<TagMap> map = tavrMap();
    EXPECT_EQ(map->init(MAPDTD_COD, nullptr), 0);
    EXPECT_EQ(map->mapDtd, MAPDTD_UNKNOWN);
    EXPECT_EQ(map->tagCount, 187);
    EXPECT_EQ(newTagMap(MAPDTD_COD, 0), nullptr);
}

TEST(TagMap, InitTopElementReadsOnlyANumberInRange) {
    std::unique_ptr<TagMap> map = tavrMap();
    for (int stale : {-1, 187, 500, -100000}) {
        SCOPED_TRACE(stale);
        map->topElement = stale;
        EXPECT_EQ(map->initTopElement("doc"), 1);
        EXPECT_EQ(map->topElement, 136);
    }
    EXPECT_EQ(map->initTopElement(nullptr), 1);
    EXPECT_EQ(map->topElement, 136);
    EXPECT_EQ(map->initTopElement("NOSUCH"), 0);
    EXPECT_EQ(map->topElement, 136);
    EXPECT_EQ(map->initTopElement("SET"), 1);
    EXPECT_EQ(map->topElement, 147);
}

TEST(TagMap, DoctypeToDtd) {
    struct Case {
        const char* doctype;
        const char* pubid;
        MapDtd want;
    };
    const Case cases[] = {
        {"TAVR", "-//VANDROVE//DTD XTAVR 1/X//EN", MAPDTD_XTAVR},  // the identifier wins
        {"TAVR", "-//VANDROVE//DTD HOB 1//EN", MAPDTD_HOB},
        {"TAVR", "-//VANDROVE//DTD XTAVR", MAPDTD_TAVR},  // no blank after the name
        {"TAVR", "-//VANDROVE//DTD XTAVRX 1//EN", MAPDTD_TAVR},
        {"tavr", nullptr, MAPDTD_TAVR},
        {"xTavr", nullptr, MAPDTD_XTAVR},
        {"Hob", "", MAPDTD_HOB},
        {"TAVRX", nullptr, MAPDTD_UNKNOWN},
        {"DOC", "-//OTHER//DTD X//EN", MAPDTD_UNKNOWN},
        {"", nullptr, MAPDTD_UNKNOWN},
        {nullptr, nullptr, MAPDTD_UNKNOWN},
        {nullptr, "-//VANDROVE//DTD HOB ", MAPDTD_HOB},
    };
    std::unique_ptr<TagMap> map = tavrMap();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.doctype ? c.doctype : "(null)") << " / " << (c.pubid ? c.pubid : "(null)"));
        EXPECT_EQ(tavrDoctypeToDtd(c.doctype, c.pubid), c.want);
        EXPECT_EQ(map->doctypeToDtd(c.doctype, c.pubid), c.want);
    }
}

TagEntry makeEntry(const char* name, uint8_t flags, std::initializer_list<int> children) {
    TagEntry e{};
    e.flags = flags;
    std::memset(e.map, kTagMapEnd, sizeof e.map);
    size_t n = 0;
    for (int child : children) e.map[n++] = static_cast<uint8_t>(child);
    std::strncpy(e.name, name, sizeof e.name);
    return e;
}

// A caller's table shows what the built-in one cannot: a full child list
// without terminator, an implied-start child and a repeated name.
TEST(TagMap, CallerTable) {
    std::vector<TagEntry> table;
    table.push_back(makeEntry("PARENT", 0, {}));
    for (int i = 0; i < static_cast<int>(kTagMapChildren); ++i) table[0].map[i] = static_cast<uint8_t>(i + 1);
    table.push_back(makeEntry("WRAPPER", kTagImpliedStart, {2}));
    table.push_back(makeEntry("LEAF", kTagEmpty, {}));
    table.push_back(makeEntry("LEAF", kTagText, {}));
    TagEntry longName = makeEntry("", 0, {});
    std::memset(longName.name, 'Q', sizeof longName.name);  // no NUL of its own
    table.push_back(longName);

    std::unique_ptr<TagMap> map = newTagMap(MAPDTD_UNKNOWN, 0);
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->initTable(table, "wrapper"), 1);
    EXPECT_EQ(map->tagCount, 5);
    EXPECT_EQ(map->topElement, 1);
    EXPECT_EQ(map->mapDtd, MAPDTD_UNKNOWN);

    EXPECT_EQ(map->isAllowed(0, 1), 1);
    EXPECT_EQ(map->isAllowed(0, 28), 1);  // the 28th slot
    // Past the 28th slot lie the name's bytes: 'P' must not count as a child.
    EXPECT_EQ(map->isAllowed(0, 'P'), 0);
    EXPECT_EQ(map->isAllowed(0, 29), 0);
    EXPECT_EQ(map->isAllowed(1, 2), 1);
    EXPECT_EQ(map->isAllowed(1, 3), 0);
    EXPECT_EQ(map->getTagFlags(1), kTagImpliedStart);

    EXPECT_EQ(map->mapTag("leaf"), 2);  // the first of two LEAF entries
    EXPECT_EQ(map->getTagFlags(map->mapTag("LEAF")), kTagEmpty);
    EXPECT_EQ(std::string(map->getTagName(4)), std::string(kTagNameMax, 'Q'));
    EXPECT_EQ(map->mapTag(std::string(kTagNameMax, 'q').c_str()), 4);

    EXPECT_EQ(map->initTable(table, "NOSUCH"), 0);
    EXPECT_EQ(map->topElement, -1);
}

}  // namespace
}  // namespace ruva
