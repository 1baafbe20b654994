// A session over a catalogue of two libraries made at test time: lib.kvo
// by python's zipfile (members of every kind the listings must show) in
// one folder, sv.kvo (an SV library id) in a second.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"
#include "tests/bmod/unzipd/server/server_fixture.h"

namespace ruva::test {

using cat::shellQuote;

// Members: stored, deflated, deflated empty; comments absent, "abc12",
// "a b", holding a quote, ending in a backslash, holding LF. The script
// prints the zipfile figures of each member as CONTV writes them.
inline const char* kMakeLibrary = R"PY(
import sys, zipfile, zlib
path = sys.argv[1]
members = [("a.html", b"<html>a</html>", zipfile.ZIP_STORED, None),
           ("b.html", b"bbbb" * 300, zipfile.ZIP_DEFLATED, b"abc12"),
           ("c.html", b"cc", zipfile.ZIP_DEFLATED, b"a b"),
           ("d.html", b"d" * 50, zipfile.ZIP_STORED, b'say "hi"'),
           ("e.html", b"e", zipfile.ZIP_STORED, b"ends\\"),
           ("f.html", b"f", zipfile.ZIP_STORED, b"two\nlines"),
           ("empty.txt", b"", zipfile.ZIP_DEFLATED, None)]
with zipfile.ZipFile(path, "w") as z:
    for name, data, method, comment in members:
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.compress_type = method
        if comment is not None:
            info.comment = comment
        z.writestr(info, data)
    z.comment = b"Guide [EN/DOCLIB1 R1A]"
with zipfile.ZipFile(path) as z:
    for i in z.infolist():
        m = "Stored" if i.compress_type == 0 else "Deflated"
        r = 0 if i.compress_size == 0 or i.file_size == 0 else 100 - i.compress_size * 100 // i.file_size
        print("%8d %12s %8d %2d%% %08x %s" % (i.file_size, m, i.compress_size, r, i.CRC, i.filename))
)PY";

class LibrarySession : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        ASSERT_TRUE(dir.ok());
        libDir = dir.file("lib");
        svDir = dir.file("sv");
        ASSERT_EQ(runShell("mkdir -p " + shellQuote(libDir) + " " + shellQuote(svDir)), 0);
        writeFile(dir.file("make.py"), kMakeLibrary);
        int status = 0;
        contvOracle = capture("python3 " + shellQuote(dir.file("make.py")) + " " + shellQuote(libDir + "/lib.kvo"),
                              &status);
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(cat::makeLibraries({{svDir + "/sv.kvo", "Handbok [SV/DOCLIB2]"}}));
        addLibraries();
        uzd.zipList = cat::newTestZipList(0);
        ZipList* zl = uzd.zipList.get();
        ASSERT_TRUE(zl && zl->allocZipPool(100, 1000, 65536));
        zl->filesysScanner->addNonRecursiveDir(libDir.c_str());
        zl->filesysScanner->addNonRecursiveDir(svDir.c_str());
        zl->filesysScanner->addIncludePattern("*.kvo");
        configureScanner(zl);
        ASSERT_GE(zl->scanFilesystem(), 2);
        lib = zl->findZipStructure("lib.kvo", nullptr);
        ASSERT_NE(lib, nullptr);
    }
    void TearDown() override {
        SessionFixture::TearDown();
        uzd.zipList.reset();
    }
    // More libraries, made before the scan.
    virtual void addLibraries() {}
    // More folders and patterns for the scan.
    virtual void configureScanner(ZipList*) {}
    // Exactly n bytes, fewer when the stream ends or stalls for 5 s.
    std::string readBytes(size_t n) {
        std::string out;
        while (out.size() < n) {
            struct pollfd p = {sv[1], POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            char buf[65536];
            size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
            ssize_t got = read(sv[1], buf, want);
            if (got <= 0) break;
            out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    // Every line of one reply, up to and with its final line.
    std::vector<std::string> reply(const std::string& command) {
        EXPECT_TRUE(sendText(sv[1], command));
        std::vector<std::string> lines;
        for (;;) {
            std::string l = readLine(sv[1]);
            lines.push_back(l);
            if (l.size() < 4 || l[0] != '3' || l == "<EOF>" || l == "<TIMEOUT>") break;
        }
        return lines;
    }

    TempDir dir;
    SetRemover remover{cat::languageKey()};
    std::string libDir, svDir, contvOracle;
    ZipStructure* lib = nullptr;
};

}  // namespace ruva::test
