#include "bmod/ruvaserv/cgi/kvo_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

TEST(KvoText, LookUpByNumber) {
    setTextLanguage("Uen");  // returns: the check entry is in place
    struct {
        int index;
        const char* want;
    } const cases[] = {
        {2, "KIVO Error Message"}, {104, "Status: 204 No response\n\n"}, {105, "Expires: "},
        {106, "Last-modified: "},  {126, "Environment variables"},       {155, "!Got this far during DEBUGGING!"},
        {161, ""},                 {162, ""},                            {-1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(getTextStr(c.index), c.want);
    }
}

// HTTP dates index these by weekday and month.
TEST(KvoText, DayAndMonthNamesStandInOrder) {
    const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(getTextStr(107 + i), days[i]);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(getTextStr(114 + i), months[i]);
}

}  // namespace
}  // namespace ruva
