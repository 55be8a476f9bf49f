// Endpoint parameters, time-out floor, retry defaults and the process lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "connection_fixture.h"
#include "smis/RkCimom.h"
#include "smis/RkCriticalSection.h"

using conntest::TalonConfig;

TEST(CimomParams, TimeoutNeverBelowTheFloor) {
    {
        TalonConfig cfg;
        EXPECT_EQ(RkCimomParams().timeoutSecs, 300) << "absent key";
    }
    {
        TalonConfig cfg("RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 120\n");
        EXPECT_EQ(RkCimomParams().timeoutSecs, 300);
        EXPECT_EQ(RkCimom().GetTimeoutSecs(), 300);
    }
    {
        TalonConfig cfg("RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 900\n");
        RkCimomParams p;
        EXPECT_EQ(p.timeoutSecs, 900);
        EXPECT_EQ(RkCimom().GetTimeoutSecs(), 900);
        p.timeoutSecs = 1;
        p.GetTimeoutSecs();
        EXPECT_EQ(p.timeoutSecs, 900) << "refreshed from the configuration";
    }
    {
        // More than the field holds: clipped, not wrapped round to a tiny time-out.
        TalonConfig cfg("RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 70000\n");
        EXPECT_EQ(RkCimomParams().timeoutSecs, 65535);
    }
    {
        TalonConfig cfg("RK_SMIS_CLIENT_TIMEOUT_IN_SEC = soon\n");
        EXPECT_EQ(RkCimomParams().timeoutSecs, 300) << "a bad number keeps the default";
    }
}

TEST(Cimom, FaultRetrySettingRaisesTheRetriesUntilParametersAreSet) {
    TalonConfig cfg("RK_PEGASUS_FAULT_RETRY = 1\n");
    RkCimom c;
    EXPECT_EQ(c.GetMaxRetries(), 15);
    RkCimomParams p;
    c.SetCimom(p);
    EXPECT_EQ(c.GetMaxRetries(), 5) << "the parameters' value replaces the default";
}

TEST(Cimom, PortsOutsideTheTcpRangeKeepThePreviousPort) {
    TalonConfig cfg;
    RkCimom c;
    RkCimomParams p;
    const struct {
        int port;
        const char* kept;
    } cases[] = {{0, "5988"},     {5989, "5989"},   {-1, "5989"},
                 {70000, "5989"}, {45123, "45123"},  // high ports, as ephemeral ones are
                 {65536, "45123"}};
    for (const auto& t : cases) {
        p.port = t.port;
        c.SetCimom(p);
        EXPECT_EQ(c.GetPort(), t.kept) << "port " << t.port;
    }
}

TEST(CriticalSection, ExcludesOtherThreadsAndGuardReleases) {
    RkCriticalSection cs;
    {
        RkCriticalSectionLock hold(&cs);
        bool taken = true;
        std::thread other([&] { taken = cs.enter(false); });
        other.join();
        EXPECT_FALSE(taken) << "held by the guard";
    }
    bool taken = false;
    std::thread other([&] {
        taken = cs.enter(false);
        if (taken) cs.leave();
    });
    other.join();
    EXPECT_TRUE(taken) << "released by the guard";

    RkCriticalSectionLock none(nullptr);  // no section: nothing to lock or release
}

TEST(CriticalSection, ManyThreadsNeverOverlap) {
    RkCriticalSection cs;
    int inside = 0;
    int maxInside = 0;
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                RkCriticalSectionLock hold(&cs);
                ++inside;
                if (inside > maxInside) maxInside = inside;
                ++total;
                --inside;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(maxInside, 1);
    EXPECT_EQ(total, 8 * 2000);
}

TEST(HostMutex, CreateEnterLeaveDestroy) {
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
