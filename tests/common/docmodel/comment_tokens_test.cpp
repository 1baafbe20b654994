#include "common/docmodel/comment_tokens.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/mapped_file.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::TempDir;

constexpr char kLibComment[] = "My Library R2A [EN/LZN 702 0012 R2A] STA:REL CAT: kvocat,ff|0|1STA:x+";
constexpr char kGuideComment[] = R"(TITLE: "First" TITLE: "User Guide" SUBTITLE: "Intro" CAT:"1|0|ff")";
constexpr char kKeywordComment[] = R"(TITLE: A CTW: "Key word")";

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWhole(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool havePythonZipfile() {
    return std::system("python3 -c 'import zipfile' >/dev/null 2>&1") == 0;
}

// Writes `zipPath` with python3's zipfile: the library comment and two
// deflated members carrying the member comments.
bool writeLibraryArchive(const TempDir& dir, const std::string& zipPath, std::string_view archiveComment) {
    const std::string script = dir.file("make_zip.py");
    writeWhole(script,
               "import sys, zipfile\n"
               "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
               "    z.comment = sys.argv[2].encode()\n"
               "    for name, comment in (('guide.html', sys.argv[3]), ('keys.html', sys.argv[4])):\n"
               "        info = zipfile.ZipInfo(name)\n"
               "        info.compress_type = zipfile.ZIP_DEFLATED\n"
               "        info.comment = comment.encode()\n"
               "        z.writestr(info, 'text of ' + name)\n");
    auto quoted = [](std::string_view text) {
        std::string q = "'";
        for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    const std::string command = "python3 " + quoted(script) + " " + quoted(zipPath) + " " +
                                quoted(archiveComment) + " " + quoted(kGuideComment) + " " +
                                quoted(kKeywordComment);
    return std::system(command.c_str()) == 0;
}

// Offset of the last end-of-central-directory signature, or npos.
size_t endRecordAt(std::string_view zip) {
    return zip.rfind(std::string_view("PK\5\6", 4));
}

// Member comments in central-directory order, read straight from the bytes
// (the archive is python's, so it is taken as well formed).
std::vector<std::string> memberComments(std::string_view zip) {
    std::vector<std::string> comments;
    const size_t end = endRecordAt(zip);
    if (end == std::string_view::npos || end + 22 > zip.size()) return comments;
    const unsigned count = W2H(zip.data() + end + 10);
    size_t at = L2H(zip.data() + end + 16);
    for (unsigned i = 0; i < count && at + 46 <= zip.size(); ++i) {
        const size_t nameLen = W2H(zip.data() + at + 28);
        const size_t extraLen = W2H(zip.data() + at + 30);
        const size_t commentLen = W2H(zip.data() + at + 32);
        comments.emplace_back(zip.substr(at + 46 + nameLen + extraLen, commentLen));
        at += 46 + nameLen + extraLen + commentLen;
    }
    return comments;
}

// Sets HTTP_COOKIE (unset for null) and puts the old value back after.
class CookieScope {
public:
    explicit CookieScope(const char* value) {
        if (const char* old = std::getenv("HTTP_COOKIE")) saved_ = old;
        if (value != nullptr)
            setenv("HTTP_COOKIE", value, 1);
        else
            unsetenv("HTTP_COOKIE");
    }
    ~CookieScope() {
        if (saved_)
            setenv("HTTP_COOKIE", saved_->c_str(), 1);
        else
            unsetenv("HTTP_COOKIE");
    }
    CookieScope(const CookieScope&) = delete;
    CookieScope& operator=(const CookieScope&) = delete;

private:
    std::optional<std::string> saved_;
};

TEST(CommentTokensArchive, PythonArchiveCommentsGiveTheirTokens) {
    if (!havePythonZipfile()) GTEST_SKIP() << "python3 zipfile not available";
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string zipPath = dir.file("lib.kvo");
    ASSERT_TRUE(writeLibraryArchive(dir, zipPath, kLibComment));
    EXPECT_EQ(isZipFile(zipPath.c_str()), 1);
    EXPECT_EQ(getLibType(zipPath), LIB_KIVO);

    char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(mapFile(zipPath.c_str(), &data, &size), 1);
    const std::string zip(data, size);
    char volume[1024 + 1];
    const int found = extractMappedZipVolumeComment(data, size, volume, 1024);
    unmapFile(&data, &size);
    ASSERT_EQ(found, 1);
    ASSERT_STREQ(volume, kLibComment);

    // Every reader gets the stored bytes; none of them may change them.
    const std::string archiveComment = volume;
    std::string title, id;
    EXPECT_EQ(extractLibTitleId(archiveComment, title, id), 1);
    EXPECT_EQ(title, "My Library R2A");
    EXPECT_EQ(id, "EN/LZN 702 0012 R2A");
    EXPECT_FALSE(isPrelLib(id));
    EXPECT_TRUE(isReleasedLib(archiveComment, id));
    EXPECT_TRUE(isCollection(archiveComment));
    std::optional<std::string> cookie, defaultBitmap, bitmap;
    EXPECT_EQ(extractCategorycomment(archiveComment, cookie, defaultBitmap), 1);
    EXPECT_EQ(cookie, "kvocat");
    EXPECT_EQ(defaultBitmap, "ff|0|1");
    {
        CookieScope noCookies(nullptr);
        EXPECT_EQ(readCatValuefromCookie(archiveComment, bitmap), 1);
    }
    EXPECT_EQ(bitmap, "ff|0|1");
    EXPECT_EQ(std::string_view(archiveComment), kLibComment);

    const std::vector<std::string> comments = memberComments(zip);
    ASSERT_EQ(comments.size(), 2u);
    ASSERT_EQ(comments[0], kGuideComment);
    ASSERT_EQ(comments[1], kKeywordComment);

    std::string subtitle = "stale";
    EXPECT_EQ(extractDocTitlefrmZipComment(comments[0], subtitle), "User Guide");
    EXPECT_EQ(subtitle, "Intro");
    EXPECT_EQ(extractZipCommentTitle(comments[0]), "User Guide");
    EXPECT_EQ(extractDocumentBitmap(comments[0]), "1|0|ff");
    EXPECT_EQ(extractZipCommentTitle(comments[1]), "Key word");
    EXPECT_EQ(extractDocTitlefrmZipComment(comments[1], subtitle), "A");
    EXPECT_EQ(subtitle, "");
    EXPECT_EQ(extractDocumentBitmap(comments[1]), std::nullopt);
    EXPECT_EQ(comments[0], kGuideComment);
    EXPECT_EQ(comments[1], kKeywordComment);
}

TEST(CommentTokensArchive, HostilePythonEndRecordsAreBounded) {
    if (!havePythonZipfile()) GTEST_SKIP() << "python3 zipfile not available";
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string zipPath = dir.file("lib.zip");
    ASSERT_TRUE(writeLibraryArchive(dir, zipPath, "12345"));
    const std::string zip = readWhole(zipPath);
    const size_t end = endRecordAt(zip);
    ASSERT_EQ(end + 22 + 5, zip.size());

    // Exact-size heap copies: a read past the end is an ASan report.
    auto run = [](std::string_view bytes, size_t bufSize, std::string* comment) {
        auto copy = std::make_unique<char[]>(bytes.size());
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        auto buf = std::make_unique<char[]>(bufSize + 1);
        const int rc = extractMappedZipVolumeComment(copy.get(), bytes.size(), buf.get(), bufSize);
        if (rc == 1) *comment = buf.get();
        return rc;
    };

    std::string comment;
    std::string claimsMore = zip;
    claimsMore[end + 20] = '\xff';
    claimsMore[end + 21] = '\xff';
    EXPECT_EQ(run(claimsMore, 1024, &comment), 1);
    EXPECT_EQ(comment, "12345");

    // Cut so the record starts 10 bytes before the end.
    EXPECT_EQ(run(std::string_view(zip).substr(0, end + 10), 1024, &comment), 0);
    EXPECT_EQ(run(zip, 3, &comment), 1);
    EXPECT_EQ(comment, "123");
}

// Builds an end record at the end of `prefix`, with the given stored length
// and comment bytes.
std::string endRecord(std::string prefix, unsigned storedLength, std::string_view comment) {
    std::string record("PK\5\6", 4);
    record.append(16, '\0');
    record += static_cast<char>(storedLength & 0xff);
    record += static_cast<char>(storedLength >> 8);
    return prefix + record + std::string(comment);
}

TEST(CommentTokensVolumeComment, TakesOnlyRecordsInsideTheMapping) {
    const struct {
        const char* name;
        std::string bytes;
        size_t bufSize;
        int rc;
        std::optional<std::string> comment;
    } cases[] = {
        {"plain", endRecord("xx", 3, "abc"), 64, 1, "abc"},
        {"record at the very end", endRecord("", 0, ""), 64, 1, ""},
        {"stored length beyond the data", endRecord("", 65535, "12345"), 64, 1, "12345"},
        {"stored length shorter", endRecord("", 2, "12345"), 64, 1, "12"},
        {"buffer smaller", endRecord("", 5, "12345"), 2, 1, "12"},
        {"zero buffer", endRecord("", 5, "12345"), 0, 1, ""},
        {"signature in the last 21 bytes is comment text", endRecord("", 10, std::string("abPK\5\6cdef", 10)),
         64, 1, std::string("abPK\5\6cdef", 10)},
        {"record cut short", endRecord("", 0, "").substr(0, 21), 64, 0, std::nullopt},
        {"signature in the last four bytes", std::string(30, 'x') + "PK\5\6", 64, 0, std::nullopt},
        {"no signature", std::string(100, 'x'), 64, 0, std::nullopt},
        {"empty", std::string(), 64, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto copy = std::make_unique<char[]>(c.bytes.size() + 1);
        std::memcpy(copy.get(), c.bytes.data(), c.bytes.size());
        std::string buf(c.bufSize + 1, '#');
        EXPECT_EQ(extractMappedZipVolumeComment(copy.get(), c.bytes.size(), buf.data(), c.bufSize), c.rc);
        if (c.comment)
            EXPECT_EQ(buf.substr(0, c.comment->size() + 1), *c.comment + '\0');
        else
            EXPECT_EQ(buf, std::string(c.bufSize + 1, '#'));
    }
    char buf[8];
    EXPECT_EQ(extractMappedZipVolumeComment(nullptr, 100, buf, 7), 0);
    const std::string record = endRecord("", 0, "");
    EXPECT_EQ(extractMappedZipVolumeComment(record.data(), record.size(), nullptr, 7), 0);
}

TEST(CommentTokensLibTitleId, SplitsTitleAndFirstBracketedId) {
    const std::string hundred(100, 't');
    const std::string eighty(80, 'e');
    const std::string eightyOne(81, 'o');
    const struct {
        std::string comment;
        int rc;
        std::string title;
        std::string id;
    } cases[] = {
        {kLibComment, 1, "My Library R2A", "EN/LZN 702 0012 R2A"},
        {"[ID] rest", 1, "", "ID"},
        {"Title[ID]", 1, "Titl", "ID"},
        {"T [first] [second]", 1, "T", "first"},
        {"T []", 1, "T", ""},
        {"T [no close", 1, "T", ""},
        {"no brackets", 1, "", ""},
        {"close] before [open]", 0, "", ""},
        {"", 1, "", ""},
        {"Tom & Jerry [X]", 1, "Tom &amp; Jerry", "X"},
        {"A &amp; B [X]", 1, "A &amp; B", "X"},
        {hundred + " [X]", 1, std::string(77, 't') + "...", "X"},
        {eighty + " [X]", 1, eighty, "X"},
        {eightyOne + " [X]", 1, std::string(77, 'o') + "...", "X"},
        {"R&D" + std::string(97, 'x') + " [X]", 1, "R&amp;D" + std::string(74, 'x') + "...", "X"},
        {std::string("Cut\0 [X]", 8), 1, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comment);
        std::string title = "old", id = "old";
        EXPECT_EQ(extractLibTitleId(c.comment, title, id), c.rc);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(id, c.id);
    }
}

TEST(CommentTokensIsPrelLib, LastWordOrThirdCharacterDecides) {
    const struct {
        const char* id;
        bool prel;
    } cases[] = {
        {"EN/LZN 702 0012 R2A", false},
        {"EN/LZN 702 0012 P2A", true},
        {"LIB P1", true},
        {"LIB A1", false},
        {"LIB p1", false},
        {"A B P", true},
        {"LIB ", false},
        {" P1", false},  // a leading blank is no word boundary
        {" XP", true},
        {"ABP", true},
        {"ABPX", true},
        {"ABC", false},
        {"AP", false},
        {"P", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(isPrelLib(c.id), c.prel);
    }
}

TEST(CommentTokensIsReleasedLib, StateMarkOverridesTheId) {
    const struct {
        const char* comment;
        const char* id;
        bool released;
    } cases[] = {
        {"T [X P1A] STA:REL", "X P1A", true},
        {"T [X R1A] STA:PRE", "X R1A", false},
        {"T [X R1A] STA:INT", "X R1A", false},
        {"T [X R1A] STA:INT STA:REL", "X R1A", true},
        {"T [X R1A]", "X R1A", true},
        {"T [X P1A]", "X P1A", false},
        {"T [X P1A] sta:rel", "X P1A", false},
        {"T [X R1A] STA:x", "X R1A", true},
        {"", "X P1A", false},
        {"", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.comment) + " / " + c.id);
        EXPECT_EQ(isReleasedLib(c.comment, c.id), c.released);
    }
}

TEST(CommentTokensIsCollection, OnlyATrailingPlus) {
    EXPECT_TRUE(isCollection("Coll [X] +"));
    EXPECT_TRUE(isCollection("+"));
    EXPECT_FALSE(isCollection("Coll [X] + "));
    EXPECT_FALSE(isCollection("+Coll"));
    EXPECT_FALSE(isCollection(""));
    EXPECT_FALSE(isCollection(std::string_view("Coll\0+", 6)));
}

TEST(CommentTokensCategory, CookieNameAndDefaultBitmap) {
    const struct {
        const char* comment;
        std::optional<std::string> cookie;
        std::optional<std::string> bitmap;
    } cases[] = {
        {kLibComment, "kvocat", "ff|0|1"},
        {"CAT: c,ff STA:REL", "c", "ff "},
        {"CAT:xkv,1STA:", "kv", "1"},
        {"CAT: c,STA:", "c", ""},
        {"CAT: c,ff", "c", std::nullopt},
        {"STA:REL CAT: c,ff", "c", std::nullopt},
        {"CAT:,ffSTA:", "", "ff"},
        {"CAT: ,ffSTA:", "", "ff"},
        {"CAT: cookie", std::nullopt, std::nullopt},
        {"a,b CAT: c", std::nullopt, std::nullopt},
        {"CAT:", std::nullopt, std::nullopt},
        {"no mark, STA:REL", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comment);
        std::optional<std::string> cookie, bitmap;
        EXPECT_EQ(extractCategorycomment(c.comment, cookie, bitmap), 1);
        EXPECT_EQ(cookie, c.cookie);
        EXPECT_EQ(bitmap, c.bitmap);
    }

    // What is not found is left as it was.
    std::optional<std::string> cookie = "keep", bitmap = "keep";
    extractCategorycomment("CAT: c,ff", cookie, bitmap);
    EXPECT_EQ(cookie, "c");
    EXPECT_EQ(bitmap, "keep");
}

TEST(CommentTokensCategory, CookieWinsOverTheDefault) {
    const struct {
        const char* cookies;  // null: HTTP_COOKIE unset
        const char* comment;
        std::optional<std::string> bitmap;
    } cases[] = {
        {"a=1; kvocat=3|0|0", kLibComment, "3|0|0"},
        {"kvocat=", kLibComment, ""},
        {"other=3|0|0", kLibComment, "ff|0|1"},
        {nullptr, kLibComment, "ff|0|1"},
        {"kvocat=3", "CAT: kvocat,ff", "3"},
        {nullptr, "CAT: kvocat,ff", "keep"},
        {"x=1", "CAT:,ffSTA:", "ff"},
        {"kvocat=3", "T [X] STA:REL", "keep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cookies ? c.cookies : "(unset)") + " / " + c.comment);
        CookieScope scope(c.cookies);
        std::optional<std::string> bitmap = "keep";
        EXPECT_EQ(readCatValuefromCookie(c.comment, bitmap), 1);
        EXPECT_EQ(bitmap, c.bitmap);
    }
}

TEST(CommentTokensDocumentBitmap, QuotedValueAfterTheMark) {
    const struct {
        const char* comment;
        std::optional<std::string> bitmap;
    } cases[] = {
        {kGuideComment, "1|0|ff"},
        {R"(x "q" CAT:"b")", "b"},
        {R"(CAT: "a b")", "a b"},
        {R"(CAT:"")", ""},
        {R"(CAT: x TITLE: "t")", "t"},
        {"CAT: 1|0|ff", std::nullopt},
        {R"(CAT:"open)", std::nullopt},
        {R"(TITLE: "t")", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comment);
        EXPECT_EQ(extractDocumentBitmap(c.comment), c.bitmap);
    }
}

TEST(CommentTokensMemberTitle, TokensOfTheFirst1024Characters) {
    const std::string longSubtitle(300, 's');
    const struct {
        std::string comment;
        std::optional<std::string> zipTitle;  // extractZipCommentTitle
        std::optional<std::string> docTitle;  // extractDocTitlefrmZipComment
        std::string subtitle;
    } cases[] = {
        {kGuideComment, "User Guide", "User Guide", "Intro"},
        {kKeywordComment, "Key word", "A", ""},
        {"CTW: a TITLE: b", "a", "b", ""},
        {"title: x subtitle: y", "x", "x", "y"},
        {"TITLE: 'It is' SUBTITLE: \"Say \\\"hi\\\"\"", "It is", "It is", "Say \"hi\""},
        {"TITLE: CTW: x", "CTW:", "CTW:", ""},
        {"TITLE:", std::nullopt, std::nullopt, ""},
        {"CTW:", std::nullopt, std::nullopt, ""},
        {"SUBTITLE: a SUBTITLE: b", std::nullopt, std::nullopt, "b"},
        {"SUBTITLE: " + longSubtitle, std::nullopt, std::nullopt, std::string(199, 's')},
        {"TITLE: \"unclosed value", "unclosed value", "unclosed value", ""},
        // The value starts at 1022: two characters of it are seen.
        {std::string(1014, 'a') + " TITLE: xyz", "xy", "xy", ""},
        // The value starts at 1024: not seen.
        {std::string(1016, 'a') + " TITLE: xyz", std::nullopt, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.comment.substr(0, 60));
        const std::string before = c.comment;
        EXPECT_EQ(extractZipCommentTitle(c.comment), c.zipTitle);
        std::string subtitle = "stale";
        EXPECT_EQ(extractDocTitlefrmZipComment(c.comment, subtitle), c.docTitle);
        EXPECT_EQ(subtitle, c.subtitle);
        EXPECT_EQ(c.comment, before);
    }

    std::string subtitle = "untouched";
    EXPECT_EQ(extractZipCommentTitle(""), std::nullopt);
    EXPECT_EQ(extractDocTitlefrmZipComment("", subtitle), std::nullopt);
    EXPECT_EQ(subtitle, "untouched");
}

TEST(CommentTokensLibType, ExtensionAfterTheLastDot) {
    const struct {
        const char* name;
        LibType type;
    } cases[] = {
        {"/lib/one.KVO", LIB_KIVO}, {"a.kvo", LIB_KIVO},        {"a.z", LIB_HTML},      {"a.Zip", LIB_PAPER},
        {"a.zdf", LIB_PDF},         {"a.zsw", LIB_SW},          {"a.zgp", LIB_GENERIC}, {".kvo", LIB_KIVO},
        {"nodot", LIB_UNKNOWN},     {"x.kvo.bak", LIB_UNKNOWN}, {"a.khx", LIB_UNKNOWN}, {"a.", LIB_UNKNOWN},
        {"a.kvox", LIB_UNKNOWN},    {"dir.kvo/x", LIB_UNKNOWN}, {"", LIB_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(getLibType(c.name), c.type);
    }
}

TEST(CommentTokensHashID, FieldBetweenTheFirstTwoBars) {
    const struct {
        std::string entry;
        const char* id;
        std::string after;  // the entry's bytes afterwards
    } cases[] = {
        {"v|123|name|", "123", std::string("v|123\0name|", 11)},
        {"|7|", "7", std::string("|7\0", 3)},
        {"a||b", "", std::string("a|\0b", 4)},
        {"abc", "", "abc"},
        {"a|b", "", "a|b"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        std::string entry = c.entry;
        const char* id = hashID(entry.data());
        EXPECT_STREQ(id, c.id);
        EXPECT_EQ(entry, c.after);
    }
    EXPECT_STREQ(hashID(nullptr), "");
}

TEST(CommentTokensMethodNames, NamesBothWays) {
    const char* const names[] = {"Stored",  "Shrunk",   "Reduce1",   "Reduce2", "Reduce3",
                                 "Reduce4", "Imploded", "Tokenized", "Deflated"};
    for (unsigned m = 0; m < std::size(names); ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(zipMethodName(m), names[m]);
        EXPECT_EQ(methodNameToType(names[m]), static_cast<ZipMethod>(m));
    }
    EXPECT_EQ(zipMethodName(9), "Unknown[9]");
    EXPECT_EQ(zipMethodName(255), "Unknown[255]");
    EXPECT_EQ(zipMethodName(4294967295u), "Unknown[4294967295]");
    EXPECT_EQ(methodNameToType("deflated"), ZIPMETHOD_DEFLATED);
    EXPECT_EQ(methodNameToType("STORED"), ZIPMETHOD_STORED);
    EXPECT_EQ(methodNameToType("Unknown[9]"), ZIPMETHOD_UNKNOWN);
    EXPECT_EQ(methodNameToType("Deflate"), ZIPMETHOD_UNKNOWN);
    EXPECT_EQ(methodNameToType("Reduce5"), ZIPMETHOD_UNKNOWN);
    EXPECT_EQ(methodNameToType(""), ZIPMETHOD_UNKNOWN);
}

TEST(CommentTokensIsZipFile, NeedsSignatureAnd64Bytes) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string head("PK\3\4", 4);
    const struct {
        const char* name;
        std::string bytes;
        int rc;
    } cases[] = {
        {"63 bytes", head + std::string(59, 'x'), 0},
        {"64 bytes", head + std::string(60, 'x'), 1},
        {"larger", head + std::string(4000, 'x'), 1},
        {"end record signature", "PK\5\6" + std::string(60, 'x'), 0},
        {"text", std::string(64, 'P'), 0},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        writeWhole(path, c.bytes);
        EXPECT_EQ(isZipFile(path.c_str()), c.rc);
    }
    EXPECT_EQ(isZipFile(dir.file("missing").c_str()), 0);
    EXPECT_EQ(isZipFile(dir.path().c_str()), 0);
    EXPECT_EQ(isZipFile(nullptr), 0);
}

// Reading a pipe through its /proc name hands out what has been written so
// far: the head must be gathered over several reads.
TEST(CommentTokensIsZipFile, ShortReadsAreJoined) {
    for (const size_t total : {size_t{63}, size_t{64}}) {
        SCOPED_TRACE(total);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
        std::thread writer([&] {
            const std::string bytes = std::string("PK\3\4", 4) + std::string(total - 4, 'x');
            EXPECT_EQ(write(fds[1], bytes.data(), 4), 4);
            // Lets the reader take the first four bytes alone.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(write(fds[1], bytes.data() + 4, total - 4), static_cast<ssize_t>(total - 4));
            close(fds[1]);
        });
        EXPECT_EQ(isZipFile(path.c_str()), total == 64 ? 1 : 0);
        writer.join();
        close(fds[0]);
    }
}

}  // namespace
}  // namespace ruva
