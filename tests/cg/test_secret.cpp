// The array password the provider holds ("Secret"): written only when it differs, never logged.
#include "rkso/RKPassword.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

const char* const kOldSecret = "Old-Secret-42";
const char* const kPasswordSetting = "SMCONFIG_NAME_LSI_ARRAY_PASSWORD";

// The host's password key and its configuration, with extra "Talon" items.
struct HostKey {
    TempDir dir;
    std::string keyFile = dir.write("key", std::string(64, 'c'), 0600);
    TalonConfig talon;
    explicit HostKey(const std::string& talonItems = std::string())
        : talon(talonItems, "[Host]\nPasswordKeyFile = " + keyFile + "\n") {}
    std::string encrypt(const std::string& plain) {
        std::string out;
        RKPassword pw(keyFile);
        EXPECT_TRUE(pw.encrypt(plain.c_str(), out)) << pw.getLastError();
        return out;
    }
};

// No credential in a device log, the module log or the simulator's request log.
void ExpectNoCredential(const SimSnapshot& dev, const LogCapture& module,
                        const sim::TestServer& sim, const std::string& row) {
    std::string all = dev.info.errorText();
    for (const auto& line : dev.info.logLines()) all += line.text + "\n";
    for (const auto& line : module.lines()) all += line.text + "\n";
    for (const sim::RequestRecord& r : sim.requests()) all += r.toJson().dump() + "\n";
    for (const char* secret : {kArraySecret, kOldSecret, kSimPassword})
        EXPECT_EQ(all.find(secret), std::string::npos) << row << ": " << secret;
}

TEST(ArraySecret, WrittenOnlyWhenTheConfiguredPasswordDiffers) {
    // secrets: CIM_SharedSecret instances
    struct Row {
        const char *name, *preset, *providerSecret;
        int secrets;
        std::function<void(SimSnapshot&, HostKey&)> arrange;
        const char* talon;
        int result;
        size_t writes;
        const char* trace;
        int hostError = 0;
        bool failWrite = false;
    };
    auto array = [](SimSnapshot& d, HostKey& k) {
        d.info.setConfig(kPasswordSetting, k.encrypt(kArraySecret));
    };
    // clang-format off
    const Row rows[] = {
        {"no configured password", "NETAPP", kOldSecret, 1, nullptr, "", 0, 0, ""},
        {"equal values", "NETAPP", kArraySecret, 1, array, "", 0, 0, ""},
        {"stale secret", "NETAPP", kOldSecret, 1, array, "", 1, 1, "Updated the secret key at SMI-S Provider"},
        {"secret never shared", "NETAPP", "", 1, array, "", 1, 1, "has not shared the password with SMI-S Provider"},
        {"two secrets", "NETAPP", kOldSecret, 2, array, "", 0, 0, "Multiple SharedSecret instance found-[2]"},
        {"no secret", "NETAPP", kOldSecret, 0, array, "", 0, 0, "No SharedSecret instance found"},
        {"password not decryptable", "NETAPP", kOldSecret, 1, [](SimSnapshot& d, HostKey&) { d.info.setConfig(kPasswordSetting, "rkpw1:AAAA"); }, "", 0, 0, "Unable to decrpt the array password due to error-["},
        {"the write fails", "NETAPP", kOldSecret, 1, array, "", 0, 1, "Failed to update the secret key", 0, true},
        {"prefix configured for the array", "DCIM", kOldSecret, 1, [&](SimSnapshot& d, HostKey& k) { array(d, k); d.info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", "DCIM"); }, "", 1, 1, "Array config [SMI-S Provider CIM ClassName Prefix:DCIM]"},
        {"prefix of the host wins", "DCIM", kOldSecret, 1, [&](SimSnapshot& d, HostKey& k) { array(d, k); d.info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", "LSISSI"); }, "LSI_OEM_CLASSNAME_PREFIX = DCIM", 1, 1, "Setting to override SMI-S classname prefix found"},
        {"no CIMOM", "NETAPP", kOldSecret, 1, [&](SimSnapshot& d, HostKey& k) { array(d, k); d.unreachable(); }, "", 0, 0, "Connection to CIMOM failed. Please check", 60541},
        {"login refused", "NETAPP", kOldSecret, 1, [&](SimSnapshot& d, HostKey& k) { array(d, k); d.wrongPassword(); }, "", 0, 0, "", 60555},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        HostKey key(r.talon);
        LogCapture module;
        sim::Config config = SimConfig(r.preset);
        config.arrays[0].providerSecret = r.providerSecret;
        config.arrays[0].sharedSecrets = r.secrets;
        sim::TestServer sim(config, PlainHttp());
        if (r.failWrite) sim.failCim(cim::CIM_ERR_FAILED, "refused", 1, {"ModifyInstance", "", ""});
        SimSnapshot dev(sim);
        if (r.arrange) r.arrange(dev, key);
        const nlohmann::json before = sim.state();
        EXPECT_EQ(dev.snap.CheckAndUpdateArraySecret(&dev.info), r.result);
        EXPECT_EQ(CountRequests(sim, "ModifyInstance"), r.writes);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
        EXPECT_TRUE(dev.logged(r.trace));
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        const std::string system = std::string(r.preset) + "_StorageSystem";
        EXPECT_TRUE(r.hostError || CountRequests(sim, "EnumerateInstanceNames", system) == 1u);
        nlohmann::json after = sim.state();
        const bool current = r.result == 1 || r.providerSecret == std::string(kArraySecret);
        EXPECT_EQ(after["arrays"][0]["providerSecretCurrent"], current);
        nlohmann::json unchanged = before;
        for (nlohmann::json* state : {&after, &unchanged}) {
            (*state)["arrays"][0].erase("providerSecretCurrent");
            (*state)["arrays"][0].erase("providerSecret");
        }
        EXPECT_EQ(nlohmann::json::diff(unchanged, after), nlohmann::json::array());
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        ExpectNoCredential(dev, module, sim, r.name);
    }
}

TEST(ArraySecret, SetArrayPWWritesWithoutComparing) {
    // clang-format off
    struct Row { const char* name; int secrets; std::string array, secret; bool result; size_t writes; } rows[] = {
        {"written", 1, "", kArraySecret, true, 1},
        {"two secrets", 2, "", kArraySecret, false, 0},
        {"unknown array", 1, "600A0980006CE2B2000000005A1B2C00", kArraySecret, false, 0},
        {"empty secret", 1, "", "", false, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        LogCapture module;
        sim::Config config = SimConfig();
        config.arrays[0].providerSecret = kOldSecret;
        config.arrays[0].sharedSecrets = r.secrets;
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        std::string array = r.array.empty() ? dev.array.id : r.array;
        std::string secret = r.secret;
        EXPECT_EQ(dev.snap.SetArrayPW(array, secret), r.result) << r.name;
        EXPECT_EQ(CountRequests(sim, "ModifyInstance"), r.writes) << r.name;
        EXPECT_EQ(sim.state()["arrays"][0]["providerSecretCurrent"], r.result) << r.name;
        ExpectNoCredential(dev, module, sim, r.name);
    }
}

}  // namespace
