#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <functional>
#include <stdexcept>

#include "smis/RkCaught.h"
#include "smis/RkCimConnection.h"
#include "smis/RkSmisTracer.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

TEST(Tracer, BoundLinesGoToTheDeviceWithTheFunctionName) {
    FakeSnapInfo dev;
    RkSmisTracer t;
    t.m_pLogger = &dev;
    t.DEBUG_TRACE("RkCimConnection::GetInstance", "value %d", 5);
    t.DEBUG_TRACE_NORMAL("Snapshot::setErrorMsg", "plain");
    auto lines = dev.logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "RkCimConnection::GetInstance: value 5");
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].text, "Snapshot::setErrorMsg: plain");
}

TEST(Tracer, UnboundLinesGoToTheDebugLog) {
    testsupport::LogCapture log;
    RkSmisTracer t;
    t.DEBUG_TRACE("SMIS::GetVolume", "detail %s", "x");
    t.DEBUG_TRACE_NORMAL("SMIS::GetVolume", "normal");
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].tag, "SMIS::GetVolume");
    EXPECT_EQ(lines[0].level, -1);
    EXPECT_EQ(lines[0].text, "detail x");
    EXPECT_EQ(lines[1].level, 1);
    EXPECT_EQ(lines[1].text, "normal");
}

TEST(Tracer, OneTrailingNewlineIsDropped) {
    FakeSnapInfo dev;
    RkSmisTracer t;
    t.m_pLogger = &dev;
    t.DEBUG_TRACE("f", "Invalid Parameters\n");
    t.DEBUG_TRACE("f", "two\n\n");
    t.DEBUG_TRACE_NORMAL("f", "%s", "");
    auto lines = dev.logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "f: Invalid Parameters");
    EXPECT_EQ(lines[1].text, "f: two\n");
    EXPECT_EQ(lines[2].text, "f: ") << "an empty text still makes a line";
}

TEST(Tracer, PercentSignsAreWrittenUnchangedOnBothPaths) {
    const char* tricky = "50% of %s and %d%n";
    FakeSnapInfo dev;
    RkSmisTracer bound;
    bound.m_pLogger = &dev;
    bound.DEBUG_TRACE("f", "%s", tricky);
    EXPECT_EQ(dev.logLines().at(0).text, std::string("f: ") + tricky);

    testsupport::LogCapture log;
    RkSmisTracer unbound;
    unbound.DEBUG_TRACE("f", "%s", tricky);
    unbound.DEBUG_TRACE_NORMAL("f", "%s", tricky);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].text, tricky);
    EXPECT_EQ(log.lines()[1].text, tricky);
}

TEST(Tracer, TextsAreCutTo4095Characters) {
    FakeSnapInfo dev;
    RkSmisTracer t;
    t.m_pLogger = &dev;
    std::string big(10000, 'q');
    t.DEBUG_TRACE("f", "%s", big.c_str());
    EXPECT_EQ(dev.logLines().at(0).text, "f: " + std::string(4095, 'q'));

    testsupport::LogCapture log;
    RkSmisTracer unbound;
    unbound.DEBUG_TRACE("f", "%s", big.c_str());
    EXPECT_EQ(log.lines().at(0).text.size(), 4095u);
}

TEST(Tracer, NullFunctionOrFormatIsHarmless) {
    FakeSnapInfo dev;
    RkSmisTracer t;
    t.m_pLogger = &dev;
    t.DEBUG_TRACE(nullptr, "x");
    // Called through a pointer, as a caller with a computed format would.
    auto trace = &RkSmisTracer::DEBUG_TRACE;
    (t.*trace)("f", nullptr);
    ASSERT_EQ(dev.logLines().size(), 2u);
    EXPECT_EQ(dev.logLines()[0].text, ": x");
    EXPECT_EQ(dev.logLines()[1].text, "f: ");
}

TEST(Tracer, SetErrorLogsAndRecordsTheCodeUntranslated) {
    FakeSnapInfo dev;
    RkSmisTracer t;
    t.m_pLogger = &dev;
    t.DEBUG_SET_ERROR(60555, "CIMOM authentication failure");
    EXPECT_EQ(dev.errorCode(), 60555);
    EXPECT_EQ(dev.errorText(), "CIMOM authentication failure");
    ASSERT_EQ(dev.logLines().size(), 1u);
    EXPECT_EQ(dev.logLines()[0].level, 2);

    RkSmisTracer unbound;
    testsupport::LogCapture log;
    unbound.DEBUG_SET_ERROR(1, "nowhere");
    EXPECT_TRUE(log.lines().empty());
}

TEST(Tracer, WorkerThreadsTraceConcurrently) {
    // One device per worker, as the engine's workers do; unbound tracers share the debug log.
    testsupport::LogCapture log;
    const int kThreads = 4, kLines = 300;
    std::vector<FakeSnapInfo> devices(kThreads);
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w)
        workers.emplace_back([&, w] {
            RkSmisTracer bound, unbound;
            bound.m_pLogger = &devices[static_cast<size_t>(w)];
            for (int i = 0; i < kLines; ++i) {
                bound.DEBUG_TRACE("worker", "%d/%d", w, i);
                unbound.DEBUG_TRACE_NORMAL("worker", "%d/%d", w, i);
            }
        });
    for (auto& t : workers) t.join();
    for (const auto& d : devices) EXPECT_EQ(d.logLines().size(), static_cast<size_t>(kLines));
    EXPECT_EQ(log.lines().size(), static_cast<size_t>(kThreads * kLines));
}

// The shared catch trace: the source file without its directories, a CIM error's
// status once, and every kind of failure named.
TEST(CaughtTrace, NamesEachKindOfFailureOnce) {
    struct Row {
        std::function<void()> raise;
        const char* text;  // what follows "<file>: <line>: ", or the whole line
    };
    const Row rows[] = {
        {[] { throw cim::CIMException(cim::CIM_ERR_FAILED, "busy"); },
         "Caught CIMException: CIM_ERR_FAILED: busy"},
        {[] { throw cim::HttpException(500, "HTTP 500 Internal Server Error"); },
         "Caught Exception: HTTP 500 Internal Server Error"},
        {[] { throw std::runtime_error("out of range"); }, "Caught Exception: out of range"},
        {[] { throw 7; }, "Caught unknown Exception"},
    };
    for (const Row& row : rows) {
        FakeSnapInfo dev;
        RkSmisTracer t;
        t.m_pLogger = &dev;
        try {
            row.raise();
        } catch (...) {
            RK_TRACE_CAUGHT(t, "SMIS::Op");
        }
        auto lines = dev.logLines();
        ASSERT_EQ(lines.size(), 1u) << row.text;
        const std::string& line = lines[0].text;
        std::smatch m;
        const bool located =
            std::regex_match(line, m, std::regex("SMIS::Op: test_tracer\\.cpp: \\d+: (.*)"));
        EXPECT_EQ(located ? m[1].str() : line.substr(std::strlen("SMIS::Op: ")), row.text) << line;
    }
}

TEST(Connection, CarriesItsOwnBindingAndAuthenticationFlag) {
    FakeSnapInfo dev;
    RkCimConnection conn;
    EXPECT_FALSE(conn.AuthFailed());
    EXPECT_EQ(conn.m_pLogger, nullptr);
    conn.m_pLogger = &dev;
    conn.SetAuthFailed(true);
    RkCimConnection copy(conn);
    EXPECT_TRUE(copy.AuthFailed());
    EXPECT_EQ(copy.m_pLogger, &dev);
    copy.DEBUG_TRACE("RkCimConnection::ConnectCimom", "hello");
    EXPECT_TRUE(dev.logContains("RkCimConnection::ConnectCimom: hello"));
}

}  // namespace
