// The process-wide lock around HTTPS connects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "rkso/EvDebug.h"
#include "smis_fixture.h"

using namespace smistest;

namespace {

bool LockIsFree() {
    if (!RkCimConnection::m_ConnLock.enter(false)) return false;
    RkCimConnection::m_ConnLock.leave();
    return true;
}

// Notes in a journal each certificate check (it runs in the TLS handshake and traces
// into the host log) and whether the connection lock was held at that moment.
class HandshakeMarks {
  public:
    explicit HandshakeMarks(AwaitableInfo::Journal& journal) {
        EvDebug::setSink(&HandshakeMarks::line, &journal);
    }
    ~HandshakeMarks() { EvDebug::setSink(nullptr, nullptr); }
    HandshakeMarks(const HandshakeMarks&) = delete;
    HandshakeMarks& operator=(const HandshakeMarks&) = delete;

  private:
    static void line(void* context, const char*, int, const char* text) {
        if (text == nullptr || std::strstr(text, "SSL certificate verified") == nullptr) return;
        auto* journal = static_cast<AwaitableInfo::Journal*>(context);
        const bool held = !LockIsFree();
        std::lock_guard<std::mutex> l(journal->mu);
        journal->entries.push_back(
            {std::this_thread::get_id(), held ? "handshake, lock held" : "handshake, lock free"});
    }
};

}  // namespace

TEST(ConnLock, HttpsConnectWaitsForTheLock) {
    TalonConfig cfg;
    sim::TestServer sim;
    AwaitableInfo info;
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim, true), &info);
    RkCimConnection::m_ConnLock.enter(true);
    int rc = -1;
    std::thread worker([&] { rc = conn.ConnectCimom(); });
    ASSERT_TRUE(info.waitFor("Acquiring connection lock"));
    // While this thread holds the lock the connect cannot have gone further.
    EXPECT_FALSE(info.logContains("Connection lock acquired"));
    EXPECT_FALSE(info.logContains("Trying connection over https"));
    RkCimConnection::m_ConnLock.leave();
    worker.join();
    EXPECT_EQ(rc, 0);
    EXPECT_LT(lineIndex(info, "Acquiring connection lock"),
              lineIndex(info, "Connection lock acquired"));
    EXPECT_LT(lineIndex(info, "Connection lock acquired"),
              lineIndex(info, "Trying connection over https port [" +
                                  std::to_string(sim.httpsPort()) + "]"));
    EXPECT_LT(lineIndex(info, "Trying connection over https"),
              lineIndex(info, "Connection lock released"));
    EXPECT_TRUE(LockIsFree());
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
}

TEST(ConnLock, HttpAndDisabledLockNeverTakeIt) {
    sim::TestServer sim;
    for (bool https : {false, true}) {
        TalonConfig cfg(https ? "RK_PEGASUS_DISABLE_CONNLOCK = 1\n" : "");
        AwaitableInfo info;
        RkCimConnection conn;
        Bind(conn, ParamsFor(sim, https), &info);
        // Held elsewhere: a connect that took the lock would never finish.
        ASSERT_TRUE(RkCimConnection::m_ConnLock.enter(true));
        int rc = -1;
        std::thread worker([&] { rc = conn.ConnectCimom(); });
        worker.join();
        RkCimConnection::m_ConnLock.leave();
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(info.count("onnection lock"), 0) << https;
        EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    }
}

// Every attempt takes and releases the lock: a name refused before any connection is
// tried (no "Connection failed", not retried), a refused port, and a port that does not
// speak TLS (the handshake fails inside connect, so it takes the connect retries too, and
// no request ever reaches it).
TEST(ConnLock, ReleasedAfterFailedHttpsAttempts) {
    TalonConfig cfg;
    sim::TestServer sim;
    RefusingPort refused;
    const struct {
        const char* name;
        std::string address;
        int port;
        int attempts;
    } cases[] = {
        {"not a host", "not a host", sim.httpsPort(), 1},
        {"refused port", "127.0.0.1", refused.port(), 6},
        {"plain HTTP port", "127.0.0.1", sim.httpPort(), 6},
    };
    for (const auto& c : cases) {
        AwaitableInfo log;
        RkCimomParams p = ParamsFor(sim, true);
        p.address = c.address;
        p.port = c.port;
        RkCimConnection conn;
        Bind(conn, p, &log);
        EXPECT_EQ(conn.ConnectCimom(), 1) << c.name;
        EXPECT_EQ(log.count("Connection lock acquired"), c.attempts) << c.name;
        EXPECT_EQ(log.count("Connection lock released"), c.attempts) << c.name;
        EXPECT_TRUE(LockIsFree()) << c.name;
    }
    EXPECT_TRUE(sim.requests().empty());
}

TEST(ConnLock, ManyThreadsConnectOneAtATime) {
    TalonConfig cfg;
    sim::TestServer sim;
    constexpr int kThreads = 12;
    AwaitableInfo::Journal journal;
    std::vector<std::unique_ptr<AwaitableInfo>> infos;
    for (int t = 0; t < kThreads; ++t) infos.push_back(std::make_unique<AwaitableInfo>(&journal));
    HandshakeMarks handshakes(journal);
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                RkCimConnection conn;
                Bind(conn, ParamsFor(sim, true), infos[t].get());
                if (conn.ConnectCimom() != 0) continue;
                try {
                    if (!conn.GetInstanceNames("CIM_ComputerSystem").empty()) ++ok;
                } catch (const cim::Exception&) {
                }
                conn.DisconnectCimom();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), kThreads * 3);
    // Inside the lock a thread traces "acquired", "Trying" and does its handshake; with
    // the lock no other thread's "acquired" can come between them.
    std::vector<AwaitableInfo::Entry> marks;
    for (const auto& e : journal.entries) {
        if (e.text.find("Connection lock acquired") != std::string::npos ||
            e.text.find("Trying connection over https") != std::string::npos ||
            e.text.find("handshake") != std::string::npos)
            marks.push_back(e);
    }
    ASSERT_EQ(marks.size(), static_cast<size_t>(kThreads * 3 * 3));
    for (size_t i = 0; i + 2 < marks.size(); i += 3) {
        EXPECT_NE(marks[i].text.find("acquired"), std::string::npos) << i;
        EXPECT_NE(marks[i + 1].text.find("Trying"), std::string::npos) << i;
        EXPECT_EQ(marks[i + 2].text, "handshake, lock held") << i;
        EXPECT_EQ(marks[i].thread, marks[i + 1].thread) << i;
        EXPECT_EQ(marks[i].thread, marks[i + 2].thread) << i;
    }
    std::set<uint64_t> connections;
    for (const auto& r : sim.requests()) connections.insert(r.connection);
    EXPECT_EQ(connections.size(), static_cast<size_t>(kThreads * 3));
    EXPECT_TRUE(LockIsFree());
}

// A connection that a read opens again (the provider closed the kept one) shakes hands
// under the lock too.
TEST(ConnLock, AConnectionOpenedAgainInsideAReadShakesHandsInsideTheLock) {
    TalonConfig cfg;
    sim::TestServer sim;
    AwaitableInfo::Journal journal;
    HandshakeMarks handshakes(journal);
    AwaitableInfo info;
    RkCimConnection conn;
    Bind(conn, ParamsFor(sim, true), &info);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    sim.addFault(sim::FaultKind::Close);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    EXPECT_EQ(sim.connectionCount(), 2u);
    std::vector<std::string> marks;
    for (const auto& e : journal.entries) marks.push_back(e.text);
    EXPECT_EQ(marks, std::vector<std::string>(2, "handshake, lock held"));
}
