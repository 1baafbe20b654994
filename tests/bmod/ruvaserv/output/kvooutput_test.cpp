#include "bmod/ruvaserv/output/kvooutput.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

size_t pageSize() {
    return static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

size_t wholePages(size_t n) {
    return (n + pageSize() - 1) / pageSize() * pageSize();
}

std::string docText(const CgiHandler& cg) {
    return cg.docBuf ? std::string(cg.docBuf, cg.docSize) : std::string();
}

std::string dstText(const CgiHandler& cg) {
    return cg.dstBuf ? std::string(cg.dstBuf, cg.dstOffs) : std::string();
}

// Standard-output mode: the text reaches fd 1 (a pipe) and neither buffer of
// the request changes. Runs in a child, which owns fd 1; returns the number
// of the failed check, 0 when all hold.
int stdoutModeWritesOnlyToFdOne(CgiHandler& cg, KvoOutput& out) {
    int fds[2];
    if (::pipe(fds) != 0) return 1;
    std::fflush(stdout);
    if (::dup2(fds[1], STDOUT_FILENO) < 0) return 2;
    if (!cg.allocDocBuf(0) || !cg.allocDstBuf(4096)) return 3;
    cg.docSize = 0;
    const char* const doc = cg.docBuf;
    const char* const dst = cg.dstBuf;
    const size_t docCapacity = cg.docbufSize;
    const size_t dstCapacity = cg.dstbufSize;
    out.kvoSetOutput(&cg, KVO_OUT_STDOUT);
    out.kvoPrintf("%d-%s|", 7, "seven");
    out.kvoWrite("100% raw");
    std::fflush(stdout);
    char got[64] = {};
    const ssize_t n = ::read(fds[0], got, sizeof got - 1);
    if (std::string(got, n > 0 ? static_cast<size_t>(n) : 0) != "7-seven|100% raw") return 4;
    if (cg.docBuf != doc || cg.docSize != 0 || cg.docbufSize != docCapacity) return 5;
    if (cg.dstBuf != dst || cg.dstOffs != 0 || cg.dstbufSize != dstCapacity) return 6;
    return 0;
}

TEST(KvoOutput, WritesReachTheBufferOfTheMode) {
    struct Case {
        const char* name;
        std::function<void(CgiHandler&, KvoOutput&)> check;
    } const cases[] = {
        {"open in internal mode gives an empty page with the margin",
         [](CgiHandler& cg, KvoOutput& out) {
             ASSERT_EQ(out.kvoOpenOutput(5000), kKvoOpenOk);
             EXPECT_EQ(cg.docSize, 0u);
             EXPECT_GE(cg.docbufSize, 25480u);
             EXPECT_EQ(out.kvoCloseOutput(), 0);
         }},
        {"a size no mapping holds fails with message 234",
         [](CgiHandler& cg, KvoOutput& out) {
             EXPECT_EQ(out.kvoOpenOutput(size_t{1} << 50), kKvoOpenFailed);
             EXPECT_NE(cg.getError().find("[cgihandler/31]"), std::string::npos) << cg.getError();
             EXPECT_NE(cg.getError().find("document buffer"), std::string::npos) << cg.getError();
         }},
        {"a size no mapping holds fails with message 230 in external mode",
         [](CgiHandler& cg, KvoOutput& out) {
             out.kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
             EXPECT_EQ(out.kvoOpenOutput(size_t{1} << 50), kKvoOpenFailed);
             EXPECT_NE(cg.getError().find("[cgihandler/28]"), std::string::npos) << cg.getError();
         }},
        {"the address marker in internal mode is exactly qzl:/kivo?",
         [](CgiHandler& cg, KvoOutput& out) {
             cg.kivoServName = "/cgi-bin/kivoserv";
             cg.curDb = "lib2";
             ASSERT_EQ(out.kvoOpenOutput(0), kKvoOpenOk);
             out.kvoPrintURL();
             EXPECT_EQ(docText(cg), "qzl:/kivo?");
             EXPECT_EQ(cg.dstBuf, nullptr);
         }},
        {"the address in external mode is the request's own prefix",
         [](CgiHandler& cg, KvoOutput& out) {
             cg.urlProto = "http://host";
             cg.kivoServName = "/cgi-bin/kivoserv";
             cg.curDb = "lib2";
             ASSERT_EQ(cg.allocDstBuf(4096), 1);
             ASSERT_EQ(cg.dstWriteKvoURL(), 1);
             const std::string prefix = dstText(cg);
             ASSERT_NE(prefix.find("DB=lib2&amp;"), std::string::npos) << prefix;
             out.kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
             ASSERT_EQ(out.kvoOpenOutput(4096), kKvoOpenOk);
             out.kvoPrintURL();
             EXPECT_EQ(dstText(cg), prefix);
             EXPECT_EQ(cg.docBuf, nullptr);
         }},
        {"external mode grows when 1,024 bytes or fewer would remain",
         [](CgiHandler& cg, KvoOutput& out) {
             out.kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
             ASSERT_EQ(out.kvoOpenOutput(pageSize()), kKvoOpenOk);
             const size_t capacity = cg.dstbufSize;
             out.kvoWrite("abc");
             const std::string text(capacity - 3 - 1024, 'y');
             out.kvoWrite(text);
             EXPECT_EQ(cg.dstbufSize, wholePages(capacity + 32768 - 1024));
             EXPECT_EQ(dstText(cg), "abc" + text);
         }},
        {"external mode keeps its buffer with 1,025 bytes to spare",
         [](CgiHandler& cg, KvoOutput& out) {
             out.kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
             ASSERT_EQ(out.kvoOpenOutput(pageSize()), kKvoOpenOk);
             const size_t capacity = cg.dstbufSize;
             const char* const before = cg.dstBuf;
             out.kvoWrite("abc");
             out.kvoPrintf("%s", std::string(capacity - 3 - 1025, 'y'));
             EXPECT_EQ(cg.dstbufSize, capacity);
             EXPECT_EQ(cg.dstBuf, before);
             EXPECT_EQ(cg.dstOffs, capacity - 1025);
         }},
        {"standard-output mode writes to fd 1 and touches no buffer",
         [](CgiHandler& cg, KvoOutput& out) {
             EXPECT_EQ(test::inChild([&] { return stdoutModeWritesOnlyToFdOne(cg, out); }), 0);
         }},
        {"20,000 writes of 1,000 bytes all arrive after an open of 0",
         [](CgiHandler& cg, KvoOutput& out) {
             ASSERT_EQ(out.kvoOpenOutput(0), kKvoOpenOk);
             std::string want;
             want.reserve(20000000);
             for (int i = 0; i < 20000; ++i) {
                 std::string piece(1000, static_cast<char>('a' + i % 26));
                 piece.replace(0, 5, std::to_string(10000 + i));
                 out.kvoWrite(piece);
                 want += piece;
             }
             ASSERT_EQ(cg.docSize, 20000000u);
             EXPECT_TRUE(docText(cg) == want);
             EXPECT_EQ(cg.docBuf[cg.docSize], '\0');
         }},
        {"one formatted write of 30,000 characters arrives whole",
         [](CgiHandler& cg, KvoOutput& out) {
             ASSERT_EQ(out.kvoOpenOutput(0), kKvoOpenOk);
             out.kvoWrite("<p>");
             const std::string text(30000, 'z');
             out.kvoPrintf("%s|%d", text, 42);
             EXPECT_EQ(docText(cg), "<p>" + text + "|42");
         }},
        // The length alone is too big to map; the append refuses the text
        // before reading any of it.
        {"a growth that fails keeps the page and sets message 232",
         [](CgiHandler& cg, KvoOutput& out) {
             ASSERT_EQ(out.kvoOpenOutput(0), kKvoOpenOk);
             out.kvoWrite("kept");
             const char* const before = cg.docBuf;
             out.kvoWrite(std::string_view("x", size_t{1} << 50));
             EXPECT_NE(cg.getError().find("[cgihandler/30]"), std::string::npos) << cg.getError();
             EXPECT_EQ(cg.docBuf, before);
             out.kvoWrite("|next");
             EXPECT_EQ(docText(cg), "kept|next");
         }},
        {"a growth that fails keeps the output and sets message 231",
         [](CgiHandler& cg, KvoOutput& out) {
             out.kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
             ASSERT_EQ(out.kvoOpenOutput(pageSize()), kKvoOpenOk);
             out.kvoWrite("kept");
             out.kvoWrite(std::string_view("x", size_t{1} << 50));
             EXPECT_NE(cg.getError().find("[cgihandler/29]"), std::string::npos) << cg.getError();
             out.kvoWrite("|next");
             EXPECT_EQ(dstText(cg), "kept|next");
         }},
        {"a channel without a request writes nowhere",
         [](CgiHandler& cg, KvoOutput& out) {
             out.kvoSetOutput(nullptr, KVO_OUT_INTERNAL);
             EXPECT_EQ(out.kvoOpenOutput(100), kKvoOpenFailed);
             out.kvoWrite("lost");
             out.kvoPrintf("%s", "lost");
             out.kvoPrintURL();
             out.kvoSetOutput(nullptr, KVO_OUT_EXTERNAL);
             out.kvoWrite("lost");
             out.kvoPrintURL();
             EXPECT_EQ(cg.docBuf, nullptr);
             EXPECT_EQ(cg.dstBuf, nullptr);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CapturedRequest request;
        ASSERT_NE(request.get(), nullptr);
        auto out = newKvoOutput(0x5);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->mode, KVO_OUT_INTERNAL);
        EXPECT_EQ(out->flags, 0x5);
        EXPECT_EQ(out->cg, nullptr);
        ASSERT_EQ(out->kvoSetOutput(request.get(), KVO_OUT_INTERNAL), 0);
        c.check(*request, *out);
    }
}

}  // namespace
}  // namespace ruva
