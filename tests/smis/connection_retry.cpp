// Endpoint settings, and retried reads against the simulator's faults.
#include "smis_fixture.h"

using namespace smistest;

class RetryTest : public ::testing::Test {
  protected:
    void Connect(uint32_t timeoutMs = 0) {
        conn.SetClientTimeoutMsForTest(timeoutMs);
        Open(conn, ParamsFor(sim), &info);
    }
    std::vector<uint64_t> Connections(const std::string& operation) const {
        std::vector<uint64_t> out;
        for (const auto& r : sim.requests())
            if (r.operation == operation) out.push_back(r.connection);
        return out;
    }
    TalonConfig cfg;
    sim::TestServer sim;
    FakeSnapInfo info;
    RkCimConnection conn;
};

TEST_F(RetryTest, TimeoutOnEveryAttemptMakesFiveCallsAndFourReconnects) {
    Connect(300);  // the client gives up after 300 ms instead of 300 s
    sim.addFault(sim::FaultKind::Hang, -1, {"EnumerateInstanceNames", "", ""});
    try {
        conn.GetInstanceNames("CIM_StorageVolume");
        FAIL() << "no exception";
    } catch (const cim::Exception& e) {
        EXPECT_NE(e.getMessage().find("timed out"), std::string::npos) << e.getMessage();
    }
    ASSERT_TRUE(sim.log().waitForCount(5, std::chrono::seconds(30)));
    EXPECT_EQ(Connections("EnumerateInstanceNames").size(), 5u);
    EXPECT_EQ(count(info, "RkCimConnection::ConnectCimom: Reconnected 127.0.0.1:"), 4);
    EXPECT_EQ(count(info, "Max Retries Exceeded (300 secs)"), 1);
    EXPECT_EQ(count(info, "RkCimConnection::GetInstanceNames: Client Timed out Exception"), 1);
    EXPECT_EQ(conn.GetRetryState(), RK_CIM_RETRYING);
}

TEST_F(RetryTest, TransientFailuresShareOneBudgetPerCall) {
    Connect();
    sim.failHttp(500, 2);
    sim.addFault(sim::FaultKind::Close, 1);
    sim.addFault(sim::FaultKind::Truncated, 1);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty()) << "the fifth call succeeds";
    EXPECT_EQ(Connections("EnumerateInstanceNames").size(), 5u);
    EXPECT_EQ(conn.GetCimom().GetConnState(), RK_CIM_CONNECTED) << "reconnected";
    sim.reset();
    sim.failHttp(503, 3);
    sim.addFault(sim::FaultKind::Close, 2);
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), cim::Exception);
    EXPECT_EQ(Connections("EnumerateInstanceNames").size(), 5u) << "not a budget per kind";
}

// The kind of failure decides, never its text; repeats reconnect; none is a host error.
TEST_F(RetryTest, RetryIsDecidedByTheKindOfFailure) {
    const sim::RequestKey names{"EnumerateInstanceNames", "", ""};
    // name, a fault failing every EnumerateInstanceNames, retried with the whole budget (else
    // raised)
    const std::tuple<const char*, std::function<void()>, bool> rows[] = {
        // clang-format off
        {"CIM error naming HTTP", [&] { sim.failCim(cim::CIM_ERR_FAILED, "HTTP 503 from the array", -1, names); }, false},
        {"CIM error saying timed out", [&] { sim.failCim(cim::CIM_ERR_FAILED, "controller timed out", -1, names); }, false},
        {"not found", [&] { sim.failCim(cim::CIM_ERR_NOT_FOUND, "gone", -1, names); }, false},
        {"HTTP 400", [&] { sim.failHttp(400, -1, names); }, false},
        {"HTTP 404", [&] { sim.failHttp(404, -1, names); }, false},
        {"HTTP 501", [&] { sim.failHttp(501, -1, names); }, false},
        {"malformed answer", [&] { sim.addFault(sim::FaultKind::MalformedXml, -1, names); }, false},
        {"HTTP 500", [&] { sim.failHttp(500, -1, names); }, true},
        {"HTTP 503", [&] { sim.failHttp(503, -1, names); }, true},
        {"HTTP 429", [&] { sim.failHttp(429, -1, names); }, true},
        {"connection closed", [&] { sim.addFault(sim::FaultKind::Close, -1, names); }, true},
        {"answer cut short", [&] { sim.addFault(sim::FaultKind::Truncated, -1, names); }, true},
        // clang-format on
    };
    Connect();
    for (const auto& [name, fault, retried] : rows) {
        SCOPED_TRACE(name);
        sim.reset();
        FakeSnapInfo log;
        conn.m_pLogger = &log;
        fault();
        EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), cim::Exception);
        // A closed keep-alive connection may cost the transport one silent repeat.
        auto conns = Connections("EnumerateInstanceNames");
        const std::set<uint64_t> distinct(conns.begin(), conns.end());
        EXPECT_TRUE(retried ? conns.size() >= 5 && distinct.size() >= 5 : conns.size() == 1)
            << conns.size() << " requests on " << distinct.size() << " connections";
        EXPECT_EQ(count(log, "going to disconnect connection"), retried ? 4 : 0);
        EXPECT_EQ(count(log, "Max Retries Exceeded"), retried ? 1 : 0);
        EXPECT_EQ(count(log, "CIM_ERR_FAILED: CIM_ERR_FAILED"), 0);
        EXPECT_EQ(log.errorCode(), 0);
        conn.m_pLogger = nullptr;
    }
}

TEST_F(RetryTest, AssociationOfUnknownClassOrObjectIsEmptyWithoutRetry) {
    Connect();
    auto volume = conn.GetInstanceNames("CIM_StorageVolume").at(0);
    sim.reset();
    sim.failCim(cim::CIM_ERR_INVALID_CLASS, "no such class", 1, {"AssociatorNames", "", ""});
    EXPECT_TRUE(
        conn.GetAssociatorNames(volume, "XYZ_NoSuchAssociation", "CIM_StoragePool").empty());
    EXPECT_EQ(count(info, "Objects or Assns do not exist: XYZ_NoSuchAssociation, CIM_StoragePool"),
              1);
    sim.failCim(cim::CIM_ERR_NOT_FOUND, "no such object", 1, {"AssociatorNames", "", ""});
    EXPECT_TRUE(conn.GetAssociatorNames(volume, "CIM_AllocatedFromStoragePool", "").empty());
    // Other CIM errors of an association query are raised, also without retry.
    sim.failCim(cim::CIM_ERR_FAILED, "broken", 1, {"AssociatorNames", "", ""});
    EXPECT_THROW(conn.GetAssociatorNames(volume, "CIM_AllocatedFromStoragePool", ""),
                 cim::CIMException);
    // The simulator's own answer for a class it does not know.
    EXPECT_TRUE(conn.GetAssociatorNames(volume, "XYZ_NoSuchAssociation", "").empty());
    EXPECT_FALSE(conn.GetAssociatorNames(volume, "CIM_AllocatedFromStoragePool", "").empty());
    // The same query on another class than asked for is a plain empty answer.
    EXPECT_TRUE(conn.GetAssociatorNames(volume, "CIM_AllocatedFromStoragePool", "CIM_StorageVolume")
                    .empty());
    EXPECT_EQ(Connections("AssociatorNames").size(), 6u) << "no retry";
    EXPECT_EQ(count(info, "going to disconnect connection"), 0);
}

TEST(CimomParams, TimeoutNeverBelowTheFloor) {
    const std::tuple<const char*, int> cases[] = {
        {"", 300},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 120\n", 300},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 900\n", 900},
        // More than the field holds: clipped, not wrapped round to a tiny time-out.
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 70000\n", 65535},
        {"RK_SMIS_CLIENT_TIMEOUT_IN_SEC = soon\n", 300},
    };
    for (const auto& [setting, seconds] : cases) {
        TalonConfig cfg(setting);
        RkCimomParams p;
        EXPECT_EQ(p.timeoutSecs, seconds) << setting;
        EXPECT_EQ(RkCimom().GetTimeoutSecs(), seconds) << setting;
        p.timeoutSecs = 1;
        p.GetTimeoutSecs();
        EXPECT_EQ(p.timeoutSecs, seconds) << "refreshed from the configuration";
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
