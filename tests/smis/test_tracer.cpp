// Trace lines, bound to a device or to the host debug log, and the errors a snapshot reports.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <cim/Exception.h>

#include "eseries/LSISnapshot.h"
#include "smis/RkCaught.h"
#include "smis/RkCimUtil.h"
#include "smis/RkSmisTracer.h"
#include "smis/Snapshot.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

using testsupport::FakeSnapInfo;

// Bound: the device's log with the function name; unbound: the host log tagged with it.
TEST(Tracer, LinesAsWrittenBoundAndUnbound) {
    const std::string big(10000, 'q');
    using Lines = std::vector<std::string>;
    const std::tuple<const char*, std::function<void(RkSmisTracer&)>, Lines, Lines> rows[] = {
        // clang-format off
        {"function name and level", [](RkSmisTracer& t) { t.DEBUG_TRACE("SMIS::GetVolume", "%d%%", 5); t.DEBUG_TRACE_NORMAL("f", "two\n\n"); },
         {"2: SMIS::GetVolume: 5%", "0: f: two\n"}, {"-1: SMIS::GetVolume| 5%", "1: f| two"}},
        {"cut to 4095 characters", [&](RkSmisTracer& t) { t.DEBUG_TRACE("f", "%s", big.c_str()); },
         {"2: f: " + std::string(4095, 'q')}, {"-1: f| " + std::string(4095, 'q')}},
        // The null format goes through a pointer, as a caller with a computed format would.
        {"null function or format",
         [](RkSmisTracer& t) { t.DEBUG_TRACE(nullptr, "x"); auto trace = &RkSmisTracer::DEBUG_TRACE; (t.*trace)("f", nullptr); },
         {"2: : x", "2: f: "}, {"-1: | x", "-1: f| "}},
        // clang-format on
    };
    for (const auto& [name, trace, wantBound, wantUnbound] : rows) {
        FakeSnapInfo dev;
        RkSmisTracer bound;
        bound.m_pLogger = &dev;
        trace(bound);
        Lines got;
        for (const auto& l : dev.logLines()) got.push_back(std::to_string(l.level) + ": " + l.text);
        EXPECT_EQ(got, wantBound) << name;
        testsupport::LogCapture log;
        RkSmisTracer unbound;
        trace(unbound);
        got.clear();
        for (const auto& l : log.lines())
            got.push_back(std::to_string(l.level) + ": " + l.tag + "| " + l.text);
        EXPECT_EQ(got, wantUnbound) << name;
    }
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

// The catch trace: the file's base name, a CIM error's status once, every kind named.
TEST(CaughtTrace, NamesEachKindOfFailureOnce) {
    const std::pair<std::function<void()>, const char*> rows[] = {
        // clang-format off
        {[] { throw cim::CIMException(cim::CIM_ERR_FAILED, "busy"); }, "Caught CIMException: CIM_ERR_FAILED: busy"},
        {[] { throw cim::HttpException(500, "HTTP 500 Internal Server Error"); }, "Caught Exception: HTTP 500 Internal Server Error"},
        {[] { throw std::runtime_error("out of range"); }, "Caught Exception: out of range"},
        {[] { throw 7; }, "SMIS::Op: Caught unknown Exception"},
        // clang-format on
    };
    for (const auto& [raise, text] : rows) {
        FakeSnapInfo dev;
        RkSmisTracer t;
        t.m_pLogger = &dev;
        try {
            raise();
        } catch (...) {
            RK_TRACE_CAUGHT(t, "SMIS::Op");
        }
        ASSERT_EQ(dev.logLines().size(), 1u) << text;
        const std::string line = std::regex_replace(
            dev.logLines()[0].text, std::regex("^SMIS::Op: test_tracer\\.cpp: \\d+: "), "");
        EXPECT_EQ(line, text);
    }
}

// A mapped code becomes the host error, others are only logged; unbound, to the debug log.
TEST(SetErrorMsg, WhatTheHostHearsOfAnError) {
    for (int code : {650006, 650009, 60542, 650005}) {
        FakeSnapInfo dev;
        LSISnapshot snap;
        snap.SetLogger(&dev);
        snap.setErrorMsg(code, "host mappings found on PiT view");
        EXPECT_EQ(dev.setErrorInfoCalls() * 100000 + dev.errorCode(),
                  code == 650006 ? 100000 + 60551 : 0)
            << code;
        EXPECT_EQ(std::to_string(dev.logLines().at(0).level) + " " + dev.logLines().at(0).text,
                  "2 host mappings found on PiT view")
            << code;
        EXPECT_EQ(std::to_string(snap.GetErrorCode()) + " " + snap.GetErrorMsg(),
                  std::to_string(code) + " host mappings found on PiT view");
        snap.setErrorMsg(650008, nullptr);  // records the code only
        EXPECT_EQ(std::to_string(snap.GetErrorCode()) + " " + snap.GetErrorMsg(), "650008 ");
        EXPECT_EQ(dev.logLines().size(), 1u);
        EXPECT_EQ(LSISnapshot(snap).m_CimConnection.m_pLogger, &dev) << "a copy logs to the device";
    }
    FakeSnapInfo other;
    RK_SMIS_SNAP::Snapshot plain;
    plain.SetLogger(&other);
    plain.setErrorMsg(3, "Connection to CIMOM failed");
    EXPECT_EQ(other.setErrorInfoCalls(), 0);
    EXPECT_EQ(other.logLines().at(0).tag + ": " + other.logLines().at(0).text,
              "Snapshot::setErrorMsg: ErrorCode 3: ErrorMsg = Connection to CIMOM failed");
    testsupport::LogCapture log;
    LSISnapshot unbound;
    unbound.setErrorMsg(650006, "50% done %s");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text, "ErrorCode 650006: ErrorMsg = 50% done %s");
}

TEST(ErrorMessage, TableTextsAndPerMethodTexts) {
    static const RkRetCodeText table[] = {
        {4, "Failed"},
        {5, "*CreateReplica:Bad replica,ModifySynchronization:Bad sync,ExposePaths:"},
        {6, nullptr},
        {0, "end"}};
    RkCimUtil util;
    const char* const none = "Error code not found!";
    EXPECT_EQ(util.GetErrorMessage(4, "CreateReplica"), none) << "no table";
    util.m_pRetCodeTable = table;
    const std::tuple<int, const char*, const char*> cases[] = {
        // clang-format off
        {4, "Anything", "Failed"}, {5, "CreateReplica", "Bad replica"},
        {5, "ModifySynchronization", "Bad sync"}, {5, "ExposePaths", "SMI-S Method specific error code.."},
        {5, "HidePaths", none}, {5, "", none}, {6, "x", none}, {0, "x", none}, {99, "x", none}};
    // clang-format on
    for (const auto& [code, method, text] : cases)
        EXPECT_EQ(util.GetErrorMessage(code, method), text) << code << " " << method;
}
