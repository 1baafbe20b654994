#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/sdi.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::inChild;
using test::readFile;
using test::TempDir;
using test::writeFile;

// What output("-") writes, run in a child whose standard output is a file.
std::string writtenToStdout(Sdi* sdi, const TempDir& dir, int* result) {
    std::string path = dir.file("stdout");
    int status = inChild([&]() {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0) return 100;
        int ok = sdi->output("-");
        std::fflush(stdout);
        return ok ? 0 : 1;
    });
    *result = status;
    return readFile(path);
}

// The list of the writer's fixed example: one heading with two documents.
std::unique_ptr<Sdi> demoList() {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi) return nullptr;
    sdi->setMetadata(TAVRLANG_EN, "1/1553-ABC 901 00 Uen", "B", "Demo Library", "AB/CD/EF/GH SMITH John", nullptr,
                     nullptr, "2003-04-17");
    SdiEntry* heading = sdi->addSdiEntry(nullptr, SDIENTRY_HEADING, "Descriptions", "MOD-DESC", nullptr, nullptr);
    sdi->addSdiEntry(heading, SDIENTRY_DOCUMENT, "System Description", "1551-ABC 901 23 Uen A", nullptr, nullptr);
    sdi->addSdiEntry(heading, SDIENTRY_DOCUMENT, "Systembeskrivning", "154 31-ABC 901 24 Usv B", "New",
                     "System Overview");
    sdi->addSdiEntry(heading, SDIENTRY_SEPARATOR, nullptr, nullptr, nullptr, nullptr);
    return sdi;
}

std::string generated(Sdi* sdi) {
    TempDir dir;
    int status = -1;
    std::string text = writtenToStdout(sdi, dir, &status);
    EXPECT_EQ(status, 0) << sdi->getError();
    return text;
}

// Positions of each needle in order; -1 for the first that is missing or out of order.
bool inOrder(const std::string& text, const std::vector<std::string>& needles) {
    size_t at = 0;
    for (const std::string& n : needles) {
        size_t found = text.find(n, at);
        if (found == std::string::npos) {
            ADD_FAILURE() << "missing in order: " << n;
            return false;
        }
        at = found + n.size();
    }
    return true;
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST(SdiWriter, DemoListMatchesGolden) {
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    std::string text = generated(sdi.get());
    std::string golden = readFile(SDI_WRITER_GOLDEN);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(text, golden);
    EXPECT_EQ(count(text, "\n"), 109u);
    EXPECT_EQ(text.size(), 1798u);
}

TEST(SdiWriter, SecondOutputWritesTheSameDocumentOnce) {
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    std::string first = generated(sdi.get());
    EXPECT_EQ(generated(sdi.get()), first);
}

struct LayoutCase {
    const char* name;
    // Entries at the top level: type letter H heading, D document, C
    // document with comment, T head row, P paragraph, S separator.
    const char* entries;
    std::vector<std::string> expected;  // in this order
};

TEST(SdiWriter, BodyLayout) {
    const LayoutCase cases[] = {
        {"two headings each with a table", "HDDSHDS",
         {"<chl1>", "<title>t0</title>", "<table", "<tbody>", "t1", "t2", "</tbody>", "</table>", "</chl1>", "<chl1>",
          "<title>t4</title>", "<table", "t5", "</table>", "</chl1>", "</body>"}},
        {"last comment gives three columns", "DDCS",
         {"<tgroup cols=\"3\">", "<colspec colwidth=\"40*\">", "<colspec colwidth=\"20*\">", "\n\n<tbody>", "t0",
          "<entry></entry>\n</row>", "t2", "<entry>c2</entry>", "</table>"}},
        {"no comment gives two columns", "DDS",
         {"<tgroup cols=\"2\">\n<colspec colwidth=\"60*\">\n<colspec colwidth=\"40*\">\n\n<tbody>", "t0", "t1"}},
        {"head row then documents", "TDDS",
         {"<thead>", "t0", "</thead>\n<tbody>", "t1", "t2", "</tbody>", "</table>"}},
        {"paragraph closes a table", "DPD",
         {"<tbody>", "t0", "</table>", "<p>t1</p>", "<table", "t2", "</table>"}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Sdi> sdi = newSdi(0);
        ASSERT_TRUE(sdi);
        sdi->setMetadata(TAVRLANG_EN, nullptr, nullptr, "x", nullptr, nullptr, nullptr, "2003-04-17");
        SdiEntry* heading = nullptr;
        for (int i = 0; c.entries[i]; ++i) {
            std::string t = "t" + std::to_string(i);
            std::string d = "d" + std::to_string(i);
            std::string k = "c" + std::to_string(i);
            switch (c.entries[i]) {
            case 'H': heading = sdi->addSdiEntry(nullptr, SDIENTRY_HEADING, t.c_str(), nullptr, nullptr, nullptr); break;
            case 'D': sdi->addSdiEntry(heading, SDIENTRY_DOCUMENT, t.c_str(), d.c_str(), nullptr, nullptr); break;
            case 'C': sdi->addSdiEntry(heading, SDIENTRY_DOCUMENT, t.c_str(), d.c_str(), k.c_str(), nullptr); break;
            case 'T': sdi->addSdiEntry(heading, SDIENTRY_DOCHEAD, t.c_str(), d.c_str(), nullptr, nullptr); break;
            case 'P': sdi->addSdiEntry(heading, SDIENTRY_PARA, t.c_str(), nullptr, nullptr, nullptr); break;
            case 'S': sdi->addSdiEntry(heading, SDIENTRY_SEPARATOR, nullptr, nullptr, nullptr, nullptr); break;
            }
        }
        std::string text = generated(sdi.get());
        std::string body = text.substr(text.find("<body>"));
        EXPECT_TRUE(inOrder(body, c.expected)) << body;
        EXPECT_EQ(count(body, "<table"), count(body, "</table>")) << body;
    }
}

TEST(SdiWriter, RefusesTreesTheReaderCannotGiveBack) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    SdiEntry* h = nullptr;
    for (int level = 1; level <= 6; ++level) h = sdi->addSdiEntry(h, SDIENTRY_HEADING, "h", nullptr, nullptr, nullptr);
    EXPECT_EQ(sdi->generate(), 0);
    EXPECT_NE(sdi->getError().find("Cannot print SDI node list, heading level 6 is deeper than 5.<br><br>"),
              std::string::npos)
        << sdi->getError();
    EXPECT_NE(sdi->getError().find("sdi/27"), std::string::npos) << sdi->getError();

    std::unique_ptr<Sdi> para = newSdi(0);
    ASSERT_TRUE(para);
    SdiEntry* p = para->addSdiEntry(nullptr, SDIENTRY_PARA, "p", nullptr, nullptr, nullptr);
    para->addSdiEntry(p, SDIENTRY_PARA, "child", nullptr, nullptr, nullptr);
    EXPECT_EQ(para->generate(), 0);
    EXPECT_NE(para->getError().find("Cannot print SDI node list, an entry that is not a heading has children"),
              std::string::npos)
        << para->getError();
}

TEST(SdiWriter, RowOfAnotherKindIsRefused) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    ASSERT_TRUE(sdi->outputTavrStart()) << sdi->getError();
    SdiEntry* p = sdi->addSdiEntry(nullptr, SDIENTRY_PARA, "p", nullptr, nullptr, nullptr);
    EXPECT_EQ(sdi->outputDoclistRow(p), 0);
    EXPECT_NE(sdi->getError().find("Failed during output, not a document entry.<br><br>"), std::string::npos);
}

TEST(SdiWriter, AddSdiEntryStoresPerKind) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    SdiEntry* h = sdi->addSdiEntry(nullptr, SDIENTRY_HEADING, nullptr, "MOD", "ignored", nullptr);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->title, "");
    EXPECT_EQ(h->module, "MOD");
    EXPECT_FALSE(h->comment);
    EXPECT_EQ(h->flags, 0);
    SdiEntry* d = sdi->addSdiEntry(h, SDIENTRY_DOCUMENT, "t", "A&#60;B", "c", "e");
    EXPECT_EQ(d->docno, "A&lt;B");
    EXPECT_EQ(d->comment, "c");
    EXPECT_EQ(d->engtitle, "e");
    EXPECT_EQ(d->flags, kSdiEntryComment);
    EXPECT_EQ(d->parent, h);
    // A comment without a number is not kept.
    SdiEntry* bare = sdi->addSdiEntry(h, SDIENTRY_DOCUMENT, "t", nullptr, "c", nullptr);
    EXPECT_FALSE(bare->comment);
    EXPECT_EQ(bare->flags, 0);
    EXPECT_EQ(h->child, d);
    EXPECT_EQ(d->next, bare);
    SdiEntry* second = sdi->addSdiEntry(nullptr, SDIENTRY_PARA, "p", nullptr, nullptr, nullptr);
    EXPECT_EQ(sdi->root, h);
    EXPECT_EQ(h->next, second);
}

TEST(SdiWriter, SetMetadataSplitsTheDate) {
    struct Case {
        const char* date;
        std::optional<std::string> y, m, d;
    } cases[] = {
        {"2003-04-17", "2003", "04", "17"},
        {"2003-4", "2003", "4", std::nullopt},
        {"2003", "2003", std::nullopt, std::nullopt},
        {"2003--17", "2003", std::nullopt, "17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        std::unique_ptr<Sdi> sdi = newSdi(0);
        ASSERT_TRUE(sdi);
        EXPECT_EQ(sdi->setMetadata(TAVRLANG_EN, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, c.date), 1);
        EXPECT_EQ(sdi->datey, c.y);
        EXPECT_EQ(sdi->datem, c.m);
        EXPECT_EQ(sdi->dated, c.d);
    }
    std::unique_ptr<Sdi> today = newSdi(0);
    ASSERT_TRUE(today);
    time_t now = time(nullptr);
    struct tm tmNow {};
    localtime_r(&now, &tmNow);
    today->setMetadata(TAVRLANG_EN, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(today->datey && today->datem && today->dated);
    EXPECT_EQ(today->datey->size(), 4u);
    EXPECT_EQ(today->datem->size(), 2u);
    EXPECT_EQ(today->dated->size(), 2u);
    EXPECT_EQ(std::stoi(*today->datey), tmNow.tm_year + 1900);
}

TEST(SdiWriter, SetMetadataTakesTheLanguageFromTheNumber) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    sdi->setMetadata(TAVRLANG_NOTSET, "1/1553-ABC 901 00 Usv", nullptr, nullptr, nullptr, nullptr, nullptr, "2003");
    EXPECT_EQ(sdi->language, TAVRLANG_SV);
    std::unique_ptr<Sdi> given = newSdi(0);
    ASSERT_TRUE(given);
    given->setMetadata(TAVRLANG_DE, "1/1553-ABC 901 00 Usv", nullptr, nullptr, nullptr, nullptr, nullptr, "2003");
    EXPECT_EQ(given->language, TAVRLANG_DE);
}

// A text with '<' and a bare '&' reads back as SGML text and is then written unchanged.
TEST(SdiWriter, MarkupInTextReadsBackEscaped) {
    TempDir dir;
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    sdi->setMetadata(TAVRLANG_EN, "1/1553-ABC 901 00 Uen", "A", "a<b & c", nullptr, nullptr, nullptr, "2003-04-17");
    sdi->addSdiEntry(nullptr, SDIENTRY_PARA, "a<b & c", nullptr, nullptr, nullptr);
    std::string path = dir.file("x_sd1.sgml");
    ASSERT_EQ(sdi->output(path.c_str()), 1) << sdi->getError();

    std::unique_ptr<Sdi> back = newSdi(0);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->prepareDocument(path.c_str()), 1) << back->getError();
    EXPECT_EQ(back->title, "a&lt;b &amp; c");
    ASSERT_TRUE(back->root);
    EXPECT_EQ(back->root->title, "a&lt;b &amp; c");
    std::string first = readFile(path);
    ASSERT_EQ(back->output(path.c_str()), 1) << back->getError();
    EXPECT_EQ(readFile(path), first);
}

std::vector<std::string> directoryNames(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (!d) return names;
    while (struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

TEST(SdiWriter, OutputReplacesOnlyTheTarget) {
    TempDir dir;
    std::string target = dir.file("x_sd1.sgml");
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    int status = inChild([&]() {
        umask(027);
        if (!sdi->output(target.c_str())) return 1;
        struct stat st {};
        if (stat(target.c_str(), &st) != 0 || (st.st_mode & 07777) != 0640) return 2;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(directoryNames(dir.path()), std::vector<std::string>{"x_sd1.sgml"});
    EXPECT_EQ(readFile(target), generated(sdi.get()));

    // A replaced file keeps its own mode.
    ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    ASSERT_EQ(sdi->output(target.c_str()), 1) << sdi->getError();
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(directoryNames(dir.path()), std::vector<std::string>{"x_sd1.sgml"});

    // A bare name goes through the current directory.
    status = inChild([&]() {
        if (chdir(dir.path().c_str()) != 0) return 100;
        return sdi->output("y_sd1.sgml") ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(directoryNames(dir.path()).size(), 2u);
}

TEST(SdiWriter, FailedWriteKeepsTheOldTarget) {
    TempDir dir;
    std::string target = dir.file("x_sd1.sgml");
    writeFile(target, "old list\n");
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    int status = inChild([&]() {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl {100, 100};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 100;
        if (sdi->output(target.c_str())) return 1;
        if (sdi->getError().find("Cannot print SDI node list, ") == std::string::npos) return 2;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(target), "old list\n");
    EXPECT_EQ(directoryNames(dir.path()), std::vector<std::string>{"x_sd1.sgml"});

    status = inChild([&]() {
        int fd = open("/dev/full", O_WRONLY);
        if (fd < 0 || dup2(fd, 1) < 0) return 100;
        if (sdi->output("-")) return 1;
        return sdi->getError().find("Cannot print SDI node list, ") == std::string::npos ? 2 : 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(SdiWriter, MissingDirectoryIsReported) {
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    EXPECT_EQ(sdi->output("/nonexistent-dir-of-sdi-test/x_sd1.sgml"), 0);
    EXPECT_NE(sdi->getError().find("Cannot create SDI output file, No such file or directory "
                                   "'/nonexistent-dir-of-sdi-test/x_sd1.sgml'"),
              std::string::npos)
        << sdi->getError();
}

}  // namespace
}  // namespace ruva
