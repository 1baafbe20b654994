// The viewer script's sections as pages get them.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {
namespace {

// The file is its head, then each marker line followed by its section:
// reassembled from the sections it gives back byte for byte.
TEST(ViewerScript, SectionsReassembleTheFile) {
    const std::string_view file = viewerScriptFile();
    const std::string_view marker = "//@section ";
    size_t first = file.find(std::string("\n") + std::string(marker));
    ASSERT_NE(first, std::string_view::npos);
    std::string rebuilt(file.substr(0, first + 1));
    int sections = 0;
    for (size_t at = first + 1; at < file.size();) {
        const size_t end = file.find('\n', at);
        ASSERT_NE(end, std::string_view::npos);
        const std::string_view name = file.substr(at + marker.size(), end - at - marker.size());
        const std::string_view text = viewerScript(name);
        rebuilt += std::string(file.substr(at, end + 1 - at)) + std::string(text);
        at = end + 1 + text.size();
        ++sections;
    }
    EXPECT_EQ(rebuilt, file);
    EXPECT_GE(sections, 8);
    for (const char* name : {"doc-toc", "collection", "tree-render", "generate-dtoc", "generate-ctoc", "auto-sync",
                             "main-init-tree", "main-togb-tail"}) {
        EXPECT_NE(viewerScript(name), "") << name;
    }
    EXPECT_EQ(viewerScript("doc"), "");
    EXPECT_EQ(viewerScript(""), "");
}

}  // namespace
}  // namespace ruva
