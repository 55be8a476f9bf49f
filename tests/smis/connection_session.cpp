// Connecting, disconnecting, rejected credentials and deletion against the simulator.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "connection_fixture.h"
#include "eseries/LSISnapshot.h"
#include "testsupport/LogCapture.h"

using conntest::AwaitableInfo;
using conntest::Bind;
using conntest::ParamsFor;
using conntest::TalonConfig;

namespace {

// A local port that refuses connections: bound, never listening, held for the test.
class RefusingPort {
  public:
    RefusingPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~RefusingPort() { ::close(m_fd); }
    int port() const { return m_port; }

  private:
    int m_fd;
    int m_port = 0;
};

sim::Config WithPassword(const std::string& password) {
    sim::Config c = sim::Config::defaults();
    c.password = password;
    return c;
}

class SessionTest : public ::testing::Test {
  protected:
    TalonConfig cfg;
    sim::TestServer sim;
    AwaitableInfo info;
};

}  // namespace

TEST_F(SessionTest, MissingEndpointDataNeverContactsTheProvider) {
    const char* fields[] = {"address", "userName", "password", "nameSpace"};
    for (const char* field : fields) {
        RkCimomParams p = ParamsFor(sim);
        std::string f = field;
        if (f == "address") p.address.clear();
        if (f == "userName") p.userName.clear();
        if (f == "password") p.password.clear();
        if (f == "nameSpace") p.nameSpace.clear();
        AwaitableInfo log;
        RkCimConnection conn;
        Bind(conn, p, &log);
        EXPECT_EQ(conn.ConnectCimom(), 1) << field;
        EXPECT_EQ(log.count("Insufficient parameters for CIMOM connection "), 1) << field;
        EXPECT_EQ(log.count("Trying connection"), 0) << field;
        EXPECT_FALSE(conn.IsConnected());
    }
    EXPECT_EQ(sim.requests().size(), 0u);
}

TEST_F(SessionTest, RefusedPortGetsMaxRetriesPlusOneAttempts) {
    RefusingPort refused;
    for (int maxRetries : {5, 0, 2}) {
        RkCimomParams p = ParamsFor(sim);
        p.port = static_cast<int32_t>(refused.port());
        p.maxRetries = static_cast<uint16_t>(maxRetries);
        AwaitableInfo log;
        RkCimConnection conn;
        Bind(conn, p, &log);
        EXPECT_EQ(conn.ConnectCimom(), 1);
        EXPECT_EQ(
            log.count("Trying connection over http port [" + std::to_string(refused.port()) + "]"),
            maxRetries + 1);
        EXPECT_EQ(log.count("Caught CIMClientConnectionException: Connection failed"),
                  maxRetries + 1);
        EXPECT_EQ(log.count("Cannot connect to CIMOM 127.0.0.1:" + std::to_string(refused.port())),
                  maxRetries + 1);
        EXPECT_FALSE(conn.IsConnected()) << "the client of a failed attempt is destroyed";
        EXPECT_EQ(conn.GetCimom().GetConnState(), RK_CIM_NOT_CONNECTED);
    }
}

TEST_F(SessionTest, ConnectTwiceCountsAsSuccessOnTheSameConnection) {
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim), &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_EQ(info.count("RkCimConnection::ConnectCimom: Connected 127.0.0.1:" +
                         std::to_string(sim.httpPort()) + ", timeout = 300"),
              1);
    EXPECT_EQ(conn.GetClient()->getTimeout(), 300000u) << "seconds become milliseconds";
    EXPECT_EQ(conn.GetCimom().GetConnState(), RK_CIM_CONNECTED);
    conn.GetInstanceNames("CIM_StorageVolume");
    EXPECT_EQ(conn.ConnectCimom(), 0);
    EXPECT_EQ(info.count("AlreadyConnectedException: Continuing ..."), 1);
    conn.GetInstanceNames("CIM_StorageVolume");
    EXPECT_EQ(sim.connectionCount(), 1u) << "the existing connection is used";
}

TEST_F(SessionTest, OneSessionUsesOneConnectionForAllItsRequests) {
    for (bool https : {false, true}) {
        sim.reset();
        RkCimConnection conn;
        Bind(conn, ParamsFor(sim, https), &info);
        ASSERT_EQ(conn.ConnectCimom(), 0);
        auto volumes = conn.GetInstanceNames("CIM_StorageVolume");
        ASSERT_FALSE(volumes.empty());
        conn.GetInstance(volumes.front());
        conn.GetInstances("CIM_StoragePool");
        conn.GetAssociatorNames(volumes.front(), "CIM_AllocatedFromStoragePool", "");
        conn.GetClient()->enumerateInstanceNames(conn.GetNameSpace(), "CIM_ComputerSystem");
        EXPECT_EQ(conn.DisconnectCimom(), 0);

        auto reqs = sim.requests();
        ASSERT_EQ(reqs.size(), 5u);
        for (const auto& r : reqs) {
            EXPECT_EQ(r.connection, reqs.front().connection) << r.operation;
            EXPECT_EQ(r.listener, https ? "https" : "http");
        }
        EXPECT_EQ(sim.connectionCount(), 1u);
    }
}

TEST_F(SessionTest, DisconnectIsSafeToRepeat) {
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim), &info);
    EXPECT_EQ(conn.DisconnectCimom(), 0) << "never connected";
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_EQ(conn.DisconnectCimom(), 0);
    EXPECT_EQ(conn.DisconnectCimom(), 0);
    EXPECT_EQ(info.count("Disconnected from 127.0.0.1:" + std::to_string(sim.httpPort())), 1);
    EXPECT_EQ(info.count("going to disconnect connection"), 1);
    EXPECT_EQ(conn.GetClient(), nullptr);
    EXPECT_EQ(conn.GetCimom().GetConnState(), RK_CIM_NOT_CONNECTED);
    // A read on a disconnected connection raises instead of touching a missing client.
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), cim::NotConnectedException);
    // And it can connect again.
    EXPECT_EQ(conn.ConnectCimom(), 0);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
}

TEST_F(SessionTest, CopiesShareTheClientAndSurviveTheOriginalsDisconnect) {
    auto original = std::make_unique<RkCimConnection>();
    Bind(*original, ParamsFor(sim), &info);
    ASSERT_EQ(original->ConnectCimom(), 0);
    RkCimConnection copy = *original;
    EXPECT_EQ(copy.GetClient(), original->GetClient());
    EXPECT_FALSE(copy.GetInstanceNames("CIM_StorageVolume").empty());
    EXPECT_EQ(sim.connectionCount(), 1u);

    EXPECT_EQ(original->DisconnectCimom(), 0);
    original.reset();
    ASSERT_NE(copy.GetClient(), nullptr) << "still owned by the copy";
    EXPECT_THROW(copy.GetInstanceNames("CIM_StorageVolume"), cim::NotConnectedException);
    EXPECT_EQ(copy.DisconnectCimom(), 0);
}

// A copy made while connected shares the client; a reconnect made by either one,
// after a failed read, connects that client again so that both go on working.
TEST_F(SessionTest, CopiesKeepWorkingTogetherAfterEitherReconnects) {
    for (bool copyReconnects : {true, false}) {
        SCOPED_TRACE(copyReconnects ? "the copy reconnects" : "the original reconnects");
        sim.reset();
        RkCimConnection original;
        Bind(original, ParamsFor(sim), &info);
        ASSERT_EQ(original.ConnectCimom(), 0);
        RkCimConnection copy = original;
        RkCimConnection& reconnecting = copyReconnects ? copy : original;
        RkCimConnection& other = copyReconnects ? original : copy;

        sim.addFault(sim::FaultKind::Close, 1);
        EXPECT_FALSE(reconnecting.GetInstanceNames("CIM_StorageVolume").empty());
        EXPECT_TRUE(other.IsConnected());
        EXPECT_NO_THROW(EXPECT_FALSE(other.GetInstanceNames("CIM_StorageVolume").empty()));
        EXPECT_EQ(other.GetClient(), reconnecting.GetClient());
        EXPECT_EQ(sim.connectionCount(), 2u) << "one reconnect, shared by both";
        EXPECT_EQ(original.DisconnectCimom(), 0);
        EXPECT_FALSE(copy.IsConnected()) << "the shared client is closed for both";
    }
}

// Failure traces name the source file without the build's directories, and a CIM
// error's status once.
TEST_F(SessionTest, FailureTracesNameTheSourceFileAndTheStatusOnce) {
    RefusingPort refused;
    RkCimomParams p = ParamsFor(sim);
    p.port = static_cast<int32_t>(refused.port());
    p.maxRetries = 0;
    RkCimConnection conn;
    Bind(conn, p, &info);
    EXPECT_EQ(conn.ConnectCimom(), 1);
    Bind(conn, ParamsFor(sim), &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    cim::CIMObjectPath any("", "root/x", cim::CIMName("CIM_StorageVolume"));
    sim.failCim(cim::CIM_ERR_FAILED, "delete refused", 1, {"DeleteInstance", "", ""});
    EXPECT_EQ(conn.DeleteInstance(cim::CIMNamespaceName(sim.arrayNamespace()), any), 1);

    EXPECT_EQ(info.count("RkCimConnection::ConnectCimom: RkCimConnection.cpp:"), 2);
    EXPECT_EQ(info.count("RkCimConnection::DeleteInstance: RkCimConnection.cpp: "), 1);
    EXPECT_EQ(info.count("Caught CIMException: CIM_ERR_FAILED: delete refused"), 1);
    for (const auto& line : info.logLines()) {
        EXPECT_EQ(line.text.find("/RkCimConnection.cpp"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("CIM_ERR_FAILED: CIM_ERR_FAILED"), std::string::npos) << line.text;
    }
}

TEST_F(SessionTest, RejectedCredentialsReportOnceAndGiveEmptyResults) {
    LSISnapshot snap;
    AwaitableInfo device;
    snap.SetLogger(&device);
    RkCimomParams p = ParamsFor(sim);
    p.password = "wrong-password";
    snap.m_CimConnection.GetCimom().SetCimom(p);
    ASSERT_EQ(snap.m_CimConnection.ConnectCimom(), 0)
        << "credentials are checked by the first read";

    EXPECT_NO_THROW(
        { EXPECT_TRUE(snap.m_CimConnection.GetInstanceNames("CIM_StorageVolume").empty()); });
    EXPECT_EQ(device.errorCode(), 60555);
    EXPECT_NE(device.errorText().find("401"), std::string::npos) << device.errorText();
    EXPECT_TRUE(snap.m_CimConnection.AuthFailed());
    EXPECT_EQ(sim.requests().size(), 1u) << "no retry";

    // Later reads and errors of the same operation leave the host error alone.
    EXPECT_TRUE(snap.m_CimConnection.GetInstances("CIM_StorageVolume").empty());
    cim::CIMObjectPath any("", "root/x", cim::CIMName("CIM_StorageVolume"));
    EXPECT_TRUE(snap.m_CimConnection.GetInstance(any).getPath().getClassName().isNull());
    EXPECT_TRUE(snap.m_CimConnection.GetAssociatorNames(any, "", "").empty());
    EXPECT_EQ(device.setErrorInfoCalls(), 1);
    snap.setErrorMsg(650006, "Array not found");
    EXPECT_EQ(device.errorCode(), 60555);
    EXPECT_EQ(device.setErrorInfoCalls(), 1);
    EXPECT_TRUE(device.logContains("ErrorCode 650006: ErrorMsg = Array not found"));
}

// A copy that meets the rejection tells the original: the host hears of it once, and
// the snapshot's later errors leave 60555 in place whichever copy met it.
TEST_F(SessionTest, CopiesShareTheCredentialFailure) {
    LSISnapshot snap;
    AwaitableInfo device;
    snap.SetLogger(&device);
    RkCimomParams p = ParamsFor(sim);
    p.password = "wrong-password";
    snap.m_CimConnection.GetCimom().SetCimom(p);
    ASSERT_EQ(snap.m_CimConnection.ConnectCimom(), 0);
    {
        RkCimConnection byValue = snap.m_CimConnection;
        EXPECT_TRUE(byValue.GetInstanceNames("CIM_StorageVolume").empty());
    }
    EXPECT_TRUE(snap.m_CimConnection.AuthFailed());
    EXPECT_TRUE(snap.m_CimConnection.GetInstanceNames("CIM_StorageVolume").empty());
    snap.setErrorMsg(650006, "Array not found");
    EXPECT_EQ(device.errorCode(), 60555);
    EXPECT_EQ(device.setErrorInfoCalls(), 1);
}

TEST_F(SessionTest, RejectedCredentialsWithFaultRetryAreRetriedAndRaised) {
    TalonConfig faultRetry("RK_PEGASUS_FAULT_RETRY = 1\n");
    RkCimomParams p = ParamsFor(sim);
    p.password = "wrong-password";
    p.maxRetries = 15;
    RkCimConnection conn;
    Bind(conn, p, &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_THROW(conn.GetInstanceNames("CIM_StorageVolume"), cim::HttpException);
    EXPECT_EQ(sim.requests().size(), 15u);
    EXPECT_EQ(info.count("Unauthorized Exception [HTTP 401"), 15);
    EXPECT_EQ(info.count("continue with retry  as PEGASUS retry regkey present"), 15);
    EXPECT_EQ(info.setErrorInfoCalls(), 0);
    EXPECT_FALSE(conn.AuthFailed());
}

TEST_F(SessionTest, DigitsOf401InAnErrorAreNoCredentialFailure) {
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim), &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    sim.failCim(cim::CIM_ERR_NOT_FOUND, "No volume 401 here", 1, {"GetInstance", "", ""});
    cim::CIMObjectPath any("", "root/x", cim::CIMName("CIM_StorageVolume"));
    EXPECT_THROW(conn.GetInstance(any), cim::CIMException);
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
    EXPECT_EQ(info.count("Caught CIMException: CIM_ERR_NOT_FOUND"), 1);
    EXPECT_EQ(conn.DeleteInstance(cim::CIMNamespaceName("root/nowhere"), job), 1)
        << "the caller's namespace is used";

    sim.failHttp(500, -1);
    EXPECT_EQ(conn.DeleteInstance(ns, job), 1);
    EXPECT_EQ(info.count("Caught Exception: HTTP 500"), 1);
    EXPECT_EQ(sim.requests().size(), 4u) << "never retried";
    EXPECT_EQ(info.setErrorInfoCalls(), 0);
}

TEST_F(SessionTest, DeleteWithRejectedCredentialsReportsButKeepsTheFlag) {
    RkCimomParams p = ParamsFor(sim);
    p.password = "wrong-password";
    RkCimConnection conn;
    Bind(conn, p, &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    cim::CIMObjectPath any("", "root/x", cim::CIMName("CIM_StorageVolume"));
    EXPECT_EQ(conn.DeleteInstance(cim::CIMNamespaceName(sim.arrayNamespace()), any), 1);
    EXPECT_EQ(info.errorCode(), 60555);
    EXPECT_FALSE(conn.AuthFailed());
}

TEST_F(SessionTest, NoTraceCarriesThePassword) {
    const std::string password = "pw-Unique-7731";
    sim::TestServer own(WithPassword(password));
    testsupport::LogCapture hostLog;
    for (bool https : {false, true}) {
        RkCimConnection conn;
        Bind(conn, ParamsFor(own, https), &info);
        ASSERT_EQ(conn.ConnectCimom(), 0);
        conn.GetInstanceNames("CIM_StorageVolume");
        own.failHttp(500, 1);
        conn.GetInstanceNames("CIM_StorageVolume");
        conn.DisconnectCimom();
        RkCimConnection unbound;  // traces into the host debug log
        RkCimomParams p = ParamsFor(own, https);
        p.password = password + "-wrong";
        unbound.GetCimom().SetCimom(p);
        unbound.ConnectCimom();
        unbound.GetInstanceNames("CIM_StorageVolume");
        unbound.DisconnectCimom();
    }
    ASSERT_FALSE(info.logLines().empty());
    for (const auto& line : info.logLines())
        EXPECT_EQ(line.text.find(password), std::string::npos) << line.text;
    EXPECT_EQ(info.errorText().find(password), std::string::npos);
    ASSERT_FALSE(hostLog.lines().empty());
    EXPECT_FALSE(hostLog.contains(password));
    EXPECT_TRUE(hostLog.contains("SSL certificate verified, plain encryption"));
}
