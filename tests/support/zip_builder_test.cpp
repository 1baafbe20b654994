// The builder's sound archives must be sound to other readers too, or a
// test of a broken one may break something else than it says.
#include "tests/support/zip_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva::test {
namespace {

std::string hexOf(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h.empty() ? "-" : h;
}

// zipfile's view: the comment, then per member name, comment and data as
// read back (CRC checked), all hex.
std::string zipfileView(const std::string& path) {
    const std::string script = path + ".py";
    writeFile(script, R"PY(
import sys, zipfile
h = lambda b: b.hex() or '-'
with zipfile.ZipFile(sys.argv[1]) as z:
    print('C', h(z.comment))
    for i in z.infolist():
        print('M', h(i.orig_filename.encode('cp437')), h(i.comment), h(z.read(i)))
)PY");
    int status = -1;
    std::string out = capture(pythonCommand() + " '" + script + "' '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

std::string expectedView(const ZipArchive& a) {
    std::string view = "C " + hexOf(a.comment) + "\n";
    for (const ZipMember& m : a.members)
        view += "M " + hexOf(m.name) + " " + hexOf(m.comment) + " " + hexOf(m.data) + "\n";
    return view;
}

std::string text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "member " + std::to_string(i * 7919 % 1000) + " of the archive\n";
    s.resize(n);
    return s;
}

// Bytes that deflate cannot shrink, so the stored block path is taken too.
std::string noise(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return s;
}

// A UT extra field (flags, mtime), as Info-ZIP writes it.
const std::string kTimeExtra("UT\x05\x00\x01\x00\x00\x00\x60", 9);

TEST(ZipBuilder, SoundArchiveIsReadByZipfileAndPassesUnzipTest) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        const char* name;
        bool descriptor;
    };
    const Case cases[] = {{"sizes in the local headers", false}, {"sizes in data descriptors", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZipArchive a;
        a.comment = "archive comment";
        a.members = {
            {.name = "stored.txt", .data = text(3000)},
            {.name = "deflated.txt", .data = text(70000), .method = ZIPMETHOD_DEFLATED},
            {.name = "noise.bin", .data = noise(40000), .method = ZIPMETHOD_DEFLATED, .level = 6},
            {.name = "empty", .data = ""},
            {.name = "empty-deflated", .data = "", .method = ZIPMETHOD_DEFLATED},
            {.name = "sub/extra.txt",
             .data = "with extra fields\n",
             .comment = "member comment",
             .localExtra = kTimeExtra,
             .centralExtra = kTimeExtra},
        };
        for (ZipMember& m : a.members) m.descriptor = c.descriptor;
        const std::string path = dir.file("sound.zip");
        const BuiltZip built = writeZip(path, a);

        EXPECT_EQ(zipfileView(path), expectedView(a));
        EXPECT_EQ(runShell("unzip -tqq '" + path + "' >/dev/null"), 0);

        // The places point at each member's stored bytes.
        ASSERT_EQ(built.places.size(), a.members.size());
        for (size_t i = 0; i < a.members.size(); ++i) {
            const ZipMember& m = a.members[i];
            const ZipPlace& p = built.places[i];
            EXPECT_EQ(p.data, p.localHeader + 30 + m.name.size() + m.localExtra.size()) << m.name;
            if (m.method == ZIPMETHOD_STORED) {
                EXPECT_EQ(built.bytes.substr(p.data, p.compressedSize), m.data) << m.name;
            }
        }
        EXPECT_EQ(built.bytes.substr(built.endRecord, 4), "PK\x05\x06");
        EXPECT_EQ(built.bytes.substr(built.centralDir, 4), "PK\x01\x02");
    }
}

}  // namespace
}  // namespace ruva::test
