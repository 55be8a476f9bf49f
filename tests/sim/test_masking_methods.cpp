// ExposePaths and HidePaths through our CIM client: the LUN a host sees on the
// fabric, resolution by controller or by initiator ports, and every refusal.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::param;
using testsupport::SimArray;

namespace {

using Params = std::vector<cim::CIMParamValue>;

CIMValue names(std::vector<std::string> v) {
    return CIMValue(v);
}

CIMValue accesses(std::vector<cim::Uint16> v) {
    return CIMValue(v);
}

Params expose(SimArray& s, const std::string& volume, const std::string& spc) {
    return {param("LUNames", names({s.property(s.volume(volume), "Name")})),
            param("DeviceAccesses", accesses({2})),
            param("ProtocolControllers",
                  testsupport::refs({s.named("CIM_SCSIProtocolController", spc)}))};
}

const char* kFcPort = "10000090FA1B2C3D";

}  // namespace

TEST(MaskingMethods, ExposedVolumeAppearsOnTheFabricUntilHidden) {
    SimArray s;
    const CIMObjectPath volume = s.volume("exch_log");
    const std::string uuid = s.property(volume, "Name");
    auto shown =
        s.call("ControllerConfigurationService", "ExposePaths", expose(s, "exch_log", "fchost1"));
    ASSERT_EQ(shown.rc, 0u);
    cim::Array<CIMObjectPath> spcs;
    for (const auto& p : shown.out)
        if (p.getParameterName() == "ProtocolControllers") p.getValue().get(spcs);
    ASSERT_EQ(spcs.size(), 1u);
    EXPECT_EQ(s.property(spcs[0], "ElementName"), "fchost1");
    // fchost1 sees LUNs 1..3 and its group's 10: the lowest free one is 0.
    auto units = s.client().references(s.ns(), volume, "CIM_ProtocolControllerForUnit");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].getProperty(units[0].findProperty("DeviceNumber")).getValue().toString(),
              "0");
    nlohmann::json lun;
    for (const auto& l : s.fabric({kFcPort}))
        if (l["lunUuid"] == uuid) lun = l;
    ASSERT_FALSE(lun.is_null());
    EXPECT_EQ(lun["lun"], 0);
    EXPECT_NE(lun["vpdC8"].get<std::string>().find(uuid), std::string::npos);
    EXPECT_EQ(lun["dataGeneration"], 1);
    s.hostWrite("exch_log");
    for (const auto& l : s.fabric({kFcPort}))
        if (l["lunUuid"] == uuid) {
            EXPECT_EQ(l["dataGeneration"], 2) << "shown at once";
        }

    // Exposing again through the same controller, here found by its ports, changes nothing.
    const nlohmann::json before = s.state();
    auto again = s.call("ControllerConfigurationService", "ExposePaths",
                        {param("LUNames", names({uuid})),
                         param("InitiatorPortIDs", names({"10:00:00:90:fa:1b:2c:3e"})),
                         param("DeviceAccesses", accesses({2}))});
    EXPECT_EQ(again.rc, 0u);
    EXPECT_TRUE(s.unchanged(before));

    Params hide = {param("LUNames", names({uuid})),
                   param("ProtocolControllers",
                         testsupport::refs({s.named("CIM_SCSIProtocolController", "fchost1")}))};
    EXPECT_EQ(s.call("ControllerConfigurationService", "HidePaths", hide).rc, 0u);
    for (const auto& l : s.fabric({kFcPort})) EXPECT_NE(l["lunUuid"], uuid);
    EXPECT_EQ(s.call("ControllerConfigurationService", "HidePaths", hide).rc, 640002u)
        << "the second of two hides";
}

TEST(MaskingMethods, RefusalsAnswerTheirCodeAndChangeNothing) {
    using Args = std::function<Params(SimArray&)>;
    auto with = [](const char* volume, const char* spc, std::function<void(Params&)> edit) -> Args {
        return [=](SimArray& s) {
            Params p = expose(s, volume, spc);
            edit(p);
            return p;
        };
    };
    auto set = [](const char* name, CIMValue v) {
        return [=](Params& p) {
            for (auto& x : p)
                if (x.getParameterName() == name) x.setValue(v);
        };
    };
    auto drop = [](const char* name) {
        return [=](Params& p) {
            for (auto it = p.begin(); it != p.end(); ++it)
                if (it->getParameterName() == name) {
                    p.erase(it);
                    return;
                }
        };
    };
    auto ports = [&](std::vector<std::string> list) {
        return [=](Params& p) {
            drop("ProtocolControllers")(p);
            p.push_back(param("InitiatorPortIDs", names(list)));
        };
    };
    struct Row {
        const char* name;
        const char* method;
        Args args;
        uint32_t rc;
    };
    const Row rows[] = {
        {"unknown logical unit", "ExposePaths",
         with("exch_log", "fchost1", set("LUNames", names({"600A0980000000000000000000000000"}))),
         4097},
        {"unknown initiator port", "ExposePaths",
         with("exch_log", "fchost1", ports({"2100001B32000000"})), 4098},
        {"ports of two hosts", "ExposePaths",
         with("exch_log", "fchost1", ports({kFcPort, "iqn.1994-05.com.example:iscsihost1"})), 5},
        {"neither controller nor ports", "ExposePaths",
         with("exch_log", "fchost1", drop("ProtocolControllers")), 5},
        {"DeviceAccesses 23 (throw-away)", "ExposePaths",
         with("exch_log", "fchost1", set("DeviceAccesses", accesses({23}))), 5},
        {"one access for two units", "ExposePaths",
         [](SimArray& s) {
             Params p = expose(s, "exch_log", "fchost1");
             p[0].setValue(names({s.property(s.volume("exch_log"), "Name"),
                                  s.property(s.volume("vm_store"), "Name")}));
             return p;
         },
         5},
        {"a second mapping", "ExposePaths", with("ora_data1", "iscsihost1", [](Params&) {}), 4},
        {"a LUN the host sees already", "ExposePaths",
         with("exch_log", "fchost1",
              [](Params& p) { p.push_back(param("DeviceNumbers", names({"10"}))); }),
         4102},
        {"a LUN that is no number", "ExposePaths",
         with("exch_log", "fchost1",
              [](Params& p) { p.push_back(param("DeviceNumbers", names({"x1"}))); }),
         5},
        {"a LUN a member host uses", "ExposePaths",
         with("exch_log", "cluster1",
              [](Params& p) { p.push_back(param("DeviceNumbers", names({"2"}))); }),
         4102},
        {"unknown controller", "ExposePaths",
         with("exch_log", "fchost1",
              [](Params& p) {
                  cim::Array<CIMObjectPath> spc;
                  p[2].getValue().get(spc);
                  spc[0].setKeyBindings(
                      {cim::CIMKeyBinding("DeviceID", "none", cim::CIMKeyBinding::STRING)});
                  p[2].setValue(CIMValue(spc));
              }),
         640010},
        {"hiding what is not mapped there", "HidePaths",
         with("ora_data1", "iscsihost1", drop("DeviceAccesses")), 640002},
    };
    for (const Row& row : rows) {
        SimArray s;
        Params args = row.args(s);
        const nlohmann::json before = s.state();
        EXPECT_EQ(s.call("ControllerConfigurationService", row.method, args).rc, row.rc)
            << row.name;
        EXPECT_TRUE(s.unchanged(before)) << row.name;
    }
}

TEST(MaskingMethods, NoFreeLunLeft) {
    SimArray s(simtest::richArray([](nlohmann::json& j) {
        auto& a = j["arrays"][0];
        a["bulkVolumes"] = {{"count", 256}, {"labelPrefix", "lun_"}, {"blocks", 2048}};
        a["mappings"] = nlohmann::json::array();
        for (int i = 0; i < 256; ++i)
            a["mappings"].push_back(
                {{"volume", "lun_" + std::to_string(i)}, {"to", "iscsihost1"}, {"lun", i}});
    }));
    const nlohmann::json before = s.state();
    EXPECT_EQ(
        s.call("ControllerConfigurationService", "ExposePaths", expose(s, "exch_log", "iscsihost1"))
            .rc,
        4103u);
    EXPECT_TRUE(s.unchanged(before));
}
