#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/mapped_file.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace ruva {
namespace {

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

}  // namespace
}  // namespace ruva
