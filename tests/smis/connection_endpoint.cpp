// Endpoint parameters, time-out floor, retry defaults and the process locks.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "smis/RkCimom.h"
#include "smis/RkCriticalSection.h"
#include "smis_fixture.h"

using smistest::TalonConfig;

TEST(CimomParams, TimeoutNeverBelowTheFloor) {
    const struct {
        const char* setting;
        int seconds;
    } cases[] = {
        {"", 300},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 120\n", 300},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 900\n", 900},
        // More than the field holds: clipped, not wrapped round to a tiny time-out.
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 70000\n", 65535},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = soon\n", 300},
    };
    for (const auto& c : cases) {
        TalonConfig cfg(c.setting);
        RkCimomParams p;
        EXPECT_EQ(p.timeoutSecs, c.seconds) << c.setting;
        EXPECT_EQ(RkCimom().GetTimeoutSecs(), c.seconds) << c.setting;
        p.timeoutSecs = 1;
        p.GetTimeoutSecs();
        EXPECT_EQ(p.timeoutSecs, c.seconds) << "refreshed from the configuration";
    }
}

TEST(Cimom, FaultRetryDefaultAndPortsOutsideTheTcpRange) {
    TalonConfig cfg("RK_PEGASUS_FAULT_RETRY = 1\n");
    RkCimom c;
    EXPECT_EQ(c.GetMaxRetries(), 15);
    RkCimomParams p;
    c.SetCimom(p);
    EXPECT_EQ(c.GetMaxRetries(), 5) << "the parameters' value replaces the default";
    // A port outside the TCP range keeps the previous one; high ports are ephemeral ones.
    const std::pair<int, const char*> ports[] = {{0, "5988"},      {5989, "5989"},
                                                 {-1, "5989"},     {70000, "5989"},
                                                 {45123, "45123"}, {65536, "45123"}};
    for (const auto& [port, kept] : ports) {
        p.port = port;
        c.SetCimom(p);
        EXPECT_EQ(c.GetPort(), kept) << "port " << port;
    }
}

TEST(CriticalSection, ExcludesOtherThreadsAndNeverOverlaps) {
    RkCriticalSection cs;
    {
        RkCriticalSectionLock hold(&cs);
        bool taken = true;
        std::thread([&] { taken = cs.enter(false); }).join();
        EXPECT_FALSE(taken) << "held by the guard";
    }
    RkCriticalSectionLock none(nullptr);  // no section: nothing to lock or release
    int inside = 0, maxInside = 0;
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                RkCriticalSectionLock hold(&cs);
                maxInside = std::max(maxInside, ++inside);
                ++total;
                --inside;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(maxInside, 1);
    EXPECT_EQ(total, 8 * 2000);

    RkCriticalSectionH* m = RkCriticalSectionH::create();
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->enter(true));
    EXPECT_FALSE(m->enter(false)) << "not recursive";
    m->leave();
    EXPECT_TRUE(m->enter(false));
    m->leave();
    RkCriticalSectionH::destroy(m);
    RkCriticalSectionH::destroy(nullptr);
}
