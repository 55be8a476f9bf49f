// Stored paths adapted to the provider in use, the array namespace found through
// "interop", and one property read by a name.
#include <gtest/gtest.h>

#include <array>
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
    const Row rows[] = {
        {"nothing configured: the first path's prefix, nothing changes",
         "-",
         "",
         {"", kLsiVolume, "", kDcimVolume},
         "LSISSI",
         {"", kLsiVolume, "", kDcimVolume}},
        {"array setting rewrites every path and namespace",
         "DCIM",
         "",
         {kLsiService, kLsiVolume, "", kLsiVolume},
         "DCIM",
         {ToDcim(kLsiService), ToDcim(kLsiVolume), "", ToDcim(kLsiVolume)}},
        {"a path already in the prefix stops it before any write-back",
         "DCIM",
         "",
         {kLsiService, kDcimVolume, "", kLsiVolume},
         "DCIM",
         {kLsiService, kDcimVolume, "", kLsiVolume}},
        {"the host setting wins over the array setting",
         "NETAPP",
         "LSI_OEM_CLASSNAME_PREFIX=DCIM",
         {"", kLsiVolume, "", ""},
         "DCIM",
         {"", ToDcim(kLsiVolume), "", ""}},
        {"a prefix containing the old one is inserted once per occurrence",
         longer,
         "",
         {"", kLsiVolume, "", ""},
         longer,
         {"",
          Replaced(Replaced(kLsiVolume, "LSISSI_", longer + "_"), "root/LsiArray13",
                   "root/DCIM/MDStorageArray13"),
          "", ""}},
        {"an unparsable path fails and leaves every argument alone",
         "DCIM",
         "",
         {kLsiService, "6000A0B800029E9E6", "", ""},
         "",
         {kLsiService, "6000A0B800029E9E6", "", ""}},
        {"nothing to work on", "DCIM", "", {"", "", "", ""}, "", {"", "", "", ""}},
    };
    for (const Row& r : rows) {
        testsupport::TalonConfig talon(r.talon);
        SimSnapshot dev(sim);
        if (r.arrayConfig != "-")
            dev.info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", r.arrayConfig);
        // Members follow only where they were set: the target's is not.
        dev.snap.m_ServicePath = "old service";
        dev.snap.m_SourceDevPath = "old source";
        std::array<std::string, 4> p = r.in;
        EXPECT_EQ(dev.snap.replaceClassPrefix(p[0], p[1], p[2], p[3]), r.result) << r.name;
        EXPECT_EQ(p, r.out) << r.name;
        const bool rewritten = p != r.in;
        EXPECT_EQ(dev.snap.m_ServicePath, rewritten && !p[0].empty() ? p[0] : "old service")
            << r.name;
        EXPECT_EQ(dev.snap.m_SourceDevPath, rewritten ? p[1] : "old source") << r.name;
        EXPECT_EQ(dev.snap.m_TargetDevPath, "") << r.name;
        EXPECT_TRUE(sim.requests().empty()) << r.name;
        if (r.in == std::array<std::string, 4>{}) {
            EXPECT_TRUE(dev.logged("Empty object paths received.")) << r.name;
        }
    }
}

TEST(InteropNamespace, FirstNameNotSkippedIsTheArrays) {
    struct Row {
        const char* name;
        std::string preset;
        std::string arrayNamespace;  // empty: the preset's
        bool ran;
        std::string found;
    };
    const Row rows[] = {
        {"LSISSI", "LSISSI", "", true, "root/LsiArray13"},
        {"DCIM", "DCIM", "", true, "root/DCIM/MDStorageArray13"},
        {"NETAPP", "NETAPP", "", true, "root/netapp/santricity"},
        {"only skipped names", "NETAPP", "root/cimv2", true, ""},
    };
    for (const Row& r : rows) {
        sim::Config config = testsupport::SimConfig(r.preset);
        if (!r.arrayNamespace.empty()) config.arrayNamespace = r.arrayNamespace;
        sim::TestServer sim(config, testsupport::PlainHttp());
        SimSnapshot dev(sim);
        dev.snap.m_CimConnection.GetCimom().SetNameSpace("before");
        std::string ns = "stale";
        EXPECT_EQ(dev.snap.GetNamespaceFromInterop(ns, false), r.ran) << r.name;
        EXPECT_EQ(ns, r.found) << r.name;
        EXPECT_EQ(dev.snap.m_CimConnection.GetNameSpace(), r.found.empty() ? "before" : r.found)
            << r.name;
        EXPECT_EQ(sim.requests().size(), 1u) << r.name << ": one round trip";
        EXPECT_EQ(CountRequests(sim, "EnumerateInstanceNames", "CIM_Namespace"), 1u) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        if (r.found.empty()) {
            EXPECT_TRUE(dev.logged("Unable to find array namespace from list of [2] namespace"))
                << r.name;
        }
    }
}

TEST(InteropNamespace, FailuresAnswerFalseAndKeepTheEndpoint) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    struct Row {
        const char* name;
        std::function<void(sim::TestServer&, SimSnapshot&)> arrange;
        const char* trace;
    };
    const Row rows[] = {
        {"no CIMOM", [](sim::TestServer&, SimSnapshot& d) { d.unreachable(); },
         "Failed to connect CIMOM using interop namespace."},
        {"CIM error",
         [](sim::TestServer& s, SimSnapshot&) { s.failCim(cim::CIM_ERR_FAILED, "broken"); },
         "Caught CIMException: CIM_ERR_FAILED"},
        {"connection closed",
         [](sim::TestServer& s, SimSnapshot&) { s.addFault(sim::FaultKind::Close, 20); },
         "Caught Exception"},
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        r.arrange(sim, dev);
        dev.snap.m_CimConnection.GetCimom().SetNameSpace("before");
        std::string ns = "stale";
        EXPECT_FALSE(dev.snap.GetNamespaceFromInterop(ns, false)) << r.name;
        EXPECT_EQ(ns, "") << r.name;
        EXPECT_EQ(dev.snap.m_CimConnection.GetNameSpace(), "before") << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
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
        sim.log().clear();
        SimSnapshot dev(sim);
        EXPECT_EQ(dev.snap.GetObjPropStrByName(r.args[0], r.args[1], r.args[2], r.args[3]),
                  r.expected)
            << r.name;
        EXPECT_EQ(sim.requests().size(), r.requests) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        if (r.requests == 0) {
            EXPECT_TRUE(dev.logged("Invalid Arguments")) << r.name;
        }
    }
    sim.failCim(cim::CIM_ERR_FAILED, "broken", 20);
    SimSnapshot dev(sim);
    EXPECT_EQ(dev.snap.GetObjPropStrByName("CIM_StorageVolume", "ElementName", "exch_log", "Name"),
              "");
    EXPECT_TRUE(dev.logged("Caught CIMException"));
}

}  // namespace
