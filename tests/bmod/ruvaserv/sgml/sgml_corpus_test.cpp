// The scanner over a large real document: iso_639-3.xml of the Debian
// package iso-codes makes well over 100,000 nodes, so its list grows many
// times while nodes taken earlier are held.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {
namespace {

constexpr const char* kLargeXml = "/usr/share/xml/iso-codes/iso_639-3.xml";

// What the realloc callback sees: the calls, and the last node linked at the first one.
struct Growths {
    SgmlNodeList* list = nullptr;
    int calls = 0;
    const SgmlNode* early = nullptr;
    std::string earlyValue;
};

void countGrowth(SgmlScanner*, void* data) {
    auto* g = static_cast<Growths*>(data);
    if (g->calls++ == 0 && g->list->lastNode) {
        g->early = g->list->lastNode;
        g->earlyValue = g->early->text() ? g->early->text() : "(null)";
    }
}

TEST(SgmlCorpus, LargeDocumentGrowsOncePer8192NodesAndKeepsEarlyNodes) {
    ASSERT_EQ(access(kLargeXml, R_OK), 0) << kLargeXml << " is missing: install the Debian package iso-codes";
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    ASSERT_TRUE(ss);
    ASSERT_TRUE(ss->setInput(kLargeXml)) << ss->getError();
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    ASSERT_TRUE(list);
    Growths g;
    g.list = list.get();
    ss->reallocCallback = countGrowth;
    ss->clientData = &g;
    ASSERT_TRUE(ss->buildNodeList(list.get())) << ss->getError();

    size_t nodes = 0;
    bool earlyLinked = false;
    for (const SgmlNode* n = list->firstNode; n; n = n->next) {
        ++nodes;
        earlyLinked |= n == g.early;
    }
    EXPECT_GT(nodes, 100000u);
    EXPECT_EQ(list->lastNode->state, SPS_EOF);
    // Every growth is one step of 8192 from the first 8192, each with one callback.
    EXPECT_EQ(list->capacity % kNodeListGrow, 0u);
    EXPECT_EQ(static_cast<size_t>(g.calls), (list->capacity - kNodeListDefault) / kNodeListGrow);
    EXPECT_GE(list->capacity, nodes);
    EXPECT_LT(list->capacity, nodes + kNodeListGrow);
    // A node taken before the first growth is still linked, where it was, with its value.
    ASSERT_NE(g.early, nullptr);
    EXPECT_TRUE(earlyLinked);
    EXPECT_EQ(std::string(g.early->text() ? g.early->text() : "(null)"), g.earlyValue);

    ss->freeNodeList(std::move(list));
    ss->closeInput();
}

}  // namespace
}  // namespace ruva
