// Connecting, disconnecting, rejected credentials and deletion against the simulator.
#include "smis_fixture.h"

using namespace smistest;

class SessionTest : public ::testing::Test {
  protected:
    TalonConfig cfg;
    sim::TestServer sim;
    FakeSnapInfo info;
    const cim::CIMObjectPath any{"", "root/x", cim::CIMName("CIM_StorageVolume")};
    RkCimomParams WrongPassword() { return ParamsFor(sim, false, "wrong-password"); }
};

TEST_F(SessionTest, MissingEndpointDataNeverContactsTheProvider) {
    for (std::string RkCimomParams::*field :
         {&RkCimomParams::address, &RkCimomParams::userName, &RkCimomParams::password,
          &RkCimomParams::nameSpace}) {
        RkCimomParams p = ParamsFor(sim);
        (p.*field).clear();
        FakeSnapInfo log;
        RkCimConnection conn;
        Bind(conn, p, &log);
        EXPECT_EQ(conn.ConnectCimom(), 1);
        EXPECT_EQ(count(log, "Insufficient parameters for CIMOM connection "), 1);
        EXPECT_FALSE(conn.IsConnected());
    }
    EXPECT_EQ(sim.requests().size(), 0u);
}

// One session, one connection, over HTTP and HTTPS; connecting again keeps it.
TEST_F(SessionTest, OneSessionUsesOneConnectionForAllItsRequests) {
    for (bool https : {false, true}) {
        sim.reset();
        RkCimConnection conn;
        Open(conn, ParamsFor(sim, https), &info);
        EXPECT_EQ(conn.GetClient()->getTimeout(), 300000u) << "seconds become milliseconds";
        auto volumes = conn.GetInstanceNames("CIM_StorageVolume");
        ASSERT_FALSE(volumes.empty());
        EXPECT_EQ(conn.ConnectCimom(), 0);
        conn.GetInstance(volumes.front());
        conn.GetInstances("CIM_StoragePool");
        conn.GetAssociatorNames(volumes.front(), "CIM_AllocatedFromStoragePool", "");
        EXPECT_EQ(conn.DisconnectCimom(), 0);
        auto reqs = sim.requests();
        ASSERT_EQ(reqs.size(), 4u);
        for (const auto& r : reqs) {
            EXPECT_EQ(r.connection, reqs.front().connection) << r.operation;
            EXPECT_EQ(r.listener, https ? "https" : "http");
        }
    }
    EXPECT_EQ(count(info, "AlreadyConnectedException: Continuing ..."), 2);
}

// A copy shares the client: it outlives the original; one reconnect, by either, serves both.
TEST_F(SessionTest, CopiesShareTheClient) {
    {
        auto original = std::make_unique<RkCimConnection>();
        Open(*original, ParamsFor(sim), &info);
        RkCimConnection copy = *original;
        EXPECT_EQ(original->DisconnectCimom(), 0);
        original.reset();
        ASSERT_NE(copy.GetClient(), nullptr) << "still owned by the copy";
        EXPECT_THROW(copy.GetInstanceNames("CIM_StorageVolume"), cim::NotConnectedException);
    }
    for (bool copyReconnects : {true, false}) {
        SCOPED_TRACE(copyReconnects ? "the copy reconnects" : "the original reconnects");
        sim.reset();
        RkCimConnection original;
        Open(original, ParamsFor(sim), &info);
        RkCimConnection copy = original;
        RkCimConnection& reconnecting = copyReconnects ? copy : original;
        RkCimConnection& other = copyReconnects ? original : copy;
        sim.addFault(sim::FaultKind::Close, 1);
        EXPECT_FALSE(reconnecting.GetInstanceNames("CIM_StorageVolume").empty());
        EXPECT_NO_THROW(EXPECT_FALSE(other.GetInstanceNames("CIM_StorageVolume").empty()));
        EXPECT_EQ(sim.connectionCount(), 2u) << "one reconnect, shared by both";
        EXPECT_EQ(original.DisconnectCimom(), 0);
        EXPECT_FALSE(copy.IsConnected()) << "the shared client is closed for both";
    }
}

// A rejected password: reported once by either copy, later reads empty, 60555 stays.
TEST_F(SessionTest, RejectedCredentialsReportOnceAndGiveEmptyResults) {
    for (bool byCopy : {false, true}) {
        sim.reset();
        LSISnapshot snap;
        FakeSnapInfo device;
        snap.SetLogger(&device);
        Open(snap.m_CimConnection, WrongPassword(), &device);  // checked by the first read
        if (byCopy) {
            RkCimConnection copy = snap.m_CimConnection;
            EXPECT_TRUE(copy.GetInstanceNames("CIM_StorageVolume").empty());
        }
        EXPECT_NO_THROW(
            EXPECT_TRUE(snap.m_CimConnection.GetInstanceNames("CIM_StorageVolume").empty()));
        EXPECT_EQ(device.errorCode(), 60555);
        EXPECT_NE(device.errorText().find("401"), std::string::npos) << device.errorText();
        EXPECT_TRUE(snap.m_CimConnection.AuthFailed());
        EXPECT_EQ(sim.requests().size(), byCopy ? 2u : 1u) << "no retry";
        EXPECT_TRUE(snap.m_CimConnection.GetInstances("CIM_StorageVolume").empty());
        EXPECT_TRUE(snap.m_CimConnection.GetInstance(any).getPath().getClassName().isNull());
        EXPECT_TRUE(snap.m_CimConnection.GetAssociatorNames(any, "", "").empty());
        snap.setErrorMsg(650006, "Array not found");
        EXPECT_EQ(device.errorCode(), 60555);
        EXPECT_EQ(device.setErrorInfoCalls(), 1);
        EXPECT_TRUE(device.logContains("ErrorCode 650006: ErrorMsg = Array not found"));
    }
}

TEST_F(SessionTest, RejectedCredentialsWithFaultRetryAreRetriedAndRaised) {
    TalonConfig faultRetry("RK_PEGASUS_FAULT_RETRY = 1\n");
    RkCimomParams p = WrongPassword();
    p.maxRetries = 15;
    RkCimConnection conn;
    Open(conn, p, &info);
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), cim::HttpException);
    EXPECT_EQ(sim.requests().size(), 15u);
    EXPECT_EQ(count(info, "continue with retry  as PEGASUS retry regkey present"), 15);
    EXPECT_EQ(info.setErrorInfoCalls(), 0);
    EXPECT_FALSE(conn.AuthFailed());
}

TEST_F(SessionTest, DeleteInstanceResults) {
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim), &info);
    cim::CIMObjectPath job = sim.provider().startJob(0);
    job.setNameSpace(cim::CIMNamespaceName());
    job.setHost("");
    const cim::CIMNamespaceName ns(sim.arrayNamespace());
    EXPECT_EQ(conn.DeleteInstance(ns, job), 1) << "not connected";
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_EQ(conn.DeleteInstance(ns, job), 0);
    EXPECT_EQ(conn.DeleteInstance(ns, job), 1) << "already gone";
    EXPECT_EQ(conn.DeleteInstance(cim::CIMNamespaceName("root/nowhere"), job), 1)
        << "the caller's namespace is used";
    sim.failHttp(500, -1);
    EXPECT_EQ(conn.DeleteInstance(ns, job), 1);
    EXPECT_EQ(count(info, "Caught Exception: HTTP 500"), 1);
    EXPECT_EQ(sim.requests().size(), 4u) << "never retried";
    // A CIM error whose text holds the digits 401 is no credential failure.
    sim.reset();
    sim.failCim(cim::CIM_ERR_NOT_FOUND, "No volume 401 here", 1, {"GetInstance", "", ""});
    EXPECT_THROW(conn.GetInstance(any), cim::CIMException);
    EXPECT_EQ(info.setErrorInfoCalls(), 0);
    EXPECT_FALSE(conn.AuthFailed());
    // A delete that meets rejected credentials reports them but leaves the flag alone.
    RkCimConnection rejected;
    Open(rejected, WrongPassword(), &info);
    EXPECT_EQ(rejected.DeleteInstance(ns, any), 1);
    EXPECT_EQ(info.errorCode(), 60555);
    EXPECT_FALSE(rejected.AuthFailed());
}

TEST_F(SessionTest, NoTraceCarriesThePassword) {
    const std::string password = "pw-Unique-7731";
    sim::Config config = sim::Config::defaults();
    config.password = password;
    sim::TestServer own(config);
    testsupport::LogCapture hostLog;
    for (bool https : {false, true}) {
        RkCimConnection conn;
        Open(conn, ParamsFor(own, https), &info);
        own.failHttp(500, 1);
        conn.GetInstanceNames("CIM_StorageVolume");
        conn.DisconnectCimom();
        RkCimConnection unbound;  // traces into the host debug log
        Bind(unbound, ParamsFor(own, https, password + "-wrong"), nullptr);
        unbound.ConnectCimom();
        unbound.GetInstanceNames("CIM_StorageVolume");
        unbound.DisconnectCimom();
    }
    ASSERT_FALSE(info.logLines().empty());
    EXPECT_EQ(count(info, password), 0);
    EXPECT_EQ(info.errorText().find(password), std::string::npos);
    EXPECT_FALSE(hostLog.contains(password));
    EXPECT_TRUE(hostLog.contains("SSL certificate verified, plain encryption"));
}
