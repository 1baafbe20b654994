#include "bmod/ruvaserv/actions/ruvafilter/filter_arguments.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/bmod/ruvaserv/actions/ruvafilter/ps_checks.h"
#include "tests/support/test_support.h"

namespace ruva::filter {
namespace {

TEST(FilterArguments, ParsesTheCommandLine) {
    const struct {
        std::vector<const char*> args;
        int code;
        const char* paper;
        const char* output;
    } cases[] = {
        {{"-pA4", "-o", "-", "f"}, kExitOk, "A4", "-"},
        {{"-p", "f"}, kExitOk, "A4", "-"},
        {{"f"}, kExitOk, "A4", "-"},
        {{"-pus", "f"}, kExitOk, "Letter", "-"},
        {{"-pLeTTeR", "f"}, kExitOk, "Letter", "-"},
        {{"-pLeGaL", "f"}, kExitOk, "Legal", "-"},
        {{"-pa3", "f"}, kExitOk, "A3", "-"},
        {{"-pA5", "f"}, kExitOk, "A5", "-"},
        {{"-p", "-o", "-", "f"}, kExitOk, "A4", "-"},  // an empty size does not take "-o"
        {{"-pA4", "-o", "out.ps", "f"}, kExitOk, "A4", "out.ps"},
        {{"-pXX", "f"}, kExitPaperSize, nullptr, nullptr},
        {{"-pA44", "f"}, kExitPaperSize, nullptr, nullptr},
        {{"-pA4"}, kExitUsage, nullptr, nullptr},
        {{"-pXX"}, kExitUsage, nullptr, nullptr},
        {{"-pA4", "a", "b"}, kExitUsage, nullptr, nullptr},
        {{"-x", "f"}, kExitUsage, nullptr, nullptr},
        {{"-pA4", "f", "-o"}, kExitUsage, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"ruvafilter"};
        std::string trace;
        for (const char* a : c.args) argv.push_back(a), trace += std::string(a) + " ";
        SCOPED_TRACE(trace);
        FilterArguments args;
        std::string error;
        EXPECT_EQ(parseArguments(static_cast<int>(argv.size()), argv.data(), args, error), c.code);
        if (c.code != kExitOk) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_NE(args.paper, nullptr);
        EXPECT_STREQ(args.paper->name, c.paper);
        EXPECT_EQ(args.output, c.output);
        EXPECT_EQ(args.input, "f");
    }
}

// The program itself: its exit code, and PostScript on standard output
// only when it succeeded.
class FilterProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        page_ = dir_.file("page.html");
        test::writeFile(page_, "<title>T</title><p>Hello");
    }

    std::string run(const std::string& args, int* status) {
        return test::capture(std::string(RUVA_RUVAFILTER) + " " + args + " 2>/dev/null", status);
    }

    test::TempDir dir_;
    std::string page_;
};

TEST_F(FilterProgram, ExitCodesAndOutput) {
    const std::string big = dir_.file("big.html");  // sparse: refused before a byte is read
    test::writeFile(big, "x");
    ASSERT_EQ(truncate(big.c_str(), (off_t{64} << 20) + 1), 0);
    const struct {
        std::string args;
        int code;
        const char* box;  // the BoundingBox when PostScript is expected
    } cases[] = {
        {"-pA4 -o - " + page_, kExitOk, "0 0 595 842"},
        {"-pus -o - " + page_, kExitOk, "0 0 612 792"},
        {"-p -o - " + page_, kExitOk, "0 0 595 842"},
        {"-pLegal " + page_, kExitOk, "0 0 612 1008"},
        {"-pXX -o - " + page_, kExitPaperSize, nullptr},
        {"-pA4 -o - " + dir_.file("missing.html"), kExitIo, nullptr},
        {"-pA4 -o - " + dir_.path(), kExitIo, nullptr},
        {"-pA4 -o - " + big, kExitIo, nullptr},
        {"-pA4 -o -", kExitUsage, nullptr},
        {"-pA4 -o - " + page_ + " " + page_, kExitUsage, nullptr},
        {"-pA4 -o /dev/full " + page_, kExitIo, nullptr},
        {"-pA4 -o - " + page_ + " >/dev/full", kExitIo, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        int status = -1;
        const std::string out = run(c.args, &status);
        EXPECT_EQ(status, c.code);
        if (!c.box) {
            EXPECT_EQ(out, "");
            continue;
        }
        test::checkDocument(out);
        EXPECT_NE(out.find(std::string("\n%%BoundingBox: ") + c.box + "\n"), std::string::npos);
    }
}

TEST_F(FilterProgram, WritesAFileAndNeverItsInput) {
    const std::string out = dir_.file("out.ps");
    int status = -1;
    EXPECT_EQ(run("-pA4 -o " + out + " " + page_, &status), "");
    EXPECT_EQ(status, kExitOk);
    EXPECT_EQ(test::checkDocument(test::readFile(out)), 1);

    const std::string link = dir_.file("link.html");
    ASSERT_EQ(symlink(page_.c_str(), link.c_str()), 0);
    for (const std::string& target : {page_, link}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(run("-pA4 -o " + target + " " + page_, &status), "");
        EXPECT_EQ(status, kExitUsage);
        EXPECT_EQ(test::readFile(page_), "<title>T</title><p>Hello");
    }
}

}  // namespace
}  // namespace ruva::filter
