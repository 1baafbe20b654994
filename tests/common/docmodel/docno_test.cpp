#include "common/docmodel/docno.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::exactCopy;

std::string repeat(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

// Optional text as the tables write it: nullptr for "no value".
std::optional<std::string> opt(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

struct ToFilenameCase {
    const char* name;
    const char* docno;
    const char* rev;
    const char* ftype;
    const char* expected;  // nullptr: refused
};

TEST(DocnoToFilename, Table) {
    const ToFilenameCase cases[] = {
        {"full name", "1/1553-CXA 123 4567 UEN", "R1A", "HTML", "1_1553-CXA1234567Uen.R1A.html"},
        {"empty revision", "1/1553-CXA 123 4567 UEN", "", "html", "1_1553-CXA1234567Uen..html"},
        {"blank revision is absent", "1/1553-CXA 123 4567 Uen", " \t ", "html", "1_1553-CXA1234567Uen..html"},
        {"null revision", "1/1553-CXA 123 4567 Uen", nullptr, "html", "1_1553-CXA1234567Uen..html"},
        {"null type ends in a dot", "1/1553-CXA 123 4567 UEN", "R1A", nullptr, "1_1553-CXA1234567Uen.R1A."},
        {"empty type is *", "1/1553-CXA 123 4567 UEN", "R1A", "", "1_1553-CXA1234567Uen.R1A.*"},
        {"blank type is *", "1553-CXA 1", "A", "  ", "1553-CXA1.A.*"},
        {"both absent", "1553-CXA 1", nullptr, nullptr, "1553-CXA1.."},
        {"revision loses white space, keeps case", "1553-CXA 1", " R 1/a ", "h t\tml", "1553-CXA1.R1_a.html"},
        {"leading white space of the number", "  \t1/1553-CXA 123 4567 UEN", "A", "pdf",
         "1_1553-CXA1234567Uen.A.pdf"},
        {"CUA kept: U after a capital", "1/1553-CUA 119 1234", "A", "html", "1_1553-CUA1191234.A.html"},
        {"U at position 2 kept", "12UEN", "A", "x", "12UEN.A.x"},
        {"U at position 2 after leading blanks", "   12UEN", "A", "x", "12UEN.A.x"},
        {"U at position 3 lowers", "123UEN", "A", "x", "123Uen.A.x"},
        {"U after a digit lowers", "1553-CXA1234567UEN", "A", "x", "1553-CXA1234567Uen.A.x"},
        {"U before a blank kept", "1553-CXA 1 U EN", "A", "x", "1553-CXA1UEN.A.x"},
        {"U before a digit kept", "1553-CXA 123 U1", "A", "x", "1553-CXA123U1.A.x"},
        {"only the letter run lowers", "1553-CXA 1 UEN-ABC", "A", "x", "1553-CXA1Uen-ABC.A.x"},
        {"lower-case u untouched", "1553-CXA 1 uEN", "A", "x", "1553-CXA1uEN.A.x"},
        {"controls and high bytes dropped",
         "1553-\xE9"
         "CXA\x01 1\x7f",
         "A", "x", "1553-CXA1.A.x"},
        {"no digit", "ABC-DEF", "A", "html", nullptr},
        {"empty", "", "A", "html", nullptr},
        {"only white space", " \t\n", "A", "html", nullptr},
        {"null", nullptr, "A", "html", nullptr},
    };
    for (const ToFilenameCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(docnoToFilename(c.docno, c.rev, c.ftype), opt(c.expected));
    }
}

TEST(DocnoToFilename, RefusesEachReservedCharacter) {
    for (const char ch : std::string("_@${[]}?!#=`^~")) {
        SCOPED_TRACE(std::string(1, ch));
        const std::string docno = std::string("1553-CXA 1") + ch + "2";
        EXPECT_EQ(docnoToFilename(docno.c_str(), "A", "html"), std::nullopt);
    }
}

struct SplitCase {
    const char* name;
    std::string fname;
    int result;
    std::string docno;
    std::string rev;
    std::optional<std::string> ftype;
};

TEST(DocnoSplitDocnoFilename, Table) {
    const SplitCase cases[] = {
        {"three fields", "1_1553-CXA1234567Uen.R1A.html", 1, "1_1553-CXA1234567Uen", "R1A", "html"},
        {"two dots: empty revision", "a..html", 1, "a", "", "html"},
        {"three dots: empty revision", "a...html", 1, "a", "", "html"},
        {"empty revision, no type", "a..", 1, "a", "", std::nullopt},
        {"no type", "a.R1A", 1, "a", "R1A", std::nullopt},
        {"trailing dot: no type", "a.R1A.", 1, "a", "R1A", std::nullopt},
        {"fourth field ignored", "a.b.c.d", 1, "a", "b", "c"},
        {"empty fields between skipped", "a.b..c", 1, "a", "b", "c"},
        {"leading dots skipped", "..a.b", 1, "a", "b", std::nullopt},
        {"no revision", "abc", 0, "abc", "", std::nullopt},
        {"one trailing dot: no revision", "abc.", 0, "abc", "", std::nullopt},
        {"number cut to 63", repeat("n", 70) + ".R1A.html", 1, repeat("n", 63), "R1A", "html"},
        {"revision and type cut to 15", "a." + repeat("r", 20) + "." + repeat("t", 20), 1, "a",
         repeat("r", 15), repeat("t", 15)},
        {"only the first 255 characters", repeat("n", 250) + ".R1A.html", 1, repeat("n", 63), "R1A",
         std::nullopt},
        {"revision cut off by the 255", repeat("n", 255) + ".R1A.html", 0, repeat("n", 63), "", std::nullopt},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string docno = "old", rev = "old";
        std::optional<std::string> ftype = "old";
        EXPECT_EQ(splitDocnoFilename(c.fname.c_str(), &docno, &rev, &ftype), c.result);
        EXPECT_EQ(docno, c.docno);
        EXPECT_EQ(rev, c.rev);
        EXPECT_EQ(ftype, c.ftype);
        EXPECT_EQ(splitDocnoFilename(c.fname.c_str(), nullptr, nullptr, nullptr), c.result);
    }
}

TEST(DocnoSplitDocnoFilename, NoFieldLeavesOutputsUntouched) {
    for (const char* fname : {"", ".", "...", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(fname ? fname : "null");
        std::string docno = "old", rev = "old";
        std::optional<std::string> ftype = "old";
        EXPECT_EQ(splitDocnoFilename(fname, &docno, &rev, &ftype), 0);
        EXPECT_EQ(docno, "old");
        EXPECT_EQ(rev, "old");
        EXPECT_EQ(ftype, "old");
    }
}

struct PartsCase {
    const char* name;
    const char* fname;
    int result;
    const char* prefix;
    const char* decclass;
    const char* ind;
    const char* variant;
    const char* lang;
    const char* rev;
};

TEST(DocnoFilenameToDocnoParts, Table) {
    const PartsCase cases[] = {
        {"prefix with underscore", "1_1553-CXA1234567Uen.R1A.html", 1, "1", "1553", "CXA1234567", "", "Uen",
         "R1A"},
        {"prefix with slash", "12/1553-CXA1234567Uen.A.html", 1, "12", "1553", "CXA1234567", "", "Uen", "A"},
        {"variant", "15531-CXA1234567-2Uen.B.pdf", 1, "", "15531", "CXA1234567", "-2", "Uen", "B"},
        {"variant -x", "1553-CXA1234567-xUen.A.html", 1, "", "1553", "CXA1234567", "-x", "Uen", "A"},
        {"variant keeps its slash", "1553-CXA123-2_1.A.html", 1, "", "1553", "CXA123", "-2/1", "", "A"},
        {"six-digit class is empty", "155311-CXA1234567Uen.A.html", 1, "", "", "CXA1234567", "", "Uen", "A"},
        {"skipped dash is no variant", "1553-CXA123.A.html", 1, "", "1553", "CXA123", "", "", "A"},
        {"underscore after a class", "15531_CXA123.A.html", 1, "", "15531", "CXA123", "", "", "A"},
        {"underscore at position 4 ends a prefix", "1553_CXA123.A.html", 1, "1553", "", "CXA123", "", "",
         "A"},
        {"prefix at position 4", "1234_5678-X.A.html", 1, "1234", "5678", "X", "", "", "A"},
        {"five digits: no prefix", "12345_678.A.html", 1, "", "12345", "678", "", "", "A"},
        {"dash inside a prefix", "1-2_1553-X.A.html", 1, "1-2", "1553", "X", "", "", "A"},
        {"last U starts the language", "1553-CUA1191234.A.html", 1, "", "1553", "C", "", "UA", "A"},
        {"lower-case u", "1553-CXA1234567uen.A.html", 1, "", "1553", "CXA1234567", "", "uen", "A"},
        {"wildcard language", "1553-CXA1234567U*.A.html", 1, "", "1553", "CXA1234567", "", "U*", "A"},
        {"leading letters as language", "EN_LZT1234567.A.html", 1, "", "", "EN/LZT1234567", "", "EN", "A"},
        {"first character never starts it", "Uxyz1234.A.html", 1, "", "", "Uxyz1234", "", "Uxyz", "A"},
        {"letters: up to the first dash", "ABC-12.A.html", 1, "", "", "ABC-", "", "ABC", "A"},
        {"colon stem", "AB:CD-1Uen.A.html", 1, "", "", "AB:", "", "Uen", "A"},
        {"colon stem with prefix", "1_1553:CD.A.html", 1, "1", "", "1553:", "", "", "A"},
        {"white space and controls removed", "1553- CXA\t1234567Uen.A.html", 1, "", "1553", "CXA1234567", "",
         "Uen", "A"},
        {"empty revision", "1_1553-CXA12345Uen..sgml", 1, "1", "1553", "CXA12345", "", "Uen", ""},
        {"no revision", "1553-CXA1234567Uen", 0, "", "", "", "", "", ""},
        {"null", nullptr, 0, "", "", "", "", "", ""},
    };
    for (const PartsCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string prefix = "old", decclass = "old", ind = "old", variant = "old", lang = "old", rev = "old";
        EXPECT_EQ(filenameToDocnoParts(c.fname, &prefix, &decclass, &ind, &variant, &lang, &rev), c.result);
        EXPECT_EQ(prefix, c.prefix);
        EXPECT_EQ(decclass, c.decclass);
        EXPECT_EQ(ind, c.ind);
        EXPECT_EQ(variant, c.variant);
        EXPECT_EQ(lang, c.lang);
        EXPECT_EQ(rev, c.rev);
        EXPECT_EQ(filenameToDocnoParts(c.fname, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  c.result);
    }
}

struct ToDocnoCase {
    const char* name;
    std::string fname;
    int result;
    std::string docno;
    const char* rev;
    const char* ftype;  // nullptr: no type
};

TEST(DocnoFilenameToDocno, Table) {
    const ToDocnoCase cases[] = {
        {"full name", "1_1553-CXA1234567Uen.R1A.html", 1, "1/1553-CXA 123 4567 Uen", "R1A", "html"},
        {"five-digit class and variant", "15531-CXA1234567-2Uen.B.pdf", 1, "155 31-CXA 123 4567-2 Uen", "B",
         "pdf"},
        {"six-digit class dropped", "155311-CXA1234567Uen.A.html", 1, "CXA 123 4567 Uen", "A", "html"},
        {"empty revision", "1_1553-CXA12345Uen..sgml", 1, "1/1553-CXA 123 45 Uen", "", "sgml"},
        {"no type", "1553-CXA1234567Uen.A", 1, "1553-CXA 123 4567 Uen", "A", nullptr},
        {"type as stored", "1553-CXA1.A.HTML", 1, "1553-CXA 1", "A", "HTML"},
        {"revision underscore to slash", "1553-CXA1.R1_A.html", 1, "1553-CXA 1", "R1/A", "html"},
        {"leading letters as language", "EN_LZT1234567.A.html", 1, "EN/LZT 123 4567 EN", "A", "html"},
        {"loose language", "1553-CUA1191234.A.html", 1, "1553-C UA", "A", "html"},
        {"letters up to the first dash", "ABC-12.A.html", 1, "ABC- ABC", "A", "html"},
        {"grouping once per run", "1553-CXA12345678.A.html", 1, "1553-CXA 123 45678", "A", "html"},
        {"four digits stay together", "1553-CXA1234.A.html", 1, "1553-CXA 1234", "A", "html"},
        {"each run grouped", "1553-AB12C3456789.A.html", 1, "1553-AB 12C 345 6789", "A", "html"},
        {"slash breaks a run", "1553-HSC11301_4Uen.A.html", 1, "1553-HSC 113 01/4 Uen", "A", "html"},
        {"no dash before a slash", "15531__X.A.html", 1, "155 31/X", "A", "html"},
        {"display cut to 63", "1553-" + repeat("A1", 29) + ".A.html", 1,
         ("1553-" + repeat("A 1", 29)).substr(0, 63), "A", "html"},
        {"no revision", "1553-CXA1234567Uen", 0, "", "", nullptr},
    };
    for (const ToDocnoCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string docno = "old", rev = "old";
        std::optional<std::string> ftype = "old";
        EXPECT_EQ(filenameToDocno(c.fname.c_str(), &docno, &rev, &ftype), c.result);
        EXPECT_EQ(docno, c.docno);
        EXPECT_EQ(rev, c.rev);
        EXPECT_EQ(ftype, opt(c.ftype));
        EXPECT_EQ(filenameToDocno(c.fname.c_str(), nullptr, nullptr, nullptr), c.result);
    }
}

TEST(DocnoRoundTrip, DisplayToFilenameAndBack) {
    const char* const numbers[] = {
        "1/1553-CXA 123 4567 Uen",   "155 31-CXA 123 4567-2 Uen", "1553-CXA 123 45 Uen",
        "2/1551-CRA 119 1234/1 Uen", "109 21-FAP 130 506 Uen",    "1/LZT 123 4567 Uen",
        "LZT 123 4567 Uen",          "12/1553-HSC 113 01/4 Uen",  "3/190 82-CRA 119 1234 Usv",
        "1/0363-CXA 123 45 Uen",     "1553-CXA 123 4567",         "4/155 19-ROA 128 1234-3 Uen",
        "1/1553-CXA 123 4567/2 Uen",
    };
    for (const char* number : numbers) {
        SCOPED_TRACE(number);
        const std::optional<std::string> fname = docnoToFilename(number, "R1A", "html");
        ASSERT_TRUE(fname.has_value());
        std::string docno, rev;
        std::optional<std::string> ftype;
        ASSERT_EQ(filenameToDocno(fname->c_str(), &docno, &rev, &ftype), 1);
        EXPECT_EQ(docno, number);
        EXPECT_EQ(rev, "R1A");
        EXPECT_EQ(ftype, "html");
    }
}

TEST(DocnoLooksInvalid, Table) {
    const struct {
        const char* name;
        std::string docno;
        int invalid;
    } cases[] = {
        {"four digits, dash, digit", "1553-1", 0},
        {"three digits, dash", "155-12", 1},
        {"display form", "1/1553-CXA 123 4567 Uen", 0},
        {"blank inside the digit run", "12 34-5", 0},
        {"letter resets the run", "1234x-1", 1},
        {"dash resets the run", "12-34-56", 1},
        {"plus allowed", "+1553-1", 0},
        {"59 non-blank characters", "1553-" + repeat("A", 54), 0},
        {"60 non-blank characters", "1553-" + repeat("A", 55), 1},
        {"blanks do not count", "1553-" + repeat(" A", 54) + "   ", 0},
        {"bad character", "1553-1!", 1},
        {"bad character after the 60th", "1553-" + repeat("A", 60) + "!", 1},
        {"tab is a control", "1553-1\t", 1},
        {"high byte", "1553\x80-1", 1},
        {"empty", "", 1},
        {"blanks only", "   ", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(docnoLooksInvalid(c.docno.c_str()), c.invalid);
    }
    EXPECT_EQ(docnoLooksInvalid(nullptr), 1);
}

TEST(DocnoLooksInvalid, OnlyAllowedCharactersPass) {
    for (int byte = 1; byte < 256; ++byte) {
        const unsigned char c = static_cast<unsigned char>(byte);
        const bool allowed = c == ' ' || c == '+' || c == '-' || c == '/' || (c >= '0' && c <= '9') ||
                             (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        SCOPED_TRACE(byte);
        const std::string docno = std::string("1553-1") + static_cast<char>(c);
        EXPECT_EQ(docnoLooksInvalid(docno.c_str()), allowed ? 0 : 1);
    }
}

TEST(DocnoToArtRev, Table) {
    const struct {
        const char* name;
        const char* docno;
        int result;
        const char* art;
        const char* rev;
    } cases[] = {
        {"revision word", "1553-CXA 123 4567 Uen R1A", 1, "1553-CXA 123 4567 Uen", "R1A"},
        {"language word", "1553-CXA 123 4567 Uen", 0, "1553-CXA 123 4567 Uen", ""},
        {"trailing white space removed", "1553-CXA 1 PA1 \t\n", 1, "1553-CXA 1", "PA1"},
        {"U and a digit is a revision", "1553-CXA 1 U1", 1, "1553-CXA 1", "U1"},
        {"star", "1553-CXA 1 *", 1, "1553-CXA 1", "*"},
        {"question mark", "1553-CXA 1 ?A", 1, "1553-CXA 1", "?A"},
        {"digit word", "1553-CXA 123", 0, "1553-CXA 123", ""},
        {"no blank", "1553-CXA1", 0, "1553-CXA1", ""},
        {"only the last blank", "X  R1A", 1, "X ", "R1A"},
        {"empty", "", 0, "", ""},
        {"null", nullptr, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string art = "old", rev = "old";
        EXPECT_EQ(docnoToArtRev(c.docno, art, rev), c.result);
        EXPECT_EQ(art, c.art);
        EXPECT_EQ(rev, c.rev);
    }
}

TEST(DocnoGetDocnoRev, Table) {
    const struct {
        const char* name;
        std::string text;
        int result;
        std::string docno;
        std::string rev;
    } cases[] = {
        {"tags", "<html><DOCNO>1/1553-CXA 123 4567 Uen</DOCNO><REV>R1A</REV>", 1, "1/1553-CXA 123 4567 Uen",
         "R1A"},
        {"DOC-NO tag with attributes", "<doc-no type=\"x\"> 1553-CXA 1 </doc-no><rev>B</rev>", 1,
         "1553-CXA 1", "B"},
        {"markers", ":DOCNO.1553-CXA 1\n:REV.PA1\n:P.text", 1, "1553-CXA 1", "PA1"},
        {"line break and high bytes vanish",
         "<DOCNO>1553-\n\xE9"
         "CXA 1</DOCNO>",
         1, "1553-CXA 1", ""},
        {"REVISION is not REV", "<DOCNO>1</DOCNO><REVISION>X</REVISION>", 1, "1", ""},
        {"cut to 32 and 8", "<DOCNO>" + repeat("1", 40) + "</DOCNO><REV>" + repeat("R", 10) + "</REV>", 1,
         repeat("1", 32), repeat("R", 8)},
        {"revision only", "<REV>A</REV>", 0, "", "A"},
        {"unclosed tag", "<DOCNO", 0, "", ""},
        {"nothing", "plain text", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string docno = "old", rev = "old";
        const auto text = exactCopy(c.text);
        EXPECT_EQ(getDocnoRev(text.get(), c.text.size(), docno, rev), c.result);
        EXPECT_EQ(docno, c.docno);
        EXPECT_EQ(rev, c.rev);
    }
}

TEST(DocnoCollectAscii, KeepsPrintableAsciiUpToMax) {
    const std::string in(
        "a\x01"
        "b\x80"
        "c{d\n~e\0f",
        12);
    std::string out = "old";
    EXPECT_EQ(collectAscii(in.data(), in.size(), out, 100), 6u);
    EXPECT_EQ(out, "abcdef");
    EXPECT_EQ(collectAscii(in.data(), in.size(), out, 2), 2u);
    EXPECT_EQ(out, "ab");
    EXPECT_EQ(collectAscii(nullptr, 5, out, 5), 0u);
    EXPECT_EQ(out, "");
}

// 10 KB inputs come out cut to the documented limits, read within bounds.
TEST(DocnoHostile, LongInputsAreCut) {
    const std::string big = repeat("1553-CXA 123 4567 UEN ", 470);  // about 10 KB
    ASSERT_GT(big.size(), 10000u);
    const auto number = exactCopy(big);

    const std::optional<std::string> fname = docnoToFilename(number.get(), big.c_str(), big.c_str());
    ASSERT_TRUE(fname.has_value());
    EXPECT_GT(fname->size(), 10000u);
    EXPECT_EQ(docnoLooksInvalid(number.get()), 1);
    std::string art, rev;
    EXPECT_EQ(docnoToArtRev(number.get(), art, rev), 0);
    EXPECT_EQ(art.size(), big.size() - 1);

    const std::string longName = repeat("n", 100) + "." + repeat("r", 100) + "." + repeat("t", 10000);
    const auto name = exactCopy(longName);
    std::string docno;
    std::optional<std::string> ftype;
    EXPECT_EQ(splitDocnoFilename(name.get(), &docno, &rev, &ftype), 1);
    EXPECT_EQ(docno, repeat("n", 63));
    EXPECT_EQ(rev, repeat("r", 15));
    EXPECT_EQ(ftype, repeat("t", 15));

    for (const std::string& text :
         {longName, repeat("1_1553-CXA1234567-", 600) + ".R1A.html", repeat("1234", 2600), repeat(".", 10000),
          *fname, "1_1553-CXA1234567Uen.R1A.html" + repeat("x", 10000)}) {
        const auto copy = exactCopy(text);
        std::string parts[6];
        filenameToDocnoParts(copy.get(), &parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5]);
        for (const std::string& part : parts) EXPECT_LE(part.size(), kDocnoPartMax);
        filenameToDocno(copy.get(), &docno, &rev, &ftype);
        EXPECT_LE(docno.size(), kDocnoDisplayMax);
        EXPECT_LE(rev.size(), kDocnoRevMax);
        EXPECT_LE(ftype.value_or("").size(), kDocnoTypeMax);
        EXPECT_EQ(docnoLooksInvalid(copy.get()), 1);
    }

    const std::string doc = "<DOCNO>" + repeat("1", 10000) + "</DOCNO><REV>" + repeat("R", 10000);
    const auto text = exactCopy(doc);
    EXPECT_EQ(getDocnoRev(text.get(), doc.size(), docno, rev), 1);
    EXPECT_EQ(docno.size(), 32u);
    EXPECT_EQ(rev.size(), 8u);
}

}  // namespace
}  // namespace ruva
