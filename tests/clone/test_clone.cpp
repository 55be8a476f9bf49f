// Clone volumes: pool, size, controller, an unnamed job answer; IBM SVC and 3PAR parameters.
#include <sstream>
#include "CloneSuite.h"

namespace clonetest {
namespace {

// The one volume the array gained; null unless exactly one.
const sim::Volume* Added(const sim::Array& before, const sim::Array& after) {
    return after.volumes.size() == before.volumes.size() + 1 ? &after.volumes.back() : nullptr;
}

using Clones = Suite;

TEST_F(Clones, ANewVolumeTakesTheSourcesSizePoolAndController) {
    const char* assign = "LSI_ENABLE_PREFERED_CONTROLLER_PATH = 1";
    // clang-format off
    // refused: "AssignStorageResourceAffinity" answers 4; noSetting: the source has no volume
    // setting; pool null: nothing is made
    struct Row { const char *name, *group; bool groupOnly; const char* talon; bool refused; bool noSetting; const char* pool; size_t assigns; int hostError; };
    const Row rows[] = {
        {"the source's pool", "", false, "", false, false, "DG2", 0, 0},
        {"a named pool", "DG1", false, "", false, false, "DG1", 0, 0},
        {"a missing pool falls back", "DG9", false, "", false, false, "DG2", 0, 0},
        {"a missing pool refused", "DG9", true, "", false, false, nullptr, 0, 60540},
        {"controller setting 1", "", false, assign, false, false, "DG2", 1, 0},
        {"controller refused", "", false, assign, true, false, "DG2", 1, 0},
        {"no setting of the source", "", false, assign, false, true, "DG2", 0, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
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
        EXPECT_EQ(Perform(dev, "create"), r.pool ? 1 : 0);
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        EXPECT_EQ(Calls("AssignStorageResourceAffinity").size(), r.assigns);
        EXPECT_EQ(dev.logged("Unable to derive prefered controller"), r.noSetting);
        const sim::Array after = State();
        if (!r.pool) {
            EXPECT_TRUE(Calls("").empty());
            EXPECT_EQ(Changes(Json(before), Json(after)), "[]");
            continue;
        }
        const sim::Volume* made = Added(before, after);
        ASSERT_NE(made, nullptr);
        const sim::Volume& source = dev.volume("small_lun");
        const std::string bytes = std::to_string(source.blockSize * source.blocks);
        const auto create = Calls("CreateOrModifyElementFromStoragePool");
        ASSERT_EQ(create.size(), 1u);
        EXPECT_EQ(ParamText(create[0], "Size"), "uint64:" + bytes);
        EXPECT_EQ(made->pool, after.findPool(r.pool)->ref);
        if (r.assigns && !r.refused) {
            EXPECT_EQ(made->preferredController, source.preferredController);
        }
        EXPECT_EQ(dev.snap.m_TargetDev, made->uuid);
        EXPECT_EQ(Changes(Json(before), Without(after, made->uuid)), "[]");
    }
}

// A clone whose job answer does not name it is the volume of its name, and the attach ties
// exactly that one to the source.
TEST_F(Clones, AVolumeTheJobAnswerDoesNotNameIsFoundByName) {
    sim::Config config = SuiteConfig();
    config.jobs.methods["CreateOrModifyElementFromStoragePool"] = true;
    config.jobs.omitTheElement = true;
    sim::TestServer unnamed(config, testsupport::PlainHttp(clock.clock()));
    const sim::Array before = unnamed.provider().currentState().arrays[0];
    Device dev(unnamed);
    Bind(dev, "small_lun", "", 5);
    ASSERT_EQ(Perform(dev, "create"), 1);
    const sim::Array after = unnamed.provider().currentState().arrays[0];
    const sim::Volume* made = Added(before, after);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(dev.snap.m_TargetDev, made->uuid);
    EXPECT_TRUE(dev.logged("looking it up by name"));
    EXPECT_EQ(Perform(dev, "attach"), 1);
    EXPECT_EQ(ParamText(testsupport::Calls(unnamed, "AttachOrModifyReplica").at(0), "CopyType"),
              "uint16:4");
    EXPECT_EQ(unnamed.provider().currentState().arrays[0].syncs.back().target, made->uuid);
    EXPECT_NE(dev.snap.m_SyncPath.find("_VolumeCopySynchronized"), std::string::npos);
}

// talon: host settings; config: one array setting "key=value", or ""; args: after the system name;
// "$x" is the UUID of volume x; method: of the logged call, its nth
// clang-format off
struct Row { const char* name; const char* talon; const char* config; const char* args; const char* method; const char *param, *sent; size_t nth = 0; };
// clang-format on

class Vendors : public Suite {
  protected:
    explicit Vendors(const std::string& prefix) : Suite(SuiteConfig(prefix)) {}
    // Calls the wrapper of the row's method on a fresh array and reads what it sent.
    void Check(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            sim.reset();
            testsupport::TalonConfig talon(r.talon);
            Device dev(sim);
            const std::string config = r.config;
            if (!config.empty())
                dev.info.setConfig(config.substr(0, config.find('=')),
                                   config.substr(config.find('=') + 1));
            std::vector<std::string> args = {dev.array.id};
            std::istringstream words(r.args);
            for (std::string w; words >> w;)
                args.push_back(w[0] == '$' ? dev.volume(w.substr(1)).uuid : w);
            const std::string method = r.method;
            RkCimConnection& conn = dev.snap.m_CimConnection;
            ASSERT_EQ(conn.ConnectCimom(), 0);
            std::string out;
            if (method == "ModifySynchronization") {
                dev.snap.ModifySync(conn, args, false);
            } else if (method == "CreateOrModifyElementFromStoragePool") {
                std::vector<std::string> volArgs;
                if (dev.snap.CreateStorageVolParams(conn, args, args.back(), volArgs) == 0)
                    dev.snap.CreateStorageVolume(conn, volArgs, out);
            } else {
                dev.snap.AttachModRep(conn, args, out);
            }
            conn.DisconnectCimom();
            const auto calls = Calls(method);
            ASSERT_GT(calls.size(), r.nth);
            EXPECT_EQ(ParamText(calls[r.nth], r.param), r.sent);
        }
    }
};

class Ibm : public Vendors {
  protected:
    Ibm() : Vendors("IBMTSSVC") {}
};

class ThreePar : public Vendors {
  protected:
    ThreePar() : Vendors("TPD") {}
};

// clang-format off
TEST_F(Ibm, FlashCopyOptionsFollowTheOperationAndTheSettings) {
    const char* pool = "nIBMSVCDisablePoolCheck = 1\nIBMSVC_VDISK_TYPE = 6\n";
    Check({
        {"stop forced", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Force", "boolean:TRUE"},
        {"idle mapping stops unforced", "", "", "8 $exch_log $clone_log", "ModifySynchronization", "Force", "boolean:FALSE"},
        {"no force for a resync", "", "", "4 $exch_log $clone_log", "ModifySynchronization", "Force", "absent"},
        {"restore asked", "", "", "5 $exch_log $clone_log Restore", "ModifySynchronization", "Restore", "boolean:TRUE"},
        {"clone copy rate", "", "", "5 $exch_log $spare_log", "AttachReplica", "BackgroundCopyRate", "uint16:50"},
        {"invalid clean rate", "", "SMCONFIG_NAME_IBMSVC_CLEAN_RATE=150", "5 $exch_log $spare_log", "AttachReplica", "CleanRate", "uint16:50"},
        {"snapshot copies nothing", "", "", "4 $exch_log $spare_log", "AttachReplica", "BackgroundCopyRate", "uint16:0"},
        {"reverse sent as type 5", "", "", "6 $exch_log $spare_log", "AttachReplica", "CopyType", "uint16:5"},
        {"odd grain size", "IBMSVC_MAP_GRAIN_SIZE = 100", "", "5 $exch_log $spare_log", "AttachReplica", "GrainSize", "uint16:256"},
        {"space-efficient volume", pool, "", "clone_new DG1 5 $exch_log", "CreateOrModifyElementFromStoragePool", "isSpaceEfficient", "boolean:TRUE"},
    });
}

TEST_F(ThreePar, DetachResynchronizesFirst) {
    Check({
        {"resync first", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Operation", "uint16:4", 0},
        {"then detach", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Operation", "uint16:2", 1},
    });
}
// clang-format on

TEST_F(Ibm, APoolThatIsNotOnlineIsRefused) {
    Device dev(sim);
    std::vector<std::string> args = {dev.array.id, "clone_new", "DG1", "5"};
    std::vector<std::string> volArgs;
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    EXPECT_EQ(dev.snap.CreateStorageVolParams(dev.snap.m_CimConnection, args,
                                              dev.volume("exch_log").uuid, volArgs),
              650015u);
    EXPECT_TRUE(dev.logged("is not online"));
}

}  // namespace
}  // namespace clonetest
