#include "common/docmodel/language_list.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::Child;
using test::Link;
using test::removeSemaphoreSet;

using Entries = std::vector<std::pair<std::string, int>>;

Entries entries(const LanguageList& list) {
    Entries out;
    for (const LanguageCode* e = list.getLanguageCodes(); e; e = e->next) out.emplace_back(e->code, e->count);
    return out;
}

int setId(key_t key) {
    return semget(key, 0, 0);
}

class LanguageListTest : public ::testing::Test {
protected:
    // Keys of our own, never the installation's: the pid under a prefix no
    // service uses, plus n.
    key_t testKey(int n = 0) {
        key_t key = static_cast<key_t>(0x50000000 | ((getpid() & 0x3fffff) << 8) | (n & 0xff));
        EXPECT_NE(key, kLanguageListKey);
        removeSemaphoreSet(key);
        keys_.push_back(key);
        return key;
    }
    std::unique_ptr<LanguageList> makeList(int n = 0) { return newLanguageList(testKey(n)); }
    void TearDown() override {
        for (key_t key : keys_) removeSemaphoreSet(key);
    }

    std::vector<key_t> keys_;
};

TEST_F(LanguageListTest, CountsCodesInFirstAddedOrder) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->getLanguageCodes(), nullptr);
    for (const char* code : {"EN", "en", "DE", ""}) list->addCode(code);
    EXPECT_EQ(entries(*list), (Entries{{"en", 2}, {"de", 1}, {"EN", 1}}));

    list->removeCode("en");
    EXPECT_EQ(entries(*list), (Entries{{"en", 1}, {"de", 1}, {"EN", 1}}));
    list->removeCode("EN");  // normalised to "en" like the added codes
    EXPECT_EQ(entries(*list), (Entries{{"de", 1}, {"EN", 1}}));

    list->removeCode("sv");
    list->removeCode(nullptr);
    list->addCode(nullptr);
    EXPECT_EQ(entries(*list), (Entries{{"de", 1}, {"EN", 1}}));

    list->removeCode("1");  // the invalid code's entry
    list->addCode("sv");
    EXPECT_EQ(entries(*list), (Entries{{"de", 1}, {"sv", 1}}));
}

TEST_F(LanguageListTest, CodesAreCutLowerCasedOrDefaulted) {
    struct Case {
        const char* code;
        const char* stored;
    };
    const Case cases[] = {
        {"SV", "sv"},    {"De-AT", "de-at"}, {"ABCDEFGHIJKLMNOPQRS", "abcdefghijklmno"},
        {"1", "EN"},     {"e", "EN"},        {"e1", "EN"},
        {"\xc5r", "EN"},  // letters are ASCII letters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto list = makeList();
        ASSERT_NE(list, nullptr);
        list->addCode(c.code);
        EXPECT_EQ(entries(*list), (Entries{{c.stored, 1}}));
    }
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    list->addCode("abcdefghijklmnoXYZ");
    list->addCode("ABCDEFGHIJKLMNOpqr");
    EXPECT_EQ(entries(*list), (Entries{{"abcdefghijklmno", 2}}));
}

TEST_F(LanguageListTest, ContainsNondefaultCodeLooksAtTwoCharactersCaseBlind) {
    struct Case {
        const char* name;
        std::vector<const char*> codes;
        int expected;
    };
    const Case cases[] = {
        {"empty", {}, 0},
        {"en and EN", {"en", "EN"}, 0},
        {"invalid codes count as EN", {"1", "x"}, 0},
        {"a longer code beginning en", {"en-gb"}, 0},
        {"sv among en", {"en", "sv", "EN"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto list = makeList();
        ASSERT_NE(list, nullptr);
        for (const char* code : c.codes) list->addCode(code);
        EXPECT_EQ(list->containsNondefaultCode(), c.expected);
    }
}

TEST_F(LanguageListTest, FullListIgnoresNewCodesAndReusesFreedEntries) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    char code[16];
    for (int i = 0; i < kLanguageListCapacity; ++i) {
        std::snprintf(code, sizeof code, "xx%03d", i);
        list->addCode(code);
    }
    list->addCode("sv");
    list->addCode("xx000");
    Entries all = entries(*list);
    ASSERT_EQ(all.size(), size_t(kLanguageListCapacity));
    EXPECT_EQ(all.front(), (std::pair<std::string, int>{"xx000", 2}));
    EXPECT_EQ(all.back().first, "xx511");

    list->removeCode("xx005");
    list->addCode("sv");
    all = entries(*list);
    ASSERT_EQ(all.size(), size_t(kLanguageListCapacity));
    EXPECT_EQ(all[5].first, "xx006");
    EXPECT_EQ(all.back(), (std::pair<std::string, int>{"sv", 1}));
}

TEST_F(LanguageListTest, ClearEmptiesTheList) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    list->clear();
    for (const char* code : {"en", "de", "en"}) list->addCode(code);
    list->clear();
    EXPECT_EQ(list->getLanguageCodes(), nullptr);
    list->addCode("sv");
    EXPECT_EQ(entries(*list), (Entries{{"sv", 1}}));
}

TEST_F(LanguageListTest, ChildForkedEarlierSeesLaterCodes) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    list->addCode("en");
    Child child([&](const Link& link) {
        if (link.receive() != 'g') return 1;
        if (list->lock(1) != 1) return 2;
        Entries seen = entries(*list);
        if (list->unlock() != 1) return 3;
        return seen == Entries{{"en", 1}, {"sv", 1}} ? 0 : 4;
    });
    ASSERT_TRUE(child.started());
    list->addCode("sv");
    ASSERT_TRUE(child.send('g'));
    EXPECT_EQ(child.finish(), 0);
}

TEST_F(LanguageListTest, OnlyTheCreatingProcessChangesTheList) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    list->addCode("en");
    list->addCode("de");
    Child child([&](const Link&) {
        list->addCode("fr");
        list->addCode("en");
        list->removeCode("de");
        if (entries(*list) != Entries{{"en", 1}, {"de", 1}}) return 1;
        list->clear();
        return list->getLanguageCodes() ? 0 : 2;
    });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(entries(*list), (Entries{{"en", 1}, {"de", 1}}));
}

TEST_F(LanguageListTest, LockHeldByChildTimesOutAndItsExitReleasesIt) {
    auto list = makeList();
    ASSERT_NE(list, nullptr);
    Child child([&](const Link& link) {
        if (list->lock(1) != 1) return 1;
        if (!link.send('L')) return 2;
        link.receive();
        _exit(0);  // without unlocking: SEM_UNDO must release it
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.receive(), 'L');
    EXPECT_EQ(list->lock(1), 0);
    EXPECT_EQ(list->unlock(), 0);  // not held by this process
    ASSERT_TRUE(child.send('x'));
    ASSERT_EQ(child.finish(), 0);
    EXPECT_EQ(list->lock(1), 1);
    EXPECT_EQ(list->unlock(), 1);
}

TEST_F(LanguageListTest, ChildCannotReleaseTheParentsLock) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->lock(1), 1);
    Child child([&](const Link&) { return list->unlock() == 0 ? 0 : 1; });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(semctl(setId(key), 0, GETVAL), 1);
    EXPECT_EQ(list->unlock(), 1);
    EXPECT_EQ(semctl(setId(key), 0, GETVAL), 0);
}

TEST_F(LanguageListTest, DestructorLeavesTheSemaphoreSet) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    list->addCode("sv");
    list.reset();
    int id = setId(key);
    ASSERT_NE(id, -1);
    semid_ds info{};
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &info), 0);
}

TEST_F(LanguageListTest, DestructorReleasesAHeldLock) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->lock(1), 1);
    list.reset();
    auto next = newLanguageList(key);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->lock(1), 1);
    EXPECT_EQ(next->unlock(), 1);
}

TEST_F(LanguageListTest, RemovedSetCountsAsLocked) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(semctl(setId(key), 0, IPC_RMID), 0);
    // Callers loop until 1: a removed set must end the loop, not spin it.
    EXPECT_EQ(list->lock(1), 1);
    EXPECT_EQ(list->lock(1), 1);
    EXPECT_EQ(list->unlock(), 1);
    list->addCode("sv");
    list->removeCode("sv");
    list->addCode("de");
    EXPECT_EQ(entries(*list), (Entries{{"de", 1}}));
    EXPECT_EQ(setId(key), -1);  // never made again behind the caller's back
}

TEST_F(LanguageListTest, RemovedSetWhileHeldLetsTheHolderUnlock) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->lock(1), 1);
    ASSERT_EQ(semctl(setId(key), 0, IPC_RMID), 0);
    EXPECT_EQ(list->unlock(), 1);
    EXPECT_EQ(list->lock(1), 1);
}

TEST_F(LanguageListTest, RemovingTheSetWakesAWaitingLock) {
    key_t key = testKey();
    auto list = newLanguageList(key);
    ASSERT_NE(list, nullptr);
    int id = setId(key);
    Child child([&](const Link& link) {
        if (list->lock(1) != 1) return 1;
        if (!link.send('L')) return 2;
        // Remove the set once the test sleeps in its lock, as ipcrm would.
        while (semctl(id, 0, GETZCNT) < 1) sched_yield();
        return semctl(id, 0, IPC_RMID) == 0 ? 0 : 3;
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.receive(), 'L');
    // Waits the full 100 s unless the removal wakes it.
    EXPECT_EQ(list->lock(), 1);
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(list->lock(1), 1);
}

}  // namespace
}  // namespace ruva
