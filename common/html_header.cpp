#include "common/html_header.h"

namespace ruva {

namespace {

// The page text made a format: each '%' doubled.
std::string asFormat(const std::string& page) {
    std::string out;
    out.reserve(page.size() + 8);
    for (char c : page) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

}  // namespace

std::string makeHtmlMainHeader(const char* title) {
    std::string page =
        "<table width=\"100%\" cellspacing=\"1\" cellpadding=\"1\">\n"
        "<tr><th bgcolor=\"#e5e5e5\" height=\"30\"><font color='#666666'><center><b><small>";
    page += title != nullptr ? title : "";
    page += "</small></b></center></font></th>\n</tr></table><br />\n";
    return asFormat(page);
}

std::string makeHtmlSearchHeader(const char* title, int columns) {
    std::string page =
        "<div id=\"search_head\">\n<div id=\"search_head_table\">\n"
        "<table width=\"100%\" cellspacing=\"1\" cellpadding=\"1\">\n<tr><th class=\"c5\" colspan=\"";
    page += std::to_string(columns);
    page +=
        "\"><table width=\"100%\" cellspacing=\"0\" cellpadding=\"0\">"
        "<tr><td style='padding-left:0px;margin-left:0px'><b>";
    page += title != nullptr ? title : "";
    page += "</b></td>\n";
    return asFormat(page);
}

std::string makeHtmlCompareHeader(const char* title) {
    std::string page =
        "<table width=\"100%\" border=\"0\" cellspacing=\"2\" cellpadding=\"0\">\n"
        "<tr><th colspan=\"2\" height=\"30\"><table width=\"100%\" border=\"0\" cellspacing=\"0\" "
        "cellpadding=\"2\"><tr><td class=\"c4\" align=\"center\"><b>";
    page += title != nullptr ? title : "";
    page += "</b></td></tr></table></th></tr>\n";
    return asFormat(page);
}

std::string undoublePercents(std::string_view format) {
    std::string out;
    out.reserve(format.size());
    for (size_t i = 0; i < format.size(); ++i) {
        out += format[i];
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') ++i;
    }
    return out;
}

}  // namespace ruva
