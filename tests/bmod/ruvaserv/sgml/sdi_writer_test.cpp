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
#include <random>
#include <strings.h>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/text_clean.h"
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

// A move that fails leaves the target as it was and removes the written file.
// Paths reach a page inside the message: escaped as document text is.
std::string pathShown(const std::string& path) {
    std::string shown;
    for (char c : path) shown += c == '/' ? std::string("&#47;") : std::string(1, c);
    return shown;
}

TEST(SdiWriter, FailedMoveRemovesTheTemporaryFile) {
    TempDir top;
    std::string folder = top.file("a<\"&b");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string target = folder + "/x_sd1.sgml";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    writeFile(target + "/keep", "k");
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    EXPECT_EQ(sdi->output(target.c_str()), 0);
    EXPECT_EQ(sdi->getError().rfind("Failed to rename SDI output file, Is a directory '", 0), 0u) << sdi->getError();
    EXPECT_NE(sdi->getError().find("'" + pathShown(top.path()) + "&#47;a&#60;&#34;&amp;b&#47;sdiwrite."),
              std::string::npos)
        << sdi->getError();
    EXPECT_EQ(directoryNames(folder), std::vector<std::string>{"x_sd1.sgml"});
    EXPECT_EQ(readFile(target + "/keep"), "k");
}

// An empty list is still written; reading it back says there is nothing to list.
TEST(SdiWriter, EmptyListReadsBackAsNoData) {
    TempDir dir;
    std::string target = dir.file("x_sd1.sgml");
    std::unique_ptr<Sdi> sdi = newSdi(0);
    ASSERT_TRUE(sdi);
    sdi->setMetadata(TAVRLANG_EN, "1/1553-ABC 901 00 Uen", "A", "Empty", nullptr, nullptr, nullptr, "2003-04-17");
    ASSERT_EQ(sdi->output(target.c_str()), 1) << sdi->getError();
    EXPECT_NE(readFile(target).find("<body>\n</body>\n</tavr>\n"), std::string::npos);
    std::unique_ptr<Sdi> back = newSdi(0);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->prepareDocument(target.c_str()), 0);
    EXPECT_NE(back->getError().find("SDI file contains no data to parse."), std::string::npos) << back->getError();
    EXPECT_EQ(back->title, "Empty");
}

TEST(SdiWriter, MissingDirectoryIsReported) {
    std::unique_ptr<Sdi> sdi = demoList();
    ASSERT_TRUE(sdi);
    EXPECT_EQ(sdi->output("/nonexistent-dir-of-sdi-test/x_sd1.sgml"), 0);
    EXPECT_NE(sdi->getError().find("Cannot create SDI output file, No such file or directory "
                                   "'&#47;nonexistent-dir-of-sdi-test&#47;x_sd1.sgml'.<br><br>"),
              std::string::npos)
        << sdi->getError();
}

// ---- round trip of canonical trees

// Texts compare as the reader can give them back: controls gone, edges
// trimmed, "" as none.
std::optional<std::string> normal(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::vector<char> buf(4096);
    removeControls(buf.data(), text->c_str(), 4096);
    if (buf[0] == '\0') return std::nullopt;
    return std::string(buf.data());
}

class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : rng_(seed) {}

    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

    std::string words(int most) {
        static const char* const kWords[] = {"System", "Description", "Alpha", "beta", "R2A",  "&trade;", "x",
                                             "Zone-1", "(draft)",     "50%",   "a/b",  "&#233;", "Ops", "ge=2"};
        std::string out;
        for (int i = 0, n = 1 + pick(most); i < n; ++i) {
            if (i) out += ' ';
            out += kWords[pick(sizeof kWords / sizeof *kWords)];
        }
        return out;
    }
    // Plain words: expandString leaves them as they are.
    std::string plain(int most) {
        static const char* const kPlain[] = {"New", "in", "R2A", "Changed", "see", "chapter", "3", "x-y"};
        std::string out;
        for (int i = 0, n = 1 + pick(most); i < n; ++i) {
            if (i) out += ' ';
            out += kPlain[pick(sizeof kPlain / sizeof *kPlain)];
        }
        return out;
    }
    std::string docno() {
        return std::to_string(1000 + pick(9000)) + "-ABC 901 " + std::to_string(10 + pick(90)) + " Uen " +
               static_cast<char>('A' + pick(6));
    }
    std::optional<std::string> maybe(std::string text) {
        if (pick(3) == 0) return std::nullopt;
        return text;
    }

    void table(Sdi* sdi, SdiEntry* parent) {
        for (int i = 0, n = pick(3); i < n; ++i) row(sdi, parent, SDIENTRY_DOCHEAD);
        for (int i = 0, n = 1 + pick(4); i < n; ++i) row(sdi, parent, SDIENTRY_DOCUMENT);
        sdi->addSdiEntry(parent, SDIENTRY_SEPARATOR, nullptr, nullptr, nullptr, nullptr);
    }
    void row(Sdi* sdi, SdiEntry* parent, SdiEntryType type) {
        std::string t = words(4), d = docno();
        std::optional<std::string> c = maybe(plain(4)), e = maybe(words(3));
        sdi->addSdiEntry(parent, type, t.c_str(), d.c_str(), c ? c->c_str() : nullptr, e ? e->c_str() : nullptr);
    }
    // Non-headings first, then headings: what follows a heading is its content.
    void level(Sdi* sdi, SdiEntry* parent, int depth) {
        for (int i = 0, n = pick(4); i < n; ++i) {
            std::string t = words(5);
            switch (pick(3)) {
            case 0: sdi->addSdiEntry(parent, SDIENTRY_PARA, t.c_str(), nullptr, nullptr, nullptr); break;
            case 1: sdi->addSdiEntry(parent, SDIENTRY_XMP, t.c_str(), nullptr, nullptr, nullptr); break;
            default: table(sdi, parent); break;
            }
        }
        if (depth > kSdiHeadingLevelMax) return;
        static const char* const kRoles[] = {nullptr, "MOD-DESC", "mod_2", "lib_ref", "FETCH_ONLY", "File_Ref"};
        for (int i = 0, n = pick(depth == 1 ? 4 : 3); i < n; ++i) {
            const char* role = kRoles[pick(6)];
            std::string t = words(3);
            SdiEntry* h = sdi->addSdiEntry(parent, SDIENTRY_HEADING, t.c_str(), role, nullptr, nullptr);
            bool leaf = role && (strcasecmp(role, "lib_ref") == 0 || strcasecmp(role, "FETCH_ONLY") == 0 ||
                                 strcasecmp(role, "File_Ref") == 0);
            if (!leaf) level(sdi, h, depth + 1);
        }
    }

    // Person texts: no markup characters, no edge blanks.
    std::string personText(int most) {
        static const char* const kParts[] = {"John", "Anna-Lena", "O'Brien", "Box 1505", "SE-125 25",
                                             "Stockholm", "(acting)", "Dept. 4/B", "+46", "Ltd.", "x"};
        std::string out;
        for (int i = 0, n = 1 + pick(most); i < n; ++i) {
            if (i) out += ' ';
            out += kParts[pick(sizeof kParts / sizeof *kParts)];
        }
        return out;
    }
    std::optional<std::string> maybePerson(int most) {
        if (pick(3) == 0) return std::nullopt;
        return personText(most);
    }
    // Any address and phone form a written list can hold.
    TavrPerson* person() {
        auto* tp = new TavrPerson();
        tp->name = maybePerson(3);
        (pick(2) ? tp->initials : tp->signature) = maybePerson(1);
        switch (pick(3)) {
        case 0:
            tp->addressType = TAVRADDRESS_INTERNAL;
            tp->internalAddress = {maybePerson(1), maybePerson(1), maybePerson(2)};
            break;
        case 1:
            tp->addressType = TAVRADDRESS_EXTERNAL;
            tp->ext_addr = maybePerson(4);
            break;
        default:
            tp->addressType = XTAVRADDRESS;
            for (int i = 0, n = 1 + pick(4); i < n; ++i) tp->XTAVRaddress.line.push_back(personText(3));
            break;
        }
        switch (pick(3)) {
        case 0: break;
        case 1:
            tp->phoneType = TAVRPHONE_ECN;
            tp->ECN_phone = {std::to_string(100 + pick(900)), maybePerson(1)};
            break;
        default:
            tp->phoneType = TAVRPHONE_PUBLIC;
            tp->public_no = maybePerson(2);
            break;
        }
        return tp;
    }

    std::unique_ptr<Sdi> tree() {
        std::unique_ptr<Sdi> sdi = newSdi(0);
        if (!sdi) return nullptr;
        static const char* const kPersons[] = {nullptr, "AB/CD/EF SMITH John", "XY/ZW BERG Anna"};
        // Without a language of its own, the list takes its number's, if any.
        static const char* const kNumberLangs[] = {" Uen", " Ufi", ""};
        std::string d = "1/1553-ABC 901 " + std::to_string(10 + pick(90)) + kNumberLangs[pick(3)], title = words(3);
        // Every language the reader knows, and none.
        int lang = pick(kTavrLangCount);
        sdi->setMetadata(lang == TAVRLANG_X ? TAVRLANG_NOTSET : static_cast<TavrLang>(lang), d.c_str(), "B",
                         title.c_str(), kPersons[pick(3)], kPersons[pick(3)], kPersons[pick(3)], "2003-04-17");
        for (TavrPerson** slot : {&sdi->dp->drafted_by, &sdi->dp->approved_by, &sdi->dp->checked_by,
                                  &sdi->dp->factual_supervisor}) {
            if (pick(2)) continue;
            sdi->dp->freeTavrPerson(*slot);
            *slot = person();
        }
        sdi->sdiVersion = kSdiVersionWritten;
        sdi->subtitle = maybe(words(3));
        sdi->userinfo = maybe(words(2));
        std::optional<std::string>* optional[] = {&sdi->copyright, &sdi->disclaimer, &sdi->trademark,
                                                  &sdi->lti,       &sdi->lid,        &sdi->lrs};
        for (auto* member : optional) *member = maybe(words(3));
        level(sdi.get(), nullptr, 1);
        // An empty list reads back as an error, not as an empty list.
        if (!sdi->root) sdi->addSdiEntry(nullptr, SDIENTRY_PARA, "only", nullptr, nullptr, nullptr);
        return sdi;
    }

private:
    std::mt19937 rng_;
};

std::string diffEntries(const SdiEntry* a, const SdiEntry* b, const std::string& where) {
    for (int i = 0; a || b; ++i, a = a->next, b = b->next) {
        std::string at = where + "/" + std::to_string(i);
        if (!a || !b) return at + ": entry count differs";
        if (a->type != b->type) return at + ": type " + std::to_string(a->type) + " read " + std::to_string(b->type);
        if (a->flags != b->flags) return at + ": flags differ";
        const std::optional<std::string>* fa[] = {&a->title, &a->engtitle, &a->module, &a->docno, &a->comment};
        const std::optional<std::string>* fb[] = {&b->title, &b->engtitle, &b->module, &b->docno, &b->comment};
        for (int f = 0; f < 5; ++f) {
            if (normal(*fa[f]) != normal(*fb[f]))
                return at + ": field " + std::to_string(f) + " '" + fa[f]->value_or("(null)") + "' read '" +
                       fb[f]->value_or("(null)") + "'";
        }
        std::string child = diffEntries(a->child, b->child, at);
        if (!child.empty()) return child;
    }
    return "";
}

// A person as its forms and texts, one entry per address line; a missing
// one is the empty internal record the skeleton reads back as.
std::vector<std::optional<std::string>> personTexts(const TavrPerson* p) {
    TavrPerson empty;
    empty.addressType = TAVRADDRESS_INTERNAL;
    if (!p) p = &empty;
    std::vector<std::optional<std::string>> t = {std::to_string(p->addressType),
                                                 std::to_string(p->phoneType),
                                                 p->name,
                                                 p->signature,
                                                 p->initials,
                                                 p->internalAddress.location,
                                                 p->internalAddress.company,
                                                 p->internalAddress.department,
                                                 p->ext_addr,
                                                 p->ECN_phone.ECN_code,
                                                 p->ECN_phone.extension,
                                                 p->public_no,
                                                 p->next ? "chain" : ""};
    for (const std::string& line : p->XTAVRaddress.line) t.push_back(line);
    for (auto& text : t) text = normal(text);
    return t;
}

std::string shownPerson(const std::vector<std::optional<std::string>>& texts) {
    std::string out;
    for (const auto& text : texts) out += "'" + text.value_or("(null)") + "' ";
    return out;
}

std::string diffLists(Sdi* a, Sdi* b) {
    const std::optional<std::string>* ma[] = {&a->docno,    &a->docrev,     &a->datey,     &a->datem, &a->dated,
                                              &a->title,    &a->subtitle,   &a->userinfo,  &a->copyright,
                                              &a->disclaimer, &a->trademark, &a->lti,      &a->lid,   &a->lrs,
                                              &a->sdiVersion};
    const std::optional<std::string>* mb[] = {&b->docno,    &b->docrev,     &b->datey,     &b->datem, &b->dated,
                                              &b->title,    &b->subtitle,   &b->userinfo,  &b->copyright,
                                              &b->disclaimer, &b->trademark, &b->lti,      &b->lid,   &b->lrs,
                                              &b->sdiVersion};
    for (size_t i = 0; i < sizeof ma / sizeof *ma; ++i) {
        if (normal(*ma[i]) != normal(*mb[i]))
            return "meta " + std::to_string(i) + " '" + ma[i]->value_or("(null)") + "' read '" +
                   mb[i]->value_or("(null)") + "'";
    }
    if (a->language != b->language) return "language differs";
    const TavrPerson* pa[] = {a->dp->drafted_by, a->dp->approved_by, a->dp->checked_by, a->dp->factual_supervisor};
    const TavrPerson* pb[] = {b->dp->drafted_by, b->dp->approved_by, b->dp->checked_by, b->dp->factual_supervisor};
    for (int i = 0; i < 4; ++i) {
        if (personTexts(pa[i]) != personTexts(pb[i]))
            return "person " + std::to_string(i) + " " + shownPerson(personTexts(pa[i])) + "read " +
                   shownPerson(personTexts(pb[i]));
    }
    return diffEntries(a->root, b->root, "");
}

// The generated document as bytes, without a file.
std::string printed(Sdi* sdi) {
    if (!sdi->generate()) return "";
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    if (!f) return "";
    int ok = sdi->ss->printNodeList(sdi->osnl.get(), f);
    std::fclose(f);
    std::string out = ok ? std::string(data, size) : "";
    std::free(data);
    return out;
}

std::unique_ptr<Sdi> readBack(const std::string& bytes) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi || !sdi->registerInput(bytes.data(), bytes.size()) || !sdi->getMetaData() || !sdi->parseDocument())
        return nullptr;
    return sdi;
}

// 1,000 seeded trees in four cases of 250, each well inside a case's time.
// SDI_ROUNDTRIP_DIR keeps every written file there, for the markup checker.
class SdiRoundTrip : public ::testing::TestWithParam<unsigned> {};

TEST_P(SdiRoundTrip, CanonicalTreesReadBackAndWriteTheSameBytes) {
    std::optional<std::string> keep = test::envValue("SDI_ROUNDTRIP_DIR");
    unsigned firstSeed = 1 + GetParam() * 250;
    for (unsigned seed = firstSeed; seed < firstSeed + 250; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TreeMaker maker(seed);
        std::unique_ptr<Sdi> tree = maker.tree();
        ASSERT_TRUE(tree);
        std::string first = printed(tree.get());
        ASSERT_FALSE(first.empty()) << tree->getError();
        if (keep) writeFile(*keep + "/rt" + std::to_string(seed) + "_sd1.sgml", first);
        std::unique_ptr<Sdi> back = readBack(first);
        ASSERT_TRUE(back);
        std::string diff = diffLists(tree.get(), back.get());
        ASSERT_EQ(diff, "") << first;
        back->closeInput();
        ASSERT_EQ(printed(back.get()), first);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SdiRoundTrip, ::testing::Range(0u, 4u));

}  // namespace
}  // namespace ruva
