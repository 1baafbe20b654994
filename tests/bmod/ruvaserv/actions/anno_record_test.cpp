// The annotation record's bytes, the name rules and the chapter order.
#include "bmod/ruvaserv/actions/anno_record.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"

namespace ruva {
namespace {

using namespace std::string_literals;

constexpr const char* kDoc = "1551-ABC10101Uen.A.html";

AnnoStruct record(const std::string& text) {
    AnnoStruct as;
    as.header = "Hdr";
    as.user = "Ann";
    as.text = text;
    as.chapter = "3";
    as.date = "2026-12-11";
    as.time = "17:05:09";
    as.docrev = "A";
    return as;
}

TEST(AnnoRecord, WritesTenFieldsEachEndedByOneNul) {
    EXPECT_EQ(encodeAnnoRecord(record("Text"), false),
              "Hdr\0Ann\0Text\0"
              "3\0"
              "2026-12-11\0"
              "17:05:09\0A\0"
              "1.0\0HTMLTEXT\0G\0"s);
    EXPECT_EQ(encodeAnnoRecord(record("Text"), false).size(), 52u);
    // Stray NULs would shift every later field; line ends and controls
    // have no place in a one-line header or name.
    AnnoStruct hostile = record("a\r\n\tb\0c\x01"s);
    hostile.header = "a\r\nb\0c\x7f"s;
    hostile.user = "x\ty\x1b"s;
    const auto fields = annoRecordFields(hostile, false);
    EXPECT_EQ(fields[0], "abc");
    EXPECT_EQ(fields[1], "xy");
    EXPECT_EQ(fields[2], "a\r\n\tbc");
}

TEST(AnnoRecord, RoundTripAtTextLengths) {
    for (size_t length : {0u, 1u, 1999u, 2000u, 2001u, 2500u}) {
        SCOPED_TRACE(length);
        const AnnoStruct as = record(std::string(length, 'x'));
        const std::string bytes = encodeAnnoRecord(as, false);
        const size_t kept = std::min<size_t>(length, kAnnoTextMax);
        EXPECT_EQ(bytes.size(), 48 + kept);
        const AnnoStruct read = decodeAnnoRecord(bytes);
        EXPECT_EQ(read.text, std::string(kept, 'x'));
        EXPECT_EQ(read.header, as.header);
        EXPECT_EQ(read.user, as.user);
        EXPECT_EQ(read.chapter, as.chapter);
        EXPECT_EQ(read.date, as.date);
        EXPECT_EQ(read.time, as.time);
        EXPECT_EQ(read.docrev, as.docrev);
        EXPECT_EQ(read.type, "HTMLTEXT");
        EXPECT_EQ(encodeAnnoRecord(read, false), bytes);
    }
}

TEST(AnnoRecord, CutNeverEndsInsideAReferenceOrAJapaneseCharacter) {
    const std::string x1996(1996, 'x');
    const std::string pair = "\xa4\xa2";
    std::string japanese = "x";
    for (int i = 0; i < 1000; ++i) japanese += pair;  // 2001 bytes, a pair across 2000
    struct {
        const char* name;
        std::string text;
        bool eucJp;
        size_t kept;
    } const cases[] = {
        {"a reference across the cut", x1996 + "&#8364;", false, 1996},
        {"a hexadecimal one", std::string(1995, 'x') + "&#x20AC;", false, 1995},
        {"one ending at the cut stays", std::string(1993, 'x') + "&#8364;y", false, 2000},
        {"a whole text of 2000 is not cut", std::string(1993, 'x') + "&#8364;", false, 2000},
        {"an ampersand that starts no reference", std::string(1998, 'x') + "&#abc;", false, 2000},
        {"EUC-JP: the split pair goes", japanese, true, 1999},
        {"not a Japanese document: bytes", japanese, false, 2000},
        {"EUC-JP then a reference", std::string(1994, 'x') + pair + "&#8364;", true, 1996},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(annoTextCut(c.text, c.eucJp), c.kept);
        EXPECT_EQ(annoRecordFields(record(c.text), c.eucJp)[2].size(), c.kept);
        EXPECT_EQ(newAnnoStruct("h", "u", c.text, "0", "d", "t", "A", "HTMLTEXT", c.eucJp).text.size(),
                  c.kept);
    }
    EXPECT_TRUE(annoDocIsJapanese("1551-ABC10101Uja.A.html"));
    EXPECT_TRUE(annoDocIsJapanese("1551-abc10101uja.a.3"));
    EXPECT_FALSE(annoDocIsJapanese("1551-ABC10101Uen.A.html"));
    EXPECT_FALSE(annoDocIsJapanese("Uja.A.html"));
}

// Members the archive may hold from elsewhere: each field is read inside
// the bytes, missing ones empty, the fixed fields forced.
TEST(AnnoRecord, ReadsHostileAndCorruptMembers) {
    struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> want;  // header user text chapter date time docrev type
    } const cases[] = {
        {"no NUL", "Hdr", {"Hdr", "", "", "", "", "", "", ""}},
        {"empty", "", {"", "", "", "", "", "", "", ""}},
        {"three NULs", "H\0U\0T\0"s, {"H", "U", "T", "", "", "", "", ""}},
        {"nine NULs",
         "H\0U\0T\0"
         "3\0D\0T\0A\0"
         "9.9\0HTMLTEXT\0"s,
         {"H", "U", "T", "3", "D", "T", "A", "HTMLTEXT"}},
        {"twelve NULs, the rest ignored",
         "H\0U\0T\0"
         "3\0D\0T\0A\0"
         "1.0\0HTMLTEXT\0X\0more\0bytes\0tail"s,
         {"H", "U", "T", "3", "D", "T", "A", "HTMLTEXT"}},
        {"a last field without its NUL", "H\0U\0Text"s, {"H", "U", "Text", "", "", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AnnoStruct as = decodeAnnoRecord(c.bytes);
        EXPECT_EQ((std::vector<std::string>{as.header, as.user, as.text, as.chapter, as.date, as.time,
                                            as.docrev, as.type}),
                  c.want);
        EXPECT_EQ(as.version, "1.0");
        EXPECT_EQ(as.scope, "G");
    }
}

TEST(AnnoRecord, VersionIsTheListedCrc) {
    EXPECT_EQ(annoVersionOf(""), "00000000");
    EXPECT_EQ(annoVersionOf("123456789"), "cbf43926");
    EXPECT_EQ(annoVersion(0x1234ABCDu), "1234abcd");
}

TEST(AnnoNames, DocumentNames) {
    struct {
        std::string fn;
        int message;
    } const cases[] = {
        {kDoc, 0},
        {"1551-abc10101uen.a.html", 0},
        {"stem..html", 0},
        {"*", kAnnoMsgBadName},
        {"-h.A.html", kAnnoMsgBadName},
        {"a b.A.html", kAnnoMsgBadName},
        {"../x.A.html", kAnnoMsgBadName},
        {"x\"y.A.html", kAnnoMsgBadName},
        {".A.html", kAnnoMsgBadName},
        {"", kAnnoMsgBadName},
        {"a\0*.A.html"s, kAnnoMsgBadName},
        {std::string(296, 'a') + ".A.html", kAnnoMsgBadName},
        {std::string(248, 'a') + ".A.html", 0},
        {std::string(249, 'a') + ".A.html", kAnnoMsgBadName},
        {"stem.html", kAnnoMsgNotDocument},
        {"stem", kAnnoMsgNotDocument},
        {"stem.A.", kAnnoMsgNotDocument},
        {"a.b.c.html", kAnnoMsgNotDocument},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fn);
        EXPECT_EQ(checkAnnoDocName(c.fn), c.message);
    }
}

TEST(AnnoNames, Chapters) {
    const std::string longDoc = std::string(244, 'a') + ".A.html";  // member stem of 247
    struct {
        std::string doc;
        std::string an;
        bool numeric;
        int message;
    } const cases[] = {
        {kDoc, "3", true, 0},
        {kDoc, "3.2", true, 0},
        {kDoc, "12345678901", true, 0},
        {kDoc, "123456789012", true, kAnnoMsgBadChapter},
        {kDoc, "NEW", false, 0},
        {kDoc, "NEW", true, kAnnoMsgBadChapter},
        {kDoc, ".3", true, kAnnoMsgBadChapter},
        {kDoc, "*", false, kAnnoMsgBadChapter},
        {kDoc, "1/2", false, kAnnoMsgBadChapter},
        {kDoc, "-h", false, kAnnoMsgBadChapter},
        {kDoc, "", false, kAnnoMsgBadChapter},
        {kDoc, "3 4", false, kAnnoMsgBadChapter},
        {longDoc, "12345678", true, 0},
        {longDoc, "123456789", true, kAnnoMsgBadChapter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.an);
        EXPECT_EQ(checkAnnoChapter(c.doc, c.an, c.numeric), c.message);
    }
}

TEST(AnnoNames, MembersPatternsAndChapters) {
    EXPECT_EQ(annoMemberName(kDoc, "3"), "1551-ABC10101Uen.A.3");
    EXPECT_EQ(annoMemberName(kDoc, "0"), "1551-ABC10101Uen.A.0");
    EXPECT_EQ(annoMemberName("stem..html", "3.2"), "stem..3.2");
    EXPECT_EQ(annoMemberName("plain", "3"), "plain");
    EXPECT_EQ(annoListPattern(kDoc, false), "1551-ABC10101Uen.A.*");
    EXPECT_EQ(annoListPattern(kDoc, true), "1551-ABC10101Uen.*");
    EXPECT_EQ(annoListPattern("plain", false), "plain.*");
    EXPECT_EQ(annoListPattern("plain", true), "plain.*");
    EXPECT_EQ(annoChapterOf("1551-abc10101uen.a.3.2"), "3.2");
    EXPECT_EQ(annoChapterOf("stem.A"), "0");
    EXPECT_EQ(annoChapterOf("stem"), "0");
    EXPECT_EQ(annoChapterOf("stem.A.123456789012345"), "123456789012345");
    EXPECT_TRUE(annoMemberNameOk("1551-abc10101uen.a.3"));
    EXPECT_FALSE(annoMemberNameOk("-x.A.3"));
    EXPECT_FALSE(annoMemberNameOk("x.A.*"));
    EXPECT_FALSE(annoMemberNameOk(std::string(256, 'a')));
    EXPECT_TRUE(annoNamesEqual("1551-ABC10101Uen.A.3", "1551-abc10101uen.a.3"));
    EXPECT_LT(annoRevCompare("a", "B"), 0);
    EXPECT_LT(annoRevCompare("R10A", "R9A"), 0);
    EXPECT_EQ(annoRevCompare("r1a", "R1A"), 0);
}

TEST(AnnoOrder, Chapcmp) {
    struct {
        const char* a;
        std::string b;
        int want;
    } const cases[] = {
        {"2", "10", -1},
        {"3.9", "3.10", -1},
        {"10", "2", 1},
        {"1.2", "1.2.0", 0},
        {"01", "1", 0},
        {"", "0", 0},
        {"3.", "3", 0},
        {"3", "3.1", -1},
        {"1", std::string(20, '9'), -1},
        {"99999999999999999999", "1", 1},
        {"0000000000000000000001", "1", 0},
        {"ALL", "0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(chapcmp(c.a, c.b), c.want);
        EXPECT_EQ(chapcmp(c.b, c.a), -c.want);
    }
}

TEST(AnnoOrder, InsertionInListingOrder) {
    struct {
        std::vector<std::string> listed;  // chapters, in listing order
        std::vector<std::string> chain;
    } const cases[] = {
        {{"10", "2", "9"}, {"2", "9", "10"}},
        {{"1.2.0", "1.2", "01.2"}, {"1.2.0", "01.2", "1.2"}},
        {{"3", "0", "3.1", "1"}, {"0", "1", "3", "3.1"}},
        // Equal chapters landing inside a longer chain.
        {{"5", "1", "9", "3", "7", "5.0", "05"}, {"1", "3", "05", "5.0", "5", "7", "9"}},
    };
    for (const auto& c : cases) {
        std::vector<AnnoZip> list;
        for (const std::string& chapter : c.listed) {
            ASSERT_EQ(addToAnnoZipList(list, "stem.A." + chapter, 52), 1);
        }
        std::vector<std::string> chain;
        for (const AnnoZip& z : list) {
            chain.push_back(z.szChapter);
            EXPECT_EQ(z.szFName, "stem.A." + z.szChapter);
            EXPECT_EQ(z.usize, 52u);
        }
        EXPECT_EQ(chain, c.chain);
    }
}

TEST(AnnoClock, DateAndTimeFromOneReading) {
    EXPECT_EQ(annoDateOf(0).size(), 10u);
    EXPECT_EQ(annoTimeOf(0).size(), 8u);
    Annotation an(nullptr);
    const std::string date = an.annoDate();
    const std::string time = an.annoTime();
    EXPECT_EQ(date.size(), 10u);
    EXPECT_EQ(date[4], '-');
    EXPECT_EQ(time[2], ':');
    // The same reading however late the second call.
    EXPECT_EQ(an.annoDate(), date);
    EXPECT_EQ(an.annoTime(), time);
}

}  // namespace
}  // namespace ruva
