#include <gtest/gtest.h>

#include <string>

#include "eseries/LSISnapshot.h"
#include "eseries/LsiErrorMap.h"
#include "smis/RkCimUtil.h"
#include "smis/Snapshot.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

TEST(LsiErrorTable, RowsInOrderEndingWithTheMarker) {
    const int vendor[] = {1,      3,      4,      5,      4096,   640001, 640002, 640003,
                          640009, 640010, 640004, 640005, 640006, 640007, 640008, 0};
    const int smis[] = {1,      3,      4,      5,      4096,   650006, 650007, 650008,
                        650009, 650015, 650010, 650011, 650012, 650013, 650014, 0};
    const int host[] = {-1, 60541, -1,    60540, 4096,  60551, 650007, 60542,
                        -1, -1,    60543, 60553, 60554, 60552, 60555,  0};
    for (int i = 0; i < kLsiSmisRkErrorMapRows; ++i) {
        EXPECT_EQ(LsiSmisRkErrorMap[i].vendorErrorCode, vendor[i]) << i;
        EXPECT_EQ(LsiSmisRkErrorMap[i].smisErrorCode, smis[i]) << i;
        EXPECT_EQ(LsiSmisRkErrorMap[i].hostErrorCode, host[i]) << i;
        EXPECT_NE(LsiSmisRkErrorMap[i].errorMessage, nullptr) << i;
    }
    EXPECT_STREQ(LsiSmisRkErrorMap[15].errorMessage, "Success");
    EXPECT_STREQ(LsiSmisRkErrorMap[14].errorMessage,
                 "CIMOM authentication failure, wrong credentials provided");
}

TEST(LsiSnapshot, InstallsTheEseriesTable) {
    LSISnapshot snap;
    EXPECT_EQ(snap.GetErrorTable(), LsiSmisRkErrorMap);
    RK_SMIS_SNAP::Snapshot plain;
    EXPECT_EQ(plain.GetErrorTable(), nullptr);
    EXPECT_EQ(plain.GetRkSmisErrorCode(650006), -1);
    std::string m = "stale";
    EXPECT_EQ(plain.GetVendorSmisErrorCode(640002, &m), -1);
    EXPECT_EQ(m, "");
}

TEST(LsiSnapshot, CodeLookups) {
    LSISnapshot snap;
    std::string m;
    EXPECT_EQ(snap.GetVendorSmisErrorCode(640002, &m), 650007);
    EXPECT_EQ(m, "mapping not found");
    m = "stale";
    EXPECT_EQ(snap.GetVendorSmisErrorCode(0, &m), -1) << "the end marker never matches";
    EXPECT_EQ(m, "");
    EXPECT_EQ(snap.GetVendorSmisErrorCode(640010, nullptr), 650015);
    EXPECT_EQ(snap.GetVendorSmisErrorCode(77, &m), -1);
    EXPECT_EQ(snap.GetRkSmisErrorCode(650006), 60551);
    EXPECT_EQ(snap.GetRkSmisErrorCode(650009), -1);
    EXPECT_EQ(snap.GetRkSmisErrorCode(650007), 650007);
    EXPECT_EQ(snap.GetRkSmisErrorCode(0), -1);
    EXPECT_EQ(snap.GetRkSmisErrorCode(60542), -1);
}

TEST(SetErrorMsg, MappedCodeBecomesTheHostError) {
    FakeSnapInfo dev;
    LSISnapshot snap;
    snap.SetLogger(&dev);
    snap.setErrorMsg(650006, "host mappings found on PiT view");
    EXPECT_EQ(dev.errorCode(), 60551);
    EXPECT_EQ(dev.errorText(), "host mappings found on PiT view");
    ASSERT_EQ(dev.logLines().size(), 1u);
    EXPECT_EQ(dev.logLines()[0].level, 2);
    EXPECT_EQ(dev.logLines()[0].text, "host mappings found on PiT view");
    EXPECT_EQ(snap.GetErrorCode(), 650006);
    EXPECT_EQ(snap.GetErrorMsg(), "host mappings found on PiT view");
}

TEST(SetErrorMsg, UnreportedCodesAreOnlyLogged) {
    for (int code : {650009, 60542, 650005}) {
        FakeSnapInfo dev;
        LSISnapshot snap;
        snap.SetLogger(&dev);
        snap.setErrorMsg(code, "m");
        EXPECT_EQ(dev.setErrorInfoCalls(), 0) << code;
        EXPECT_TRUE(dev.logContains("m")) << code;
        EXPECT_EQ(snap.GetErrorCode(), code);
    }
}

TEST(SetErrorMsg, AfterACredentialFailureTheHostErrorStays) {
    FakeSnapInfo dev;
    LSISnapshot snap;
    snap.SetLogger(&dev);
    snap.m_CimConnection.DEBUG_SET_ERROR(60555, "CIMOM authentication failure");
    snap.m_CimConnection.SetAuthFailed(true);
    snap.setErrorMsg(650006, "later failure");
    EXPECT_EQ(dev.errorCode(), 60555);
    EXPECT_EQ(dev.setErrorInfoCalls(), 1);
    auto lines = dev.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().tag, "Snapshot::setErrorMsg");
    EXPECT_EQ(lines.back().level, 2);
    EXPECT_EQ(lines.back().text, "ErrorCode 650006: ErrorMsg = later failure");
    EXPECT_EQ(snap.GetErrorCode(), 650006);
}

TEST(SetErrorMsg, WithoutTableTheLineIsFormatted) {
    FakeSnapInfo dev;
    RK_SMIS_SNAP::Snapshot plain;
    plain.SetLogger(&dev);
    plain.setErrorMsg(3, "Connection to CIMOM failed");
    EXPECT_EQ(dev.setErrorInfoCalls(), 0);
    EXPECT_EQ(dev.logLines().at(0).text, "ErrorCode 3: ErrorMsg = Connection to CIMOM failed");
}

TEST(SetErrorMsg, UnboundGoesToTheDebugLog) {
    testsupport::LogCapture log;
    LSISnapshot snap;
    snap.setErrorMsg(650006, "50% done %s");
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].tag, "Snapshot::setErrorMsg");
    EXPECT_EQ(lines[0].text, "ErrorCode 650006: ErrorMsg = 50% done %s");
}

TEST(SetErrorMsg, NullMessageRecordsTheCodeOnly) {
    FakeSnapInfo dev;
    LSISnapshot snap;
    snap.SetLogger(&dev);
    snap.setErrorMsg(650006, "first");
    testsupport::LogCapture log;
    snap.setErrorMsg(650008, nullptr);
    EXPECT_EQ(snap.GetErrorCode(), 650008);
    EXPECT_EQ(snap.GetErrorMsg(), "");
    EXPECT_EQ(dev.logLines().size(), 1u);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(dev.errorCode(), 60551);
}

TEST(SetLogger, BindsTheSnapshotAndItsConnection) {
    FakeSnapInfo dev;
    LSISnapshot snap;
    snap.SetLogger(&dev);
    snap.DEBUG_TRACE("Snapshot::PrepareSnap", "own");
    snap.m_CimConnection.DEBUG_TRACE("RkCimConnection::ConnectCimom", "conn");
    EXPECT_TRUE(dev.logContains("Snapshot::PrepareSnap: own"));
    EXPECT_TRUE(dev.logContains("RkCimConnection::ConnectCimom: conn"));
    LSISnapshot copy(snap);
    EXPECT_EQ(copy.m_CimConnection.m_pLogger, &dev);
    EXPECT_EQ(copy.GetErrorTable(), LsiSmisRkErrorMap);
}

TEST(ErrorMessage, WithoutTableNothingIsFound) {
    RkCimUtil util;
    EXPECT_EQ(util.GetErrorMessage(4, "CreateReplica"), "Error code not found!");
}

TEST(ErrorMessage, TableTextsAndPerMethodTexts) {
    static const RkRetCodeText table[] = {
        {4, "Failed"},
        {5, "*CreateReplica:Bad replica,ModifySynchronization:Bad sync,ExposePaths:"},
        {6, nullptr},
        {0, "end"},
    };
    RkCimUtil util;
    util.m_pRetCodeTable = table;
    EXPECT_EQ(util.GetErrorMessage(4, "Anything"), "Failed");
    EXPECT_EQ(util.GetErrorMessage(5, "CreateReplica"), "Bad replica");
    EXPECT_EQ(util.GetErrorMessage(5, "ModifySynchronization"), "Bad sync");
    EXPECT_EQ(util.GetErrorMessage(5, "ExposePaths"), "SMI-S Method specific error code..");
    EXPECT_EQ(util.GetErrorMessage(5, "HidePaths"), "Error code not found!");
    EXPECT_EQ(util.GetErrorMessage(5, ""), "Error code not found!");
    EXPECT_EQ(util.GetErrorMessage(6, "x"), "Error code not found!");
    EXPECT_EQ(util.GetErrorMessage(0, "x"), "Error code not found!");
    EXPECT_EQ(util.GetErrorMessage(99, "x"), "Error code not found!");
}

}  // namespace
