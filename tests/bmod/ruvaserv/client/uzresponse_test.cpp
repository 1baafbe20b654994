#include "bmod/ruvaserv/client/uzresponse.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace ruva {
namespace {

// Fills the next record's key twice, so that the first record is used and
// a second one is appended; a few owned strings ride along so that the
// sanitizer's leak check sees every field freed.
template <class T>
void fillTwoEntries(UzResponse& r, const std::function<void(T&, int)>& fill) {
    for (int i = 0; i < 2; ++i) {
        T* e = r.nextEntry<T>();
        ASSERT_NE(e, nullptr);
        EXPECT_FALSE(e->filled());
        fill(*e, i);
        EXPECT_TRUE(e->filled());
    }
    T* head = r.first<T>();
    ASSERT_NE(head, nullptr);
    ASSERT_NE(head->next, nullptr);
    EXPECT_EQ(head->next->next, nullptr);
}

std::string longText(int i) {
    // Longer than the small-string buffer: a real heap block to free.
    return std::string(64, static_cast<char>('a' + i));
}

struct TypeCase {
    ResponseType type;
    bool hasRecord;
    // Fills the response as a command would; empty for types without
    // records.
    std::function<void(UzResponse&)> fill;
};

const TypeCase kTypeCases[] = {
    {RT_CONNECT, true, [](UzResponse& r) { r.connect()->servName = "ruvadaemon"; r.connect()->comment = longText(0); }},
    {RT_CONT, true, [](UzResponse& r) {
         fillTwoEntries<UzContEntry>(r, [](UzContEntry& e, int i) { e.database = longText(i); e.filename = longText(i); });
     }},
    {RT_GET, true, [](UzResponse& r) {
         fillTwoEntries<UzGetEntry>(r, [](UzGetEntry& e, int i) { e.database = longText(i); e.outname = longText(i); });
     }},
    {RT_HELP, true, [](UzResponse& r) { r.help()->message = longText(0); }},
    {RT_INFO, true, [](UzResponse& r) { r.info()->dbCount = 2; }},
    {RT_LIST, true, [](UzResponse& r) {
         fillTwoEntries<UzListEntry>(r, [](UzListEntry& e, int i) { e.database = longText(i); e.comment = longText(i); });
     }},
    {RT_MLLIST, true, [](UzResponse& r) {
         fillTwoEntries<UzMlListEntry>(r, [](UzMlListEntry& e, int i) { e.database = longText(i); e.ID = longText(i); });
     }},
    {RT_QXSRCH, true, [](UzResponse& r) {
         fillTwoEntries<UzQxSearchEntry>(r, [](UzQxSearchEntry& e, int i) {
             e.database = longText(i);
             e.keywords = std::make_unique<StringList>();
             e.keywords->add(longText(i).c_str());
             e.topics = std::make_unique<StringList>();
             e.topics->add(longText(i).c_str());
             e.folTitle = longText(i);
         });
     }},
    {RT_QXSRCHSGS, true, [](UzResponse& r) {
         // A collection line names no library and still counts as an entry.
         fillTwoEntries<UzQxSearchSgsEntry>(r, [](UzQxSearchSgsEntry& e, int i) { e.database = ""; e.suggestions = longText(i); });
     }},
    {RT_QUIT, false, {}},
    {RT_RETR, true, [](UzResponse& r) {
         fillTwoEntries<UzRetrEntry>(r, [](UzRetrEntry& e, int i) { e.database = longText(i); e.filename = longText(i); });
     }},
    {RT_USER, true, [](UzResponse& r) {
         fillTwoEntries<UzUserEntry>(r, [](UzUserEntry& e, int i) { e.username = longText(i); });
     }},
    {RT_SLIST, true, [](UzResponse& r) {
         fillTwoEntries<UzSListEntry>(r, [](UzSListEntry& e, int i) { e.address = longText(i); e.comment = longText(i); });
     }},
    {RT_SRCH, true, [](UzResponse& r) {
         fillTwoEntries<UzSearchEntry>(r, [](UzSearchEntry& e, int i) { e.database = longText(i); e.context = longText(i); });
     }},
    {RT_KNOWN, true, [](UzResponse& r) {
         fillTwoEntries<UzKnownListEntry>(r, [](UzKnownListEntry& e, int i) { e.address = longText(i); e.flags = kKnownByDiscovery; });
     }},
    {RT_PUSRCH, true, [](UzResponse& r) {
         fillTwoEntries<UzPuSrchEntry>(r, [](UzPuSrchEntry& e, int i) {
             e.database = longText(i);
             for (std::string& field : e.puLine) field = longText(i);
         });
     }},
    {RT_QXDT, true, [](UzResponse& r) {
         fillTwoEntries<UzQxdtEntry>(r, [](UzQxdtEntry& e, int i) {
             if (i == 0) {
                 e.entryType = QXDT_ENTRY_NODE;
                 e.eu.ne.title = longText(i);
             } else {
                 e.entryType = QXDT_ENTRY_DOC;
                 e.eu.de.comment = longText(i);
                 e.eu.de.fname = longText(i);
             }
         });
     }},
    {RT_UPDFILE, false, {}},
    {RT_LANGLIST, false, {}},
    {RT_BLOBTYPES, false, {}},
    {RT_MSRCH, true, [](UzResponse& r) {
         fillTwoEntries<UzMetaSearchEntry>(r, [](UzMetaSearchEntry& e, int i) { e.database = longText(i); e.systemPath = longText(i); });
     }},
    {RT_MLSLIST, true, [](UzResponse& r) {
         fillTwoEntries<UzMlsListEntry>(r, [](UzMlsListEntry& e, int i) { e.database = longText(i); e.LibState = "TRUE"; });
     }},
    {RT_IDRETR, true, [](UzResponse& r) {
         fillTwoEntries<UzIdRetrEntry>(r, [](UzIdRetrEntry& e, int i) {
             e.size = "3";
             e.database = longText(i);
             e.context = std::string("a\0b", 3);
         });
     }},
};

TEST(UzResponse, EveryTypeIsMadeZeroedWithItsFirstRecordAndFreedEmptyOrFilled) {
    static_assert(std::size(kTypeCases) == kResponseTypeCount);
    for (const TypeCase& c : kTypeCases) {
        SCOPED_TRACE(c.type);
        for (bool filled : {false, true}) {
            SCOPED_TRACE(filled ? "filled" : "empty");
            std::unique_ptr<UzResponse> r = allocResponse(c.type);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->type, c.type);
            EXPECT_EQ(r->resultCode, 0);
            EXPECT_EQ(r->folder, 0);
            EXPECT_EQ(r->srchtimedout, 0);
            EXPECT_EQ(r->resultMessage, "");
            EXPECT_EQ(std::holds_alternative<std::monostate>(r->res), !c.hasRecord);
            if (filled && c.fill) c.fill(*r);
            r->resultMessage = longText(2);
            freeResponse(std::move(r));
        }
    }
}

TEST(UzResponse, ViewsNameOnlyTheirOwnType) {
    auto mllist = allocResponse(RT_MLLIST);
    auto mlslist = allocResponse(RT_MLSLIST);
    auto cont = allocResponse(RT_CONT);
    ASSERT_TRUE(mllist && mlslist && cont);
    // MLLIST and MLSLIST share a record type: only the response type tells
    // them apart.
    EXPECT_NE(mllist->mllist(), nullptr);
    EXPECT_EQ(mllist->mlnlist(), mllist->mllist());
    EXPECT_EQ(mllist->mlslist(), nullptr);
    EXPECT_NE(mlslist->mlslist(), nullptr);
    EXPECT_EQ(mlslist->mllist(), nullptr);
    EXPECT_NE(cont->cont(), nullptr);
    EXPECT_EQ(cont->retr(), nullptr);
    EXPECT_EQ(cont->nextEntry<UzRetrEntry>(), nullptr);
}

TEST(UzResponse, TypesWithoutRecordsGiveNoEntryToFill) {
    for (ResponseType type : {RT_QUIT, RT_UPDFILE, RT_LANGLIST, RT_BLOBTYPES}) {
        SCOPED_TRACE(type);
        auto r = allocResponse(type);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->nextEntry<UzContEntry>(), nullptr);
        EXPECT_EQ(r->cont(), nullptr);
    }
}

TEST(UzResponse, TypeOutsideTheTableIsRefused) {
    EXPECT_EQ(allocResponse(static_cast<ResponseType>(kResponseTypeCount)), nullptr);
    EXPECT_EQ(allocResponse(static_cast<ResponseType>(-1)), nullptr);
}

TEST(UzResponse, FreeOfNullDoesNothing) {
    freeResponse(nullptr);
}

TEST(UzResponse, RecordsAreAppendedInOrder) {
    auto r = allocResponse(RT_LIST);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 5; ++i) r->nextEntry<UzListEntry>()->database = std::to_string(i);
    std::string order;
    for (const UzListEntry* e = r->list(); e; e = e->next.get()) order += *e->database;
    EXPECT_EQ(order, "01234");
}

TEST(UzResponse, LongListIsFreedWithoutDeepRecursion) {
    // A search over many libraries gives hundreds of thousands of hits; a
    // recursive free of the chain would exhaust the stack.
    auto r = allocResponse(RT_QXSRCH);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 300000; ++i) {
        UzQxSearchEntry* e = r->nextEntry<UzQxSearchEntry>();
        ASSERT_NE(e, nullptr);
        e->database = "";
    }
    freeResponse(std::move(r));
}

}  // namespace
}  // namespace ruva
