#include "bmod/ruvaserv/cgi/checked_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"

namespace ruva {
namespace {

TEST(CheckedFormat, FittingArgumentsAreFormatted) {
    const std::string text = "std";
    const char* none = nullptr;
    struct {
        const char* name;
        std::string got;
        std::string want;
    } const cases[] = {
        {"every conversion", formatChecked("%s-%d-%i-%lu-%ld-%u-%x-%c-%%", "a", 1, -2, 3ul, -4l, 5u, 255u, 'z'),
         "a-1--2-3--4-5-ff-z-%"},
        {"std::string and a null text", formatChecked("[%s][%s]", text, none), "[std][]"},
        {"flags and widths in a literal", formatChecked("%02d:%04u %-3s|", 5, 7u, "x"), "05:0007 x  |"},
        {"size_t for %lu", formatChecked("%lu", sizeof(long)), std::to_string(sizeof(long))},
        {"no arguments", formatChecked("100%%"), "100%"},
        {"message entry",
         formatChecked(msgFormat(234, "cgihandler/31"), static_cast<unsigned long>(20480)),
         "Failed to map 20480 bytes in memory during allocation of document buffer.<br><br>"
         "<span style='color:#D8D8D8'> [cgihandler/31]</span>"},
        {"text entry", formatChecked(textFormat(105)), "Expires: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.got, c.want);
    }
}

// The sanitizer build stops at a call whose arguments do not fit; the
// release build sends the format as it stands, never reading an argument
// as something it is not.
void expectRefused(const std::function<std::string()>& call, const std::string& format) {
#ifdef RUVA_SANITIZE_BUILD
    (void)format;
    EXPECT_DEATH(call(), "formatChecked: ");
#else
    EXPECT_EQ(call(), format);
#endif
}

TEST(CheckedFormat, ArgumentsThatDoNotFitAreRefused) {
    const std::string entry234 = getMsgStr(234, "cgihandler/31");
    struct {
        const char* name;
        std::function<std::string()> call;
        std::string format;
    } const cases[] = {
        {"int for %lu", [] { return formatChecked(msgFormat(234, "cgihandler/31"), 20480); }, entry234},
        {"text for %d", [] { return formatChecked("%d", "5"); }, "%d"},
        {"number for %s", [] { return formatChecked(msgFormat(216, "cgihandler/18"), 5); },
         getMsgStr(216, "cgihandler/18")},
        {"missing argument", [] { return formatChecked("%s and %s", "one"); }, "%s and %s"},
        {"argument without conversion", [] { return formatChecked("plain", 1); }, "plain"},
        {"unknown conversion", [] { return formatChecked("%n", 1); }, "%n"},
        {"long long length", [] { return formatChecked("%lld", 1l); }, "%lld"},
        {"empty entry with an argument", [] { return formatChecked(msgFormat(2, nullptr), 1); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefused(c.call, c.format);
    }
}

}  // namespace
}  // namespace ruva
