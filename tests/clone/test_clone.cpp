// Clone volumes: where the new volume goes, its size and controller, its attach to
// the source, and the whole clone road without a secret in any log.
#include <string>

#include "CloneSuite.h"
#include "testsupport/LogCapture.h"

namespace clonetest {
namespace {

class Clones : public Suite {
  protected:
    explicit Clones(sim::Config config = SuiteConfig()) : Suite(std::move(config)) {}

    // The volume the array gained, if exactly one.
    const sim::Volume* Added(const sim::Array& before, const sim::Array& after) {
        if (after.volumes.size() != before.volumes.size() + 1) return nullptr;
        for (const sim::Volume& v : after.volumes)
            if (!before.findVolume(v.uuid)) return after.findVolume(v.uuid);
        return nullptr;
    }
};

TEST_F(Clones, ANewVolumeTakesTheSourcesSizePoolAndController) {
    struct Row {
        const char* name;
        const char* group;
        bool groupOnly;
        const char* talon;
        bool refuseAffinity;
        bool dropSetting;  // the source has no volume setting
        int expected;
        const char* pool;
        size_t affinityCalls;
        int hostError;
    };
    const Row rows[] = {
        {"the source's pool", "", false, "", false, false, 1, "DG2", 0, 0},
        {"a named pool", "DG1", false, "", false, false, 1, "DG1", 0, 0},
        {"a missing pool falls back", "DG9", false, "", false, false, 1, "DG2", 0, 0},
        {"a missing pool refused", "DG9", true, "", false, false, 0, nullptr, 0, 60540},
        {"controller setting 0", "", false, "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 0", false, false,
         1, "DG2", 0, 0},
        {"controller setting 1", "", false, "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 1", false, false,
         1, "DG2", 1, 0},
        {"controller refused", "", false, "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 1", true, false, 1,
         "DG2", 1, 0},
        {"no setting of the source", "", false, "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 1", false,
         true, 1, "DG2", 0, 0},
    };
    for (const Row& r : rows) {
        sim.reset();
        testsupport::TalonConfig talon(r.talon);
        if (r.refuseAffinity) sim.failReturnValue(4, 1, {"", "AssignStorageResourceAffinity", ""});
        if (r.dropSetting)
            sim.provider().control({{"action", "dropSetting"}, {"volume", "small_lun"}});
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, "small_lun", "", 5);
        dev.snap.m_SnapName = "clone_new";
        dev.snap.m_DiskGroupName = r.group;
        dev.snap.m_UseDiskGroupOnly = r.groupOnly;
        EXPECT_EQ(dev.snap.CreateCloneVolume(), r.expected) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(Invocations("AssignStorageResourceAffinity"), r.affinityCalls) << r.name;
        const sim::Array after = State();
        const sim::Volume* made = Added(before, after);
        if (!r.pool) {
            EXPECT_EQ(Invocations(""), 0u) << r.name;
            EXPECT_EQ(Changes(Json(before), Json(after)), "[]") << r.name;
            continue;
        }
        ASSERT_NE(made, nullptr) << r.name;
        const sim::Volume& source = dev.volume("small_lun");
        const auto create = Calls("CreateOrModifyElementFromStoragePool");
        ASSERT_EQ(create.size(), 1u) << r.name;
        EXPECT_EQ(ParamText(create[0], "Size"),
                  "uint64:" + std::to_string(source.blockSize * source.blocks))
            << r.name;
        EXPECT_EQ(ParamText(create[0], "ElementType"), "uint16:2") << r.name;
        EXPECT_EQ(made->blockSize * made->blocks, source.blockSize * source.blocks) << r.name;
        EXPECT_EQ(made->label, "clone_new") << r.name;
        EXPECT_EQ(made->pool, after.findPool(r.pool)->ref) << r.name;
        EXPECT_EQ(dev.logged("Unable to derive prefered controller"), r.dropSetting) << r.name;
        if (r.affinityCalls && !r.refuseAffinity) {
            EXPECT_EQ(made->preferredController, source.preferredController) << r.name;
        }
        EXPECT_EQ(dev.snap.m_TargetDev, made->uuid) << r.name;
        EXPECT_FALSE(dev.snap.m_TargetDevPath.empty()) << r.name;
        EXPECT_EQ(Changes(Json(before), Without(after, made->uuid)), "[]") << r.name;
    }
}

TEST_F(Clones, AnAttachNamesItsSynchronizationOnlyOnceTheCopyCompleted) {
    struct Row {
        const char* name;
        uint16_t jobEnd;  // 0: completes
        int expected;
        int hostError;
    };
    const Row rows[] = {
        {"completed", 0, 1, 0},
        {"job ends in exception", 10, 0, 60554},
        {"job killed", 9, 0, 60554},
    };
    for (const Row& r : rows) {
        sim.reset();
        if (r.jobEnd) sim.failNextJobs(1, r.jobEnd);
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, "exch_log", "spare_log", 5);
        EXPECT_EQ(dev.snap.AttachCloneVolume("4"), r.expected) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        const sim::Array after = State();
        const auto attach = Calls("AttachOrModifyReplica");
        ASSERT_EQ(attach.size(), 1u) << r.name;
        EXPECT_EQ(ParamText(attach[0], "CopyType"), "uint16:4") << r.name;
        if (r.expected) {
            ASSERT_EQ(after.syncs.size(), before.syncs.size() + 1) << r.name;
            EXPECT_EQ(after.syncs.back().source, dev.volume("exch_log").uuid) << r.name;
            EXPECT_EQ(after.syncs.back().target, dev.volume("spare_log").uuid) << r.name;
            EXPECT_NE(dev.snap.m_SyncPath.find("VolumeCopySynchronized"), std::string::npos);
        } else {
            EXPECT_EQ(Changes(Json(before), Json(after)), "[]") << r.name;
            EXPECT_TRUE(dev.snap.m_SyncPath.empty()) << r.name;
        }
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

// A job answer that names no new volume: the clone is the volume of its name, and
// the attach that follows ties exactly that volume to the source.
TEST_F(UnnamedClones, AVolumeTheAnswerDoesNotNameIsFoundByName) {
    const sim::Array before = State();
    Device dev(sim);
    Bind(dev, "small_lun", "", 5);
    dev.snap.m_SnapName = "clone_new";
    ASSERT_EQ(dev.snap.CreateCloneVolume(), 1);
    const sim::Array after = State();
    const sim::Volume* made = Added(before, after);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(dev.snap.m_TargetDev, made->uuid);
    EXPECT_TRUE(dev.logged("looking it up by name"));
    EXPECT_EQ(dev.snap.AttachCloneVolume("4"), 1);
    EXPECT_EQ(State().syncs.back().target, made->uuid);
}

// Create, attach, detach at snap time, delete: every step succeeds, the array ends as
// it began, and neither the device log, the host debug log nor the simulator's log
// holds a password or the array's secret.
TEST_F(Clones, TheCloneRoadEndsWhereItBeganWithoutASecretInAnyLog) {
    testsupport::LogCapture debugLog;
    const nlohmann::json before = Json(State());
    Device dev(sim);
    Bind(dev, "exch_log", "", 5);
    dev.snap.m_SnapName = "clone_road";
    ASSERT_EQ(dev.snap.CreateCloneVolume(), 1);
    ASSERT_EQ(dev.snap.AttachCloneVolume("4"), 1);
    EXPECT_EQ(dev.snap.SnapSyncOp(2, false), 5);
    EXPECT_EQ(dev.snap.SnapDelete(), 20);
    EXPECT_EQ(Changes(before, Json(State())), "[]");

    std::string all = sim.log().toJson().dump();
    for (const auto& line : dev.info.logLines()) all += line.text + "\n";
    for (const auto& line : debugLog.lines()) all += line.text + "\n";
    for (const char* secret : {testsupport::kSimPassword, testsupport::kArraySecret})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace clonetest
