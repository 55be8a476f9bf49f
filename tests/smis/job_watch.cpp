// Job watching against the simulator; the watcher's sleeps move the provider's clock.
#include "smis/RkSmisJob.h"
#include "smis_fixture.h"

using namespace smistest;

// Sleeps by moving the simulator's clock, and remembers each sleep.
struct TestJob : RkSmisJob {
    explicit TestJob(ManualClock c) : clock(c) {}
    void SleepSeconds(unsigned int seconds) override {
        sleeps.push_back(seconds);
        clock.advance(static_cast<int64_t>(seconds) * 1000);
    }
    ManualClock clock;
    std::vector<unsigned> sleeps;
};

class JobWatch : public ::testing::Test {
  protected:
    ManualClock clock;
    sim::TestServer sim{sim::Config::defaults(), Clocked(clock)};
    RkCimConnection conn;
    FakeSnapInfo dev;
    TestJob job{clock};
    void SetUp() override {
        job.m_pLogger = &dev;
        Open(conn, ParamsFor(sim));
        sim.log().clear();
    }
    void TearDown() override { conn.DisconnectCimom(); }
};

// A failed poll is a try; vanished, or still running after the last try, counts as completed.
TEST_F(JobWatch, EachWayAJobGoesGivesItsState) {
    const sim::RequestKey get{"GetInstance", "", ""};
    const struct {
        const char* name;
        std::function<void()> faults;
        int64_t durationMs;
        uint16_t finalState;
        int maxTries, interval, expected;
        std::vector<unsigned> sleeps;
        const char* trace;    // a line the watch must write
        const char* notThis;  // a line it must not
    } rows[] = {
        // clang-format off
        {"already completed", [] {}, 0, 7, 60, 10, 7, {}, "SMIS::WatchJob: ret 7", "Try "},
        {"stuck running", [] {}, 3600000, 7, 3, 1, 7, {1, 1, 1},
         "Max tries exceeded if its Running assuming, it will complete", "Caught"},
        {"zero tries", [] {}, 3600000, 7, 0, 10, 7, {}, "Max tries exceeded", "Try "},
        {"huge interval, clamped to INT_MAX ms rounded up", [] {}, 3600000, 7, 1, 3000000, 7,
         {2147484u}, "SMIS::WatchJob", "Caught"},
        {"ends in Exception", [&] { sim.failNextJobs(1, 10); }, 2500, 7, 60, 1, 10, {1, 1, 1},
         ", The job failed: fault injected by the simulator", "Max tries exceeded"},
        {"fails on the last poll", [] {}, 3000, 8, 3, 1, 8, {1, 1, 1}, "Job-State 8: Terminated",
         "Max tries exceeded"},
        {"vanishes between polls", [&] { sim.provider().setJobsVanish(true); }, 1500, 10, 60, 1, 7,
         {1, 1}, "SMIS::WatchJob: ret 7", "Caught"},
        {"two HTTP 500 polls, then Exception", [&] { sim.failHttp(500, 2, get); }, 2500, 10, 60, 1,
         10, {1, 1, 1}, "Job-State 10: Exception", "Max tries exceeded"},
        {"a provider error is no vanished job",
         [&] { sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, get); }, 1500, 9, 60, 1, 9, {1, 1},
         "Caught CIMException: CIM_ERR_FAILED: busy", "CIM_ERR_FAILED: CIM_ERR_FAILED"},
        {"never readable", [&] { sim.failHttp(500, -1, get); }, 1000, 7, 3, 1, 10, {1, 1, 1},
         "could not be read in 5 polls, taking it as failed", "Max tries exceeded"},
        {"never a well-formed answer", [&] { sim.addFault(sim::FaultKind::MalformedXml, -1, get); },
         0, 7, 2, 1, 10, {1, 1}, "could not be read in 4 polls", "Max tries exceeded"},
        {"a failed poll, then the job vanished",
         [&] { sim.provider().setJobsVanish(true); sim.failHttp(500, 1, get); },
         1500, 10, 60, 1, 7, {1, 1}, "SMIS::WatchJob: ret 7", "Max tries exceeded"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sim.reset();
        FakeSnapInfo log;
        TestJob watcher(clock);
        watcher.m_pLogger = &log;
        row.faults();
        cim::CIMObjectPath path = sim.provider().startJob(row.durationMs, row.finalState);
        EXPECT_EQ(watcher.WatchJob(path, conn, row.maxTries, row.interval), row.expected);
        EXPECT_EQ(watcher.sleeps, row.sleeps);
        EXPECT_TRUE(log.logContains(row.trace));
        EXPECT_EQ(count(log, row.notThis), 0);
    }
}

TEST_F(JobWatch, SummariesReadOnlyTheJobAndSurviveFailures) {
    cim::CIMObjectPath path = sim.provider().startJob(0);
    EXPECT_EQ(job.WatchJob(path, conn, 60, 10), 7);
    EXPECT_EQ(count(dev, "SMIS::PrintJobSummary: Job-State 7: Completed, 100 %"), 1);
    // One check, one summary; both read only the job.
    EXPECT_EQ(CountRequests(sim, "GetInstance"), 2u);
    EXPECT_EQ(sim.requests().size(), 2u);
    path = sim.provider().startJob(3600 * 1000);
    sim.log().clear();
    EXPECT_EQ(job.WatchJob(path, conn, 0, 10), 7);
    EXPECT_EQ(CountRequests(sim, "GetInstance"), 1u) << "the summary only";
    // The summary of a vanished or unreadable job.
    path = sim.provider().startJob(3600 * 1000);
    sim.log().clear();
    const size_t lines = dev.logLines().size();
    sim.failCim(cim::CIM_ERR_NOT_FOUND, "no such job", 1, {"GetInstance", "", ""});
    int percent = 42;
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 7);
    EXPECT_EQ(percent, 42);
    EXPECT_EQ(dev.logLines().size(), lines) << "a vanished job is no news";
    clock.advance(1800 * 1000);
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 4);
    EXPECT_EQ(percent, 50);
    EXPECT_TRUE(dev.logContains("Job-State 4: Running, 50 %   "));
    // Failures are traced and leave the job undecided; unknown is not completed.
    sim.failHttp(500, 1, {"GetInstance", "", ""});
    EXPECT_FALSE(job.IsJobDone(path, conn));
    EXPECT_TRUE(dev.logContains("SMIS::GetJobInstance: RkSmisJob.cpp: ")) << "base name only";
    sim.failCim(cim::CIM_ERR_FAILED, "provider hiccup", 1, {"GetInstance", "", ""});
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 10);
    EXPECT_EQ(percent, 50);
    EXPECT_FALSE(job.IsJobDone(path, conn)) << "a readable running job is not done";
    // A connection without a client is a failure, not a crash.
    RkCimConnection unconnected;
    EXPECT_TRUE(job.GetJobInstance(path, unconnected).isUninitialized());
    EXPECT_TRUE(dev.logContains("Caught Exception: Not connected"));
    EXPECT_EQ(job.WatchJob(path, unconnected, 5, 1), 10);
    EXPECT_EQ(job.sleeps.size(), 5u);
    EXPECT_EQ(CountRequests(sim, "GetInstance"), 5u) << "no retry";
}

TEST_F(JobWatch, JobsOnSeparateConnectionsAreWatchedAtTheSameTime) {
    const std::vector<uint16_t> finals = {7, 8, 9, 10, 7, 10};
    std::vector<cim::CIMObjectPath> paths;
    for (size_t i = 0; i < finals.size(); ++i)
        paths.push_back(sim.provider().startJob(static_cast<int64_t>(1000 * (i + 1)), finals[i]));
    std::vector<int> results(finals.size(), -1);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < finals.size(); ++i)
        workers.emplace_back([&, i] {
            RkCimConnection own;
            Open(own, ParamsFor(sim));
            TestJob watcher(clock);
            results[i] = watcher.WatchJob(paths[i], own, 1000, 1);
            own.DisconnectCimom();
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(results, std::vector<int>(finals.begin(), finals.end()));
}
