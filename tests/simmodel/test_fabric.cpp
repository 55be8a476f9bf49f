// The SAN fabric: which LUNs initiator ports see and the inquiry bytes hosts read.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimModelTest.h"

using namespace simtest;
using nlohmann::json;

namespace {

std::vector<unsigned char> unhex(const std::string& h) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hexOf(const std::vector<unsigned char>& b, size_t from, size_t count) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = from; i < from + count; ++i) {
        s += d[b.at(i) >> 4];
        s += d[b.at(i) & 15];
    }
    return s;
}

std::string text(const std::vector<unsigned char>& b, size_t from, size_t count) {
    return std::string(b.begin() + static_cast<long>(from),
                       b.begin() + static_cast<long>(from + count));
}

}  // namespace

TEST(SimFabric, FcHostSeesItsOwnAndItsGroupsLuns) {
    sim::Provider p(sim::Config::defaults());
    json f = p.fabricLuns({"10000090FA1B2C3D"});
    ASSERT_EQ(f["luns"].size(), 4u);
    EXPECT_TRUE(f["unknownPorts"].empty());
    std::set<std::string> labels;
    std::set<std::string> devices;
    for (const json& lun : f["luns"]) {
        labels.insert(lun["label"]);
        devices.insert(lun["deviceName"]);
        auto inq = unhex(lun["standardInquiry"]);
        ASSERT_GE(inq.size(), 36u);
        EXPECT_EQ(inq[0] & 0x1F, 0);  // direct access
        EXPECT_EQ(text(inq, 8, 8), "NETAPP  ");
        EXPECT_EQ(text(inq, 16, 16), "INF-01-00       ");
        auto c8 = unhex(lun["vpdC8"]);
        ASSERT_GE(c8.size(), 106u);
        EXPECT_EQ(c8[1], 0xC8);
        EXPECT_EQ(hexOf(c8, 12, 16), lun["lunUuid"].get<std::string>());
        EXPECT_EQ(hexOf(c8, 90, 16), "600A0980006CE2B2000000005A1B2C3D");
        EXPECT_EQ(lun["arrayId"], "600A0980006CE2B2000000005A1B2C3D");
        // Page 0x80 through the owning controller gives what "CurrentManager" holds.
        auto s80 = unhex(lun["vpd80"]);
        ASSERT_GE(s80.size(), 4u);
        EXPECT_EQ(s80[1], 0x80);
        ASSERT_EQ(s80.size(), 4u + s80[3]);
        const std::string serial = text(s80, 4, s80[3]);
        auto vol = ok(p, getInstance(volume(p, lun["label"]))).instances.at(0);
        EXPECT_EQ(prop(vol, "CurrentManager"), serial);
        EXPECT_EQ(prop(vol, "Name"), lun["lunUuid"].get<std::string>());
        ASSERT_EQ(lun["paths"].size(), 2u);
        EXPECT_TRUE(lun["paths"][0]["owner"].get<bool>());
        EXPECT_EQ(lun["paths"][0]["controller"], serial);
        EXPECT_NE(lun["paths"][1]["controller"], serial);
    }
    EXPECT_EQ(labels, (std::set<std::string>{"ora_data1", "ora_data2", "ora_log", "exch_db"}));
    EXPECT_EQ(devices.size(), 4u);
    // Device names are stable from one call to the next.
    EXPECT_EQ(p.fabricLuns({"10000090FA1B2C3D"})["luns"][0]["deviceName"],
              f["luns"][0]["deviceName"]);
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

TEST(SimFabric, FollowsTheLiveModelAndThePreset) {
    json j = sim::Config::defaults().toJson();
    j["preset"] = "LSISSI";
    j["arrays"][0]["vendor"] = "LSI";
    sim::Config c = sim::Config::fromJson(j);
    sim::Provider p(c);
    json f = p.fabricLuns({"iqn.1994-05.com.example:iscsihost1"});
    ASSERT_FALSE(f["luns"].empty());
    auto inq = unhex(f["luns"][0]["standardInquiry"]);
    EXPECT_EQ(text(inq, 8, 8), "LSI     ");
    p.startJobWithEffect(0, [](sim::Array& a) { a.mappings.clear(); });
    EXPECT_TRUE(p.fabricLuns({"iqn.1994-05.com.example:iscsihost1"})["luns"].empty());
}
