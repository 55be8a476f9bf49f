#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/EngineCommon.h"
#include "rkso/rkso.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeOSUtil;
using testsupport::FakeSnapInfo;

// Start lines (for a count of 2) and levels administrators know from the host's logs.
struct Named {
    const char *name, *startLine;
    rkso_devices_fn fn;
    int startLevel;
    bool needsHostId;
};
// clang-format off
const std::vector<Named> kDeviceArrayEntryPoints = {
    {"rkso_prepareDevices", "Starting to prepare [2] snapshot(s)/clone(s).", rkso_prepareDevices, 1, false},
    {"rkso_snapDevices", " Starting snap/clone operation for [2] devices", rkso_snapDevices, 1, false},
    {"rkso_isMapped", "Going to check if [2] snap/clone device(s) is mapped", rkso_isMapped, 0, true},
    {"rkso_mapSnaps", "Going to map [2] snap/clone device(s) to the host", rkso_mapSnaps, 0, true},
    {"rkso_unmapSnaps", "Going to unmap [2] snap/clone device(s) from the host", rkso_unmapSnaps, 0, true},
    {"rkso_revertSnaps", "Going to restore/reverse sync snap/clone device. If the operation fails, please check LSI provider capability", rkso_revertSnaps, 0, true},
    {"rkso_deleteSnaps", "Going to delete [2] snap / clone device{s]", rkso_deleteSnaps, 1, false},
    {"rkso_reconcileSnaps", "Going to check [2] snap / clone device{s] status on the Storage Array", rkso_reconcileSnaps, 0, false},
};
// clang-format on

TEST(DeviceArrayEntryPoints, InvalidCallsTouchNoDevice) {
    FakeSnapInfo dev;
    RKSO::SnapInfo* devices[] = {&dev};
    RKSO::SnapInfo* withHole[] = {&dev, nullptr};
    FakeOSUtil util;
    for (const Named& ep : kDeviceArrayEntryPoints) {
        for (short count : {short(0), short(-1)}) {
            testsupport::LogCapture log;
            EXPECT_EQ(ep.fn(devices, count, &util), 1) << ep.name;
            EXPECT_TRUE(log.contains("No device passed for SNAP operation")) << ep.name;
        }
        testsupport::LogCapture log;
        EXPECT_EQ(ep.fn(nullptr, 2, nullptr), 1) << ep.name;
        EXPECT_EQ(ep.fn(withHole, 2, nullptr), 1) << ep.name;
        EXPECT_TRUE(log.contains("Device entry [1] of [2] is null")) << ep.name;
    }
    EXPECT_EQ(rkso_unprepareDevices(withHole, 2, nullptr), 1);
    EXPECT_TRUE(dev.calls().empty() && util.calls().empty());
}

TEST(DeviceArrayEntryPoints, StartLineOnTheFirstDeviceAndHostIdentifierWhereMapped) {
    for (const Named& ep : kDeviceArrayEntryPoints) {
        // Devices of no engine without a utility object, and PiT-engine devices with one.
        for (short engine : {0, 54}) {
            FakeSnapInfo first, second;
            FakeOSUtil util;
            util.setEngineId(engine);
            for (FakeSnapInfo* d : {&first, &second}) {
                d->setArrayInfoText(engine ? "{engineId:54}" : "");
                d->setEngineIdValue(engine);
                d->setControlHostIdValue(engine ? 1 : 0);
            }
            RKSO::SnapInfo* devices[] = {&first, &second};
            ep.fn(devices, 2, engine ? &util : nullptr);
            auto lines = first.logLines();
            ASSERT_FALSE(lines.empty()) << ep.name;
            EXPECT_EQ(lines[0].tag + lines[0].text + std::to_string(lines[0].level),
                      ep.name + std::string(ep.startLine) + std::to_string(ep.startLevel));
        }
        if (!ep.needsHostId) continue;
        FakeSnapInfo vmware;
        vmware.setDevicePathValue("/vmfs/vmware/lun1");
        vmware.failCall("getHostId");
        RKSO::SnapInfo* one[] = {&vmware};
        EXPECT_EQ(ep.fn(one, 1, nullptr), 1) << ep.name;
        EXPECT_EQ(vmware.errorCode(), 62002) << ep.name;
        // Revert asks rkso_isMapped first, so the text may name that one.
        EXPECT_NE(vmware.errorText().find(": Failed to get host identifier"), std::string::npos)
            << ep.name;
    }
}

// A host object whose calls throw: nothing may escape to the host.
class ThrowingSnapInfo : public FakeSnapInfo {
  public:
    int getDevicePath(char*, short*) override { throw std::runtime_error("host broke"); }
    int setMetaData(int, const char*) override { throw 42; }
};

TEST(DeviceArrayEntryPoints, ExceptionsNeverEscape) {
    ThrowingSnapInfo dev;
    RKSO::SnapInfo* devices[] = {&dev};
    testsupport::LogCapture log;
    EXPECT_EQ(rkso_mapSnaps(devices, 1, nullptr), 1);
    EXPECT_TRUE(log.contains("rkso_mapSnaps: unexpected failure: host broke"));
    EXPECT_EQ(rkso_unprepareDevices(devices, 1, nullptr), 1);
    EXPECT_TRUE(log.contains("rkso_unprepareDevices: unexpected failure"));
}

TEST(EngineCommon, FirstErrorWinsAndEngineTypeFromTheRecord) {
    FakeSnapInfo dev;
    setError(nullptr, 1, "x");
    setError(&dev, 62002, nullptr);
    EXPECT_TRUE(dev.calls().empty());
    setError(&dev, 62002, "first");
    setError(&dev, 60557, "second");
    EXPECT_EQ(
        std::to_string(dev.errorCode()) + dev.errorText() + std::to_string(dev.setErrorInfoCalls()),
        "62002first1");
    // record: null when the host's call fails
    // clang-format off
    struct Row { const char* record; short engine; } rows[] = {
        {"{hostName:a,hostUserName:u,hostPassword:p,engineId:54}", 54}, {"{engineId:17}", 17}, {"{hostName:alpha}", 0},
        {"{engineId:fast}", 0}, {"{engineId:99999999999}", 0}, {"", 0},
        {"{hostName:alpha,hostUserName:u,hostPassword:topsecret}", 0}, {nullptr, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        FakeSnapInfo info;
        if (row.record) info.setArrayInfoText(row.record);
        if (!row.record) info.failCall("getArrayInfo");
        EXPECT_EQ(getSnapEngineType(&info), row.engine) << (row.record ? row.record : "fails");
        for (const auto& line : info.logLines())
            EXPECT_EQ(line.text.find("topsecret"), std::string::npos) << line.text;
    }
    EXPECT_EQ(getSnapEngineType(nullptr), 0);
}

// Each invalid call of rkso_identifyDevices names its fault, returns 1, touches no device.
TEST(IdentifyDevices, InvalidCallsAreRefusedWithTheirOwnTexts) {
    FakeSnapInfo first, second;
    FakeOSUtil util;
    RksoDevicesByModel byModel;
    RKSO::SnapInfo* both[] = {&first, &second};
    RKSO::SnapInfo* nullFirst[] = {nullptr, &second};
    RKSO::SnapInfo* nullSecond[] = {&first, nullptr};
    // clang-format off
    struct Row { const char* name; RKSO::SnapInfo** devices; short count; RKSO::RKOSUtil* util; const char* text; } rows[] = {
        {"zero count", both, 0, &util, "Device count[0] not valid"}, {"negative count", both, -3, &util, "Device count[-3] not valid"},
        {"null list", nullptr, 2, &util, "Device list is null"}, {"null first entry", nullFirst, 2, &util, "Device list is null"},
        {"null utility object", both, 2, nullptr, "Snap util object is null"}, {"null later entry", nullSecond, 2, &util, "Invalid snapInfo pointer."},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::LogCapture log;
        EXPECT_EQ(rkso_identifyDevices(row.devices, row.count, &byModel, 3, nullptr, row.util), 1);
        EXPECT_TRUE(log.contains(row.text));
    }
    EXPECT_TRUE(first.calls().empty() && second.calls().empty() && util.calls().empty() &&
                byModel.empty());
}

}  // namespace
