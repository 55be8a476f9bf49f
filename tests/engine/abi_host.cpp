// A host framework in miniature: only include/rkso, dlopen and dlsym'd names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rkso/rkso.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

class PluginAbi : public ::testing::Test {
  protected:
    void SetUp() override {
        lib = dlopen(RKSO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
    }
    void TearDown() override {
        if (lib) dlclose(lib);
    }
    template <typename Fn>
    Fn find(const char* name) {
        void* sym = dlsym(lib, name);
        EXPECT_NE(sym, nullptr) << "missing export " << name;
        return reinterpret_cast<Fn>(sym);
    }
    void* lib = nullptr;
};

TEST_F(PluginAbi, EveryEntryPointAnswersUnderItsUnmangledName) {
    EXPECT_EQ(dlsym(lib, "_Z12rkso_versionPtS_S_"), nullptr);
    auto version = find<rkso_version_fn>("rkso_version");
    ASSERT_NE(version, nullptr);
    unsigned short major = 7, minor = 7, patch = 7, untouched = 7;
    version(&major, &minor, &patch);
    EXPECT_EQ(std::vector<int>({major, minor, patch}), std::vector<int>({1, 0, 0}));
    version(&untouched, nullptr, &untouched);
    EXPECT_EQ(untouched, 7) << "nothing is written when a pointer is null";
    // A zero-count call of every device-array entry point: 1 (unprepare: 0, nothing to do),
    // no device touched.
    FakeSnapInfo untouchedDevice;
    RKSO::SnapInfo* one[] = {&untouchedDevice};
    testsupport::FakeOSUtil util;
    for (const std::string name :
         {"rkso_prepareDevices", "rkso_snapDevices", "rkso_isMapped", "rkso_mapSnaps",
          "rkso_unmapSnaps", "rkso_revertSnaps", "rkso_deleteSnaps", "rkso_reconcileSnaps",
          "rkso_unprepareDevices"}) {
        auto fn = find<rkso_devices_fn>(name.c_str());
        ASSERT_NE(fn, nullptr) << name;
        EXPECT_EQ(fn(one, 0, &util), name == "rkso_unprepareDevices" ? 0 : 1) << name;
    }
    auto identify = find<rkso_identifyDevices_fn>("rkso_identifyDevices");
    ASSERT_NE(identify, nullptr);
    RksoDevicesByModel byModel;
    EXPECT_EQ(identify(one, 0, &byModel, 0, nullptr, &util), 1);
    EXPECT_TRUE(untouchedDevice.calls().empty());
    EXPECT_TRUE(util.calls().empty());
    // The plug-in writes to the host's own debug log where no device is at hand.
    auto isSupported = find<rkso_isSupported_fn>("rkso_isSupported");
    ASSERT_NE(isSupported, nullptr);
    testsupport::LogCapture log;
    EXPECT_EQ(isSupported(nullptr, 0, &util, nullptr, 0), 1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].tag, "rkso_isSupported");
    EXPECT_EQ(log.lines()[0].text, "Function called with NULL character device name");
}

}  // namespace
