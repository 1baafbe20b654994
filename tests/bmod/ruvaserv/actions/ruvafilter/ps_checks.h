// Checks of a whole PostScript document that every filter test wants: DSC
// frame, page count and the length of every line.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/postscript.h"

namespace ruva::test {

inline std::vector<std::string_view> psLines(std::string_view ps) {
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < ps.size();) {
        size_t end = ps.find('\n', at);
        if (end == std::string_view::npos) end = ps.size();
        lines.push_back(ps.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The document's page count after checking its frame.
inline int checkDocument(std::string_view ps) {
    EXPECT_TRUE(ps.starts_with("%!PS-Adobe-3.0\n"));
    EXPECT_TRUE(ps.ends_with("\n%%Trailer\n%%EOF\n"));
    int declared = -1;
    int pages = 0;
    for (std::string_view line : psLines(ps)) {
        EXPECT_LE(line.size(), filter::kMaxPsLine) << line.substr(0, 40);
        if (line.starts_with("%%Pages: ")) declared = std::stoi(std::string(line.substr(9)));
        if (line.starts_with("%%Page: ")) {
            ++pages;
            const std::string n = std::to_string(pages);
            EXPECT_EQ(line, "%%Page: " + n + " " + n);
        }
    }
    EXPECT_EQ(declared, pages);
    return pages;
}

}  // namespace ruva::test
