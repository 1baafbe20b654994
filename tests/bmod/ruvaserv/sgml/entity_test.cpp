#include "bmod/ruvaserv/sgml/entity.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/embedded_image.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

constexpr size_t kBufSize = 1024;

struct Expanded {
    int count;
    std::string text;
};

Expanded expand(Entity& entity, const char* src, size_t bufsize = kBufSize) {
    std::vector<char> buf(bufsize, '\x7f');
    int count = entity.expandString(buf.data(), src, bufsize);
    return {count, count < 0 ? std::string() : std::string(buf.data())};
}

std::string reverse(Entity& entity, const char* src, size_t bufsize = kBufSize) {
    std::vector<char> buf(bufsize, '\x7f');
    EXPECT_EQ(entity.reverseString(buf.data(), src, bufsize), 1);
    return buf.data();
}

// A source text and what a conversion makes of it.
struct TextCase {
    const char* src;
    std::string text;
};

template <class Convert>
void expectEach(std::initializer_list<TextCase> cases, Convert convert) {
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.src);
        EXPECT_EQ(convert(c.src), c.text);
    }
}

std::unique_ptr<Entity> make(uint16_t flags = 0) {
    auto entity = newEntity(flags);
    EXPECT_TRUE(entity);
    return entity;
}

// The tables as written down, "name text" per row in load order, so a
// mistyped or reordered row shows here rather than in a page.
std::string listRows(const EntityRow* rows, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; i++) out += std::string(rows[i].name) + " " + rows[i].replacement + "\n";
    return out;
}

TEST(Entity, TablesHoldEveryRowInLoadOrder) {
    const char* chars =
        "ast *\nboxdl \\\nboxdr /\nboxh -\nboxhd -\nboxhu -\nboxul /\nboxur \\\n"
        "boxv |\nboxvh +\nboxvl +\nboxvr +\nbsol \\\ncolon :\ncommat @\ndollar $\n"
        "emsp  \nensp  \nequals =\nge &gt;=\ngml :\ngrave `\nharr ->\nhellip ...\n"
        "inches \"\nlarr <-\nlcub {\nldquo \"\nle &lt;=\nlowbar _\nlpar (\nlsqb [\n"
        "lsquo `\nmdash -\nminus -\nndash -\nnum #\nnumsp  \nohm ohm\npercnt %\n"
        "period .\nplus +\nrarr ->\nrcub }\nrdquo \"\nrpar )\nrsqb ]\nrsquo '\n"
        "semi ;\nshy -\nsol /\nthinsp \ntilde ~\ntrade (TM)\nverbar |\nuarr |\n";
    EXPECT_EQ(listRows(charEntities.data(), charEntities.size()), chars);
    const char* lines =
        "boxv \x80\nboxvl \x81\nboxdl \x82\nboxur \x83\nboxhu \x84\nboxhd \x85\n"
        "boxvr \x86\nboxh \x87\nboxvh \x88\nboxul \x89\nboxdr \x8a\n";
    EXPECT_EQ(listRows(lineEntities.data(), lineEntities.size()), lines);
    const char* iso =
        "acute \xb4\nthorn \xfe\nTHORN \xde\nuacute \xfa\nugrave \xf9\nucirc \xfb\nuuml \xfc\n"
        "Uacute \xda\nUcirc \xdb\nUgrave \xd9\nUuml \xdc\nygrave \xfd\nyuml \xff\nYacute \xdd\n"
        "aacute \xe1\nagrave \xe0\nacirc \xe2\natilde \xe3\nauml \xe4\naring \xe5\naelig \xe6\n"
        "Aacute \xc1\nAgrave \xc0\nAcirc \xc2\nAtilde \xc3\nAuml \xc4\nAring \xc5\nAElig \xc6\n"
        "bull \xb7\ncent \xa2\ncurren \xa4\nccedil \xe7\nCcedil \xc7\ndeg \xb0\neacute \xe9\n"
        "egrave \xe8\necirc \xea\neuml \xeb\neth \xf0\nETH \xd0\nEacute \xc9\nEcirc \xca\n"
        "Egrave \xc8\nEuml \xcb\niacute \xed\nicirc \xee\nigrave \xec\niuml \xef\nIacute \xcd\n"
        "Icirc \xce\nIgrave \xcc\nIuml \xcf\nmicro \xb5\nntilde \xf1\nNtilde \xd1\nograve \xf2\n"
        "oacute \xf3\nocirc \xf4\notilde \xf5\nouml \xf6\noslash \xf8\nOacute \xd3\nOgrave \xd2\n"
        "Ocirc \xd4\nOslash \xd8\nOtilde \xd5\nOuml \xd6\nplusmn \xb1\npound \xa3\nreg \xae\n"
        "ring \xb0\nszlig \xdf\nsect \xa7\ntimes \xd7\n";
    EXPECT_EQ(listRows(charEntitiesISO_8859_1.data(), charEntitiesISO_8859_1.size()), iso);
}

// Every loaded row expands to its text; the line entities replace the
// ASCII rows of their names only when asked for.
TEST(Entity, EveryLoadedRowExpandsToItsText) {
    for (uint16_t flags : {uint16_t{0}, kEntityLoadLines}) {
        SCOPED_TRACE(flags);
        auto entity = make(flags);
        ASSERT_TRUE(entity);
        std::map<std::string, std::string> want;
        for (const EntityRow& row : charEntities) want[row.name] = row.replacement;
        if (flags & kEntityLoadLines) {
            for (const EntityRow& row : lineEntities) want[row.name] = row.replacement;
        }
        EXPECT_EQ(entity->entityTree->nodeCount, kCharEntityRows);
        for (const auto& [name, text] : want) {
            SCOPED_TRACE(name);
            Expanded got = expand(*entity, ("&" + name + ";").c_str());
            EXPECT_EQ(got.count, 1);
            EXPECT_EQ(got.text, text);
        }
    }
    auto entity = make();
    ASSERT_TRUE(entity);
    ASSERT_EQ(entity->addISO8859_1Entities(), 1);
    for (const EntityRow& row : charEntitiesISO_8859_1) {
        EntityNode* node = entity->findEntity(row.name);
        ASSERT_TRUE(node) << row.name;
        EXPECT_STREQ(node->type.get(), row.replacement);
        EXPECT_EQ(node->flags, kEntityNodeBuiltin);
    }
}

TEST(Entity, ExpandStringCases) {
    struct Case {
        const char* src;
        uint16_t flags;
        int count;
        const char* text;
    } cases[] = {
        {"a<b>c", 0, 2, "a&lt;b&gt;c"},
        {"a<b", 0, 1, "a&lt;b"},
        // ge's own "&gt;" gets the second pass, which finds no entity gt.
        {"&ge;", 0, 1, "&gt;="},
        {"x &le; y", 0, 1, "x &lt;= y"},
        {"&#233;", 0, 1, "\xe9"},
        {"&#300;", 0, 0, "&#300;"},
        {"&#12345;", 0, 0, "&#12345;"},
        {"&#1234567;", 0, 0, "&#1234567;"},
        {"&#12345678;", 0, 0, "&#12345678;"},
        {"&#0255;", 0, 1, "\xff"},
        {"&#65B", 0, 1, "AB"},
        {"&#60;&#62;&#38;&#34;", 0, 4, "&lt;&gt;&amp;&quot;"},
        {"A&#0;B", 0, 1, "AB"},
        {"&#60;script&#62;", 0, 2, "&lt;script&gt;"},
        {"&#x41;", 0, 0, "&#x41;"},
        {"a & b", 0, 1, "a &amp; b"},
        {"a & b", kEntityStrictNames, 0, "a  b"},
        {"x&", 0, 1, "x&amp;"},
        {"&thinsp;x", 0, 1, "x"},
        {"&unknown;", 0, 0, "&unknown;"},
        {"&foo.", kEntityStrictNames, 1, "&foo;"},
        {"&foo.", 0, 0, "&foo."},
        {"&boxv;", kEntityLoadLines, 1, "\x80"},
        {"&boxv;", 0, 1, "|"},
        {"&trade, Inc", 0, 1, "(TM), Inc"},
        {"&trade x", 0, 1, "(TM) x"},
        {"&trade.", kEntityStrictNames, 1, "(TM)."},
        {"Installing &trade; Software", 0, 1, "Installing (TM) Software"},
        {"", 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        auto entity = make(c.flags);
        ASSERT_TRUE(entity);
        Expanded got = expand(*entity, c.src);
        EXPECT_EQ(got.count, c.count);
        EXPECT_EQ(got.text, c.text);
    }
}

// Output plus NUL stays inside bufsize: plain text is cut, a replacement
// that does not fit fails with its message.
TEST(Entity, ExpandStringFailsOrCutsAtTheBufferSize) {
    struct Case {
        const char* src;
        uint16_t flags;
        size_t bufsize;
        int count;
        const char* text;  // the message when count is -1
    } cases[] = {
        {"<<<", 0, 8, -1, "Buffer size 8 too small.<span style='color:#D8D8D8'> [entity/1]"},
        {">>>", 0, 8, -1, "Buffer size 8 too small.<span style='color:#D8D8D8'> [entity/2]"},
        {"ab&#300;", 0, 8, -1, "[entity/3]"},
        {"abc&#60;", 0, 7, -1, "[entity/3]"},
        {"abc&foo.", kEntityStrictNames, 8, -1, "[entity/4]"},
        {"abc&trade;", 0, 7, -1, "[entity/5]"},
        {"abc & d", 0, 8, -1, "Buffer size 8 too small.<span style='color:#D8D8D8'> [entity/5]"},
        {"abcdefgh", 0, 4, 0, "abc"},
        {"abcdefgh", 0, 1, 0, ""},
        {"ab&trade;", 0, 7, 1, "ab(TM)"},
        {"abc&#60;", 0, 8, 1, "abc&lt;"},
        {"&#300;", 0, 7, 0, "&#300;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        auto entity = make(c.flags);
        ASSERT_TRUE(entity);
        Expanded got = expand(*entity, c.src, c.bufsize);
        EXPECT_EQ(got.count, c.count);
        if (c.count < 0) {
            EXPECT_NE(entity->getError().find(c.text), std::string::npos) << entity->getError();
        } else {
            EXPECT_EQ(got.text, c.text);
        }
    }
}

TEST(Entity, ReverseStringCases) {
    auto entity = make();
    ASSERT_TRUE(entity);
    expectEach(
        {
            {"A&B", "A&amp;B"},
            {"&#38;", "&#38;"},
            {"\xa0", " "},
            {"&verylongname;", "&amp;verylongname;"},
            {"&trade; x", "&trade; x"},
            {"& x", "&amp; x"},
            {"a<b>", "a&lt;b>"},
            {"\xb0", "\xb0"},
        },
        [&](const char* src) { return reverse(*entity, src); });
    EXPECT_EQ(reverse(*entity, nullptr), "");
    EXPECT_EQ(entity->reverseString(nullptr, "x", 8), 0);
    EXPECT_NE(entity->getError().find("no destination buffer allocated in memory.<span"), std::string::npos);
}

// A replacement is written only whole, with room for the NUL.
TEST(Entity, ReverseStringEndsBeforeAReplacementThatDoesNotFit) {
    auto entity = make();
    ASSERT_TRUE(entity);
    std::string amps(127, '&');
    std::string want;
    for (int i = 0; i < 50; i++) want += "&amp;";
    EXPECT_EQ(reverse(*entity, amps.c_str(), 255), want);
    EXPECT_EQ(reverse(*entity, "ab<", 5), "ab");
    EXPECT_EQ(reverse(*entity, "ab<", 7), "ab&lt;");
}

// High bytes become the name of the first entity in key order whose text
// starts with them, and follow every change of the table.
TEST(Entity, ReverseStringNamesHighBytesAfterTheCurrentTable) {
    auto entity = make(kEntityLoadLines);
    ASSERT_TRUE(entity);
    EXPECT_EQ(reverse(*entity, "\x80\x8a"), "&boxv;&boxdr;");
    EXPECT_EQ(reverse(*entity, "\xb0"), "\xb0");
    ASSERT_EQ(entity->addISO8859_1Entities(), 1);
    EXPECT_EQ(reverse(*entity, "\xb0"), "&deg;");
    ASSERT_TRUE(entity->addEntity("alongername", "\xf7", nullptr, kEntityNodeBuiltin));
    EXPECT_EQ(reverse(*entity, "\xf7"), "&alonger;");
    entity->clear();
    EXPECT_EQ(reverse(*entity, "\xf7\xb0"), "\xf7\xb0");
}

TEST(Entity, ToAsciiCases) {
    auto entity = make();
    ASSERT_TRUE(entity);
    struct Case {
        const char* src;
        int count;
        const char* text;
    } cases[] = {
        {"&lt;b&gt; &amp; c", 3, "<b> & c"},
        {"&lt, x", 1, "<, x"},
        {"&AMP;&Lt;", 2, "&<"},
        {"a<b", 2, "a<b"},
        {"&ge;", 2, ">="},
        {"&quot; &amp.x", 0, "&quot; &amp.x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        char buf[kBufSize];
        EXPECT_EQ(entity->toAscii(buf, c.src, sizeof buf), c.count);
        EXPECT_STREQ(buf, c.text);
    }
    char buf[8];
    EXPECT_EQ(entity->toAscii(buf, nullptr, sizeof buf), -1);
    EXPECT_EQ(entity->toAscii(buf, "<<<", sizeof buf), -1);
    EXPECT_EQ(entity->expandString(nullptr, "x", sizeof buf), -1);
    EXPECT_NE(entity->getError().find("[entity/9]"), std::string::npos);
}

TEST(Entity, ConvertCharEntitiesCases) {
    auto entity = make();
    ASSERT_TRUE(entity);
    expectEach(
        {
            {"a&ge;b", "a&gt;=b"},
            {"&foo;x", "x"},
            // Replacements longer than their references do not eat what follows.
            {"&le;&le;&le;", "&lt;=&lt;=&lt;="},
            {"&#233;", "\xe9"},
            {"&#300;", "&#300;"},
            {"&#12345;", "&#12345;"},
            {"&#65B", "AB"},
            {"&#60;&#62;&#38;&#34;", "&lt;&gt;&amp;&quot;"},
            {"A&#0;B", "AB"},
            {"&# x", "&# x"},
            {"a & b", "a & b"},
            {"&trade, Inc", "(TM), Inc"},
            {"&trade x&", "(TM) x&"},
        },
        [&](const char* src) { return entity->convertCharEntities(src); });
}

TEST(Entity, EntityEscapeCases) {
    auto entity = make();
    ASSERT_TRUE(entity);
    expectEach(
        {
            {"a\tb", "a       b"},
            {"ab\tc", "ab      c"},
            {"x\r\ny\tz", "x\ny       z"},
            {"a&\tb", "a&amp;      b"},
            {"a<b&c", "a&lt;b&amp;c"},
            {"", ""},
        },
        [&](const char* src) { return entity->entityEscape(src, strlen(src)).value_or("(none)"); });
    // Grows past its first guess many times over.
    std::string amps(100000, '&');
    auto got = entity->entityEscape(amps.data(), amps.size());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), 500000u);
}

// Any change of the table makes the next clear reload it, dropping what
// was added; setFlags takes only its two bits.
TEST(Entity, ClearReloadsOnlyAfterAChange) {
    auto entity = make();
    ASSERT_TRUE(entity);
    EXPECT_TRUE(entity->flags & kEntityTableLoaded);
    EXPECT_FALSE(entity->addEntity("", "x", nullptr, 0));
    EXPECT_FALSE(entity->addEntity(nullptr, "x", nullptr, 0));
    EXPECT_TRUE(entity->flags & kEntityTableLoaded);

    // A long text is held in its own allocation; replacing frees it.
    std::string longText(100, 'L');
    ASSERT_TRUE(entity->addEntity("mine", longText.c_str(), "an-identifier", 0));
    ASSERT_TRUE(entity->addEntity("mine", "short", nullptr, 0));
    EXPECT_FALSE(entity->flags & kEntityTableLoaded);
    EXPECT_EQ(expand(*entity, "&mine;").text, "short");
    entity->clear();
    EXPECT_FALSE(entity->findEntity("mine"));
    EXPECT_TRUE(entity->flags & kEntityTableLoaded);

    entity->setError(msgFormat(255, "entity/9"));
    EXPECT_FALSE(entity->flags & kEntityTableLoaded);
    entity->clear();
    EXPECT_EQ(entity->getError(), "");

    entity->freeEntity(entity->addEntity("x", nullptr, nullptr, 0));
    EXPECT_FALSE(entity->flags & kEntityTableLoaded);

    entity->setFlags(0xffff);
    EXPECT_EQ(entity->flags, kEntityLoadLines | kEntityStrictNames);
    entity->clear();
    EXPECT_EQ(expand(*entity, "&boxh;").text, "\x87");

    ASSERT_TRUE(entity->addEntity("quiet", "loud", nullptr, kEntityNodeNoExpand));
    EXPECT_EQ(expand(*entity, "&quiet;").text, "&quiet;");
    EXPECT_EQ(entity->convertCharEntities("&quiet;"), "&quiet;");
}

// Heap buffers of exactly bufsize bytes: a write past them is a sanitizer
// report.
TEST(Entity, RandomInputsStayInsideTheirBuffers) {
    auto entity = make(kEntityLoadLines);
    ASSERT_TRUE(entity);
    ASSERT_EQ(entity->addISO8859_1Entities(), 1);
    const char* pieces[] = {"&",   "#",  "1",  "2",     "5",    "9",    ";",    ".",    "<",  ">",   "a",
                            " ",   "ge", "le", "trade", "boxv", "\xb0", "\xa0", "\xe9", "\t", "amp", "lt",
                            "foo", "_",  "-",  "%",     "&#",   "&#6",  "0",    "\x80", "deg"};
    std::mt19937 rng(26111);
    for (int i = 0; i < 100000; i++) {
        std::string src;
        int n = static_cast<int>(rng() % 24);
        for (int k = 0; k < n; k++) src += pieces[rng() % std::size(pieces)];
        size_t bufsize = 1 + rng() % 64;
        entity->setFlags((i & 1) ? kEntityLoadLines : kEntityLoadLines | kEntityStrictNames);
        std::unique_ptr<char[]> buf(new char[bufsize]);
        // Ended by a NUL inside the buffer even when the expansion fails.
        entity->expandString(buf.get(), src.c_str(), bufsize);
        ASSERT_LT(strlen(buf.get()), bufsize) << src;
        entity->toAscii(buf.get(), src.c_str(), bufsize);
        ASSERT_LT(strlen(buf.get()), bufsize) << src;
        ASSERT_EQ(entity->reverseString(buf.get(), src.c_str(), bufsize), 1);
        ASSERT_LT(strlen(buf.get()), bufsize) << src;
    }
}

// Image bytes; the registry names the file after whatever type they show.
const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};

std::string fileOf(Entity& entity, const char* name) {
    ImageEntry* entry = entity.ei ? entity.ei->findImageEntry(name) : nullptr;
    return entry ? entry->filename : "(none)";
}
const ImageEntryData kImages[] = {
    {kPng, sizeof kPng, "inches"}, {kPng, sizeof kPng, "boxv"}, {nullptr, 0, ""}};

TEST(Entity, ImageEntitiesWriteTheirFileOnFirstUse) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    auto entity = make();
    ASSERT_TRUE(entity);
    ASSERT_EQ(entity->initEmbeddedImages(kImages, "/img/", (dir.path() + "/").c_str()), 1);
    EXPECT_TRUE(entity->flags & kEntityImages);
    EntityNode* node = entity->findEntity("inches");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->flags, kEntityNodeBuiltin | kEntityNodeImage);
    // The old text becomes the alternative text, made safe for the attribute.
    EXPECT_STREQ(node->type.get(), ("<img class=\"ENTITYIMAGE\" src=\"/img/" + fileOf(*entity, "inches") +
                                    "\" alt=\"&quot;\" border=\"0\" />")
                                       .c_str());

    Expanded got = expand(*entity, "5&inches;");
    EXPECT_EQ(got.count, 1);
    EXPECT_EQ(got.text, std::string("5") + node->type.get());
    EXPECT_EQ(test::readFile(dir.file(fileOf(*entity, "inches"))),
              std::string(reinterpret_cast<const char*>(kPng), sizeof kPng));

    // A file already there is taken as written.
    test::writeFile(dir.file(fileOf(*entity, "boxv")), "kept");
    EXPECT_EQ(expand(*entity, "&boxv;").count, 1);
    EXPECT_EQ(test::readFile(dir.file(fileOf(*entity, "boxv"))), "kept");

    // Initialised again, image entities give no alternative text of their own.
    ASSERT_EQ(entity->initEmbeddedImages(nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(
        entity->findEntity("inches")->type.get(),
        ("<img class=\"ENTITYIMAGE\" src=\"/img/" + fileOf(*entity, "inches") + "\" alt=\"\" border=\"0\" />")
            .c_str());
    // A reload drops them.
    entity->clear();
    EXPECT_EQ(expand(*entity, "&inches;").text, "\"");
}

TEST(Entity, ImageEntityFailuresGiveTheirMessages) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    auto entity = make();
    ASSERT_TRUE(entity);
    ASSERT_EQ(entity->initEmbeddedImages(kImages, "", (dir.path() + "/missing/").c_str()), 1);
    EXPECT_EQ(expand(*entity, "&inches;").count, -1);
    EXPECT_NE(
        entity->getError().find("Failed to create embedded image file, No such file or directory '&#47;"),
        std::string::npos)
        << entity->getError();
    // Paths reach the page escaped.
    EXPECT_NE(entity->getError().find("&#47;missing&#47;" + fileOf(*entity, "inches") +
                                      "'.<span style='color:#D8D8D8'> [entity/7]"),
              std::string::npos);

    ASSERT_TRUE(entity->addEntity("ghost", "x", nullptr, kEntityNodeImage));
    EXPECT_EQ(expand(*entity, "&ghost;").count, -1);
    EXPECT_NE(entity->getError().find("Failed to find embedded image entry 'ghost'.<span"),
              std::string::npos);
}

// A file that could not be written whole is removed, or every later page
// would link a broken image.
TEST(Entity, ImageFileThatFailsToWriteIsRemoved) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    int status = test::inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8, 8};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
        auto entity = newEntity(0);
        if (!entity || !entity->initEmbeddedImages(kImages, "", (dir.path() + "/").c_str())) return 2;
        char buf[kBufSize];
        if (entity->expandString(buf, "&inches;", sizeof buf) != -1) return 3;
        if (entity->getError().find("Failed to output embedded image, Failed to write image, ") != 0)
            return 4;
        if (entity->getError().find("[entity/6]") == std::string::npos) return 5;
        struct stat st;
        return stat(dir.file(fileOf(*entity, "inches")).c_str(), &st) == 0 ? 6 : 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace ruva
