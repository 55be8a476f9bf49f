// Endpoint parameters, time-out floor and retry defaults.
#include <gtest/gtest.h>

#include "smis/RkCimom.h"
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
