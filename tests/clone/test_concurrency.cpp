// Sixteen clones at once: creation calls never overlap, while their job waits all do.
#include <chrono>
#include <condition_variable>
#include <thread>
#include "CloneSuite.h"

namespace clonetest {
namespace {

class Concurrency : public Suite {
  protected:
    Concurrency() : Suite(SuiteConfig("NETAPP", 60000)) {}
};

TEST_F(Concurrency, CreationCallsTakeTurnsWhileJobWaitsOverlap) {
    const int kDevices = 16;
    const char* sources[] = {"small_lun", "ora_log", "exch_log", "spare_log"};
    // Each device holds its first job wait until all wait: only when no wait holds the lock.
    std::mutex mu;
    std::condition_variable cv;
    int waiting = 0;
    bool allWaited = true;
    auto firstWait = [&]() {
        std::unique_lock<std::mutex> lock(mu);
        ++waiting;
        cv.notify_all();
        if (!cv.wait_for(lock, std::chrono::seconds(60), [&] { return waiting >= kDevices; }))
            allWaited = false;
    };
    // A slow first creation: without the lock the others would arrive meanwhile.
    sim.delay(std::chrono::milliseconds(500), 1,
              {"InvokeMethod", "CreateOrModifyElementFromStoragePool", ""});
    const sim::Array before = State();
    std::vector<int> results(kDevices, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kDevices; ++i) {
        threads.emplace_back([&, i] {
            Device dev(sim);
            Bind(dev, sources[i % 4], "", 5);
            dev.snap.m_SnapName = "clone_" + std::to_string(i);
            bool first = true;
            dev.snap.beforeSleep = [&] {
                if (first) firstWait();
                first = false;
            };
            results[i] = dev.snap.CreateCloneVolume() == 1 ? dev.snap.AttachCloneVolume("4") : 0;
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kDevices; ++i) EXPECT_EQ(results[i], 1) << "device " << i;
    EXPECT_TRUE(allWaited) << waiting << " of " << kDevices << " job waits ran at once";
    const sim::Array after = State();
    EXPECT_EQ(after.volumes.size(), before.volumes.size() + kDevices);
    EXPECT_EQ(after.syncs.size(), before.syncs.size() + kDevices);
    std::vector<sim::RequestRecord> creations;
    for (const sim::RequestRecord& r : sim.requests())
        if (r.method == "CreateReplica" || r.method == "CreateOrModifyElementFromStoragePool" ||
            r.method == "AttachOrModifyReplica")
            creations.push_back(r);
    ASSERT_EQ(creations.size(), static_cast<size_t>(2 * kDevices));
    std::sort(creations.begin(), creations.end(),
              [](const auto& a, const auto& b) { return a.beginTick < b.beginTick; });
    for (size_t i = 1; i < creations.size(); ++i)
        EXPECT_GT(creations[i].beginTick, creations[i - 1].endTick)
            << creations[i - 1].method << " " << creations[i - 1].seq << " and "
            << creations[i].method << " " << creations[i].seq << " overlapped";
}

}  // namespace
}  // namespace clonetest
