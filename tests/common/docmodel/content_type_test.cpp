#include "common/docmodel/content_type.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace ruva {
namespace {

using namespace std::string_literals;

struct Detected {
    int rc;
    int type;
    int subtype;
};

// Runs getDocType over an exact-size heap copy, so that a read past the
// data is an AddressSanitizer report.
Detected detect(const std::string& bytes) {
    std::unique_ptr<char[]> copy(new char[bytes.size()]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    DocType type = static_cast<DocType>(-2);
    SubDocType sub = static_cast<SubDocType>(200);
    int rc = getDocType(copy.get(), bytes.size(), &type, &sub);
    EXPECT_EQ(std::memcmp(copy.get(), bytes.data(), bytes.size()), 0) << "data changed";
    return {rc, type, sub};
}

// The stdout of a shell command; false when it failed.
bool runCapture(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char chunk[4096];
    size_t got;
    out->clear();
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, got);
    return pclose(pipe) == 0;
}

bool havePython() {
    std::string out;
    return runCapture("python3 -c 'print(1)' 2>/dev/null", &out) && out == "1\n";
}

// Little-endian OLE2 directory name: each letter followed by a zero.
std::string utf16le(const std::string& text) {
    std::string out;
    for (char c : text) out += c, out += '\0';
    return out;
}

// Big-endian UTF-16 of ASCII text: a zero before each letter.
std::string utf16be(const std::string& text) {
    std::string out;
    for (char c : text) out += '\0', out += c;
    return out;
}

struct Case {
    const char* name;
    std::string bytes;
    int type;
    int subtype;
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Detected d = detect(c.bytes);
        EXPECT_EQ(d.rc, 1);
        EXPECT_EQ(d.type, c.type);
        EXPECT_EQ(d.subtype, c.subtype);
    }
}

TEST(ContentTypeSignature, EachRowGivesItsType) {
    const std::string pad = "\x01\x02\x03\x04\x05\x06\x07\x08"s;
    const std::string ole = "\xD0\xCF\x11\xE0"s + std::string(60, '\0');
    const std::string idraw12 = "\xAA\xBB\x00\x12\x0C\x00"s;
    expectCases({
        {"SDIF", "\x06\x05\x28\xC6"s + pad, DOCT_SDIF, 0},
        {"IDRAW version 3", "\xAA\xBB\x00\x11\x0C\x00"s + pad, DOCT_IDRAW, 90},
        {"IDRAW byte 11 top bit set", idraw12 + "\0\0\0\0\0\x80"s + pad, DOCT_IDRAW, 91},
        {"IDRAW byte 11 clear", idraw12 + "\0\0\0\0\0\x7F"s + pad, DOCT_IDRAW, 92},
        {"IDRAW of 8 bytes reads byte 11 as 0", idraw12 + "\xFF\xFF"s, DOCT_IDRAW, 92},
        {"IPAINT", "\xAA\xBB\x00\x55\x0C\x00"s + pad, DOCT_IPAINT, 0},
        {"TIFF MM 00 2A", "MM\x00\x2A"s + pad, DOCT_TIFF, 0},
        {"TIFF II 00 2A", "II\x00\x2A"s + pad, DOCT_TIFF, 0},
        {"TIFF II 2A 00", "II\x2A\x00"s + pad, DOCT_TIFF, 0},
        {"SUNRASTER", "\x59\xA6\x6A\x95"s + pad, DOCT_SUNRASTER, 0},
        {"GIF", "GIF89a"s + pad, DOCT_GIF, 0},
        {"binary EPSF", "\xC5\xD0\xD3\xC6"s + pad, DOCT_POSTSCRIPT, 64},
        {"MICROSOFT Word", ole + utf16le("WordDocument"), DOCT_MICROSOFT, 80},
        {"MICROSOFT PowerPoint", ole + utf16le("PowerPoint Document"), DOCT_MICROSOFT, 81},
        {"MICROSOFT PP4", ole + utf16le("PP40"), DOCT_MICROSOFT, 81},
        {"MICROSOFT Word at byte 4", "\xD0\xCF\x11\xE0"s + utf16le("WordDoc"), DOCT_MICROSOFT, 80},
        {"MICROSOFT letters not every second byte", ole + "WordDocument", DOCT_MICROSOFT, 0},
        {"MICROSOFT letters cut at the end", ole + utf16le("WordDo"), DOCT_MICROSOFT, 0},
        {"ZIP", "PK\x03\x04"s + pad, DOCT_ZIP, 0},
        {"XBITMAP", "#define a_width 8\n#define a_height 8\n", DOCT_XBITMAP, 0},
        {"#define without _height is text", "#define a_width 8\n#define b 8\n", DOCT_TEXT, 0},
        {"XPM", "/* XPM */\nstatic char* x[] = {};\n", DOCT_XPM, 0},
        {"MILR28002", "srcdocid: 4711\n", DOCT_MILR28002, 0},
        {"ST1013 escape", "\x1B.(;IN;SP1;"s, DOCT_ST1013, 0},
        {"ST1013 IN;", "IN;SP1;PU0,0;", DOCT_ST1013, 0},
        {"CGM binary", "\x00\x22"s + "CGM picture"s, DOCT_CGM, 0},
        {"CGM at byte 125 is within 128", "\x00"s + std::string(124, 'x') + "CGM", DOCT_CGM, 0},
        {"CGM at byte 126 is not", "\x00"s + std::string(125, 'x') + "CGM", DOCT_BINARY, 0},
        {"CGM clear text", "BEGMF 'picture';", DOCT_CGM, 0},
        {"JPEG", "\xFF\xD8\xFF\xE0"s + pad, DOCT_JPEG, 0},
        {"GZIP", "\x1F\x8B\x08"s + pad, DOCT_GZIP, 0},
        {"1F 8B without 08 is binary", "\x1F\x8B\x09"s + pad, DOCT_BINARY, 0},
    });
}

TEST(ContentTypeFirstByte, EachTestGivesItsType) {
    expectCases({
        {"form feed H.", "\fH. listing\n", DOCT_LISTING, 0},
        {"form feed without H. is not looked past", "\f<html><body>", DOCT_BINARY, 0},
        {"1H", "1H  LISTING PAGE 1\n", DOCT_LISTING, 0},
        {"%!PS", "%!PS-Adobe-3.0\n%%Pages: 1\n", DOCT_POSTSCRIPT, 0},
        {"%!PS EPSF", "%!PS-Adobe-3.0 EPSF-3.0\n", DOCT_POSTSCRIPT, 65},
        {"%%BoundingBox anywhere", "%comment\n%%BoundingBox: 0 0 9 9\n", DOCT_POSTSCRIPT, 0},
        {"%PDF", "%PDF-1.4\n%\xE2\xE3\n"s, DOCT_PDF, 0},
        {"%PDF-1.1", "%PDF-1.1\n1 0 obj\n", DOCT_PDF, 70},
        {"other % text", "% just a comment\n", DOCT_TEXT, 0},
        {")START_HEADER", ")START_HEADER x\n", DOCT_VARA, 32},
        {".* with :text", ".* note\n:text abc\n", DOCT_VARA, 0},
        {".* with a later .* line", ".* one\n.* two\n", DOCT_VARA, 0},
        {".* with :SDL", ".* one\n.* two :sdl\n", DOCT_VARA, 32},
        {".* alone", ".* only one line\n", DOCT_TEXT, 0},
        {".x", ".x :TEXT something\n", DOCT_TEXT, 0},
        {":TEXT at the start", ":Text a b c d\n", DOCT_VARA, 0},
        {":TEXT with :SDL", ":TEXT a :Sdl b\n", DOCT_VARA, 32},
        {"ASA", "ASA 1 2 3 4\n", DOCT_PLEXPACK, 42},
        {"PLEXC", "PLEXC 1 2 3\n", DOCT_PLEXPACK, 40},
        {"PLEXM", "PLEXM 1 2 3\n", DOCT_PLEXPACK, 41},
        {"PLEXRPD", "PLEXRPD 1 2\n", DOCT_PLEXPACK, 43},
        {"PLEX other", "PLEXQ 1 2 3\n", DOCT_TEXT, 0},
        {"RTF", "{\\rtf1\\ansi text}", DOCT_MICROSOFT, 82},
        {"XML declaration then a top element", "<?xml version=\"1.0\"?>\n<TAVR>x</TAVR>", DOCT_XML, 5},
        {"two processing instructions", "<?xml version=\"1.0\"?><?style x?>  <!DOCTYPE html>", DOCT_XML, 96},
        {"other processing instruction", "<?php echo 1; ?>\n<html>", DOCT_HTML, 0},
        {"XML declaration then text", "<?xml version=\"1.0\"?> plain", DOCT_TEXT, 0},
        {"unterminated instruction", "<?xml version=\"1.0\"", DOCT_TEXT, 0},
        {"white space then a tag", " \r\n\t<html><body>", DOCT_HTML, 0},
        {"white space then no instruction handling", "  <?xml version=\"1.0\"?><TAVR>", DOCT_TEXT, 0},
        {"DOC-NAME", "DOC-NAME    : feature\n", DOCT_SSP, 86},
        {"DOC-NAME after white space", "\n DOC-NAME    : feature\n", DOCT_SSP, 86},
        {"DOC-NAME with three blanks", "DOC-NAME   : feature\n", DOCT_TEXT, 0},
    });
}

TEST(ContentTypeTag, EachTestGivesItsType) {
    expectCases({
        {"DOCTYPE element", "<!DOCTYPE COD PUBLIC \"-//X//DTD POD//EN\">", DOCT_SGML, 1},
        {"DOCTYPE any case", "< !doctype   pod>", DOCT_SGML, 2},
        {"DOCTYPE unknown still matches", "<!DOCTYPE foo>\n<foo>", DOCT_SGML, 0},
        {"DOCTYPE html", "<!DOCTYPE html>\n<html>", DOCT_SGML, 14},
        {"DOCTYPE public id", "<!DOCTYPE x PUBLIC \"-//X//DTD TAVR//EN\">", DOCT_SGML, 5},
        {"XML keeps its type", "<?xml version=\"1.0\"?><!DOCTYPE TAVR>", DOCT_XML, 5},
        {"MIFFile", "<MIFFile 5.00> # x", DOCT_FRAMEMAKER, 55},
        {"MakerFile", "<MakerFile 5.5Q>", DOCT_FRAMEMAKER, 54},
        {"comment then DOCTYPE", "<!-- c --><!DOCTYPE POD>", DOCT_SGML, 2},
        {"comment then DOCTYPE in text", "<!-- c --> text !doctype ug>", DOCT_SGML, 15},
        {"comment then a tag", "<!-- c -->\n<html>", DOCT_HTML, 0},
        {"two comments then a tag", "<!-- a --> <!-- b --> <hr>", DOCT_HTML, 0},
        {"DOCTYPE inside the comment is skipped", "<!-- <!DOCTYPE COD> -->\n<pod>", DOCT_SGML, 2},
        {"comment never closed", "<!-- never closed", DOCT_TEXT, 0},
        {"comment, nothing after", "<!-- c --> plain", DOCT_TEXT, 0},
        {"HTML", "<HTML><BODY>x", DOCT_HTML, 0},
        {"HTML with DOCNO", "<html><META NAME=DOCNO CONTENT=\"x\">", DOCT_HTML, 50},
        {"HTML with quoted DOCNO", "<html>\n<meta name=\"docno\" content=\"x\">", DOCT_HTML, 50},
        {"HR>", "<hr> rule", DOCT_HTML, 0},
        {"TITLE>", "<Title>t</title>", DOCT_HTML, 0},
        {"H1>", "<h1>head</h1>", DOCT_HTML, 0},
        {"PRE>", "<PRE>text</PRE>", DOCT_HTML, 0},
        {"TITLE without >", "<TITLE x>t</TITLE>", DOCT_TEXT, 0},
        {"element name", "<cod>\n<title>", DOCT_SGML, 1},
        {"SET element", "<SET>\n<x>", DOCT_SGML, 94},
        {"public id leaves the type", "<foo PUBLIC \"-//X//DTD COD//EN\">", DOCT_UNKNOWN, 1},
        {"no known element", "<foo bar=1>", DOCT_TEXT, 0},
    });
}

TEST(ContentTypeClosing, TextAndDocPackAnywhere) {
    expectCases({
        {":TEXT. anywhere", "abc def :text. x", DOCT_VARA, 0},
        {":TEXT. with :SDL", "abc :SDL def :TEXT. x", DOCT_VARA, 32},
        {"DocPack anywhere", "header DocPack 2.0\n", DOCT_DOCPACK, 0},
        {"DocPack after NUL bytes", "\x02\x00\x00\x00 DocPack"s, DOCT_DOCPACK, 0},
        {"docpack is case-exact", "header docpack 2.0\n", DOCT_TEXT, 0},
    });
}

TEST(ContentTypeOrder, FirstTestThatHoldsWins) {
    expectCases({
        {"%!PS holding DocPack", "%!PS-Adobe\nDocPack\n", DOCT_POSTSCRIPT, 0},
        {"ZIP holding an X bitmap", "PK\x03\x04#define a_width a_height"s, DOCT_ZIP, 0},
        {"VARA before DocPack", "xx :TEXT. DocPack", DOCT_VARA, 0},
        {"%%BoundingBox after NUL", "%\x00\x00\x00\n%%BoundingBox: 1 EPSF-2"s, DOCT_POSTSCRIPT, 65},
        {"HTML DOCNO after NUL", "<html>\x00\x00<meta name=docno>"s, DOCT_HTML, 50},
        {"XBITMAP names after NUL", "#define a\x00_width\x00_height"s, DOCT_XBITMAP, 0},
    });
}

TEST(ContentTypeLength, SevenBytesGiveNothingEightAreText) {
    DocType type = DOCT_PDF;
    SubDocType sub = DOC_SUBTYPE_PDF_11;
    EXPECT_EQ(getDocType("abcdefg", 7, &type, &sub), 0);
    EXPECT_EQ(type, DOCT_PDF);
    EXPECT_EQ(sub, DOC_SUBTYPE_PDF_11);
    EXPECT_EQ(getDocType(nullptr, 100, &type, &sub), 0);
    Detected d = detect("abcdefgh");
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(d.type, DOCT_TEXT);
    EXPECT_EQ(d.subtype, 0);
    EXPECT_EQ(getDocType("abcdefgh", 8, nullptr, nullptr), 1);
    EXPECT_EQ(detect("abc\tde\r\nf").type, DOCT_TEXT);
    EXPECT_EQ(detect("abc\x7f"
                     "defg")
                  .type,
              DOCT_BINARY);
    EXPECT_EQ(detect("caf\xE9 au lait").type, DOCT_TEXT);
}

TEST(ContentTypeLength, OnlyTheFirst2047BytesAreExamined) {
    struct {
        const char* name;
        size_t size;
        size_t controlAt;
        int type;
    } cases[] = {
        {"last byte of 2047", 2047, 2046, DOCT_BINARY},
        {"byte 2047 of 2048 is not examined", 2048, 2047, DOCT_TEXT},
        {"byte 2046 of 2048", 2048, 2046, DOCT_BINARY},
        {"far past the window", 5000, 4000, DOCT_TEXT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text(c.size, 'a');
        text[c.controlAt] = '\x01';
        EXPECT_EQ(detect(text).type, c.type);
    }
    std::string late(3000, 'a');
    late.replace(2042, 6, ":TEXT.");  // its '.' is byte 2047
    EXPECT_EQ(detect(late).type, DOCT_TEXT);
    late.replace(2030, 6, ":TEXT.");
    EXPECT_EQ(detect(late).type, DOCT_VARA);
}

TEST(ContentTypeZip, ArchiveCommentNamesTheContainer) {
    if (!havePython()) GTEST_SKIP() << "python3 not available";
    struct {
        const char* comment;
        int subtype;
    } cases[] = {
        {"HTMLCONTAINER: x", 76},
        {"3PPCONTAINER: y", 75},
        {"My Library R2A [EN/LZN 702 0012 R2A]", 0},
        {"", 0},
        {" HTMLCONTAINER: not at the start", 0},
    };
    // One archive per comment, written as one hexadecimal line each.
    std::string command =
        "python3 -c 'import io,sys,zipfile\n"
        "for c in sys.argv[1:]:\n"
        " b=io.BytesIO()\n"
        " z=zipfile.ZipFile(b,\"w\")\n"
        " z.writestr(\"index.html\",\"<html>\"*500)\n"
        " z.comment=c.encode()\n"
        " z.close()\n"
        " print(b.getvalue().hex())'";
    for (const auto& c : cases) command += " '"s + c.comment + "'";
    std::string lines;
    ASSERT_TRUE(runCapture(command, &lines));
    size_t at = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comment);
        size_t end = lines.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        std::string zip;
        for (size_t i = at; i + 1 < end; i += 2)
            zip += static_cast<char>(std::stoi(lines.substr(i, 2), nullptr, 16));
        at = end + 1;
        Detected d = detect(zip);
        EXPECT_EQ(d.type, DOCT_ZIP);
        EXPECT_EQ(d.subtype, c.subtype);
    }
    EXPECT_STREQ(getDocTypeName(DOCT_ZIP, 76), "ZIP-HTMLCONTAINER");
    EXPECT_STREQ(getDocTypeExt(DOCT_ZIP, 76), "zip");
}

TEST(ContentTypeZip, HostileEndRecordsAreBounded) {
    const std::string local = "PK\x03\x04"s + std::string(40, 'x');
    // End record: signature, 16 bytes of counts and offsets, then the
    // comment length (little-endian) and the comment.
    auto endRecord = [](unsigned length, const std::string& comment) {
        return "PK\x05\x06"s + std::string(16, '\0') + static_cast<char>(length & 0xFF) +
               static_cast<char>(length >> 8) + comment;
    };
    struct {
        const char* name;
        std::string bytes;
        int subtype;
    } cases[] = {
        {"stored length past the end", local + endRecord(65535, "HTMLCONTAINER: x"), 76},
        {"stored length shorter than the mark", local + endRecord(5, "HTMLCONTAINER: x"), 0},
        {"record cut 10 bytes before its end", local + endRecord(0, "").substr(0, 12), 0},
        {"cut record after a whole one",
         local + endRecord(14, "3PPCONTAINER: ") + endRecord(0, "").substr(0, 20), 75},
        {"signature in the last four bytes", local + "PK\x05\x06"s, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Detected d = detect(c.bytes);
        EXPECT_EQ(d.type, DOCT_ZIP);
        EXPECT_EQ(d.subtype, c.subtype);
    }
}

TEST(ContentTypeGzip, PythonGzipOutput) {
    if (!havePython()) GTEST_SKIP() << "python3 not available";
    std::string gz;
    ASSERT_TRUE(runCapture(
        "python3 -c 'import gzip,sys; sys.stdout.buffer.write(gzip.compress(b\"hello world\"*100))'", &gz));
    Detected d = detect(gz);
    EXPECT_EQ(d.type, DOCT_GZIP);
    EXPECT_EQ(d.subtype, 0);
}

TEST(ContentTypeEbcdic, DoctypeInIbm037) {
    std::string ebcdic;
    if (!runCapture("printf '<!DOCTYPE COD PUBLIC \"-//X//DTD COD//EN\">\\n' | "
                    "iconv -f ISO-8859-1 -t IBM037 2>/dev/null",
                    &ebcdic) ||
        ebcdic.empty())
        GTEST_SKIP() << "iconv with IBM037 not available";
    ASSERT_EQ(ebcdic.substr(0, 2), "\x4C\x5A"s);  // "<!"
    Detected d = detect(ebcdic);
    EXPECT_EQ(d.type, DOCT_EBCDIC);
    EXPECT_EQ(d.subtype, 1);
}

TEST(ContentTypeEbcdic, LastByteIsNotExamined) {
    // "%!PS" in IBM-037 is 6C 5A D7 E2; the translated copy drops the last
    // byte, so only what lies before it can match.
    EXPECT_EQ(detect("\x6C\x5A\xD7\xE2\x40\x40\x40\x40"s).type, DOCT_EBCDIC);
    // ":TEXT." needs its '.' (4B) before the last byte.
    EXPECT_EQ(detect("\x81\x81\x7A\xE3\xC5\xE7\xE3\x4B"s).type, DOCT_TEXT);
    EXPECT_EQ(detect("\x81\x81\x7A\xE3\xC5\xE7\xE3\x4B\x40"s).type, DOCT_EBCDIC);
}

TEST(ContentTypeUtf16, ByteOrderMarkDecides) {
    const std::string html = utf16be("<html>");
    Detected with = detect("\xFE\xFF"s + html);
    EXPECT_EQ(with.type, DOCT_UTF_16);
    EXPECT_EQ(with.subtype, 0);
    EXPECT_EQ(detect(html).type, DOCT_BINARY);
    Detected sgml = detect("\xFE\xFF"s + utf16be("<!DOCTYPE TAVR>"));
    EXPECT_EQ(sgml.type, DOCT_UTF_16);
    EXPECT_EQ(sgml.subtype, 5);
}

TEST(ContentTypeUtf16, ConversionStopsAtTheEndOfInput) {
    struct {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"no mark", "\x00h\x00i"s, ""},
        {"little-endian mark", "\xFF\xFE\x00h"s, ""},
        {"mark only", "\xFE\xFF"s, ""},
        {"pairs", "\xFE\xFF\x00h\x00i"s, "hi"},
        {"last pair cut after its zero", "\xFE\xFF\x00h\x00"s, "h"},
        {"other bytes one by one", "\xFE\xFF\x30\x42\x00h"s, "\x30\x42h"s},
        {"zero pair", "\xFE\xFF\x00\x00\x00h"s, "\x00h"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<char[]> in(new char[c.in.size()]);
        std::memcpy(in.get(), c.in.data(), c.in.size());
        std::unique_ptr<char[]> out(new char[c.in.size() + 1]);
        size_t n = UTF16toUTF8(in.get(), out.get(), c.in.size());
        EXPECT_EQ(std::string(out.get(), n), c.out);
    }
    char out[4];
    EXPECT_EQ(UTF16toUTF8(nullptr, out, 4), 0u);
    EXPECT_EQ(UTF16toUTF8("\xFE", out, 1), 0u);
}

TEST(ContentTypeXml, TavrUnderXmlHasNoName) {
    Detected d = detect("<?xml version=\"1.0\"?><!DOCTYPE TAVR>");
    EXPECT_EQ(d.type, DOCT_XML);
    EXPECT_EQ(d.subtype, 5);
    EXPECT_STREQ(getDocTypeName(d.type, d.subtype), "Unknown");
}

TEST(ContentTypeSgmlSubtype, TopElementsCaseBlind) {
    const std::pair<const char*, int> elements[] = {
        {"ADI", 7},  {"AI", 8},       {"BOOK", 19}, {"COD", 1},  {"DESC", 18}, {"DMD", 10},  {"DOCLIST", 13},
        {"VARA", 4}, {"EBCEDML", 11}, {"HTML", 14}, {"INCH", 6}, {"JP", 17},   {"MIND", 16}, {"OPI", 3},
        {"POD", 2},  {"TAVR", 5},     {"SET", 94},  {"TAD", 9},  {"UG", 15},
    };
    for (const auto& [name, subtype] : elements) {
        SCOPED_TRACE(name);
        for (std::string text :
             {std::string(name) + ">", std::string(name) + " PUBLIC \"x\"", std::string(name) + " public"}) {
            if (text.back() == 'c')
                for (char& c : text) c = static_cast<char>(c | 0x20);  // lower case
            DocType type = DOCT_UNKNOWN;
            SubDocType sub = DOC_SUBTYPE_PDF_11;
            std::string top = "old";
            EXPECT_EQ(getSgmlSubtype(text.c_str(), &type, &sub, &top), 1);
            EXPECT_EQ(type, DOCT_SGML);
            EXPECT_EQ(sub, subtype);
            EXPECT_EQ(top.size(), std::strlen(name));
        }
    }
    DocType type = DOCT_XML;
    SubDocType sub = DOC_SUBTYPE_UNKNOWN;
    EXPECT_EQ(getSgmlSubtype("html>", &type, &sub, nullptr), 1);
    EXPECT_EQ(type, DOCT_XML);
    EXPECT_EQ(sub, DOC_SUBTYPE_XML_XHTML);
}

TEST(ContentTypeSgmlSubtype, PublicIdentifiersInTableOrder) {
    const std::pair<const char*, int> ids[] = {
        {"DTD VARA", 4},  {"DTD ADI", 7},  {"DTD AI", 8},       {"DTD BOOK", 19},        {"DTD COD", 1},
        {"DTD desc", 18}, {"DTD DMD", 10}, {"DTD EBCEDML", 11}, {"DTD INCH", 6},         {"DTD jpEXU", 17},
        {"DTD MIND", 16}, {"DTD OPI", 3},  {"DTD POD", 2},      {"DTD TAVR", 5},         {"DTD XTAVR", 93},
        {"DTD HOB", 94},  {"DTD TAD", 9},  {"DTD UG", 15},      {"DTD MANPAGE Uja", 95},
    };
    for (const auto& [id, subtype] : ids) {
        SCOPED_TRACE(id);
        std::string text = "x PUBLIC \"-//Org//"s + id + "//EN\">";
        DocType type = DOCT_HTML;
        SubDocType sub = DOC_SUBTYPE_UNKNOWN;
        std::string top;
        EXPECT_EQ(getSgmlSubtype(text.c_str(), &type, &sub, &top), 1);
        EXPECT_EQ(type, DOCT_HTML);  // a public identifier leaves the type
        EXPECT_EQ(sub, subtype);
        EXPECT_EQ(top, "x");
    }
    struct {
        const char* name;
        std::string text;
        int rc;
        int subtype;
    } cases[] = {
        {"first in table order, not in text", "x PUBLIC \"DTD COD DTD VARA\"", 1, 4},
        {"desc any case", "x PUBLIC \"-//X//DTD DeSc//EN\"", 1, 18},
        {"other texts exact case", "x PUBLIC \"-//X//DTD cod//EN\"", 0, 0},
        {"blanks before PUBLIC", "x   PUBLIC \"DTD UG\"", 1, 15},
        {"no quote", "x PUBLIC DTD UG", 0, 0},
        {"SYSTEM", "x SYSTEM \"DTD UG\"", 0, 0},
        {"text past the closing quote", "x PUBLIC \"abc\" \"DTD UG\"", 0, 0},
        {"text past 95 characters", "x PUBLIC \"" + std::string(90, 'a') + "DTD UG\"", 0, 0},
        {"text within 95 characters", "x PUBLIC \"" + std::string(89, 'a') + "DTD UG\"", 1, 15},
        {"name must begin with a letter", "1COD>", 0, 0},
        {"whole names only", "CODE>", 0, 0},
        {"empty", "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocType type = DOCT_UNKNOWN;
        SubDocType sub = DOC_SUBTYPE_PDF_11;
        EXPECT_EQ(getSgmlSubtype(c.text.c_str(), &type, &sub, nullptr), c.rc);
        EXPECT_EQ(sub, c.subtype);
        EXPECT_EQ(type, DOCT_UNKNOWN);
    }
    EXPECT_EQ(getSgmlSubtype(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(ContentTypeSgmlSubtype, TopElementIsCutAt15) {
    std::string top;
    SubDocType sub;
    DocType type = DOCT_UNKNOWN;
    EXPECT_EQ(getSgmlSubtype("ABCDEFGHIJKLMNOPQRST PUBLIC \"DTD UG\"", &type, &sub, &top), 0);
    EXPECT_EQ(top, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(getSgmlSubtype("ABCDEFGHIJKLMNO PUBLIC \"DTD UG\"", &type, &sub, &top), 1);
    EXPECT_EQ(top, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(getSgmlSubtype("-x>", &type, &sub, &top), 0);
    EXPECT_EQ(top, "");
}

// The name table written out pair by pair: rows with one value apply to
// every subtype; in the others an unlisted subtype takes "other" or none.
struct TypeTable {
    int type;
    const char* all;
    const char* other;
    std::map<int, const char*> bySubtype;
};
const std::vector<TypeTable>& nameTable() {
    static const std::vector<TypeTable> table = {
        {DOCT_TEXT, "Text", nullptr, {}},
        {DOCT_BINARY, "Binary", nullptr, {}},
        {DOCT_DOCPACK, "DocPack", nullptr, {}},
        {DOCT_PLEXPACK,
         nullptr,
         "PV-Unknown",
         {{0, "PV"},
          {40, "PV-PLEXC"},
          {41, "PV-PLEXM"},
          {42, "PV-ASA"},
          {43, "PV-PLEXRPD"},
          {44, "PV-PVINDEX"}}},
        {DOCT_HTML, nullptr, "HTML-Unknown", {{0, "HTML"}, {50, "HTML-Ruva"}}},
        {DOCT_SGML,
         nullptr,
         "SGML-Unknown",
         {{1, "SGML-COD"},     {2, "SGML-POD"},   {3, "SGML-OPI"},      {4, "SGML-VARA"},
          {5, "SGML-TAVR"},    {6, "SGML-INCH"},  {7, "SGML-ADI"},      {8, "SGML-AI"},
          {9, "SGML-TAD"},     {10, "SGML-DMD"},  {11, "SGML-EBCEDML"}, {13, "SGML-DOCLIST"},
          {14, "SGML-HTML"},   {15, "SGML-UG"},   {16, "SGML-MIND"},    {17, "SGML-JP"},
          {18, "SGML-DESC"},   {19, "SGML-BOOK"}, {93, "SGML-XTAVR"},   {94, "SGML-HOB"},
          {95, "SGML-MANPAGE"}}},
        {DOCT_VARA, nullptr, nullptr, {{0, "VARA"}, {32, "VARA-SDLFLOW"}}},
        {DOCT_POSTSCRIPT, nullptr, nullptr, {{0, "PS"}, {64, "PS-BEPSF"}, {65, "PS-EPSF"}}},
        {DOCT_SDIF, "SDIF", nullptr, {}},
        {DOCT_LISTING, "Listing", nullptr, {}},
        {DOCT_FRAMEMAKER, nullptr, nullptr, {{54, "FrameMaker"}, {55, "Frame-MIF"}}},
        {DOCT_PDF, nullptr, nullptr, {{0, "PDF"}, {70, "PDF-1.1"}}},
        {DOCT_MILR28002, "MILR28002", nullptr, {}},
        {DOCT_ZIP, nullptr, nullptr, {{0, "ZIP"}, {75, "ZIP-3PPCONTAINER"}, {76, "ZIP-HTMLCONTAINER"}}},
        {DOCT_MICROSOFT,
         nullptr,
         nullptr,
         {{0, "MS-Unknown"}, {80, "MS-WORD"}, {81, "MS-PPT"}, {82, "MS-RTF"}}},
        {DOCT_SSP, nullptr, nullptr, {{86, "SSP-FeatStruct"}}},
        {DOCT_ST1013, "ST1013228A", nullptr, {}},
        {DOCT_GZIP, "GZIP", nullptr, {}},
        {DOCT_XML, nullptr, nullptr, {{0, "XML"}, {93, "XML-XTAVR"}, {94, "XML-HOB"}}},
        {DOCT_IDRAW, nullptr, nullptr, {{90, "IDraw-V3"}, {91, "IDraw-Compr"}, {92, "IDraw-Uncompr"}}},
        {DOCT_TIFF, "TIFF", nullptr, {}},
        {DOCT_SUNRASTER, "SunRaster", nullptr, {}},
        {DOCT_GIF, "GIF", nullptr, {}},
        {DOCT_XBITMAP, "XBitmap", nullptr, {}},
        {DOCT_XPM, "XPM", nullptr, {}},
        {DOCT_IPAINT, "IslandPaint", nullptr, {}},
        {DOCT_CGM, "CGM", nullptr, {}},
        {DOCT_JPEG, "JPEG", nullptr, {}},
    };
    return table;
}
const std::vector<TypeTable>& extensionTable() {
    static const std::vector<TypeTable> table = {
        {DOCT_TEXT, "ansi", nullptr, {}},
        {DOCT_BINARY, "bin", nullptr, {}},
        {DOCT_DOCPACK, "dp", nullptr, {}},
        {DOCT_PLEXPACK, "pxp", nullptr, {}},
        {DOCT_HTML, "html", nullptr, {}},
        {DOCT_SGML, "sgml", nullptr, {}},
        {DOCT_SDIF, "sgml", nullptr, {}},
        {DOCT_VARA, "vara", nullptr, {}},
        {DOCT_POSTSCRIPT, "ps", nullptr, {}},
        {DOCT_LISTING, "list", nullptr, {}},
        {DOCT_FRAMEMAKER, nullptr, nullptr, {{54, "fm"}, {55, "mif"}}},
        {DOCT_PDF, "pdf", nullptr, {}},
        {DOCT_MILR28002, "mil", nullptr, {}},
        {DOCT_ZIP, "zip", nullptr, {}},
        {DOCT_MICROSOFT, nullptr, nullptr, {{0, "ms"}, {80, "doc"}, {81, "ppt"}, {82, "rtf"}}},
        {DOCT_SSP, nullptr, nullptr, {{86, "fts"}}},
        {DOCT_ST1013, "hpg", nullptr, {}},
        {DOCT_GZIP, "gz", nullptr, {}},
        {DOCT_IDRAW, "drw", nullptr, {}},
        {DOCT_TIFF, "tif", nullptr, {}},
        {DOCT_SUNRASTER, "rs", nullptr, {}},
        {DOCT_GIF, "gif", nullptr, {}},
        {DOCT_XBITMAP, "xbm", nullptr, {}},
        {DOCT_XPM, "xpm", nullptr, {}},
        {DOCT_IPAINT, "ipt", nullptr, {}},
        {DOCT_CGM, "cgm", nullptr, {}},
        {DOCT_JPEG, "jpg", nullptr, {}},
    };
    return table;
}

std::string expected(const std::vector<TypeTable>& table, int type, int subtype, const char* none) {
    for (const TypeTable& row : table) {
        if (row.type != type) continue;
        if (row.all) return row.all;
        auto it = row.bySubtype.find(subtype);
        if (it != row.bySubtype.end()) return it->second;
        return row.other ? row.other : none;
    }
    return none;
}

TEST(ContentTypeNames, EveryPairOfBytes) {
    for (int t = 0; t < 256; ++t) {
        for (int s = 0; s < 256; ++s) {
            for (int type : {static_cast<int>(static_cast<signed char>(t)), t}) {
                for (int subtype : {static_cast<int>(static_cast<signed char>(s)), s}) {
                    const char* name = getDocTypeName(type, subtype);
                    const char* ext = getDocTypeExt(type, subtype);
                    ASSERT_NE(name, nullptr);
                    ASSERT_NE(ext, nullptr);
                    ASSERT_EQ(name, expected(nameTable(), type, subtype, "Unknown"))
                        << type << "/" << subtype;
                    ASSERT_EQ(ext, expected(extensionTable(), type, subtype, "")) << type << "/" << subtype;
                }
            }
        }
    }
}

TEST(ContentTypeNames, DecidedReadings) {
    struct {
        int type, subtype;
        const char* name;
        const char* ext;
    } cases[] = {
        {DOCT_XML, 5, "Unknown", ""},
        {DOCT_XML, 96, "Unknown", ""},
        {DOCT_FRAMEMAKER, 0, "Unknown", ""},
        {DOCT_SSP, 0, "Unknown", ""},
        {DOCT_IDRAW, 0, "Unknown", "drw"},
        {DOCT_MICROSOFT, 0, "MS-Unknown", "ms"},
        {DOCT_MICROSOFT, 83, "Unknown", ""},
        {DOCT_SGML, 0, "SGML-Unknown", "sgml"},
        {DOCT_SGML, 12, "SGML-Unknown", "sgml"},
        {DOCT_TEXT, 77, "Text", "ansi"},
        {DOCT_EBCDIC, 1, "Unknown", ""},
        {DOCT_UTF_16, 0, "Unknown", ""},
        {DOCT_UNKNOWN, 0, "Unknown", ""},
        {0xFF, 0, "Unknown", ""},
        {30, 0, "Unknown", ""},
        {-2, 0, "Unknown", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.subtype));
        EXPECT_STREQ(getDocTypeName(c.type, c.subtype), c.name);
        EXPECT_STREQ(getDocTypeExt(c.type, c.subtype), c.ext);
    }
}

TEST(ContentTypeFromName, NamesParseBack) {
    const char* roundTrips[] = {
        "Text",
        "Binary",
        "DocPack",
        "PV",
        "PV-PLEXC",
        "PV-PLEXM",
        "PV-ASA",
        "PV-PVINDEX",
        "HTML",
        "HTML-Ruva",
        "SGML-COD",
        "SGML-POD",
        "SGML-OPI",
        "SGML-VARA",
        "SGML-TAVR",
        "SGML-INCH",
        "SGML-ADI",
        "SGML-AI",
        "SGML-TAD",
        "SGML-DMD",
        "SGML-EBCEDML",
        "SGML-HTML",
        "SGML-UG",
        "SGML-MIND",
        "SGML-JP",
        "SGML-DESC",
        "SGML-BOOK",
        "SGML-XTAVR",
        "SGML-HOB",
        "SGML-MANPAGE",
        "SGML-Unknown",
        "VARA",
        "PS",
        "PS-BEPSF",
        "PS-EPSF",
        "SDIF",
        "Listing",
        "ZIP",
        "ZIP-3PPCONTAINER",
        "ZIP-HTMLCONTAINER",
        "MS-Unknown",
        "MS-WORD",
        "MS-PPT",
        "MS-RTF",
        "SSP-FeatStruct",
        "ST1013228A",
        "GZIP",
        "XML",
        "Unknown",
    };
    for (const char* name : roundTrips) {
        SCOPED_TRACE(name);
        DocType type = DOCT_PDF;
        SubDocType sub = DOC_SUBTYPE_PDF_11;
        getDocTypeFromName(name, &type, &sub);
        EXPECT_STREQ(getDocTypeName(type, sub), name);
    }
    struct {
        const char* name;
        int type, subtype;
    } cases[] = {
        {"ps-epsf", DOCT_POSTSCRIPT, 65}, {"zip-3ppcontainer", DOCT_ZIP, 75},
        {"html-ruva", DOCT_HTML, 50},     {"ssp-featstruct", DOCT_SSP, 86},
        {"GZIP-x", DOCT_GZIP, 0},         {"ST1013", DOCT_ST1013, 0},
        {"PV-PLEXRPD", DOCT_PLEXPACK, 0}, {"PV-Unknown", DOCT_PLEXPACK, 0},
        {"HTML-Unknown", DOCT_HTML, 0},   {"SGML-DOCLIST", DOCT_SGML, 0},
        {"SGML", DOCT_SGML, 0},           {"VARA-SDLFLOW", DOCT_UNKNOWN, 0},
        {"PDF", DOCT_UNKNOWN, 0},         {"PDF-1.1", DOCT_UNKNOWN, 0},
        {"FrameMaker", DOCT_UNKNOWN, 0},  {"Frame-MIF", DOCT_UNKNOWN, 0},
        {"MILR28002", DOCT_UNKNOWN, 0},   {"IDraw-V3", DOCT_UNKNOWN, 0},
        {"IDraw-Compr", DOCT_UNKNOWN, 0}, {"IDraw-Uncompr", DOCT_UNKNOWN, 0},
        {"TIFF", DOCT_UNKNOWN, 0},        {"SunRaster", DOCT_UNKNOWN, 0},
        {"GIF", DOCT_UNKNOWN, 0},         {"XBitmap", DOCT_UNKNOWN, 0},
        {"XPM", DOCT_UNKNOWN, 0},         {"IslandPaint", DOCT_UNKNOWN, 0},
        {"CGM", DOCT_UNKNOWN, 0},         {"JPEG", DOCT_UNKNOWN, 0},
        {"XML-XTAVR", DOCT_UNKNOWN, 0},   {"XML-HOB", DOCT_UNKNOWN, 0},
        {"Texts", DOCT_UNKNOWN, 0},       {"", DOCT_UNKNOWN, 0},
        {nullptr, DOCT_UNKNOWN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        DocType type = DOCT_PDF;
        SubDocType sub = DOC_SUBTYPE_PDF_11;
        getDocTypeFromName(c.name, &type, &sub);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(sub, c.subtype);
    }
    getDocTypeFromName("PS", nullptr, nullptr);
}

TEST(ContentTypeDtdInfo, PublicIdentifierOfTheDoctype) {
    struct {
        const char* name;
        std::string data;
        std::string id;
    } cases[] = {
        {"plain", "<!DOCTYPE COD PUBLIC \"-//X//DTD COD//EN\">", "-//X//DTD COD//EN"},
        {"after a declaration", "<?xml?>\n<!DOCTYPE x PUBLIC  \"id\" \"sys\">", "id"},
        {"cut at 79", "<!DOCTYPE x PUBLIC \"" + std::string(100, 'i') + "\">", std::string(79, 'i')},
        {"no PUBLIC", "<!DOCTYPE x SYSTEM \"a.dtd\">", ""},
        {"no DOCTYPE", "<x PUBLIC \"id\">", ""},
        {"no quote", "<!DOCTYPE x PUBLIC id>", ""},
        {"unterminated", "<!DOCTYPE x PUBLIC \"id", "id"},
        {"beyond 1024 bytes", std::string(1020, ' ') + "<!DOCTYPE x PUBLIC \"id\">", ""},
        {"identifier cut by the window", std::string(1000, ' ') + "<!DOCTYPE x PUBLIC \"abcdefghij\">",
         "abcd"},
        {"after NUL bytes", "\0\0<!DOCTYPE x PUBLIC \"id\">"s, "id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<char[]> copy(new char[c.data.size()]);
        std::memcpy(copy.get(), c.data.data(), c.data.size());
        EXPECT_EQ(getDtdInfo(copy.get(), c.data.size()), c.id);
    }
    EXPECT_EQ(getDtdInfo(nullptr, 10), "");
}

TEST(ContentTypeCheckFileSig, ShortBuffersAreNotOverread) {
    // Signatures longer than the buffer never match; offsets past it read 0.
    struct {
        const char* name;
        std::string bytes;
        int rc, type, subtype;
    } cases[] = {
        {"TIFF cut before its last zero", "II\x2A"s, 0, DOCT_UNKNOWN, 0},
        {"IDRAW of 6 bytes", "\xAA\xBB\x00\x12\x0C\x00"s, 1, DOCT_IDRAW, 92},
        {"empty", "", 0, DOCT_UNKNOWN, 0},
        {"lone <", "<", 0, DOCT_UNKNOWN, 0},
        {"lone <?", "<?", 0, DOCT_UNKNOWN, 0},
        {"!DOCTYPE at the end", "<!DOCTYPE", 1, DOCT_SGML, 0},
        {"comment at the end", "<!--", 0, DOCT_UNKNOWN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<char[]> copy(new char[c.bytes.size() + 1]);
        std::memcpy(copy.get(), c.bytes.data(), c.bytes.size());
        DocType type = DOCT_UNKNOWN;
        SubDocType sub = DOC_SUBTYPE_UNKNOWN;
        EXPECT_EQ(checkFileSig(copy.get(), c.bytes.size(), &type, &sub), c.rc);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(sub, c.subtype);
    }
}

// Random buffers, half of them starting with a signature or a markup
// opening, the bodies either random bytes or runs of markup pieces, so
// that the deeper tag and comment paths are reached.
const std::string kOpenings[] = {
    "\x06\x05\x28\xC6"s,
    "\xAA\xBB\x00\x11\x0C\x00"s,
    "\xAA\xBB\x00\x12\x0C\x00"s,
    "\xAA\xBB\x00\x55\x0C\x00"s,
    "MM\x00\x2A"s,
    "II\x00\x2A"s,
    "II\x2A\x00"s,
    "\x59\xA6\x6A\x95"s,
    "GIF8"s,
    "\xC5\xD0\xD3\xC6"s,
    "\xD0\xCF\x11\xE0"s,
    "PK\x03\x04"s,
    "#define "s,
    "/* XPM */"s,
    "srcdocid:"s,
    "\x1B.(;"s,
    "IN;"s,
    "\x00"s,
    "BEGMF"s,
    "\xFF\xD8\xFF\xE0"s,
    "\x1F\x8B\x08"s,
    "\fH."s,
    "1H"s,
    "%!PS"s,
    "%PDF-1.1"s,
    "%"s,
    ")START_HEADER"s,
    ".*"s,
    ":TEXT"s,
    "ASA"s,
    "PLEXC"s,
    "PLEXRPD"s,
    "{\\rtf"s,
    "<?xml"s,
    "<?"s,
    "<!--"s,
    "<!DOCTYPE"s,
    "<!DOCTYPE "s,
    "<MIFFile "s,
    "<html"s,
    " \n<"s,
    "DOC-NAME    :"s,
    "\xFE\xFF"s,
    "\xFE\xFF"s + utf16be("<!DOCTYPE "),
    "\x4C\x5A\xC4\xD6\xC3\xE3\xE8\xD7\xC5\x40"s /* "<!DOCTYPE " in IBM-037 */,
};
const std::string kPieces[] = {
    "<"s,  ">"s,      "?>"s,        "<?xml "s,  "<!--"s,       "-->"s,       "--"s,     "!DOCTYPE "s,
    " "s,  "\n"s,     "PUBLIC \""s, "\""s,      "DTD "s,       "COD"s,       "html"s,   "TAVR "s,
    "\0"s, ":TEXT."s, ":SDL"s,      "DocPack"s, "PK\x05\x06"s, "W\0o\0r\0"s, "_width"s, "<META NAME=DOCNO"s,
};

std::string randomBuffer(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> sizeDist(0, 4096);
    std::uniform_int_distribution<int> byteDist(0, 255);
    const size_t size = sizeDist(rng);
    std::string out;
    out.reserve(size + 32);
    if (rng() & 1) out = kOpenings[rng() % std::size(kOpenings)];
    const bool markup = rng() & 1;
    while (out.size() < size) {
        if (markup && rng() % 3 != 0)
            out += kPieces[rng() % std::size(kPieces)];
        else
            out += static_cast<char>(byteDist(rng));
    }
    // A ZIP end record near the end with a random comment length.
    if (size >= 22 && rng() % 8 == 0) {
        size_t at = size - 22 - rng() % std::min<size_t>(size - 21, 64);
        out.replace(at, 4, "PK\x05\x06"s);
    }
    out.resize(size);
    return out;
}

class ContentTypeRandom : public ::testing::TestWithParam<int> {};

TEST_P(ContentTypeRandom, BuffersGiveADefinedResult) {
    constexpr int kBuffers = 20000;  // 10 shards: 200,000 buffers
    std::mt19937 rng(0x5eed0000u + static_cast<unsigned>(GetParam()));
    for (int i = 0; i < kBuffers; ++i) {
        std::string bytes = randomBuffer(rng);
        std::unique_ptr<char[]> copy(new char[bytes.size()]);
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        DocType type = DOCT_UNKNOWN;
        SubDocType sub = DOC_SUBTYPE_UNKNOWN;
        int rc = getDocType(copy.get(), bytes.size(), &type, &sub);
        ASSERT_EQ(rc, bytes.size() > 7 ? 1 : 0) << i;
        ASSERT_GE(type, DOCT_UNKNOWN) << i;
        ASSERT_LE(type, DOCT_UTF_16) << i;
        ASSERT_NE(getDocTypeName(type, sub), nullptr);
        ASSERT_LE(getDtdInfo(copy.get(), bytes.size()).size(), 79u) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ContentTypeShards, ContentTypeRandom, ::testing::Range(0, 10));

}  // namespace
}  // namespace ruva
