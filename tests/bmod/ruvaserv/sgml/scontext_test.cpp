#include "bmod/ruvaserv/sgml/scontext.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/bmod/ruvaserv/sgml/context_walk.h"

namespace ruva {
namespace {

std::string span(int n) {
    return "<span style='color:#D8D8D8'> [scontext/" + std::to_string(n) + "]</span>";
}

using Attrs = std::initializer_list<std::pair<const char*, const char*>>;

// An SContext on the TAVR map (top element TAVR) whose callbacks log
// "(NAME" per push and ")NAME" per pop, blank-separated, over a node list
// built tag by tag.
class ContextLog : public ::testing::Test {
protected:
    void SetUp() override {
        ss = newSgmlScanner(0);
        ASSERT_TRUE(ss);
        list = ss->newNodeList(0);
        ASSERT_TRUE(list);
        sc = newSContext(MAPDTD_TAVR, 0);
        ASSERT_TRUE(sc);
        ASSERT_EQ(sc->setMap(MAPDTD_TAVR, "TAVR"), 1);
        sc->initCallbacks(&ContextLog::onPush, this, &ContextLog::onPop, this);
    }

    static int onPush(ContextEntry* e, void* data) { return static_cast<ContextLog*>(data)->note("(", e); }
    static int onPop(ContextEntry* e, void* data) {
        auto* self = static_cast<ContextLog*>(data);
        self->note(")", e);
        return self->popResult;
    }
    int note(const char* mark, const ContextEntry* e) {
        if (!log.empty()) log += ' ';
        log += mark;
        log += sc->getTagName(e->tagno);
        return 1;
    }

    // A tag's nodes: name, then each attribute's name and (when given)
    // value; the last one closes the tag. Returns the name node.
    SgmlNode* tag(const char* name, Attrs attrs = {}) {
        SgmlNode* first = ss->appendSgmlNode(list.get(), SPS_TAGNAME, name);
        SgmlNode* last = first;
        for (const auto& [attr, value] : attrs) {
            last = ss->appendSgmlNode(list.get(), SPS_TAGATTRNAME, attr);
            if (value) last = ss->appendSgmlNode(list.get(), SPS_TAGATTRVALUE, value);
        }
        last->flags |= kNodeTagEnd;
        return first;
    }
    int feed(const char* name, Attrs attrs = {}) {
        SgmlNode* n = tag(name, attrs);
        return name[0] == '/' ? sc->end(n) : sc->start(n);
    }
    // Feeds tags in order; the first failure's result, else 1.
    int feed(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (!feed(name)) return 0;
        }
        return 1;
    }
    int feedRepeated(const char* name, int times) {
        for (int i = 0; i < times; ++i) {
            if (!feed(name)) return 0;
        }
        return 1;
    }

    std::unique_ptr<SgmlScanner> ss;
    std::unique_ptr<SgmlNodeList> list;
    std::unique_ptr<SContext> sc;
    std::string log;
    int popResult = 1;
};

TEST_F(ContextLog, StartTagClosesElementsUntilOneAllowsIt) {
    ASSERT_EQ(feed({"TAVR", "BODY", "CHL1", "P", "CHL1"}), 1);
    EXPECT_EQ(log, "(TAVR (BODY (CHL1 (P )P )CHL1 (CHL1");
    EXPECT_EQ(sc->level, 3);
    EXPECT_EQ(sc->getParentTagno(nullptr), 22);  // BODY
    EXPECT_EQ(sc->printContextStack(), "<CHL1>, <BODY>, <TAVR>");
}

TEST_F(ContextLog, EmptyElementIsPoppedAtOnce) {
    ASSERT_EQ(feed({"TAVR", "BODY", "P"}), 1);
    ContextEntry* before = sc->cur;
    ASSERT_EQ(feed("XREF", {{"ref", "x"}}), 1);
    EXPECT_EQ(log, "(TAVR (BODY (P (XREF )XREF");
    EXPECT_EQ(sc->cur, before);
    EXPECT_EQ(sc->level, 3);
}

// LANGUAGE is empty only when its start tag carries an attribute; else it
// stays open until something ends it.
TEST_F(ContextLog, LanguageIsEmptyOnlyWithAnAttribute) {
    struct Case {
        const char* name;
        Attrs attrs;
        bool openAfterStart;
    };
    const Case cases[] = {
        {"value", {{"lang", "en"}}, false},
        {"valueless", {{"en", nullptr}}, false},
        {"none", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sc->clear();
        log.clear();
        ASSERT_EQ(feed("DOC-ID"), 1);
        ASSERT_EQ(feed("LANGUAGE", c.attrs), 1);
        EXPECT_EQ(sc->level, c.openAfterStart ? 2 : 1);
        ASSERT_EQ(feed("REV"), 1);
        EXPECT_EQ(log, "(DOC-ID (LANGUAGE )LANGUAGE (REV");
    }
}

TEST_F(ContextLog, OpenContentIgnoresForeignTagsAndTakesKnownOnes) {
    ASSERT_EQ(feed({"P", "FORMULA", "F"}), 1);
    ASSERT_EQ(feed({"NOSUCHTAG", "/P", "/NOSUCHTAG"}), 1);
    EXPECT_EQ(log, "(P (FORMULA (F");
    ASSERT_EQ(feed("EMPH"), 1);
    EXPECT_EQ(log, "(P (FORMULA (F (EMPH");
    ASSERT_EQ(feed("/F"), 1);
    EXPECT_EQ(log, "(P (FORMULA (F (EMPH )EMPH )F");
    EXPECT_EQ(sc->printContextStack(), "<FORMULA>, <P>");
}

TEST_F(ContextLog, LoneSlashEndsTheTopElement) {
    ASSERT_EQ(feed({"TAVR", "BODY", "/"}), 1);
    EXPECT_EQ(log, "(TAVR (BODY )BODY");
}

TEST_F(ContextLog, FailuresSetExactMessages) {
    struct Case {
        const char* name;
        std::initializer_list<const char*> tags;
        std::string message;
        const char* log;
    };
    const Case cases[] = {
        {"unknown tag", {"TAVR", "NOSUCHTAG"}, "Tag not in DTD 'NOSUCHTAG'.<br><br>" + span(2), "(TAVR"},
        {"stack popped empty, not the top element",
         {"P", "EMPH", "BODY"},
         "Element 'BODY' not allowed in context: EMPH, P.<br><br>" + span(3),
         "(P (EMPH )EMPH )P"},
        {"end tag on an empty stack", {"/P"}, "Context stack unexpectedly empty.<br><br>" + span(4), ""},
        {"unknown end tag",
         {"TAVR", "/NOSUCHTAG"},
         "Unrecognized end tag 'NOSUCHTAG'.<br><br>" + span(5),
         "(TAVR"},
        {"end tag of no open element",
         {"TAVR", "BODY", "/P"},
         "Illegal element 'P' in context: BODY, TAVR.<br><br>" + span(6),
         "(TAVR (BODY )BODY )TAVR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sc->clear();
        log.clear();
        EXPECT_EQ(feed(c.tags), 0);
        EXPECT_EQ(sc->getError(), c.message);
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(ContextLog, StackPoppedEmptyTakesTheTopElement) {
    ASSERT_EQ(feed({"BODY", "TAVR"}), 1);
    EXPECT_EQ(log, "(BODY )BODY (TAVR");
}

TEST_F(ContextLog, FailedPopCallbackStillPopsTheEntry) {
    ASSERT_EQ(feed({"TAVR", "BODY"}), 1);
    popResult = 0;
    EXPECT_EQ(sc->pop(), 0);
    EXPECT_EQ(sc->getError(), "Context handler failed.<br><br>" + span(9));
    EXPECT_EQ(sc->level, 1);
    EXPECT_EQ(sc->cur->tagno, 55);
    // empty stops at the first failed pop.
    EXPECT_EQ(sc->empty(), 0);
    EXPECT_EQ(sc->cur, nullptr);
    popResult = 1;
    EXPECT_EQ(sc->empty(), 1);
    EXPECT_EQ(sc->pop(), 0);
    EXPECT_EQ(sc->getError(), "Underflow in context stack.<br><br>" + span(8));
}

TEST_F(ContextLog, LookupsByName) {
    EXPECT_EQ(sc->findTagnameContext("P"), nullptr);
    EXPECT_EQ(sc->getError(), "Context stack is empty.<br><br>" + span(10));
    EXPECT_EQ(sc->printContextStack(), "[empty]");
    EXPECT_EQ(sc->getCurTagFlags(), 0);

    ASSERT_EQ(feed({"TAVR", "BODY", "BLOCK", "BLOCK", "P"}), 1);
    EXPECT_EQ(sc->findTagnameContext("<b>"), nullptr);
    EXPECT_EQ(sc->getError(), "Unknown tag in DTD '&#60;b&#62;'.<br><br>" + span(11));
    EXPECT_EQ(sc->countTagnameContexts("block"), 2);
    EXPECT_EQ(sc->countTagnameContexts("CHL1"), 0);
    ContextEntry* inner = sc->findTagnameContext("BLOCK");
    ASSERT_EQ(inner, sc->cur->parent);
    EXPECT_EQ(sc->findParentTagnameContext("BLOCK", inner->parent), inner->parent);
    EXPECT_EQ(sc->findParentTagnameContext("P", inner), nullptr);
    EXPECT_EQ(sc->getCurTagFlags(), kTagText);
    EXPECT_EQ(sc->getParentTagno(sc->findTagnameContext("TAVR")), -1);
    const int tagnos[] = {5, 999, -1, 22};
    EXPECT_EQ(sc->printTagnoList(tagnos), "P, [invalid], [invalid], BODY");
}

TEST_F(ContextLog, StackNamesNonTagEntries) {
    ASSERT_EQ(feed("TAVR"), 1);
    SgmlNode* text = ss->appendSgmlNode(list.get(), SPS_FREETEXT, "x");
    ASSERT_EQ(sc->push(text, 22), 1);
    ASSERT_EQ(sc->push(nullptr, 23), 1);
    EXPECT_EQ(sc->printContextStack(), "[nontag], [nontag], <TAVR>");
}

TEST_F(ContextLog, SetMapFailureAndClientStateInheritance) {
    EXPECT_EQ(sc->setMap(MAPDTD_COD, nullptr), 0);
    EXPECT_EQ(sc->getError(), "Failed to set DTD map.<br><br>" + span(1));
    EXPECT_EQ(sc->setMap(MAPDTD_TAVR, "nosuchtag"), 0);
    ASSERT_EQ(sc->setMap(MAPDTD_XTAVR, "DOC"), 1);
    EXPECT_EQ(sc->mapDtd, MAPDTD_XTAVR);
    ASSERT_EQ(feed("DOC"), 1);
    sc->cur->u[0] = 7;
    ASSERT_EQ(feed("BODY"), 1);
    EXPECT_EQ(sc->cur->u[0], 7u);
    EXPECT_EQ(sc->cur->dtd, MAPDTD_XTAVR);
    sc->cur->u[0] = 8;
    ASSERT_EQ(feed("/BODY"), 1);
    EXPECT_EQ(sc->cur->u[0], 7u);
}

// BLOCK allows BLOCK but not CHL1; BODY allows both.
TEST_F(ContextLog, ImpliedEndsStopAfter512Pops) {
    struct Case {
        const char* tag;
        int blocks;
        int result;
    };
    const Case cases[] = {
        {"CHL1", 512, 1}, {"CHL1", 513, 0}, {"CHL1", 600, 0}, {"/BODY", 511, 1}, {"/BODY", 512, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " under " + std::to_string(c.blocks));
        sc->clear();
        ASSERT_EQ(feed({"TAVR", "BODY"}), 1);
        ASSERT_EQ(feedRepeated("BLOCK", c.blocks), 1);
        ASSERT_EQ(sc->level, 2 + c.blocks);
        log.clear();
        EXPECT_EQ(feed(c.tag), c.result);
        if (c.result) continue;
        std::string popped = "BLOCK";
        for (int i = 1; i < 512; ++i) popped += ", BLOCK";
        std::string expected =
            c.tag[0] == '/' ? "Illegal element 'BODY' in context: " + popped + ".<br><br>" + span(6)
                            : "Element 'CHL1' not allowed in context: " + popped + ".<br><br>" + span(3);
        EXPECT_EQ(sc->getError(), expected);
        EXPECT_EQ(sc->level, 2 + c.blocks - 512);
    }
}

TEST_F(ContextLog, TraceIndentsByDepthUpTo31) {
    sc->flags |= kContextTrace;
    testing::internal::CaptureStderr();
    int ok = feedRepeated("BLOCK", 40) && sc->pop();
    std::string trace = testing::internal::GetCapturedStderr();
    ASSERT_EQ(ok, 1);
    std::string expected;
    for (int depth = 1; depth <= 40; ++depth)
        expected += std::string(depth < 31 ? depth : 31, ' ') + "<BLOCK>\n";
    expected += std::string(31, ' ') + "</BLOCK>\n";
    EXPECT_EQ(trace, expected);
}

// A table with a child whose start tag may be implied: A allows E, B and G
// (all 0x10), of which B and G allow C.
TEST(SContextTable, ImpliedParentIsTheFirstChildThatAllowsTheTag) {
    auto entry = [](const char* name, uint8_t flags, std::initializer_list<uint8_t> children) {
        TagEntry e{};
        e.flags = flags;
        std::fill(std::begin(e.map), std::end(e.map), kTagMapEnd);
        std::copy(children.begin(), children.end(), e.map);
        std::snprintf(e.name, sizeof e.name, "%s", name);
        return e;
    };
    const TagEntry table[] = {
        entry("A", 0, {3, 1, 4}),         entry("B", kTagImpliedStart, {2}), entry("C", 0, {}),
        entry("E", kTagImpliedStart, {}), entry("G", kTagImpliedStart, {2}),
    };
    std::unique_ptr<SContext> sc = newSContext(MAPDTD_UNKNOWN, 0);
    ASSERT_TRUE(sc);
    ASSERT_EQ(sc->tagMap->initTable(table, "A"), 1);
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    SgmlNode* a = ss->appendSgmlNode(list.get(), SPS_TAGNAME, "A");
    SgmlNode* c = ss->appendSgmlNode(list.get(), SPS_TAGNAME, "C");
    ASSERT_EQ(sc->start(a), 1);
    ASSERT_EQ(sc->start(c), 1);
    EXPECT_EQ(sc->printTagnoList(std::vector<int>{sc->cur->tagno, sc->cur->parent->tagno}), "C, B");
    EXPECT_EQ(sc->cur->parent->sn, c);
}

// A parameter entity can put markup into a tag name; the message shows it
// escaped.
TEST(SContextScanned, EntityInTagNameIsEscapedInMessage) {
    const std::string doc = "<!ENTITY % x \"<img/src=x/onerror=alert(1)>\"><a%x;>";
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    ASSERT_TRUE(ss);
    ASSERT_EQ(ss->registerInput(doc.data(), doc.size()), 1);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    ASSERT_EQ(ss->buildNodeList(list.get()), 1) << ss->getError();
    std::unique_ptr<SContext> sc = newSContext(MAPDTD_TAVR, 0);
    ASSERT_EQ(sc->setMap(MAPDTD_TAVR, "TAVR"), 1);
    EXPECT_EQ(test::walkContext(sc.get(), list.get()), 0);
    EXPECT_EQ(sc->getError(),
              "Tag not in DTD 'a&#60;img&#47;src=x&#47;onerror=alert(1)&#62;'.<br><br>" + span(2));
    EXPECT_EQ(sc->getError().find("<img"), std::string::npos);
}

}  // namespace
}  // namespace ruva
