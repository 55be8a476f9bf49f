// The process-wide lock around HTTPS connects.
#include "rkso/EvDebug.h"
#include "smis_fixture.h"

using namespace smistest;

namespace {

bool LockIsFree() {
    if (!RkCimConnection::m_ConnLock.enter(false)) return false;
    RkCimConnection::m_ConnLock.leave();
    return true;
}

// Lock traces and handshakes (whether the lock was held), in order, with their thread.
struct Marks {
    struct Entry {
        std::thread::id thread;
        std::string text;
    };
    std::mutex mu;
    std::vector<Entry> entries;
    Marks() { EvDebug::setSink(&Marks::line, this); }
    ~Marks() { EvDebug::setSink(nullptr, nullptr); }  // not copyable: it holds a mutex
  private:
    static void line(void* context, const char*, int, const char* text) {
        std::string mark = text ? text : "";
        if (mark.find("SSL certificate verified") != std::string::npos)
            mark = LockIsFree() ? "handshake, lock free" : "handshake, lock held";
        else if (mark.find("Connection lock acquired") == std::string::npos &&
                 mark.find("Trying connection over https") == std::string::npos)
            return;
        auto* marks = static_cast<Marks*>(context);
        std::lock_guard<std::mutex> l(marks->mu);
        marks->entries.push_back({std::this_thread::get_id(), mark});
    }
};

}  // namespace

TEST(ConnLock, HttpAndDisabledLockNeverTakeIt) {
    sim::TestServer sim;
    for (bool https : {false, true}) {
        TalonConfig cfg(https ? "RK_PEGASUS_DISABLE_CONNLOCK = 1\n" : "");
        FakeSnapInfo info;
        RkCimConnection conn;
        Bind(conn, ParamsFor(sim, https), &info);
        // Held elsewhere: a connect that took it would never finish.
        ASSERT_TRUE(RkCimConnection::m_ConnLock.enter(true));
        int rc = -1;
        std::thread worker([&] { rc = conn.ConnectCimom(); });
        worker.join();
        RkCimConnection::m_ConnLock.leave();
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(count(info, "onnection lock"), 0) << https;
        EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    }
}

// Every attempt takes and releases it; a port without TLS costs the connect retries too.
TEST(ConnLock, ReleasedAfterFailedHttpsAttempts) {
    TalonConfig cfg;
    sim::TestServer sim;
    const std::tuple<const char*, std::string, int, int> cases[] = {
        {"not a host", "not a host", sim.httpsPort(), 1},
        {"refused port", "127.0.0.1", static_cast<int>(cimtest::closedPort()), 6},
        {"plain HTTP port", "127.0.0.1", sim.httpPort(), 6},
    };
    for (const auto& [name, address, port, attempts] : cases) {
        FakeSnapInfo log;
        RkCimomParams p = ParamsFor(sim, true);
        p.address = address;
        p.port = port;
        RkCimConnection conn;
        Bind(conn, p, &log);
        EXPECT_EQ(conn.ConnectCimom(), 1) << name;
        EXPECT_EQ(count(log, "Connection lock acquired"), attempts) << name;
        EXPECT_EQ(count(log, "Connection lock released"), attempts) << name;
        EXPECT_TRUE(LockIsFree()) << name;
    }
    EXPECT_TRUE(sim.requests().empty());
}

TEST(ConnLock, ManyThreadsConnectOneAtATime) {
    TalonConfig cfg;
    sim::TestServer sim;
    constexpr int kThreads = 12;
    Marks journal;
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 3; ++round) {
                RkCimConnection conn;
                Bind(conn, ParamsFor(sim, true), nullptr);
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
    // "acquired", "Trying" and the handshake of one thread, with nothing between them.
    const std::vector<Marks::Entry>& marks = journal.entries;
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

// A read that reopens a closed connection shakes hands under the lock too.
TEST(ConnLock, AConnectionOpenedAgainInsideAReadShakesHandsInsideTheLock) {
    TalonConfig cfg;
    sim::TestServer sim;
    Marks journal;
    FakeSnapInfo info;
    RkCimConnection conn;
    Open(conn, ParamsFor(sim, true), &info);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    sim.addFault(sim::FaultKind::Close);
    EXPECT_FALSE(conn.GetInstanceNames("CIM_StorageVolume").empty());
    EXPECT_EQ(sim.connectionCount(), 2u);
    std::vector<std::string> handshakes;
    for (const auto& e : journal.entries)
        if (e.text.find("handshake") == 0) handshakes.push_back(e.text);
    EXPECT_EQ(handshakes, std::vector<std::string>(2, "handshake, lock held"));
}
