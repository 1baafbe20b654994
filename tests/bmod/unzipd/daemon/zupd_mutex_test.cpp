#include "bmod/unzipd/daemon/zupd_mutex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "bmod/unzipd/daemon/config.h"
#include "common/string_format.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"

namespace ruva {
namespace {

std::unique_ptr<Config> configWithPort(test::TempDir& dir, const std::string& port) {
    auto config = test::configFromText(dir.file("ruvadaemon.conf"), "WellKnownPort " + port + "\n");
    EXPECT_EQ(config->readConfig(), 34);
    return config;
}

bool ipcsLists(key_t key) {
    return test::capture("ipcs -s").find(format("0x%08x", static_cast<unsigned>(key))) != std::string::npos;
}

TEST(ZupdMutex, KeyIsPortPlusBase) {
    test::TempDir dir;
    EXPECT_EQ(zupdMutexKey(nullptr), 9359229);
    EXPECT_EQ(zupdMutexKey(configWithPort(dir, "9229").get()), 9359229);
    EXPECT_EQ(zupdMutexKey(configWithPort(dir, "10000").get()), 9360000);
    EXPECT_EQ(zupdMutexKey(configWithPort(dir, "0").get()), 9359229);
    // Working out the key makes no set.
    EXPECT_FALSE(ipcsLists(9360000));
}

TEST(ZupdMutex, HeldAcrossProcessesAndRemovedOnlyByDel) {
    test::TempDir dir;
    int port = 20000 + getpid() % 30000;
    auto config = configWithPort(dir, std::to_string(port));
    key_t key = 9350000 + port;
    test::SetRemover remover(key);

    auto mutex = newZupdMutex(config.get(), 1);
    ASSERT_TRUE(mutex);
    EXPECT_EQ(mutex->key, key);
    EXPECT_TRUE(ipcsLists(key));

    test::Child holder([&](const test::Link& link) {
        auto m = newZupdMutex(config.get(), 0);
        if (!m || !m->lock(1)) return 1;
        link.send('h');
        link.receive();
        return 0;  // ends holding it: SEM_UNDO releases
    });
    ASSERT_EQ(holder.receive(), 'h');
    EXPECT_EQ(mutex->lock(1), 0);
    holder.send('x');
    EXPECT_EQ(holder.finish(), 0);
    EXPECT_EQ(mutex->lock(1), 1);
    EXPECT_EQ(mutex->unlock(), 1);

    mutex.reset();
    EXPECT_TRUE(ipcsLists(key)) << "closing leaves the set";
    mutex = newZupdMutex(config.get(), 1);
    ASSERT_TRUE(mutex);
    mutex->del();
    EXPECT_FALSE(ipcsLists(key));
}

}  // namespace
}  // namespace ruva
