// Class prefixes, what needs no provider, and no credential in any log line of the program.
#include <array>
#include "testsupport/SimSnapshot.h"

namespace {

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

// The LSISSI path under prefix in the DCIM namespace.
std::string ToDcim(const std::string& lsi, const std::string& prefix = "DCIM") {
    return Replaced(Replaced(lsi, "LSISSI_", prefix + "_"), "root/LsiArray13",
                    "root/DCIM/MDStorageArray13");
}

TEST(ClassPrefix, StoredPathsFollowTheConfiguredPrefixAndNamespace) {
    sim::TestServer sim(testsupport::SimConfig("DCIM"), testsupport::PlainHttp());
    // arrayConfig: SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX, "-" for none; talon:
    // LSI_OEM_CLASSNAME_PREFIX line
    struct Row {
        const char* name;
        std::string arrayConfig;
        std::string talon;
        std::array<std::string, 4> in;
        std::string result;
        std::array<std::string, 4> out;
    };
    const std::string longer = "XLSISSI";
    const std::string bad = "6000A0B800029E9E6";
    // clang-format off
    const Row rows[] = {
        {"nothing configured: the first path's prefix, nothing changes", "-", "", {"", kLsiVolume, "", kDcimVolume}, "LSISSI", {"", kLsiVolume, "", kDcimVolume}},
        {"array setting rewrites every path and namespace", "DCIM", "", {kLsiService, kLsiVolume, "", kLsiVolume}, "DCIM", {ToDcim(kLsiService), ToDcim(kLsiVolume), "", ToDcim(kLsiVolume)}},
        {"a path already in the prefix stops it before any write-back", "DCIM", "", {kLsiService, kDcimVolume, "", kLsiVolume}, "DCIM", {kLsiService, kDcimVolume, "", kLsiVolume}},
        {"the host setting wins over the array setting", "NETAPP", "LSI_OEM_CLASSNAME_PREFIX=DCIM", {"", kLsiVolume, "", ""}, "DCIM", {"", ToDcim(kLsiVolume), "", ""}},
        {"a prefix containing the old one is inserted once per occurrence", longer, "", {"", kLsiVolume, "", ""}, longer, {"", ToDcim(kLsiVolume, longer), "", ""}},
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
        EXPECT_EQ(dev.logged("Empty object paths received."),
                  (r.in == std::array<std::string, 4>{}));
    }
}

// What needs no provider: records, refusals and the namespace of a stored service path.
TEST(SnapObject, RecordsRefusalsAndTheServicePathNeedNoProvider) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    RK_SMIS_SNAP::RkSnapParams p;  // a record without a system name keeps the array's
    dev.snap.SetSnapInfo(p);
    EXPECT_EQ(dev.snap.GetSystemName(), dev.array.id);
    p.m_SystemName = "OTHER";
    dev.snap.SetSnapInfo(p);
    EXPECT_EQ(dev.snap.GetSystemName(), "OTHER");
    dev.snap.m_SystemName = dev.array.id;
    EXPECT_EQ(dev.snap.UnprepareSnap(), 0);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty("path", "", "v"), -1);
    SimSnapshot other(sim);  // each refusal is traced
    EXPECT_EQ(other.snap.SetSnapObjectProperty("", "ElementName", "v"), -1);
    EXPECT_TRUE(dev.logged("Invalid Parameters") && other.logged("Invalid Parameters"));
    EXPECT_EQ(dev.snap.GetObjPropStrByName("CIM_StorageVolume", "ElementName", "", "Name"), "");
    EXPECT_TRUE(dev.logged("Invalid Arguments"));
    std::string ns;
    dev.snap.m_ServicePath = kLsiService;
    EXPECT_TRUE(dev.snap.GetNamespaceFromInterop(ns, true));
    EXPECT_EQ(ns, "root/LsiArray13");
    dev.snap.m_ServicePath = "not a path";
    EXPECT_FALSE(dev.snap.GetNamespaceFromInterop(ns, true));
    EXPECT_TRUE(sim.requests().empty());
    // No connection: error 3 under the operation's name.
    dev.snap.m_CimConnection.GetCimom().SetNameSpace("");
    EXPECT_EQ(dev.snap.SetSnapObjectProperty("path", "ElementName", "x"), -1);
    EXPECT_EQ(dev.snap.GetErrorMsg(),
              "Snapshot::SetSnapObjectProperty: Connection to CIMOM failed");
    EXPECT_EQ(dev.info.errorCode(), 60541);
}

// After every test of the program: no device log line carries a credential.
class NoSecretsInLogs : public ::testing::Environment {
  public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(testsupport::SimJournal::mutex());
        for (const std::string& line : testsupport::SimJournal::lines()) {
            EXPECT_EQ(line.find(testsupport::kSimPassword), std::string::npos) << line;
            EXPECT_EQ(line.find(testsupport::kArraySecret), std::string::npos) << line;
        }
    }
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLogs);

}  // namespace
