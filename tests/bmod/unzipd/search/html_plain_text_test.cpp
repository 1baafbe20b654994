#include "bmod/unzipd/search/html_plain_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>
#include <vector>

#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

TEST(HtmlPlainText, PhraseInHtml) {
    EXPECT_EQ(getRawHtmlWithoutHtmlTag("<p>the <b>red</b> car</p>", "red car"), 1);
    EXPECT_EQ(getRawHtmlWithoutHtmlTag("<p>the re<b>d</b> car</p>", "red car"), 0);
    EXPECT_EQ(getRawHtmlWithoutHtmlTag("red&nbsp;car", "red car"), 1);
    EXPECT_EQ(getRawHtmlWithoutHtmlTag("red car</html>x", "car x"), 0);
    EXPECT_EQ(getRawHtmlWithoutHtmlTag(nullptr, "x"), 0);
    EXPECT_EQ(getRawHtmlWithoutHtmlTag("x", ""), 0);
}

void quietWarn(void*, int, const char*, ...) {}

TEST(HtmlPlainText, PhraseTestOfALibrary) {
    test::TempDir dir;
    const std::string lib = dir.file("lib.zip");
    const std::string script =
        "import zipfile\n"
        "with zipfile.ZipFile('" + lib + "', 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    z.writestr('a.html', '<html><body>the red car</body></html>')\n"
        "    z.writestr('b.html', '<html><body>a blue car</body></html>')\n"
        "    z.writestr('c.html', '<html><body>' + 'filler ' * 160000 + 'red car</body></html>')\n";
    test::writeFile(dir.file("mk.py"), script);
    ASSERT_EQ(test::runShell("python3 " + dir.file("mk.py")), 0);
    ZipStructure* zs = newZipStructure(nullptr, lib.c_str(), 0, nullptr, quietWarn);
    ASSERT_TRUE(zs);
    auto uz = newUnzip(0x100000);
    EXPECT_EQ(getRawHtml(*uz, zs, "a.html", "red car"), 1);
    EXPECT_EQ(getRawHtml(*uz, zs, "b.html", "red car"), 0);
    EXPECT_EQ(getRawHtml(*uz, zs, "c.html", "red car"), 1);  // larger than the buffer
    EXPECT_EQ(getRawHtml(*uz, zs, "none.html", "red car"), 0);
    // The last member tested decides.
    EXPECT_EQ(getRawHtml(*uz, zs, "[ab].html", "red car"), 0);
    EXPECT_EQ(getRawHtml(*uz, zs, "[ba].html", "red car"), 0);
    // A library touched since the scan answers 1 unread.
    struct utimbuf times = {zs->mTime + 10, zs->mTime + 10};
    ASSERT_EQ(utime(lib.c_str(), &times), 0);
    EXPECT_EQ(getRawHtml(*uz, zs, "b.html", "red car"), 1);
    zs->del();
}

}  // namespace
}  // namespace ruva
