// Job watching against the simulator: real job instances over HTTP, with the
// provider's clock moved by the watcher's sleeps instead of real time.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "job_sim_support.h"
#include "smis/RkSmisJob.h"

namespace {

using namespace jobsync;
using testsupport::FakeSnapInfo;

// Sleeps by moving the simulator's clock, and remembers each sleep.
class TestJob : public RkSmisJob {
  public:
    explicit TestJob(ManualClock clock) : m_clock(clock) {}
    std::vector<unsigned> sleeps;

  protected:
    void SleepSeconds(unsigned int seconds) override {
        sleeps.push_back(seconds);
        m_clock.advance(static_cast<int64_t>(seconds) * 1000);
    }

  private:
    ManualClock m_clock;
};

class JobWatch : public ::testing::Test {
  protected:
    ManualClock clock;
    sim::TestServer sim{sim::Config::defaults(), plainHttp(clock)};
    RkCimConnection conn;
    FakeSnapInfo dev;
    TestJob job{clock};

    void SetUp() override {
        job.m_pLogger = &dev;
        connectTo(sim, conn);
        sim.log().clear();
    }
    void TearDown() override { conn.DisconnectCimom(); }
};

TEST_F(JobWatch, AJobAlreadyCompletedCostsNoSleep) {
    cim::CIMObjectPath path = sim.provider().startJob(0);
    EXPECT_EQ(job.WatchJob(path, conn, 60, 10), 7);
    EXPECT_TRUE(job.sleeps.empty());
    EXPECT_EQ(countLines(dev, "SMIS::WatchJob: ret 7"), 1u);
    EXPECT_EQ(countLines(dev, "Try "), 0u);
    EXPECT_EQ(countLines(dev, "SMIS::PrintJobSummary: Job-State 7: Completed, 100 %"), 1u);
    // One check, one summary; both read only the three job properties.
    EXPECT_EQ(countRequests(sim, "GetInstance"), 2u);
    EXPECT_EQ(sim.requests().size(), 2u);
}

TEST_F(JobWatch, AJobStuckRunningIsTakenAsCompletedWhenTheTriesRunOut) {
    cim::CIMObjectPath path = sim.provider().startJob(3600 * 1000);
    EXPECT_EQ(job.WatchJob(path, conn, 3, 1), 7);
    EXPECT_EQ(job.sleeps, (std::vector<unsigned>{1, 1, 1}));
    EXPECT_EQ(countLines(dev, "SMIS::WatchJob: Try "), 3u);
    EXPECT_GE(lineIndex(dev, "SMIS::WatchJob: Try 2"), 0);
    int ret = lineIndex(dev, "SMIS::WatchJob: ret 4");
    int maxTries = lineIndex(
        dev, "SMIS::WatchJob: Max tries exceeded if its Running assuming, it will complete");
    ASSERT_GE(ret, 0);
    EXPECT_GT(maxTries, ret);
    EXPECT_EQ(countLines(dev, "Job-State 4: Running"), 4u) << "three polls and the final summary";
}

TEST_F(JobWatch, AJobEndingInExceptionReturnsItsStateWithTheStatusLine) {
    sim.failNextJobs(1, 10);
    cim::CIMObjectPath path = sim.provider().startJob(2500);
    EXPECT_EQ(job.WatchJob(path, conn, 60, 1), 10);
    EXPECT_EQ(job.sleeps.size(), 3u);
    EXPECT_GE(lineIndex(dev, "Job-State 10: Exception"), 0);
    // Every property the line names was asked for.
    int status = lineIndex(dev, "SMIS::PrintJobSummary: \tStatus = Error, ");
    ASSERT_GE(status, 0);
    EXPECT_NE(texts(dev)[static_cast<size_t>(status)].find(
                  ", The job failed: fault injected by the simulator"),
              std::string::npos)
        << texts(dev)[static_cast<size_t>(status)];
    EXPECT_EQ(countLines(dev, "Max tries exceeded"), 0u);
    EXPECT_GE(lineIndex(dev, "SMIS::WatchJob: ret 10"), 0);
}

TEST_F(JobWatch, AJobFailingOnTheLastPollIsNotReportedAsCompleted) {
    cim::CIMObjectPath path = sim.provider().startJob(3000, 8);
    EXPECT_EQ(job.WatchJob(path, conn, 3, 1), 8);
    EXPECT_EQ(job.sleeps.size(), 3u);
    EXPECT_EQ(countLines(dev, "Max tries exceeded"), 0u);
    EXPECT_EQ(countLines(dev, "Job-State 8: Terminated"), 2u);
    EXPECT_EQ(countLines(dev, "\tStatus = "), 2u);
}

TEST_F(JobWatch, ZeroTriesMakesNoPollAndTakesARunningJobAsCompleted) {
    cim::CIMObjectPath path = sim.provider().startJob(3600 * 1000);
    EXPECT_EQ(job.WatchJob(path, conn, 0, 10), 7);
    EXPECT_TRUE(job.sleeps.empty());
    EXPECT_EQ(countRequests(sim, "GetInstance"), 1u) << "the summary only";
    EXPECT_GE(lineIndex(dev, "Max tries exceeded"), 0);
}

TEST_F(JobWatch, AHugeIntervalIsClampedNotOverflowed) {
    cim::CIMObjectPath path = sim.provider().startJob(3600 * 1000);
    EXPECT_EQ(job.WatchJob(path, conn, 1, 3000000), 7);
    EXPECT_EQ(job.sleeps, (std::vector<unsigned>{2147484u})) << "INT_MAX ms, rounded up";
}

TEST_F(JobWatch, AJobThatVanishesBetweenPollsCountsAsCompleted) {
    // It even failed: once gone, nothing tells that apart from success.
    sim.provider().setJobsVanish(true);
    cim::CIMObjectPath path = sim.provider().startJob(1500, 10);
    EXPECT_EQ(job.WatchJob(path, conn, 60, 1), 7);
    EXPECT_EQ(job.sleeps.size(), 2u);
    EXPECT_EQ(countLines(dev, "Caught"), 0u) << "a job that no longer exists is not an error";
    EXPECT_GE(lineIndex(dev, "SMIS::WatchJob: ret 7"), 0);
    EXPECT_EQ(countLines(dev, "Max tries exceeded"), 0u);
}

TEST_F(JobWatch, SummaryOfAVanishedJobIsCompletedAndKeepsThePercentage) {
    cim::CIMObjectPath path = sim.provider().startJob(3600 * 1000);
    sim.failCim(cim::CIM_ERR_NOT_FOUND, "no such job", 1, {"GetInstance", "", ""});
    int percent = 42;
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 7);
    EXPECT_EQ(percent, 42);
    EXPECT_TRUE(dev.logLines().empty());

    clock.advance(1800 * 1000);
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 4);
    EXPECT_EQ(percent, 50);
    EXPECT_GE(lineIndex(dev, "Job-State 4: Running, 50 %   "), 0);
}

// A poll that fails tells nothing about the job: it counts as a try and the job is
// polled again; only a job that no longer exists counts as completed unread.
TEST_F(JobWatch, FailedPollsNeverTurnAFailureIntoSuccess) {
    struct Row {
        const char* name;
        std::function<void()> faults;
        int64_t durationMs;
        uint16_t finalState;
        int maxTries;
        int expected;
        size_t sleeps;
        const char* trace;  // a line the watch must write, or null
    };
    const Row rows[] = {
        {"two HTTP 500 polls, then the job ends in Exception",
         [&] {
             sim.failHttp(500, 2, {"GetInstance", "", ""});
         },
         2500, 10, 60, 10, 3, "Job-State 10: Exception"},
        {"one failed poll while running, then it completes",
         [&] {
             sim.failHttp(500, 1, {"GetInstance", "", ""});
         },
         1500, 7, 60, 7, 2, "Job-State 7: Completed"},
        {"a provider error is no vanished job",
         [&] {
             sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"GetInstance", "", ""});
         },
         1500, 9, 60, 9, 2, "Caught CIMException: CIM_ERR_FAILED: busy"},
        {"never readable",
         [&] {
             sim.failHttp(500, -1, {"GetInstance", "", ""});
         },
         1000, 7, 3, 10, 3, "could not be read in 5 polls, taking it as failed"},
        {"never a well-formed answer",
         [&] {
             sim.addFault(sim::FaultKind::MalformedXml, -1, {"GetInstance", "", ""});
         },
         0, 7, 2, 10, 2, "could not be read in 4 polls"},
        {"a failed poll, then the job vanished",
         [&] {
             sim.provider().setJobsVanish(true);
             sim.failHttp(500, 1, {"GetInstance", "", ""});
         },
         1500, 10, 60, 7, 2, "SMIS::WatchJob: ret 7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim.reset();
        FakeSnapInfo log;
        TestJob watcher(clock);
        watcher.m_pLogger = &log;
        row.faults();
        cim::CIMObjectPath path = sim.provider().startJob(row.durationMs, row.finalState);
        EXPECT_EQ(watcher.WatchJob(path, conn, row.maxTries, 1), row.expected);
        EXPECT_EQ(watcher.sleeps.size(), row.sleeps);
        if (row.trace) {
            EXPECT_GE(lineIndex(log, row.trace), 0);
        }
        EXPECT_EQ(countLines(log, "CIM_ERR_FAILED: CIM_ERR_FAILED"), 0u);
    }
}

TEST_F(JobWatch, ReadFailuresAreTracedAndLeaveTheJobUndecided) {
    cim::CIMObjectPath path = sim.provider().startJob(3600 * 1000);
    sim.failHttp(500, 1, {"GetInstance", "", ""});
    EXPECT_FALSE(job.IsJobDone(path, conn));
    EXPECT_GE(lineIndex(dev, "SMIS::GetJobInstance: RkSmisJob.cpp: "), 0) << "base name only";
    EXPECT_GE(lineIndex(dev, "Caught Exception: HTTP 500"), 0);
    sim.failCim(cim::CIM_ERR_FAILED, "provider hiccup", 1, {"GetInstance", "", ""});
    int percent = 42;
    EXPECT_EQ(job.PrintJobSummary(path, conn, percent), 10) << "unknown is not completed";
    EXPECT_EQ(percent, 42);
    EXPECT_EQ(countRequests(sim, "GetInstance"), 2u) << "no retry";
    EXPECT_FALSE(job.IsJobDone(path, conn)) << "a readable running job is not done";
}

TEST_F(JobWatch, AConnectionWithoutClientIsAFailureNotACrash) {
    cim::CIMObjectPath path = sim.provider().startJob(0);
    RkCimConnection unconnected;
    EXPECT_TRUE(job.GetJobInstance(path, unconnected).isUninitialized());
    EXPECT_GE(lineIndex(dev, "Caught Exception: Not connected"), 0);
    EXPECT_EQ(job.WatchJob(path, unconnected, 5, 1), 10);
    EXPECT_EQ(job.sleeps.size(), 5u);
    EXPECT_TRUE(sim.requests().empty());
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
            connectTo(sim, own);
            TestJob watcher(clock);
            results[i] = watcher.WatchJob(paths[i], own, 1000, 1);
            own.DisconnectCimom();
        });
    for (auto& w : workers) w.join();
    for (size_t i = 0; i < finals.size(); ++i) EXPECT_EQ(results[i], finals[i]) << "job " << i;
}

TEST(JobHandle, TheFirstReferenceNamedJobElseAnEmptyPath) {
    RkSmisJob job;
    cim::CIMObjectPath first("root/x:NETAPP_ConcreteJob.InstanceID=\"A:Job:1\"");
    cim::CIMObjectPath second("root/x:NETAPP_ConcreteJob.InstanceID=\"A:Job:2\"");
    cim::Array<cim::CIMParamValue> out = {
        cim::CIMParamValue("TargetElement", cim::CIMValue(second)),
        cim::CIMParamValue("Job", cim::CIMValue(first.toString())),  // text, not a reference
        cim::CIMParamValue("Job", cim::CIMValue(cim::CIMTYPE_REFERENCE, false)),  // null
    };
    EXPECT_EQ(job.GetJobHandle(out).toString(), "");
    out.push_back(cim::CIMParamValue("Job", cim::CIMValue(first)));
    out.push_back(cim::CIMParamValue("Job", cim::CIMValue(second)));
    EXPECT_EQ(job.GetJobHandle(out), first);
}

TEST(JobStates, UnknownStatesAreNamedAndNeverFinal) {
    RkSmisJob job;
    EXPECT_EQ(job.GetjobStateString(12), "12: Unknown state");
    EXPECT_EQ(job.GetjobStateString(6), "Shutting Down");
    for (int s : {0, 6, 11, 12}) EXPECT_FALSE(job.IsJobDone(s)) << s;
    cim::CIMInstance inst("NETAPP_ConcreteJob");
    EXPECT_FALSE(job.IsJobDone(inst)) << "no JobState reads as 0";
}

class CountingSleep : public RkSmisJob {
  public:
    std::vector<unsigned> sleeps;

  protected:
    void SleepSeconds(unsigned int seconds) override { sleeps.push_back(seconds); }
};

TEST(JobSleep, MillisecondsAreRoundedUpToWholeSeconds) {
    CountingSleep s;
    for (int ms : {0, -5, 1, 1000, 1001, 2000, 10000}) s.GotoSleep(ms);
    EXPECT_EQ(s.sleeps, (std::vector<unsigned>{1, 1, 2, 2, 10}));
}

}  // namespace
