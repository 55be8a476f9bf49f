// Clone volumes: where the new volume goes, its size and controller, a job answer
// that names no volume, and the whole clone road without a secret in any log.
#include <string>

#include "CloneSuite.h"
#include "testsupport/LogCapture.h"

namespace clonetest {
namespace {

class Clones : public Suite {
  protected:
    explicit Clones(sim::Config config = SuiteConfig()) : Suite(std::move(config)) {}

    // The one volume the array gained; null unless exactly one.
    static const sim::Volume* Added(const sim::Array& before, const sim::Array& after) {
        if (after.volumes.size() != before.volumes.size() + 1) return nullptr;
        return &after.volumes.back();
    }
};

TEST_F(Clones, ANewVolumeTakesTheSourcesSizePoolAndController) {
    const char* assign = "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 1";
    struct Row {
        const char* name;
        const char* group;
        bool groupOnly;
        const char* talon;
        bool refused;      // "AssignStorageResourceAffinity" answers 4
        bool noSetting;    // the source has no volume setting
        const char* pool;  // null: nothing is made
        size_t assigns;
        int hostError;
    };
    // clang-format off
    const Row rows[] = {
        {"the source's pool", "", false, "", false, false, "DG2", 0, 0},
        {"a named pool", "DG1", false, "", false, false, "DG1", 0, 0},
        {"a missing pool falls back", "DG9", false, "", false, false, "DG2", 0, 0},
        {"a missing pool refused", "DG9", true, "", false, false, nullptr, 0, 60540},
        {"controller setting 0", "", false, "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 0", false, false, "DG2", 0, 0},
        {"controller setting 1", "", false, assign, false, false, "DG2", 1, 0},
        {"controller refused", "", false, assign, true, false, "DG2", 1, 0},
        {"no setting of the source", "", false, assign, false, true, "DG2", 0, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        sim.reset();
        testsupport::TalonConfig talon(r.talon);
        if (r.refused) sim.failReturnValue(4, 1, {"", "AssignStorageResourceAffinity", ""});
        if (r.noSetting)
            sim.provider().control({{"action", "dropSetting"}, {"volume", "small_lun"}});
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, "small_lun", "", 5);
        dev.snap.m_DiskGroupName = r.group;
        dev.snap.m_UseDiskGroupOnly = r.groupOnly;
        EXPECT_EQ(Perform(dev, "create"), r.pool ? 1 : 0) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(Calls("AssignStorageResourceAffinity").size(), r.assigns) << r.name;
        EXPECT_EQ(dev.logged("Unable to derive prefered controller"), r.noSetting) << r.name;
        const sim::Array after = State();
        if (!r.pool) {
            EXPECT_TRUE(Calls("").empty()) << r.name;
            EXPECT_EQ(Changes(Json(before), Json(after)), "[]") << r.name;
            continue;
        }
        const sim::Volume* made = Added(before, after);
        ASSERT_NE(made, nullptr) << r.name;
        const sim::Volume& source = dev.volume("small_lun");
        const std::string bytes = std::to_string(source.blockSize * source.blocks);
        const auto create = Calls("CreateOrModifyElementFromStoragePool");
        ASSERT_EQ(create.size(), 1u) << r.name;
        EXPECT_EQ(ParamText(create[0], "Size"), "uint64:" + bytes) << r.name;
        EXPECT_EQ(ParamText(create[0], "ElementType"), "uint16:2") << r.name;
        EXPECT_EQ(std::to_string(made->blockSize * made->blocks), bytes) << r.name;
        EXPECT_EQ(made->pool, after.findPool(r.pool)->ref) << r.name;
        if (r.assigns && !r.refused) {
            EXPECT_EQ(made->preferredController, source.preferredController) << r.name;
        }
        EXPECT_EQ(dev.snap.m_TargetDev, made->uuid) << r.name;
        EXPECT_EQ(Changes(Json(before), Without(after, made->uuid)), "[]") << r.name;
    }
}

sim::Config NoElementInJobAnswers() {
    sim::Config c = SuiteConfig();
    c.jobs.methods["CreateOrModifyElementFromStoragePool"] = true;
    c.jobs.omitTheElement = true;
    return c;
}

class UnnamedClones : public Clones {
  protected:
    UnnamedClones() : Clones(NoElementInJobAnswers()) {}
};

// The clone is the volume of its name, and the attach that follows ties exactly that
// volume to the source.
TEST_F(UnnamedClones, AVolumeTheAnswerDoesNotNameIsFoundByName) {
    const sim::Array before = State();
    Device dev(sim);
    Bind(dev, "small_lun", "", 5);
    ASSERT_EQ(Perform(dev, "create"), 1);
    const sim::Array after = State();
    const sim::Volume* made = Added(before, after);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(dev.snap.m_TargetDev, made->uuid);
    EXPECT_TRUE(dev.logged("looking it up by name"));
    EXPECT_EQ(Perform(dev, "attach"), 1);
    EXPECT_EQ(State().syncs.back().target, made->uuid);
}

// Create, attach, detach at snap time, delete: each step succeeds, the attach ties the
// new volume to the source, the array ends as it began, and neither the device log,
// the host debug log nor the simulator's log holds a password or the array's secret.
TEST_F(Clones, TheCloneRoadEndsWhereItBeganWithoutASecretInAnyLog) {
    testsupport::LogCapture debugLog;
    const nlohmann::json before = Json(State());
    Device dev(sim);
    Bind(dev, "exch_log", "", 5);
    ASSERT_EQ(Perform(dev, "create"), 1);
    ASSERT_EQ(Perform(dev, "attach"), 1);
    EXPECT_EQ(ParamText(Calls("AttachOrModifyReplica").at(0), "CopyType"), "uint16:4");
    EXPECT_EQ(State().syncs.back().source, dev.snap.m_SourceDev);
    EXPECT_EQ(State().syncs.back().target, dev.snap.m_TargetDev);
    EXPECT_NE(dev.snap.m_SyncPath.find("_VolumeCopySynchronized"), std::string::npos);
    EXPECT_EQ(Perform(dev, "sync 2"), 5);
    EXPECT_EQ(Perform(dev, "delete"), 20);
    EXPECT_EQ(Changes(before, Json(State())), "[]");

    std::string all = sim.log().toJson().dump() + sim.state().dump();
    for (const auto& line : dev.info.logLines()) all += line.text + "\n";
    for (const auto& line : debugLog.lines()) all += line.text + "\n";
    for (const char* secret : {testsupport::kSimPassword, testsupport::kArraySecret})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace clonetest
