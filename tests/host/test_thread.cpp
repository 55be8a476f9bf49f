#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "rkso/RkHostClock.h"
#include "rkso/RkThread.h"
#include "testsupport/LogCapture.h"

namespace {

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
    struct Row {
        const char* name;
        int (*call)();
    } rows[] = {
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
    for (const Row& row : rows) EXPECT_LT(row.call(), 0) << row.name;
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
