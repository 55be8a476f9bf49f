// The snapshot object's records and the frame every operation shares, stored paths
// adapted to the provider in use, the array namespace found through "interop", one
// property read by a name; and after every test of the program, no device log line
// carries a credential.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <mutex>
#include <string>

#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

const std::string kLsiService =
    "//10.1.1.5/root/LsiArray13:LSISSI_ReplicationService.Name=\"RS\",SystemName=\"600A\"";
const std::string kLsiVolume =
    "root/LsiArray13:LSISSI_StorageVolume.CreationClassName=\"LSISSI_StorageVolume\",DeviceID="
    "\"6A11\"";
const std::string kDcimVolume = "root/DCIM/MDStorageArray13:DCIM_StorageVolume.DeviceID=\"6A11\"";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string ToDcim(const std::string& lsi) {
    return Replaced(Replaced(lsi, "LSISSI_", "DCIM_"), "root/LsiArray13",
                    "root/DCIM/MDStorageArray13");
}

class ClassPrefix : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::SimConfig("DCIM"), testsupport::PlainHttp()};
};

TEST_F(ClassPrefix, StoredPathsFollowTheConfiguredPrefixAndNamespace) {
    struct Row {
        const char* name;
        std::string arrayConfig;  // SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX, "-" for none
        std::string talon;        // LSI_OEM_CLASSNAME_PREFIX line
        std::array<std::string, 4> in;
        std::string result;
        std::array<std::string, 4> out;
    };
    const std::string longer = "XLSISSI";
    const std::string longerVolume = Replaced(Replaced(kLsiVolume, "LSISSI_", longer + "_"),
                                              "root/LsiArray13", "root/DCIM/MDStorageArray13");
    const std::string bad = "6000A0B800029E9E6";
    const Row rows[] = {
        // clang-format off
        {"nothing configured: the first path's prefix, nothing changes", "-", "", {"", kLsiVolume, "", kDcimVolume}, "LSISSI", {"", kLsiVolume, "", kDcimVolume}},
        {"array setting rewrites every path and namespace", "DCIM", "", {kLsiService, kLsiVolume, "", kLsiVolume}, "DCIM", {ToDcim(kLsiService), ToDcim(kLsiVolume), "", ToDcim(kLsiVolume)}},
        {"a path already in the prefix stops it before any write-back", "DCIM", "", {kLsiService, kDcimVolume, "", kLsiVolume}, "DCIM", {kLsiService, kDcimVolume, "", kLsiVolume}},
        {"the host setting wins over the array setting", "NETAPP", "LSI_OEM_CLASSNAME_PREFIX=DCIM", {"", kLsiVolume, "", ""}, "DCIM", {"", ToDcim(kLsiVolume), "", ""}},
        {"a prefix containing the old one is inserted once per occurrence", longer, "", {"", kLsiVolume, "", ""}, longer, {"", longerVolume, "", ""}},
        {"an unparsable path fails and leaves every argument alone", "DCIM", "", {kLsiService, bad, "", ""}, "", {kLsiService, bad, "", ""}},
        {"nothing to work on", "DCIM", "", {"", "", "", ""}, "", {"", "", "", ""}},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::TalonConfig talon(r.talon);
        SimSnapshot dev(sim);
        if (r.arrayConfig != "-")
            dev.info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", r.arrayConfig);
        // Members follow only where they were set: the target's is not.
        dev.snap.m_ServicePath = "old service";
        dev.snap.m_SourceDevPath = "old source";
        std::array<std::string, 4> p = r.in;
        EXPECT_EQ(dev.snap.replaceClassPrefix(p[0], p[1], p[2], p[3]), r.result);
        EXPECT_EQ(p, r.out);
        const bool rewritten = p != r.in;
        EXPECT_EQ(dev.snap.m_ServicePath, rewritten && !p[0].empty() ? p[0] : "old service");
        EXPECT_EQ(dev.snap.m_SourceDevPath, rewritten ? p[1] : "old source");
        EXPECT_EQ(dev.snap.m_TargetDevPath, "");
        EXPECT_TRUE(sim.requests().empty());
        if (r.in == std::array<std::string, 4>{}) {
            EXPECT_TRUE(dev.logged("Empty object paths received."));
        }
    }
}

TEST(InteropNamespace, FirstNameNotSkippedIsTheArraysAndFailuresKeepTheEndpoint) {
    using Arrange = std::function<void(sim::TestServer&, SimSnapshot&)>;
    struct Row {
        const char* name;
        std::string preset, arrayNamespace;  // empty: the preset's
        Arrange arrange;
        bool ran;
        std::string found;
        const char* trace;
    };
    const Row rows[] = {
        // clang-format off
        {"NETAPP", "NETAPP", "", nullptr, true, "root/netapp/santricity", ""},
        {"only skipped names", "NETAPP", "root/cimv2", nullptr, true, "", "Unable to find array namespace from list of [2] namespace"},
        {"no CIMOM", "NETAPP", "", [](sim::TestServer&, SimSnapshot& d) { d.unreachable(); }, false, "", "Failed to connect CIMOM using interop namespace."},
        {"CIM error", "NETAPP", "", [](sim::TestServer& s, SimSnapshot&) { s.failCim(cim::CIM_ERR_FAILED, "broken"); }, false, "", "Caught CIMException: CIM_ERR_FAILED"},
        {"connection closed", "NETAPP", "", [](sim::TestServer& s, SimSnapshot&) { s.addFault(sim::FaultKind::Close, 20); }, false, "", "Caught Exception"},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim::Config config = testsupport::SimConfig(r.preset);
        if (!r.arrayNamespace.empty()) config.arrayNamespace = r.arrayNamespace;
        sim::TestServer sim(config, testsupport::PlainHttp());
        SimSnapshot dev(sim);
        if (r.arrange) r.arrange(sim, dev);
        dev.snap.m_CimConnection.GetCimom().SetNameSpace("before");
        std::string ns = "stale";
        EXPECT_EQ(dev.snap.GetNamespaceFromInterop(ns, false), r.ran);
        EXPECT_EQ(ns, r.found);
        EXPECT_EQ(dev.snap.m_CimConnection.GetNameSpace(), r.found.empty() ? "before" : r.found);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        EXPECT_TRUE(dev.logged(r.trace));
        if (r.ran) {
            EXPECT_EQ(sim.requests().size(), 1u) << "one round trip";
            EXPECT_EQ(CountRequests(sim, "EnumerateInstanceNames", "CIM_Namespace"), 1u);
        }
    }
}

TEST(InteropNamespace, FromTheServicePathAsksNoProvider) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    std::string ns;
    dev.snap.m_ServicePath = kLsiService;
    EXPECT_TRUE(dev.snap.GetNamespaceFromInterop(ns, true));
    EXPECT_EQ(ns, "root/LsiArray13");
    dev.snap.m_ServicePath = "not a path";
    EXPECT_FALSE(dev.snap.GetNamespaceFromInterop(ns, true));
    EXPECT_TRUE(sim.requests().empty());
}

TEST(ObjPropByName, ReadsThePropertyOfTheNamedInstance) {
    sim::TestServer sim(testsupport::SimConfig("LSISSI"), testsupport::PlainHttp());
    struct Row {
        const char* name;
        std::array<std::string, 4> args;
        std::string expected;
        size_t requests;
    };
    SimSnapshot probe(sim);
    const sim::Volume& v = probe.volume("exch_log");
    const Row rows[] = {
        {"found", {"CIM_StorageVolume", "ElementName", "EXCH_LOG", "Name"}, v.uuid, 2},
        {"no such instance", {"CIM_StorageVolume", "ElementName", "nope", "Name"}, "", 1},
        {"missing value", {"CIM_StorageVolume", "ElementName", "", "Name"}, "", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.log().clear();
        SimSnapshot dev(sim);
        EXPECT_EQ(dev.snap.GetObjPropStrByName(r.args[0], r.args[1], r.args[2], r.args[3]),
                  r.expected);
        EXPECT_EQ(sim.requests().size(), r.requests);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        if (r.requests == 0) {
            EXPECT_TRUE(dev.logged("Invalid Arguments"));
        }
    }
    sim.failCim(cim::CIM_ERR_FAILED, "broken", 20);
    SimSnapshot dev(sim);
    EXPECT_EQ(dev.snap.GetObjPropStrByName("CIM_StorageVolume", "ElementName", "exch_log", "Name"),
              "");
    EXPECT_TRUE(dev.logged("Caught CIMException"));
}

TEST(SnapObject, RecordsKeepTheArrayNameAndOverwriteTheTarget) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    for (const std::string recordName : {"", "OTHER"}) {
        SimSnapshot dev(sim);
        RK_SMIS_SNAP::RkSnapParams p;
        p.m_SystemName = recordName;
        p.m_TargetDev = "600A0000000000000000000000000001";
        dev.snap.SetSnapInfo(p);
        EXPECT_EQ(dev.snap.GetSystemName(), recordName.empty() ? dev.array.id : recordName);
        RK_SMIS_SNAP::RkSnapViewParams v;  // no target: clears the one set above
        dev.snap.SetSnapViewInfo(v);
        EXPECT_EQ(dev.snap.GetSnapDevice(), "") << recordName;
    }
}

TEST(SnapObject, OperationFrame) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    const std::string path =
        dev.snap.GetVolObjPathByUUID(dev.snap.m_CimConnection, dev.volume("small_lun").uuid, "");
    dev.snap.m_CimConnection.DisconnectCimom();
    sim.log().clear();
    // Refusals never reach the provider.
    EXPECT_EQ(dev.snap.UnprepareSnap(), 0);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "", "v"), -1);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty("", "ElementName", "v"), -1);
    EXPECT_EQ(dev.countLines("Invalid Parameters"), 2);
    EXPECT_TRUE(sim.requests().empty());
    // A change reaches the array and the operation closes its connection.
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "renamed_lun"), 0);
    EXPECT_NE(sim.provider().currentState().arrays[0].findVolumeByLabel("renamed_lun"), nullptr);
    EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
    // No connection: error 3 under the operation's name.
    dev.snap.m_CimConnection.GetCimom().SetNameSpace("");
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "x"), -1);
    EXPECT_EQ(dev.snap.GetErrorMsg(),
              "Snapshot::SetSnapObjectProperty: Connection to CIMOM failed");
    EXPECT_EQ(dev.info.errorCode(), 60541);
}

// After every test of the program: no device log line carries a credential.
class NoSecretsInLogs : public ::testing::Environment {
  public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(testsupport::SimJournal::mutex());
        const auto& lines = testsupport::SimJournal::lines();
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find(testsupport::kSimPassword), std::string::npos) << line;
            EXPECT_EQ(line.find(testsupport::kArraySecret), std::string::npos) << line;
        }
    }
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLogs);

}  // namespace
