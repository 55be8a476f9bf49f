// The host error a snapshot reports, and the texts of method return codes.
#include <gtest/gtest.h>

#include <string>

#include "eseries/LSISnapshot.h"
#include "smis/RkCimUtil.h"
#include "smis/Snapshot.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

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
        {0, "end"},
    };
    RkCimUtil util;
    EXPECT_EQ(util.GetErrorMessage(4, "CreateReplica"), "Error code not found!") << "no table";
    util.m_pRetCodeTable = table;
    const std::tuple<int, const char*, const char*> cases[] = {
        {4, "Anything", "Failed"},
        {5, "CreateReplica", "Bad replica"},
        {5, "ModifySynchronization", "Bad sync"},
        {5, "ExposePaths", "SMI-S Method specific error code.."},
        {5, "HidePaths", "Error code not found!"},
        {5, "", "Error code not found!"},
        {6, "x", "Error code not found!"},
        {0, "x", "Error code not found!"},
        {99, "x", "Error code not found!"},
    };
    for (const auto& [code, method, text] : cases)
        EXPECT_EQ(util.GetErrorMessage(code, method), text) << code << " " << method;
}

}  // namespace
