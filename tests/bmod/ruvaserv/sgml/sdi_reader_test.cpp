#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/sgml/sdi.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

const std::string kFixtureDir = SDI_FIXTURE_DIR;
constexpr std::string_view kDoctype =
    "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n";

std::string sdiDoc(std::string_view meta, std::string_view body) {
    std::string doc(kDoctype);
    doc += "<TAVR>\n<META-DATA>\n";
    doc += meta;
    doc += "</META-DATA>\n<BODY>\n";
    doc += body;
    doc += "</BODY>\n</TAVR>\n";
    return doc;
}

// A message as the table gives it: the text, then its tag.
std::string tagged(const std::string& text, const char* tag) {
    return text + "<span style='color:#D8D8D8'> [" + tag + "]</span>";
}

std::string bodyDoc(std::string_view body) {
    return sdiDoc("<TITLE>t</TITLE>\n", body);
}

std::string table(std::string_view rows) {
    return "<TABLE><TGROUP COLS=\"3\"><TBODY>\n" + std::string(rows) + "</TBODY></TGROUP></TABLE>\n";
}

std::string show(const std::optional<std::string>& v) {
    return v ? '"' + *v + '"' : "~";
}

const char* typeName(SdiEntryType t) {
    static const char* const kNames[] = {"NOTSET", "HEADING",   "DOCUMENT", "PARA",
                                         "XMP",    "SEPARATOR", "DOCHEAD"};
    return t <= SDIENTRY_DOCHEAD ? kNames[t] : "?";
}

// One line per entry through scanSdiTree: level, type, then the texts the
// type carries.
std::string entries(Sdi& sdi) {
    std::string out;
    EXPECT_EQ(sdi.scanSdiTree(
                  [](Sdi*, void* data, SdiEntry* e, int level) {
                      std::string& s = *static_cast<std::string*>(data);
                      s += std::to_string(level) + ' ' + typeName(e->type);
                      if (e->type == SDIENTRY_HEADING) s += " module=" + show(e->module);
                      if (e->type != SDIENTRY_SEPARATOR) s += ' ' + show(e->title);
                      if (e->engtitle) s += " eng=" + show(e->engtitle);
                      if (e->type == SDIENTRY_DOCUMENT || e->type == SDIENTRY_DOCHEAD)
                          s += " | " + show(e->docno) + " | " + show(e->comment);
                      if (e->flags) s += " flags=" + std::to_string(e->flags);
                      s += '\n';
                      return 1;
                  },
                  &out),
              1);
    return out;
}

// Reads bytes that end at an inaccessible page; 0 at the first failing step.
int readAll(Sdi& sdi, std::string_view bytes) {
    test::PageEndText text(bytes);
    return sdi.registerInput(text.data(), text.size()) && sdi.getMetaData() && sdi.parseDocument();
}

std::string fixture() {
    return test::readFile(kFixtureDir + "/demo_sd1.sgml");
}

// The golden dump with the file line sdidump prints for `name`.
std::string goldenFor(const std::string& name) {
    std::string golden = test::readFile(kFixtureDir + "/demo_sd1.dump");
    return "file=\"" + name + "\"" + golden.substr(golden.find('\n'));
}

TEST(SdiReader, FixtureDumpEqualsGoldenByPathAndStandardInput) {
    const std::string dump = SDIDUMP_PATH;
    const std::string path = kFixtureDir + "/demo_sd1.sgml";
    struct Case {
        const char* name;
        std::string cmd;
        std::string expected;
        int status;
    };
    const Case cases[] = {
        {"path", "cd " + kFixtureDir + " && " + dump + " demo_sd1.sgml", goldenFor("demo_sd1.sgml"), 0},
        {"piped", "cat " + path + " | " + dump + " -", goldenFor("-"), 0},
        {"piped text", "printf 'plain words, no markup at all' | " + dump + " -",
         "file=\"-\"\nerror=\"" + tagged("Invalid SDI document type Text.<br><br>", "sdi/6") + "\"\n", 1},
        {"empty input", dump + " - </dev/null",
         "file=\"-\"\nerror=\"" +
             tagged("Failed to map file in memory, Invalid argument '-'.<br><br>", "sdi/4") + "\"\n",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int status = -1;
        EXPECT_EQ(test::capture(c.cmd, &status), c.expected);
        EXPECT_EQ(status, c.status);
    }
}

// A reading as one text, to compare two objects.
std::string reading(Sdi& sdi) {
    std::string s;
    for (const auto* v : {&sdi.sdiVersion, &sdi.docno, &sdi.docrev, &sdi.datey, &sdi.datem, &sdi.dated,
                          &sdi.title, &sdi.subtitle, &sdi.userinfo, &sdi.copyright, &sdi.disclaimer,
                          &sdi.trademark, &sdi.lti, &sdi.lid, &sdi.lrs})
        s += show(*v) + '\n';
    s += std::to_string(sdi.language) + '\n';
    for (TavrPerson* p :
         {sdi.dp->drafted_by, sdi.dp->checked_by, sdi.dp->factual_supervisor, sdi.dp->approved_by})
        s += p ? show(p->name) + show(p->signature) + show(p->initials) + '\n' : "~\n";
    return s + entries(sdi);
}

TEST(SdiReader, RegisteredBytesReadAsTheFileDoes) {
    auto byFile = newSdi(0), byMemory = newSdi(0);
    ASSERT_TRUE(byFile && byMemory);
    ASSERT_TRUE(byFile->prepareDocument((kFixtureDir + "/demo_sd1.sgml").c_str())) << byFile->getError();
    ASSERT_TRUE(readAll(*byMemory, fixture())) << byMemory->getError();
    EXPECT_EQ(reading(*byMemory), reading(*byFile));
    EXPECT_EQ(byFile->inName, kFixtureDir + "/demo_sd1.sgml");
    // A second parse replaces the first tree.
    const std::string once = entries(*byMemory);
    ASSERT_TRUE(byMemory->parseDocument()) << byMemory->getError();
    EXPECT_EQ(entries(*byMemory), once);
    // closeInput kept the reading; a later parse has no body to walk.
    EXPECT_EQ(byFile->parseDocument(), 0);
    EXPECT_EQ(byFile->getError(), tagged("Sdi not initialized, cannot parse.<br><br>", "sdi/13"));
}

TEST(SdiReader, UserInfoTextAndVersion) {
    struct Case {
        const char* meta;
        std::optional<std::string> version, info;
    };
    const Case cases[] = {
        {"<USER-INFO ID=\"v2.2\">Zone list</USER-INFO>\n", "v2.2", "Zone list"},
        {"<USER-INFO id=\"v2.3\"></USER-INFO>\n", "v2.3", std::nullopt},
        {"<USER-INFO>Zone list</USER-INFO>\n", std::nullopt, "Zone list"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meta);
        auto sdi = newSdi(0);
        ASSERT_TRUE(readAll(*sdi, sdiDoc(c.meta, "<P>x</P>\n"))) << sdi->getError();
        EXPECT_EQ(sdi->sdiVersion, c.version);
        EXPECT_EQ(sdi->userinfo, c.info);
    }
}

TEST(SdiReader, PersonThatCannotBeReadLeavesItsSlotEmpty) {
    auto sdi = newSdi(0);
    const char* meta =
        "<DRAFTED-BY></DRAFTED-BY>\n<APPROVED-BY><PERSON><NAME>Anna Berg</NAME></PERSON></APPROVED-BY>\n";
    ASSERT_TRUE(readAll(*sdi, sdiDoc(meta, "<P>x</P>\n"))) << sdi->getError();
    EXPECT_EQ(sdi->dp->drafted_by, nullptr);
    ASSERT_NE(sdi->dp->approved_by, nullptr);
    EXPECT_EQ(sdi->dp->approved_by->name, "Anna Berg");
}

TEST(SdiReader, LanguageFromCodeElseFromTheDocumentNumber) {
    struct Case {
        const char* docid;
        TavrLang lang;
    };
    const Case cases[] = {
        {"<DOC-NO>1/1553-ABC 901 00 Uen</DOC-NO>\n<LANGUAGE CODE=\"sv\">\n", TAVRLANG_SV},
        {"<DOC-NO>1/1553-ABC 901 00 Uen</DOC-NO>\n<LANGUAGE code=\"x\">\n", TAVRLANG_EN},
        {"<DOC-NO>1/1553-ABC 901 00 Usv</DOC-NO>\n", TAVRLANG_SV},
        {"<DOC-NO>1553-ABC 901 00</DOC-NO>\n<LANGUAGE CODE=\"x\">\n", TAVRLANG_NOTSET},
        {"<LANGUAGE CODE=\"De\">\n", TAVRLANG_DE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.docid);
        auto sdi = newSdi(0);
        std::string meta = std::string("<DOC-ID>\n") + c.docid + "</DOC-ID>\n";
        ASSERT_TRUE(readAll(*sdi, sdiDoc(meta, "<P>x</P>\n"))) << sdi->getError();
        EXPECT_EQ(sdi->language, c.lang);
    }
}

TEST(SdiReader, MissingMetaDataLeavesEveryMemberNull) {
    auto sdi = newSdi(0);
    std::string doc = std::string(kDoctype) + "<TAVR><BODY><P>x</P></BODY></TAVR>\n";
    ASSERT_TRUE(readAll(*sdi, doc)) << sdi->getError();
    EXPECT_EQ(sdi->language, TAVRLANG_NOTSET);
    for (const auto* v : {&sdi->sdiVersion, &sdi->docno, &sdi->docrev, &sdi->datey, &sdi->title,
                          &sdi->userinfo, &sdi->copyright, &sdi->lti})
        EXPECT_FALSE(*v);
    EXPECT_EQ(sdi->dp->drafted_by, nullptr);
}

TEST(SdiReader, BodyEntries) {
    struct Case {
        const char* name;
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {"one entry, four entries",
         table("<ROW><ENTRY>Only</ENTRY></ROW>\n"
               "<ROW><ENTRY>A</ENTRY><ENTRY>1/155 19-ABC "
               "1</ENTRY><ENTRY>c</ENTRY><ENTRY>fourth</ENTRY></ROW>\n"),
         "1 DOCUMENT \"Only\" | ~ | ~\n1 DOCUMENT \"A\" | \"1/155 19-ABC 1\" | \"c\" flags=8\n1 SEPARATOR\n"},
        {"body, head, body",
         "<TABLE><TGROUP COLS=\"2\"><TBODY><ROW><ENTRY>a</ENTRY></ROW></TBODY>"
         "<THEAD><ROW><ENTRY>h</ENTRY></ROW></THEAD><TBODY><ROW><ENTRY>b</ENTRY></ROW></TBODY>"
         "</TGROUP></TABLE>\n",
         "1 DOCUMENT \"a\" | ~ | ~\n1 SEPARATOR\n1 DOCHEAD \"h\" | ~ | ~\n1 DOCUMENT \"b\" | ~ | ~\n1 "
         "SEPARATOR\n"},
        {"example without preform", "<EXAMPLE><CAPTION>x</CAPTION></EXAMPLE>\n<P>y</P>\n", "1 PARA \"y\"\n"},
        {"names in any case, exact only",
         "<p>one</p>\n<chl1 role=\"file_ref\"><title>Ref</title><p>hidden</p></chl1>\n"
         "<Chl1><Title>Op</Title><Proced><p>in</p></Proced><Table><TGroup><TBody><Row><Entry>r</Entry></"
         "Row></TBody>"
         "</TGroup></Table></Chl1>\n",
         "1 PARA \"one\"\n1 HEADING module=\"file_ref\" \"Ref\"\n1 HEADING module=~ \"Op\"\n"
         "2 DOCUMENT \"r\" | ~ | ~\n2 SEPARATOR\n"},
        {"heading title only as first child element",
         "<CHL1><!-- c --><TITLE>First</TITLE><P>p</P></CHL1>\n<CHL1><P>q</P><TITLE>Late</TITLE></CHL1>\n",
         "1 HEADING module=~ \"First\"\n2 PARA \"p\"\n1 HEADING module=~ ~\n2 PARA \"q\"\n"},
        {"empty paragraph takes no later text", "<P></P>\n<P>second</P>\n", "1 PARA ~\n1 PARA \"second\"\n"},
        {"references expanded in number and comment only",
         table("<ROW><ENTRY>T &trade;</ENTRY><ENTRY>&#60;script&#62;</ENTRY><ENTRY>a &amp; b</ENTRY></ROW>\n"
               "<ROW><ENTRY>U</ENTRY><ENTRY>A&#0;B</ENTRY><ENTRY>&#233;</ENTRY></ROW>\n"),
         "1 DOCUMENT \"T &trade;\" | \"&lt;script&gt;\" | \"a &amp; b\" flags=8\n"
         "1 DOCUMENT \"U\" | \"AB\" | \"\xE9\" flags=8\n1 SEPARATOR\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sdi = newSdi(0);
        ASSERT_TRUE(readAll(*sdi, bodyDoc(c.body))) << sdi->getError();
        EXPECT_EQ(entries(*sdi), c.expected);
    }
}

TEST(SdiReader, FailuresNameTheirCause) {
    struct Case {
        const char* name;
        std::string doc;
        std::string error;
        const char* tag;
    };
    const Case cases[] = {
        {"7 bytes", "<TAVR>x", "Failed to determine file type of SDI file.<br><br>", "sdi/5"},
        {"xml first", "<?xml version=\"1.0\"?>\n" + bodyDoc("<P>x</P>"),
         "Invalid SDI document type Unknown.<br><br>", "sdi/6"},
        {"byte order mark", "\xEF\xBB\xBF" + bodyDoc("<P>x</P>"), "Invalid SDI document type Text.<br><br>",
         "sdi/6"},
        {"html 4.01", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<html><body>x</body></html>\n",
         "Invalid SDI document type SGML-HTML.<br><br>", "sdi/6"},
        {"html page", "<html><head><title>x</title></head><body>x</body></html>\n",
         "Invalid SDI document type HTML.<br><br>", "sdi/6"},
        {"xtavr", "<!DOCTYPE XTAVR PUBLIC \"-//VANDROVE//DTD XTAVR 1//EN\">\n<XTAVR></XTAVR>\n",
         "Invalid SDI document type SGML-XTAVR.<br><br>", "sdi/6"},
        {"doctype alone", std::string(kDoctype), "Cannot parse SDI, no TAVR element.<br><br>", "sdi/12"},
        // Paragraphs below other elements are not entries.
        {"no entries", bodyDoc("<DEF-LIST><DL-ITEM><TERM>a</TERM><DEF><P>b</P></DEF></DL-ITEM></DEF-LIST>\n"),
         "SDI file contains no data to parse.<br><br>", "sdi/14"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sdi = newSdi(0);
        EXPECT_EQ(readAll(*sdi, c.doc), 0);
        EXPECT_EQ(sdi->getError(), tagged(c.error, c.tag));
    }
}

TEST(SdiReader, TavrElementUnderAnXtavrIdentifierIsRead) {
    auto sdi = newSdi(0);
    std::string doc = bodyDoc("<P>x</P>\n");
    doc.replace(doc.find("DTD TAVR"), 8, "DTD XTAVR");
    ASSERT_TRUE(readAll(*sdi, doc)) << sdi->getError();
    EXPECT_EQ(entries(*sdi), "1 PARA \"x\"\n");
}

TEST(SdiReader, ScannerAndContextErrorsArePassedOn) {
    auto sdi = newSdi(0);
    std::string longTag = "<" + std::string(40, 'A') + ">";
    test::PageEndText bad(bodyDoc(longTag));
    EXPECT_EQ(sdi->registerInput(bad.data(), bad.size()), 0);
    EXPECT_EQ(
        sdi->getError().rfind("Could not build input node list, Failed during parsing, too long tag", 0), 0u)
        << sdi->getError();
    // LANGUAGE with an attribute is empty: closing it breaks the context.
    test::PageEndText closed(sdiDoc("<DOC-ID><LANGUAGE CODE=\"en\"></LANGUAGE></DOC-ID>\n", "<P>x</P>"));
    EXPECT_EQ(sdi->registerInput(closed.data(), closed.size()), 0);
    EXPECT_EQ(
        sdi->getError(),
        tagged("Illegal element 'LANGUAGE' in context: DOC-ID, META-DATA, TAVR.<br><br>", "scontext/6"));
}

TEST(SdiReader, FileThatCannotBeMappedGives292WithItsName) {
    test::TempDir dir;
    std::string empty = dir.file("<e>.sgml");
    test::writeFile(empty, "");
    auto sdi = newSdi(0);
    EXPECT_EQ(sdi->setInput(empty.c_str()), 0);
    // The path reaches a page: it is escaped.
    std::string shown;
    for (char c : dir.path()) shown += c == '/' ? std::string("&#47;") : std::string(1, c);
    EXPECT_EQ(sdi->getError(), tagged("Failed to map file in memory, Invalid argument '" + shown +
                                          "&#47;&#60;e&#62;.sgml'.<br><br>",
                                      "sdi/4"));
    EXPECT_EQ(sdi->setInput(dir.file("missing").c_str()), 0);
    EXPECT_EQ(sdi->getError().rfind("Failed to map file in memory, No such file or directory", 0), 0u);
}

TEST(SdiReader, ScanStopsWhenTheCallbackSaysSo) {
    auto sdi = newSdi(0);
    ASSERT_TRUE(readAll(*sdi, fixture())) << sdi->getError();
    int calls = 0;
    EXPECT_EQ(sdi->scanSdiTree(
                  [](Sdi*, void* n, SdiEntry*, int) {
                      ++*static_cast<int*>(n);
                      return 0;
                  },
                  &calls),
              0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sdi->getError(), "");
    EXPECT_EQ(sdi->scanSdiTree(nullptr, nullptr), 0);
    EXPECT_EQ(sdi->getError(), tagged("No callback function specified.<br><br>", "sdi/24"));
}

TEST(SdiReader, EveryPrefixOfTheFixtureIsReadOrRefused) {
    const std::string doc = fixture();
    auto sdi = newSdi(0);
    for (size_t n = 0; n <= doc.size(); ++n) {
        SCOPED_TRACE(n);
        int ok = readAll(*sdi, doc.substr(0, n));
        if (!ok) {
            EXPECT_NE(sdi->getError(), "");
        }
        if (n <= 7) {
            EXPECT_EQ(sdi->getError(), tagged("Failed to determine file type of SDI file.<br><br>", "sdi/5"));
        } else if (n == 8) {
            EXPECT_EQ(sdi->getError(), tagged("Invalid SDI document type Text.<br><br>", "sdi/6"));
        }
        if (n == doc.size()) {
            EXPECT_EQ(ok, 1);
        }
    }
}

TEST(SdiReader, HostileTexts) {
    auto sdi = newSdi(0);
    const std::string longTitle(10000, 'x');
    std::string body = "<P>" + longTitle + "</P>\n<P><![CDATA[<img src=x onerror=alert(1)>]]></P>\n";
    ASSERT_TRUE(readAll(*sdi, bodyDoc(body))) << sdi->getError();
    ASSERT_TRUE(sdi->root && sdi->root->next);
    EXPECT_EQ(sdi->root->title, std::string(kSdiTextMax, 'x'));
    EXPECT_EQ(sdi->root->next->title, "&lt;img src=x onerror=alert(1)>");
}

std::string rows(int count, bool endTags) {
    std::string r;
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        r += endTags ? "<ROW><ENTRY>Title " + n + "</ENTRY><ENTRY>1/155 19-ABC " + n + "</ENTRY></ROW>\n"
                     : "<ROW><ENTRY>Title " + n + "<ENTRY>1/155 19-ABC " + n + "\n";
    }
    return r;
}

// Runs body on a thread with a 256 KiB stack: a frame per row would overflow it.
void onSmallStack(const std::function<void()>& body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t t;
    auto run = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&t, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_attr_destroy(&attr);
    pthread_join(t, nullptr);
}

TEST(SdiReader, TwentyThousandRowsOnASmallStack) {
    for (bool endTags : {true, false}) {
        SCOPED_TRACE(endTags ? "closed entries" : "no entry end tags");
        const std::string doc = bodyDoc(table(rows(20000, endTags)));
        int read = 0;
        int counts[2] = {0, 0};  // entries visited, rows read right
        onSmallStack([&] {
            auto sdi = newSdi(0);
            read = readAll(*sdi, doc);
            sdi->scanSdiTree(
                [](Sdi*, void* data, SdiEntry* e, int) {
                    auto* counts = static_cast<int*>(data);
                    if (e->type == SDIENTRY_DOCUMENT && e->title == "Title " + std::to_string(counts[0]) &&
                        e->docno == "1/155 19-ABC " + std::to_string(counts[0]))
                        ++counts[1];
                    ++counts[0];
                    return 1;
                },
                counts);
            sdi->clear();
        });
        EXPECT_EQ(read, 1);
        EXPECT_EQ(counts[0], 20001);
        EXPECT_EQ(counts[1], 20000);
    }
}

}  // namespace
}  // namespace ruva
