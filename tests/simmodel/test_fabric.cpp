// The SAN fabric: which LUNs initiator ports see and the inquiry bytes hosts read.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimModelTest.h"

using namespace simtest;
using nlohmann::json;

namespace {

std::string text(const std::string& hex, size_t from, size_t count) {
    std::string out;
    for (size_t i = from; i < from + count; ++i)
        out += static_cast<char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return out;
}

}  // namespace

// The bytes are the host layer's to decode; here which LUNs a port sees, and that the
// owning path answers what "CurrentManager" holds.
TEST(SimFabric, FcHostSeesItsOwnAndItsGroupsLuns) {
    sim::Provider p(sim::Config::defaults());
    json f = p.fabricLuns({"10000090FA1B2C3D"});
    std::set<std::string> labels;
    for (const json& lun : f["luns"]) {
        labels.insert(lun["label"]);
        EXPECT_EQ(lun["arrayId"], "600A0980006CE2B2000000005A1B2C3D");
        const std::string s80 = lun["vpd80"];
        const std::string serial = text(s80, 4, std::stoul(s80.substr(6, 2), nullptr, 16));
        auto vol = ok(p, getInstance(volume(p, lun["label"]))).instances.at(0);
        EXPECT_EQ(prop(vol, "CurrentManager"), serial);
        EXPECT_EQ(prop(vol, "Name"), lun["lunUuid"].get<std::string>());
        ASSERT_EQ(lun["paths"].size(), 2u);
        EXPECT_TRUE(lun["paths"][0]["owner"].get<bool>());
        EXPECT_EQ(lun["paths"][0]["controller"], serial);
        EXPECT_NE(lun["paths"][1]["controller"], serial);
    }
    EXPECT_EQ(labels, (std::set<std::string>{"ora_data1", "ora_data2", "ora_log", "exch_db"}));
    EXPECT_TRUE(f["unknownPorts"].empty());
}

TEST(SimFabric, PortsAreMatchedAsHostsWriteThem) {
    sim::Provider p(sim::Config::defaults());
    json iscsi = p.fabricLuns({"IQN.1994-05.COM.EXAMPLE:ISCSIHOST1"});
    ASSERT_EQ(iscsi["luns"].size(), 2u);
    json wwpn = p.fabricLuns({"10:00:00:90:fa:1b:2c:3e"});
    EXPECT_EQ(wwpn["luns"].size(), 4u);
    json both = p.fabricLuns({"10000090FA1B2C3D", "10000090FA1B2C3E"});
    ASSERT_EQ(both["luns"].size(), 4u);
    EXPECT_EQ(both["luns"][0]["initiatorPorts"].size(), 2u);
    json none = p.fabricLuns({"2000000000000001", "", "junk\x01"});
    EXPECT_TRUE(none["luns"].empty());
    EXPECT_EQ(none["unknownPorts"].size(), 3u);
    EXPECT_TRUE(p.fabricLuns({})["luns"].empty());
}
