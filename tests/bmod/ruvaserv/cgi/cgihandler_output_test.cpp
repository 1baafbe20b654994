#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/mapped_file.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace ruva {
namespace {

// Tue, 14 Nov 2023 22:13:20 GMT: the response clock of these tests.
constexpr time_t kNow = 1700000000;
time_t fixedClock() {
    return kNow;
}

using Fields = std::vector<std::pair<const char*, const char*>>;

// A request whose response goes to a temporary file, with the clock fixed.
class Request {
public:
    Request() : cg(newCgiHandler(kKivoservFlags, environ)), out_(std::tmpfile()) {
        cg->cgifile = out_;
        setResponseClock(fixedClock);
    }
    ~Request() {
        setResponseClock(nullptr);
        cg->freeDocBuf();
        cg->freeDstBuf();
        if (out_) std::fclose(out_);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool ok() const { return cg && out_; }
    void add(const Fields& fields) {
        for (const auto& [name, value] : fields) ASSERT_NE(cg->valueList->addValue(name, value), nullptr);
    }
    void page(std::string_view body) {
        ASSERT_EQ(cg->allocDocBuf(0), 1);
        ASSERT_EQ(cg->docWriteBuf(body), 1);
    }
    // Everything written to the response so far.
    std::string sent() {
        std::fflush(out_);
        std::rewind(out_);
        std::string bytes;
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, out_)) > 0;) bytes.append(chunk, n);
        return bytes;
    }
    FILE* file() const { return out_; }

    std::unique_ptr<CgiHandler> cg;

private:
    FILE* out_;
};

// The header block of one page, "<p>x</p>", by request state.
TEST(Response, HeaderLinesFollowTheRequest) {
    enum Notes { kNoNotes, kNotesEnabled, kNotesAndBNotes };
    struct Case {
        const char* name;
        Fields fields;
        Notes notes;
        std::function<void(CgiHandler&)> setup;
        const char* head;  // after the Content-type and Content-length lines
    } const cases[] = {
        {"page with TestMode: no Content-Disposition",
         {{"AC", "ENV"}},
         kNoNotes,
         [](CgiHandler& c) { c.flags |= kCgiTestMode; },
         "Expires: Thu, 16 Nov 2023 10:13:20 GMT\n\n"},
        {"help page: three years",
         {{"AC", "ENV"}, {"FN", "help.html"}},
         kNoNotes,
         nullptr,
         "Expires: Fri, 13 Nov 2026 22:13:20 GMT\n\n"},
        {"flag 0x80: no Expires", {}, kNoNotes, [](CgiHandler& c) { c.flags |= kCgiNoExpires; }, "\n"},
        {"period 0: no Expires", {}, kNoNotes, [](CgiHandler& c) { c.expirePeriod = 0; }, "\n"},
        {"Last-modified follows Expires",
         {},
         kNoNotes,
         [](CgiHandler& c) { c.docCTime = 784111777; },
         "Expires: Thu, 16 Nov 2023 10:13:20 GMT\nLast-modified: Sun, 06 Nov 1994 08:49:37 GMT\n\n"},
        {"CONREF of a revision",
         {{"AC", "CONREF"}, {"FN", "ab.r1.html"}},
         kNoNotes,
         nullptr,
         "Expires: Mon, 20 Nov 2023 22:13:20 GMT\n\n"},
        {"CONREF of the latest release",
         {{"AC", "CONREF"}, {"FN", "ab.*1.html"}},
         kNoNotes,
         nullptr,
         "Expires: Wed, 15 Nov 2023 04:13:20 GMT\n\n"},
        {"CONREF of no html document",
         {{"AC", "CONREF"}, {"FN", "ab.pdf"}},
         kNoNotes,
         nullptr,
         "Expires: Thu, 16 Nov 2023 10:13:20 GMT\n\n"},
        {"notes: a note page expires at once",
         {{"AC", "NOTEVIEW"}},
         kNotesEnabled,
         nullptr,
         "Expires: Tue, 14 Nov 2023 22:13:21 GMT\n\n"},
        {"notes: NI expires at once",
         {{"NI", "3"}},
         kNotesEnabled,
         nullptr,
         "Expires: Tue, 14 Nov 2023 22:13:21 GMT\n\n"},
        {"notes: NI without a period",
         {{"NI", "3"}},
         kNotesEnabled,
         [](CgiHandler& c) { c.expirePeriod = 0; },
         "\n"},
        {"notes: preliminary document",
         {{"FN", "ab.P1.html"}},
         kNotesEnabled,
         nullptr,
         "Expires: Tue, 14 Nov 2023 22:23:20 GMT\n\n"},
        {"notes: preliminary document with notes",
         {{"FN", "ab.P1.html"}},
         kNotesAndBNotes,
         nullptr,
         "Expires: Tue, 14 Nov 2023 22:16:20 GMT\n\n"},
        {"notes: released document",
         {{"FN", "ab.R1.html"}},
         kNotesEnabled,
         nullptr,
         "Expires: Tue, 14 Nov 2023 22:43:20 GMT\n\n"},
        {"notes: the document frame of a library no server names",
         {{"FN", "kivodoc.html"}, {"ID", "4"}},
         kNotesEnabled,
         [](CgiHandler& c) { c.docServAddr = "127.0.0.1:1"; },
         "Expires: Tue, 14 Nov 2023 22:43:20 GMT\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request r;
        ASSERT_TRUE(r.ok());
        r.add(c.fields);
        r.cg->notesEnabled = c.notes != kNoNotes;
        r.cg->bNotes = c.notes == kNotesAndBNotes;
        if (c.setup) c.setup(*r.cg);
        r.page("<p>x</p>");
        EXPECT_EQ(r.cg->output(), 1);
        EXPECT_EQ(r.sent(),
                  std::string("Content-type: text/html\nContent-length: 8\n") + c.head + "<p>x</p>");
        EXPECT_TRUE(r.cg->flags & kCgiResponseDone);
    }
}

TEST(Response, DispositionOnlyWithAFileNameOrInSaveMode) {
    struct Case {
        const char* name;
        const char* save;  // SV field, null for none
        const char* type;
        const char* file;
        const char* lines;  // Content-type and Content-Disposition lines
    } const cases[] = {
        {"save mode: ._. and the first dot", "1", "application/pdf", "manual._.pdf",
         "Content-type: application/pdf\nContent-length: 8\nContent-Disposition: attachment; "
         "filename=manual_pdf\n"},
        {"save mode keeps an .xls name", "1", "application/vnd.ms-excel", "sheet.xls",
         "Content-type: application/vnd.ms-excel\nContent-length: 8\n"
         "Content-Disposition: attachment; filename=sheet.xls\n"},
        {"save mode without a name", "1", "", "",
         "Content-type: text/html\nContent-length: 8\nContent-Disposition: attachment; filename=\n"},
        {"an archive type goes as attachment", nullptr, "application/zip", "a.b.zip",
         "Content-type: application/zip\nContent-length: 8\nContent-Disposition: attachment; "
         "filename=a.b.zip\n"},
        {"other types are shown inline", nullptr, "application/pdf", "a.pdf",
         "Content-type: application/pdf\nContent-length: 8\nContent-Disposition: inline; filename=a.pdf\n"},
        {"SV other than 1 is no save mode", "01", "application/pdf", "",
         "Content-type: application/pdf\nContent-length: 8\n"},
        {"CR, LF and NUL cannot start a header line", nullptr, "text/plain\r\nSet-Cookie: a=b",
         "a\r\nLocation: /x.pdf",
         "Content-type: text/plainSet-Cookie: a=b\nContent-length: 8\n"
         "Content-Disposition: inline; filename=aLocation: /x.pdf\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request r;
        ASSERT_TRUE(r.ok());
        if (c.save) r.add({{"SV", c.save}});
        r.cg->mimeType = c.type;
        r.cg->mimeFilename = c.file;
        r.cg->flags |= kCgiNoExpires;
        r.page("<p>x</p>");
        EXPECT_EQ(r.cg->output(), 1);
        EXPECT_EQ(r.sent(), std::string(c.lines) + "\n<p>x</p>");
    }
    Request r;
    ASSERT_TRUE(r.ok());
    r.cg->mimeType = std::string("image/gif\0x", 11);
    r.cg->flags |= kCgiNoExpires;
    r.page("<p>x</p>");
    EXPECT_EQ(r.cg->output(), 1);
    EXPECT_EQ(r.sent(), "Content-type: image/gifx\nContent-length: 8\n\n<p>x</p>");
}

TEST(Response, HeadSendsTheHeaderBlockAlone) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    cg->flags |= kCgiHeadRequest | kCgiNoExpires;
    r.page("<p>x</p>");
    EXPECT_EQ(cg->output(), 1);
    EXPECT_EQ(r.sent(), "Content-type: text/html\nContent-length: 8\n\n");
}

TEST(Response, OutputBufferGoesBeforeTheDocumentBufferInPieces) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    cg->flags |= kCgiNoExpires;
    r.page("fetched");
    std::string rewritten;
    for (int i = 0; rewritten.size() < 10000; ++i) rewritten += std::to_string(i) + ",";
    ASSERT_EQ(cg->allocDstBuf(rewritten.size() + 1), 1);
    ASSERT_EQ(cg->dstWriteBuf(rewritten), 1);
    EXPECT_EQ(cg->output(), 1);
    EXPECT_EQ(r.sent(), "Content-type: text/html\nContent-length: " + std::to_string(rewritten.size()) +
                            "\n\n" + rewritten);
}

TEST(Response, NoBufferLeavesOnlyTheErrorPage) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    EXPECT_EQ(cg->output(), 0);
    EXPECT_EQ(cg->getError(), getMsgStr(209, "cgihandler/11"));
    EXPECT_TRUE(cg->flags & kCgiResponseDone);
    const std::string bytes = r.sent();
    EXPECT_EQ(bytes.find("Content-length"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("Expires"), std::string::npos) << bytes;
}

// Flag 0x8: the response is complete, so a second one may not follow.
TEST(Response, NothingFollowsACompleteResponse) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    r.page("<p>x</p>");
    cg->flags |= kCgiNoExpires;
    ASSERT_EQ(cg->output(), 1);
    const std::string first = r.sent();
    EXPECT_EQ(cg->output(), 0);
    cg->gatewayInterface = "CGI/1.1";
    EXPECT_EQ(cg->outputNoResponse(), 0);
    EXPECT_EQ(r.sent(), first);
}

TEST(Response, AShortWriteFailsTheOutput) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    cg->cgifile = full;
    r.page(std::string(10000, 'x'));
    EXPECT_EQ(cg->output(), 0);
    EXPECT_TRUE(cg->flags & kCgiResponseDone);
    cg->cgifile = r.file();
    std::fclose(full);
}

TEST(Response, NoResponseNeedsAnInterfaceAbove10) {
    struct Case {
        const char* interface;
        int result;
        const char* bytes;
    } const cases[] = {
        {"CGI/1.1", 1, "Status: 204 No response\n\n"},
        {"CGI/1.0", 0, ""},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interface);
        Request r;
        ASSERT_TRUE(r.ok());
        r.cg->gatewayInterface = c.interface;
        EXPECT_EQ(r.cg->outputNoResponse(), c.result);
        EXPECT_EQ(r.sent(), c.bytes);
        EXPECT_EQ(static_cast<bool>(r.cg->flags & kCgiResponseDone), c.result == 1);
        EXPECT_EQ(r.cg->getError(), c.result ? "" : getMsgStr(242, "cgihandler/39"));
    }
}

TEST(ResponseDates, KnownDates) {
    struct Case {
        time_t t;
        const char* date;  // null: none
    } const cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
        {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},
        {253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
        {-62135596800, "Mon, 01 Jan 0001 00:00:00 GMT"},
        // Year -1 has no four-digit form; LONG_MAX no year in an int.
        {-62167219201, nullptr},
        {LONG_MAX, nullptr},
        {LONG_MIN, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        auto date = CgiHandler::createHttpTime(c.t);
        if (c.date) {
            ASSERT_TRUE(date.has_value());
            EXPECT_EQ(*date, c.date);
        } else {
            EXPECT_FALSE(date.has_value());
        }
    }
}

// Python's RFC 1123 dates over the years 1 to 9999, which it can write.
TEST(ResponseDates, RandomTimesMatchPython) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::mt19937_64 random(21);
    std::uniform_int_distribution<long> pick(-62135596800L, 253402300799L);
    std::string times, ours;
    for (int i = 0; i < 10000; ++i) {
        time_t t = pick(random);
        auto date = CgiHandler::createHttpTime(t);
        ASSERT_TRUE(date.has_value()) << t;
        times += std::to_string(t) + "\n";
        ours += *date + "\n";
    }
    test::writeFile(dir.file("times"), times);
    int status = -1;
    std::string theirs =
        test::capture(test::pythonCommand() +
                          " -c 'import sys, email.utils as u\n"
                          "for l in open(sys.argv[1]): print(u.formatdate(int(l), usegmt=True))' '" +
                          dir.file("times") + "'",
                      &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ours, theirs);
}

TEST(Response, ExpiresFollowsTheClock) {
    Request r;
    ASSERT_TRUE(r.ok());
    auto& cg = r.cg;
    struct Case {
        time_t seconds;
        const char* line;  // null: none
    } const cases[] = {
        {129600, "Expires: Thu, 16 Nov 2023 10:13:20 GMT"},
        {0, "Expires: Tue, 14 Nov 2023 22:13:20 GMT"},
        {-5, "Expires: Tue, 14 Nov 2023 22:13:15 GMT"},
        {LONG_MAX, nullptr},
        {LONG_MIN, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        auto line = cg->createExpireHeader(c.seconds);
        if (c.line) {
            ASSERT_TRUE(line.has_value());
            EXPECT_EQ(*line, c.line);
        } else {
            EXPECT_FALSE(line.has_value());
        }
    }
    EXPECT_FALSE(cg->createLastModifiedHeader().has_value());
    cg->docCTime = 784111777;
    EXPECT_EQ(cg->createLastModifiedHeader(), "Last-modified: Sun, 06 Nov 1994 08:49:37 GMT");
}

// Without a set clock the dates are now's.
TEST(ResponseDates, ClockDefaultsToNow) {
    setResponseClock(nullptr);
    auto cg = newCgiHandler(kKivoservFlags, environ);
    ASSERT_NE(cg, nullptr);
    time_t before = time(nullptr);
    auto line = cg->createExpireHeader(0);
    time_t after = time(nullptr);
    ASSERT_TRUE(line.has_value());
    EXPECT_TRUE(*line == "Expires: " + *CgiHandler::createHttpTime(before) ||
                *line == "Expires: " + *CgiHandler::createHttpTime(after))
        << *line;
}

class Buffers : public ::testing::Test {
protected:
    void SetUp() override {
        cg = newCgiHandler(kKivoservFlags, environ);
        ASSERT_NE(cg, nullptr);
    }
    void TearDown() override {
        cg->freeDocBuf();
        cg->freeDstBuf();
    }
    std::string doc() const { return std::string(cg->docBuf, cg->docSize); }

    std::unique_ptr<CgiHandler> cg;
};

TEST_F(Buffers, DocumentBufferKeepsItsSlack) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    ASSERT_EQ(cg->allocDocBuf(100), 1);
    EXPECT_EQ(cg->docSize, 100u);
    EXPECT_GE(cg->docbufSize, 100 + kDocBufSlack);
    EXPECT_EQ(cg->docbufSize % page, 0u);
    EXPECT_TRUE(cg->flags & kCgiDocBufMapped);
    // A second allocation replaces the first.
    ASSERT_EQ(cg->allocDocBuf(0), 1);
    EXPECT_EQ(cg->docSize, 0u);
    EXPECT_GE(cg->docbufSize, kDocBufSlack);

    cg->freeDocBuf();
    EXPECT_EQ(cg->docBuf, nullptr);
    EXPECT_EQ(cg->docSize, 0u);
    EXPECT_EQ(cg->docbufSize, 0u);
    EXPECT_FALSE(cg->flags & kCgiDocBufMapped);
}

TEST_F(Buffers, FailedMappingsLeaveTheMessage) {
    EXPECT_EQ(cg->allocDocBuf(SIZE_MAX - 10), 0);
    EXPECT_EQ(cg->docBuf, nullptr);
    EXPECT_FALSE(cg->flags & kCgiDocBufMapped);
    EXPECT_EQ(cg->getError().rfind("Failed to map ", 0), 0u) << cg->getError();

    ASSERT_EQ(cg->allocDocBuf(0), 1);
    ASSERT_EQ(cg->docWriteBuf("kept"), 1);
    EXPECT_EQ(cg->reallocDocBuf(0), 0);
    EXPECT_EQ(doc(), "kept");
    EXPECT_EQ(cg->allocDstBuf(0), 0);
    EXPECT_EQ(cg->dstBuf, nullptr);
}

TEST_F(Buffers, DocPrintfGrowsPastHalfAMillion) {
    ASSERT_EQ(cg->allocDocBuf(0), 1);
    const std::string big(600000, 'x');
    ASSERT_EQ(cg->docPrintf("<%s>", big), 1);
    EXPECT_EQ(doc(), "<" + big + ">");
    EXPECT_EQ(cg->docBuf[cg->docSize], '\0');
    EXPECT_GE(cg->docbufSize - cg->docSize, kDocBufSlack);

    // Many small writes across the slack land whole and in order.
    std::string want = doc();
    for (int i = 0; i < 8000; ++i) {
        ASSERT_EQ(cg->docPrintf("%05d,", i), 1);
        want += std::to_string(100000 + i).substr(1) + ",";
    }
    EXPECT_EQ(doc(), want);
    EXPECT_GE(cg->docbufSize - cg->docSize, kDocBufSlack);
}

// allocDocBuf counts its n zero bytes as used; text appended behind them
// must survive a remap, which once copied only up to the first NUL.
TEST_F(Buffers, TextBehindZeroBytesSurvivesGrowth) {
    ASSERT_EQ(cg->allocDocBuf(10), 1);
    ASSERT_EQ(cg->docWriteBuf("abc"), 1);
    ASSERT_EQ(cg->docWriteBuf(std::string(30000, 'y')), 1);
    EXPECT_EQ(doc(), std::string(10, '\0') + "abc" + std::string(30000, 'y'));
}

// A retrieved file is mapped read-only: writing to it in place would fault.
TEST_F(Buffers, AMappedFileIsCopiedBeforeAWrite) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    test::writeFile(dir.file("doc"), "file text");
    char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(mapFile(dir.file("doc").c_str(), &data, &size), 1);
    // The mapping spans its whole page: room that may not be written.
    cg->docBuf = data;
    cg->docSize = size;
    cg->docbufSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    cg->flags |= kCgiDocBufFile;
    ASSERT_EQ(cg->docPrintf("%s", "+more"), 1);
    EXPECT_EQ(doc(), "file text+more");
    EXPECT_FALSE(cg->flags & kCgiDocBufFile);
    EXPECT_TRUE(cg->flags & kCgiDocBufMapped);
}

TEST_F(Buffers, WritersWithoutABufferRefuse) {
    EXPECT_EQ(cg->docWriteBuf("x"), 0);
    EXPECT_EQ(cg->docPrintf("%d", 1), 0);
    EXPECT_EQ(cg->dstWriteBuf("x"), 0);
    EXPECT_EQ(cg->dstPrintf("%d", 1), 0);
    EXPECT_EQ(cg->dstWriteKvoURL(), 0);
}

TEST_F(Buffers, DstPrintfNeedsEightyBytesAndNeverGrows) {
    struct Case {
        const char* name;
        size_t free;
        size_t length;
        int result;
    } const cases[] = {
        {"79 free: even one character is refused", 79, 1, 0},
        {"80 free: 79 characters and the NUL fit", 80, 79, 1},
        {"80 free: 80 characters do not", 80, 80, 0},
        {"a text longer than the buffer", 4096, 5000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(cg->allocDstBuf(4096), 1);
        const size_t capacity = cg->dstbufSize;
        std::memset(cg->dstBuf, 'z', capacity);
        cg->dstOffs = capacity - c.free;
        EXPECT_EQ(cg->dstPrintf("%s", std::string(c.length, 'a')), c.result);
        EXPECT_EQ(cg->dstbufSize, capacity);
        EXPECT_EQ(cg->dstOffs, capacity - c.free + (c.result ? c.length : 0));
        EXPECT_EQ(cg->dstBuf[cg->dstOffs], '\0');
    }
}

TEST_F(Buffers, InThePassEveryWriteLandsAndTheBufferDoubles) {
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    const size_t capacity = cg->dstbufSize;
    cg->dstOffs = capacity - 79;
    std::memset(cg->dstBuf, 'z', cg->dstOffs);
    cg->beginDstPass();
    EXPECT_EQ(cg->dstPrintf("%s", std::string(100, 'a')), 1);
    EXPECT_GE(cg->dstbufSize, capacity * 2);
    EXPECT_EQ(cg->dstWriteBuf(std::string(capacity * 4, 'b')), 1);
    EXPECT_EQ(cg->dstWriteKvoURL(), 1);
    cg->endDstPass();
    EXPECT_FALSE(cg->dstPassFailed());
    const std::string url = cg->urlProto + cg->kivoServName + "?";
    EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs),
              std::string(capacity - 79, 'z') + std::string(100, 'a') + std::string(capacity * 4, 'b') + url);
    EXPECT_EQ(cg->dstBuf[cg->dstOffs], '\0');

    // Out of the pass the 80-byte rule holds again.
    const size_t grown = cg->dstbufSize;
    cg->dstOffs = grown - 79;
    EXPECT_EQ(cg->dstPrintf("%s", "a"), 0);
    EXPECT_EQ(cg->dstbufSize, grown);
}

// A grown mapped buffer moves its pages instead of copying them; what it
// holds must still be what a copy held: the used bytes, a longer text up to
// its NUL, and zeros after, however the old pages were written.
TEST_F(Buffers, GrowthKeepsTheTextAndClearsWhatFollowsIt) {
    ASSERT_EQ(cg->allocDocBuf(0), 1);
    const size_t capacity = cg->docbufSize;
    ASSERT_EQ(cg->docWriteBuf("used"), 1);
    std::memcpy(cg->docBuf + 4, "+text", 6);  // written past docSize, NUL-ended
    std::memset(cg->docBuf + 10, 'z', capacity - 10);
    ASSERT_EQ(cg->reallocDocBuf(capacity * 3), 1);
    EXPECT_GE(cg->docbufSize, capacity * 3);
    EXPECT_EQ(cg->docSize, 4u);
    EXPECT_STREQ(cg->docBuf, "used+text");
    size_t nonZero = 0;
    for (size_t i = 9; i < cg->docbufSize; ++i) nonZero += cg->docBuf[i] != '\0';
    EXPECT_EQ(nonZero, 0u);

    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    const size_t dstCapacity = cg->dstbufSize;
    ASSERT_EQ(cg->dstWriteBuf("out"), 1);
    std::memset(cg->dstBuf + 4, 'z', dstCapacity - 4);
    ASSERT_EQ(cg->reallocDstBuf(dstCapacity * 2), 1);
    EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), "out");
    nonZero = 0;
    for (size_t i = 3; i < cg->dstbufSize; ++i) nonZero += cg->dstBuf[i] != '\0';
    EXPECT_EQ(nonZero, 0u);
}

TEST_F(Buffers, OutputBufferWritesStayBelowItsSize) {
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    const size_t capacity = cg->dstbufSize;
    ASSERT_EQ(cg->dstWriteBuf(std::string(capacity - 2, 'a')), 1);
    EXPECT_EQ(cg->dstWriteBuf("bc"), 0);
    ASSERT_EQ(cg->dstWriteBuf("b"), 1);
    EXPECT_EQ(cg->dstOffs, capacity - 1);
    EXPECT_EQ(cg->dstWriteBuf("c"), 0);

    ASSERT_EQ(cg->reallocDstBuf(capacity * 3), 1);
    EXPECT_GE(cg->dstbufSize, capacity * 3);
    EXPECT_EQ(cg->dstOffs, capacity - 1);
    EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), std::string(capacity - 2, 'a') + "b");
    ASSERT_EQ(cg->dstWriteBuf("c"), 1);

    // A new output buffer starts empty.
    ASSERT_EQ(cg->allocDstBuf(100), 1);
    EXPECT_EQ(cg->dstOffs, 0u);
    EXPECT_EQ(cg->dstBuf[0], '\0');
}

// An empty view without an address (a link's missing FN value) reached
// memcpy as a null source.
TEST_F(Buffers, AnEmptyViewWithoutAnAddressIsWrittenAsNothing) {
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    ASSERT_EQ(cg->dstWriteBuf("a"), 1);
    EXPECT_EQ(cg->dstWriteBuf(std::string_view()), 1);
    EXPECT_EQ(cg->docWriteBuf(std::string_view()), 0);  // no document buffer
    ASSERT_EQ(cg->allocDocBuf(0), 1);
    EXPECT_EQ(cg->docWriteBuf(std::string_view()), 1);
    EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), "a");
    EXPECT_EQ(cg->docSize, 0u);
}

TEST_F(Buffers, OwnUrlCarriesTheRequestState) {
    struct Case {
        const char* name;
        uint32_t options;
        int id;
        const char* db;
        const char* url;
    } const cases[] = {
        {"no state", 0, 0, "", "http://h:8080/cgi-bin/kivoserv?"},
        {"options and id", 0x120, 5, "lib", "http://h:8080/cgi-bin/kivoserv?OP=120&amp;ID=5&amp;"},
        {"library", 0, 0, "lib", "http://h:8080/cgi-bin/kivoserv?DB=lib&amp;"},
        // The URL lands in onclick strings, where "&#39;" would be a quote again.
        {"library name with a stored quote", 0, 0, "x&#39;);alert(1);//#.kvo",
         "http://h:8080/cgi-bin/kivoserv?DB=x%26%2339;);alert(1);//%23.kvo&amp;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(cg->allocDstBuf(4096), 1);
        cg->kivoServName = "/h:8080/cgi-bin/kivoserv";
        cg->options = c.options;
        cg->curId = c.id;
        cg->curDb = c.db;
        EXPECT_EQ(cg->dstWriteKvoURL(), 1);
        EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), c.url);
    }
    // A piece that does not fit fails the whole.
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    cg->dstOffs = cg->dstbufSize - 40;
    cg->curId = 123456;
    EXPECT_EQ(cg->dstWriteKvoURL(), 0);
}

// The time-out is never installed in a request; run by hand, its handler
// ends the process only with a hard limit.
TEST(TransferTimeout, HandlerEndsTheProcessOnlyWithAHardLimit) {
    for (int hard : {0, 1}) {
        SCOPED_TRACE(hard);
        int status = test::inChild([hard] {
            auto cg = newCgiHandler(kKivoservFlags, environ);
            cg->bHardLimit = hard;
            if (!activateTimeout(*cg)) return 1;
            if (alarm(0) != 600) return 2;
            raise(SIGALRM);
            if (hard) return 3;
            deactivateTimeout();
            struct sigaction now = {};
            sigaction(SIGALRM, nullptr, &now);
            return now.sa_handler == SIG_DFL ? 0 : 4;
        });
        EXPECT_EQ(status, 0);
    }
}

}  // namespace
}  // namespace ruva
