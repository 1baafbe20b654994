#include "common/html_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ruva {
namespace {

// The text one formatting pass without arguments prints; "<lone %>" when the
// format holds a '%' outside a "%%" pair, that is, a conversion.
std::string printedText(const std::string& format) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%') {
            if (i + 1 == format.size() || format[i + 1] != '%') return "<lone %>";
            ++i;
        }
        out += format[i];
    }
    return out;
}

// The same pass through the C library, which the pages are printed with.
std::string printedByLibc(const std::string& format) {
    std::vector<char> buf(format.size() + 1);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int n = std::snprintf(buf.data(), buf.size(), format.c_str());
#pragma GCC diagnostic pop
    return n < 0 ? "<error>" : std::string(buf.data(), static_cast<size_t>(n));
}

std::string mainPage(const std::string& title) {
    return "<table width=\"100%\" cellspacing=\"1\" cellpadding=\"1\">\n<tr><th bgcolor=\"#e5e5e5\" "
           "height=\"30\"><font color='#666666'><center><b><small>" +
           title + "</small></b></center></font></th>\n</tr></table><br />\n";
}

std::string searchPage(const std::string& title, const std::string& columns) {
    return "<div id=\"search_head\">\n<div id=\"search_head_table\">\n<table width=\"100%\" "
           "cellspacing=\"1\" cellpadding=\"1\">\n<tr><th class=\"c5\" colspan=\"" +
           columns +
           "\"><table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\"><tr><td "
           "style='padding-left:0px;margin-left:0px'><b>" +
           title + "</b></td>\n";
}

std::string comparePage(const std::string& title) {
    return "<table width=\"100%\" border=\"0\" cellspacing=\"2\" cellpadding=\"0\">\n<tr><th colspan=\"2\" "
           "height=\"30\"><table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"2\"><tr><td "
           "class=\"c4\" align=\"center\"><b>" +
           title + "</b></td></tr></table></th></tr>\n";
}

TEST(HtmlHeader, FormatsPrintThePageTexts) {
    struct {
        const char* name;
        std::string format;
        std::string page;
    } const cases[] = {
        {"main", makeHtmlMainHeader("Manuals"), mainPage("Manuals")},
        {"main, title with conversions", makeHtmlMainHeader("50% of %s%n"), mainPage("50% of %s%n")},
        {"main, title with a percent", makeHtmlMainHeader("a%b"), mainPage("a%b")},
        {"main, empty title", makeHtmlMainHeader(""), mainPage("")},
        {"main, null title", makeHtmlMainHeader(nullptr), mainPage("")},
        {"search", makeHtmlSearchHeader("Hits for a", 3), searchPage("Hits for a", "3")},
        {"search, title with conversions", makeHtmlSearchHeader("%d%%%", 12), searchPage("%d%%%", "12")},
        {"compare", makeHtmlCompareHeader("Compare <b>x</b>"), comparePage("Compare <b>x</b>")},
        {"compare, title with conversions", makeHtmlCompareHeader("%n%s"), comparePage("%n%s")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printedText(c.format), c.page);
        EXPECT_EQ(printedByLibc(c.format), c.page);
        EXPECT_EQ(undoublePercents(c.format), c.page);
    }
}

TEST(HtmlHeader, WidthIsWrittenAsFormat) {
    std::string format = makeHtmlMainHeader("50% of %s%n");
    EXPECT_EQ(format.rfind("<table width=\"100%%\" cellspacing=\"1\"", 0), 0u);
    EXPECT_NE(format.find("<small>50%% of %%s%%n</small>"), std::string::npos);
    EXPECT_EQ(makeHtmlSearchHeader("t", 2).find("100%\""), std::string::npos);
    EXPECT_EQ(makeHtmlCompareHeader("t").find("100%\""), std::string::npos);
}

TEST(HtmlHeader, UndoublePercentsOnlySubstitutes) {
    struct {
        const char* in;
        const char* out;
    } const cases[] = {
        {"100%%", "100%"},
        {"%%%%", "%%"},
        {"%%%", "%%"},
        {"%", "%"},
        {"a%", "a%"},
        {"%s", "%s"},
        {"%n%d%%s", "%n%d%s"},
        {"no percent", "no percent"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(undoublePercents(c.in), c.out);
    }
}

}  // namespace
}  // namespace ruva

