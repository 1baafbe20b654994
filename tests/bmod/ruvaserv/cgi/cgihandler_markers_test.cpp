#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

extern char** environ;

namespace ruva {
namespace {

// The room the pass's output buffer starts with past the page's size.
constexpr size_t kPassRoom = 522240;
constexpr size_t kBigReplacement = 1 << 20;

enum class Handler { None, Accepts, Refuses, WritesOneMegabyte };

// What the handlers saw, and the page they were called on.
struct Seen {
    CgiHandler* cg = nullptr;
    std::string marker;
    bool inPage = false;  // the view lies inside docBuf, not in a copy
    int calls = 0;
};

void record(Seen& seen, std::string_view marker) {
    const char* page = seen.cg->docBuf;
    seen.marker = std::string(marker);
    seen.inPage =
        marker.empty() || (marker.data() >= page && marker.data() + marker.size() <= page + seen.cg->docSize);
    ++seen.calls;
}

int accepting(void* clientData, std::string_view marker) {
    auto& seen = *static_cast<Seen*>(clientData);
    record(seen, marker);
    return seen.cg->dstPrintf("<b>%s</b>", std::string(marker));
}

int refusing(void* clientData, std::string_view marker) {
    record(*static_cast<Seen*>(clientData), marker);
    return 0;
}

int writingOneMegabyte(void* clientData, std::string_view marker) {
    auto& seen = *static_cast<Seen*>(clientData);
    record(seen, marker);
    seen.cg->dstWriteBuf(std::string(kBigReplacement, 'm'));
    return 1;
}

class Markers : public ::testing::Test {
protected:
    void SetUp() override {
        cg = newCgiHandler(kKivoservFlags, environ);
        ASSERT_NE(cg, nullptr);
        seen.cg = cg.get();
    }
    void TearDown() override {
        cg->endDstPass();
        cg->freeDocBuf();
        cg->freeDstBuf();
    }

    void page(std::string_view text) { test::setHeapPage(*cg, text); }

    void use(Handler handler) {
        switch (handler) {
            case Handler::None:
                cg->setSpecCallback(nullptr, nullptr);
                break;
            case Handler::Accepts:
                cg->setSpecCallback(accepting, &seen);
                break;
            case Handler::Refuses:
                cg->setSpecCallback(refusing, &seen);
                break;
            case Handler::WritesOneMegabyte:
                cg->setSpecCallback(writingOneMegabyte, &seen);
                break;
        }
    }

    // Copies the page as the pass does: through the first "<!--@@", then
    // the marker, then the rest from where the marker left the read position.
    // The read position after the marker goes to *after.
    std::string run(std::string_view text, size_t* after) {
        const size_t open = text.find("<!--@@");
        EXPECT_NE(open, std::string_view::npos);
        EXPECT_EQ(cg->allocDstBuf(cg->docSize + kPassRoom), 1);
        cg->beginDstPass();
        EXPECT_EQ(cg->dstWriteBuf(text.substr(0, open + 6)), 1);
        size_t so = open + 6;
        EXPECT_EQ(cg->specPostProcess(so), 1);
        *after = so;
        if (so < cg->docSize) {
            EXPECT_EQ(cg->dstWriteBuf(std::string_view(cg->docBuf + so, cg->docSize - so)), 1);
        }
        cg->endDstPass();
        EXPECT_FALSE(cg->dstPassFailed());
        return std::string(cg->dstBuf, cg->dstOffs);
    }

    std::unique_ptr<CgiHandler> cg;
    Seen seen;
};

TEST_F(Markers, HandlerDecidesWhatStandsInTheMarkersPlace) {
    const std::string big(kBigReplacement, 'm');
    struct Case {
        const char* name;
        Handler handler;
        std::string page;
        std::string sent;
        std::string marker;  // the handler's view; unused without a handler
        size_t after;        // read position after the marker
    } const cases[] = {
        {"an accepted marker is replaced", Handler::Accepts, "a<!--@@listdb default *-->b",
         "a<b>listdb default *--</b>b", "listdb default *--", 26},
        {"a refused marker stays byte for byte", Handler::Refuses, "a<!--@@listdb default *-->b",
         "a<!--@@listdb default *-->b", "listdb default *--", 26},
        {"without a handler the marker vanishes", Handler::None, "a<!--@@listdb default *-->b", "ab", "", 26},
        {"the view ends before the first '>'", Handler::Accepts, "<!--@@servname--><p>x</p>",
         "<b>servname--</b><p>x</p>", "servname--", 17},
        {"without '>' an accepted marker takes the rest", Handler::Accepts, "a<!--@@listdb x <p",
         "a<b>listdb x <p</b>", "listdb x <p", 18},
        {"without '>' a refused marker stays whole", Handler::Refuses, "a<!--@@listdb x <p",
         "a<!--@@listdb x <p", "listdb x <p", 18},
        {"without '>' and handler the rest vanishes", Handler::None, "a<!--@@listdb x <p", "a", "", 18},
        {"a marker cut at the page's last byte", Handler::Refuses, "a<!--@@", "a<!--@@", "", 7},
        {"an empty marker ends at its own '>'", Handler::Accepts, "a<!--@@>b>c", "a<b></b>b>c", "", 8},
        {"bytes past a NUL stay in the view", Handler::Refuses, std::string("<!--@@x\0y>z", 11),
         std::string("<!--@@x\0y>z", 11), std::string("x\0y", 3), 10},
        {"a replacement past the starting room arrives whole", Handler::WritesOneMegabyte, "<!--@@big-->z",
         big + "z", "big--", 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seen = Seen();
        seen.cg = cg.get();
        page(c.page);
        use(c.handler);
        size_t after = 0;
        const std::string sent = run(c.page, &after);
        EXPECT_EQ(sent.size(), c.sent.size());
        EXPECT_TRUE(sent == c.sent) << sent.substr(0, 80);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(seen.calls, c.handler == Handler::None ? 0 : 1);
        if (c.handler != Handler::None) {
            EXPECT_EQ(seen.marker, c.marker);
            EXPECT_TRUE(seen.inPage);
        }
    }
}

TEST_F(Markers, OutputAlreadyShorterThanTheOpeningIsEmptied) {
    // A pass that wrote fewer than 6 bytes cannot underflow the output.
    page("<!--@@x>");
    use(Handler::Refuses);
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    ASSERT_EQ(cg->dstWriteBuf("<!-"), 1);
    size_t so = 6;
    EXPECT_EQ(cg->specPostProcess(so), 1);
    EXPECT_EQ(so, 8u);
    EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), "<!--@@x>");
}

TEST_F(Markers, AFailedGrowthFailsTheMarker) {
    page("<!--@@big>");
    use(Handler::WritesOneMegabyte);
    ASSERT_EQ(cg->allocDstBuf(4096), 1);
    cg->beginDstPass();
    ASSERT_EQ(cg->dstWriteBuf("<!--@@"), 1);
    // An offset no mapping can reach stands for memory running out.
    cg->dstOffs = size_t(1) << 50;
    size_t so = 6;
    EXPECT_EQ(cg->specPostProcess(so), 0);
    EXPECT_TRUE(cg->dstPassFailed());
    EXPECT_NE(cg->getError().find("during allocation of document buffer"), std::string::npos)
        << cg->getError();
    EXPECT_EQ(cg->dstbufSize, 4096u);
    cg->dstOffs = 0;
}

}  // namespace
}  // namespace ruva
