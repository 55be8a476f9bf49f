// The host runtime: the debug log, threads and the clock.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "rkso/EvDebug.h"
#include "rkso/RkHostClock.h"
#include "rkso/RkThread.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TempDir.h"

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const std::regex kLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] (\S*) L(-?\d+): (.*)$)");

// Sends the process log to a fresh file for one test, then back to stderr.
class FileLog : public ::testing::Test {
  protected:
    void SetUp() override {
        m_level = EvDebug::getLogLevel();
        std::string error;
        ASSERT_TRUE(EvDebug::setLogFile(m_path.c_str(), &error)) << error;
        EvDebug::setLogLevel(-1);
    }
    void TearDown() override {
        EvDebug::setLogFile("stderr");
        EvDebug::setLogLevel(m_level);
    }
    testsupport::TempDir m_dir;
    std::string m_path = m_dir.file("process.log");
    int m_level = -1;
};

// One line per call with tag, level and text, formatted once; lines below the level dropped.
TEST(DebugLog, EveryCallIsExactlyOneLineFormattedOnce) {
    testsupport::LogCapture log;
    EvDebug().DebugLvl("rkso_version", 1, "value %d of %s", 3, "x");
    EvDebug().DebugLvl("t", -1, "%s", "100%d done %s %n");
    EvDebug().DebugLvl("t", -1, "50%% and %s", "%x");
    EvDebug().DebugLvl("t", -1, "ends with newline\n");
    EvDebug().DebugLvl("t", -1, "forged\n2026-01-01 00:00:00.000 [1] x L2: line\r\nend");
    EvDebug().DebugLvl(nullptr, -1, nullptr);
    EvDebug::setLogLevel(1);
    EvDebug().DebugLvl("t", -1, "detail");
    EvDebug().DebugLvl("t", 2, "error");
    std::vector<std::string> got;
    for (const auto& l : log.lines())
        got.push_back(l.tag + " " + std::to_string(l.level) + " " + l.text);
    // clang-format off
    const std::vector<std::string> want = {"rkso_version 1 value 3 of x", "t -1 100%d done %s %n",
        "t -1 50% and %x", "t -1 ends with newline", " -1 ", "t 2 error"};
    // clang-format on
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[4].find_first_of("\r\n"), std::string::npos) << got[4];
    got.erase(got.begin() + 4);
    EXPECT_EQ(got, want);
}

// File lines carry time, thread, tag, level, text; "off" drops all; unwritable files are refused.
TEST_F(FileLog, FileLinesAndSwitchingTheOutput) {
    EvDebug().DebugLvl("RkCimConnection::ConnectCimom", 2, "connect to %s failed", "10.0.0.5");
    ASSERT_TRUE(EvDebug::setLogFile("off"));
    EvDebug().DebugLvl("t", 2, "gone");
    ASSERT_TRUE(EvDebug::setLogFile(m_path.c_str()));
    std::string error;
    EXPECT_FALSE(EvDebug::setLogFile("/nonexistent-dir/x.log", &error));
    EXPECT_NE(error.find("/nonexistent-dir/x.log"), std::string::npos);
    EXPECT_FALSE(EvDebug::setLogFile(nullptr, &error));
    EvDebug().DebugLvl("rkso_prepareDevices", -1, "No device passed for SNAP operation");
    auto lines = readLines(m_path);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[1].str() + " " + m[2].str() + " " + m[3].str(),
              "RkCimConnection::ConnectCimom 2 connect to 10.0.0.5 failed");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[2], "-1");
}

// Long lines from many threads: any interleaving would break a line's shape or text.
void writeConcurrently(EvDebug logger, int threads, int perThread, const std::string& pad) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([=]() mutable {
            for (int i = 0; i < perThread; ++i)
                logger.DebugLvl("worker", 1, "thread %d line %d %s|", t, i, pad.c_str());
        });
    for (auto& w : workers) w.join();
}

void expectWholeLines(const std::vector<std::string>& lines, const std::string& pad) {
    ASSERT_EQ(lines.size(), 6u * 200u);
    std::set<std::pair<int, int>> seen;
    const std::regex text(R"(thread (\d+) line (\d+) (x*)\|)");
    for (const std::string& line : lines) {
        std::smatch m, t;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line.substr(0, 200);
        std::string body = m[3];
        ASSERT_TRUE(std::regex_match(body, t, text)) << body.substr(0, 200);
        EXPECT_EQ(t[3].length(), static_cast<long>(pad.size()));
        seen.insert({std::stoi(t[1]), std::stoi(t[2])});
    }
    EXPECT_EQ(seen.size(), 6u * 200u);
}

TEST_F(FileLog, ConcurrentWritersNeverInterleave) {
    const std::string pad(3000, 'x');
    writeConcurrently(EvDebug(), 6, 200, pad);
    expectWholeLines(readLines(m_path), pad);
    const std::string path = m_dir.file("instance.log");
    {
        EvDebugFileInstance file(path.c_str());
        writeConcurrently(EvDebug(&file), 6, 200, pad);
    }
    expectWholeLines(readLines(path), pad);
}

void* addOne(void* arg) {
    ++*static_cast<std::atomic<int>*>(arg);
    return nullptr;
}

void* throwStd(void*) {
    throw std::runtime_error("worker lost its array");
}
void* throwOther(void*) {
    throw 42;
}

// Sixteen threads run the function; an exception leaving it is caught and logged.
TEST(RkThread, RunsTheFunctionAndCatchesWhatLeavesIt) {
    std::atomic<int> counter{0};
    std::vector<RkThread> threads(16);
    for (RkThread& t : threads) ASSERT_EQ(t.createThread(addOne, &counter), 0);
    for (RkThread& t : threads) EXPECT_EQ(t.joinThread(), 0);
    EXPECT_EQ(counter.load(), 16);
    const std::pair<RkThreadFunction, const char*> rows[] = {{throwStd, "worker lost its array"},
                                                             {throwOther, "unknown exception"}};
    for (const auto& [function, logged] : rows) {
        testsupport::LogCapture log;
        RkThread t;
        ASSERT_EQ(t.createThread(function, nullptr), 0) << logged;
        EXPECT_EQ(t.joinThread(), 0) << logged;
        EXPECT_TRUE(t.endedByException() && log.contains(logged)) << logged;
    }
}

TEST(RkThread, MisuseIsRefusedBelowZero) {
    const std::pair<const char*, int (*)()> rows[] = {
        {"null function", [] { return RkThread().createThread(nullptr, nullptr); }},
        // clang-format off
        {"second start", [] { std::atomic<int> c{0}; RkThread t; t.createThread(addOne, &c); return t.createThread(addOne, &c); }},
        {"join before start", [] { return RkThread().joinThread(); }},
        {"second join", [] { std::atomic<int> c{0}; RkThread t; t.createThread(addOne, &c); t.joinThread(); return t.joinThread(); }},
        // clang-format on
        {"join from inside the thread",
         [] {
             struct Self {
                 RkThread thread;
                 std::promise<int> result;
             } self;
             std::future<int> f = self.result.get_future();
             self.thread.createThread(
                 [](void* arg) -> void* {
                     auto* me = static_cast<Self*>(arg);
                     me->result.set_value(me->thread.joinThread());
                     return nullptr;
                 },
                 &self);
             return f.get();
         }},
    };
    for (const auto& [name, call] : rows) EXPECT_LT(call(), 0) << name;
}

TEST(RkThread, DeletingAStartedThreadWaitsForIt) {
    std::atomic<int> done{0};
    auto* t = new RkThread;
    ASSERT_EQ(t->createThread(addOne, &done), 0);
    delete t;
    EXPECT_EQ(done.load(), 1);
}

TEST(RkManualClock, SleepsAdvanceTheClockAtOnceAndAreRecorded) {
    RkManualClock clock(1000);
    RkHostClock::install(&clock);
    UXSLEEP_InTeRnAl(2);
    RkHostClock::current().sleepMs(10500);
    clock.advance(7);
    UXSLEEP_InTeRnAl(0);
    RkHostClock::install(nullptr);
    EXPECT_EQ(clock.waits(), (std::vector<int64_t>{2000, 10500, 0}));
    EXPECT_EQ(clock.nowMs(), 1000 + 2000 + 10500 + 7);
    EXPECT_NE(&RkHostClock::current(), &clock);
}

}  // namespace
