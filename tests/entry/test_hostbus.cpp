// What the mapping calls read from the host: its device list and initiator ports,
// with the host's answers as a host could give them.
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "engine/HostBus.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

using namespace testsupport;

TEST(HostBus, DeviceListSplitsOnlyBetweenDevices) {
    const std::string vm1 = "{idatype:vmware,lunuuid:600a*1,version:6}";
    const std::string vm2 = "{idatype:vmware,lunuuid:600a*2,version:6}";
    struct Row {
        const char* name;
        std::string listed;
        const char* failing;  // host operation made to fail or never have room
        bool ok;
        std::vector<std::string> devices;
    } rows[] = {
        // clang-format off
        {"plain", "/dev/sdb*/dev/sdc*/dev/sdd", nullptr, true, {"/dev/sdb", "/dev/sdc", "/dev/sdd"}},
        {"one device", "/dev/sdb", nullptr, true, {"/dev/sdb"}},
        {"VMware descriptors with '*' inside", vm1 + "*" + vm2, nullptr, true, {vm1, vm2}},
        {"empty list", "", nullptr, false, {}},
        {"host failure", "/dev/sdb", "fail", false, {}},
        {"never enough room", "/dev/sdb", "grow", false, {}},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FakeOSUtil util;
        FakeSnapInfo info;
        util.setDevices(r.listed);
        if (r.failing && std::string(r.failing) == "fail") util.failCall("listDevices");
        if (r.failing && std::string(r.failing) == "grow") util.keepGrowing("listDevices");
        std::list<std::string> devices = {"stale"};
        EXPECT_EQ(getDeviceList(&info, devices, &util, "host", false, ""), r.ok);
        EXPECT_EQ(std::vector<std::string>(devices.begin(), devices.end()), r.devices);
    }
}

TEST(HostBus, InitiatorsOfTheKindTheHostUsesReachTheArrayInItsForm) {
    const std::string fc = std::string(1, '\0'), is = std::string(1, '\1');
    struct Row {
        const char* name;
        std::string names, kinds;
        std::string used;  // queryHba's answer
        bool usedIscsi;
        bool ok;
        std::string text;  // as the array gets them
    } rows[] = {
        // clang-format off
        {"FC ports", "21:00:00:24:ff:4c:aa:01,10000090fa1b2c3d", fc + fc, "21:00:00:24:ff:4c:aa:01", false, true,
         "21000024FF4CAA01,10000090FA1B2C3D"},
        {"FC host, iSCSI port left out", "iqn.1998-01.com.x:h1,10000090fa1b2c3d", is + fc, "10000090fa1b2c3d", false, true,
         "10000090FA1B2C3D"},
        {"iSCSI host", "iqn.1998-01.com.x:h1,10000090fa1b2c3d", is + fc, "iqn.1998-01.com.x:h1", true, true, "iqn.1998-01.com.x:h1"},
        {"no port of that kind", "iqn.1998-01.com.x:h1", is, "10000090fa1b2c3d", false, false, ""},
        {"no ports", "", "", "", false, false, ""},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FakeOSUtil util;
        FakeSnapInfo info;
        util.setHbas(r.names, r.kinds, static_cast<short>(r.kinds.size()));
        util.setHba(r.used, r.usedIscsi);
        std::list<std::string> ports;
        std::string host = "host", array = "A1";
        bool iscsi = !r.usedIscsi;
        EXPECT_EQ(detectHbalist(&info, &util, ports, host, array, iscsi), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(iscsi, r.usedIscsi);
        EXPECT_EQ(convertHbaList(&info, ports, iscsi), r.text);
    }
    // A port name past 128 characters is cut before it reaches the array.
    FakeSnapInfo info;
    std::list<std::string> longPort = {std::string(200, 'a')};
    EXPECT_EQ(convertHbaList(&info, longPort, true), std::string(128, 'a'));
}

}  // namespace
