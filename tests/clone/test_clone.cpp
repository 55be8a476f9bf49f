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
    // refused: "AssignStorageResourceAffinity" answers 4; noSetting: the source has no volume
    // setting; pool null: nothing is made
    struct Row {
        const char *name, *group;
        bool groupOnly;
        const char* talon;
        bool refused;
        bool noSetting;
        const char* pool;
        size_t assigns;
        int hostError;
    };
    // clang-format off
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

// A clone its job answer does not name is found by name; the attach ties exactly that one.
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

// The parameters the IBM SVC ("IBMTSSVC") and 3PAR ("TPD") providers are sent.
TEST_F(Clones, VendorParametersFollowTheOperationAndTheSettings) {
    const char* pool = "nIBMSVCDisablePoolCheck = 1\nIBMSVC_VDISK_TYPE = 6\n";
    // talon: host settings; config: one array setting "key=value", or ""; args: after the system
    // name; "$x" is the UUID of volume x; method: of the logged call, its nth
    // clang-format off
    struct Row { const char *prefix, *name, *talon, *config, *args, *method, *param, *sent; size_t nth = 0; } rows[] = {
        {"IBMTSSVC", "stop forced", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Force", "boolean:TRUE"},
        {"IBMTSSVC", "idle mapping stops unforced", "", "", "8 $exch_log $clone_log", "ModifySynchronization", "Force", "boolean:FALSE"},
        {"IBMTSSVC", "no force for a resync", "", "", "4 $exch_log $clone_log", "ModifySynchronization", "Force", "absent"},
        {"IBMTSSVC", "restore asked", "", "", "5 $exch_log $clone_log Restore", "ModifySynchronization", "Restore", "boolean:TRUE"},
        {"IBMTSSVC", "clone copy rate", "", "", "5 $exch_log $spare_log", "AttachReplica", "BackgroundCopyRate", "uint16:50"},
        {"IBMTSSVC", "invalid clean rate", "", "SMCONFIG_NAME_IBMSVC_CLEAN_RATE=150", "5 $exch_log $spare_log", "AttachReplica", "CleanRate", "uint16:50"},
        {"IBMTSSVC", "snapshot copies nothing", "", "", "4 $exch_log $spare_log", "AttachReplica", "BackgroundCopyRate", "uint16:0"},
        {"IBMTSSVC", "reverse sent as type 5", "", "", "6 $exch_log $spare_log", "AttachReplica", "CopyType", "uint16:5"},
        {"IBMTSSVC", "odd grain size", "IBMSVC_MAP_GRAIN_SIZE = 100", "", "5 $exch_log $spare_log", "AttachReplica", "GrainSize", "uint16:256"},
        {"IBMTSSVC", "space-efficient volume", pool, "", "clone_new DG1 5 $exch_log", "CreateOrModifyElementFromStoragePool", "isSpaceEfficient", "boolean:TRUE"},
        {"IBMTSSVC", "a pool that is not online", "", "", "clone_new DG1 5 $exch_log", "CreateOrModifyElementFromStoragePool", nullptr, "is not online"},
        {"TPD", "detach resynchronizes first", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Operation", "uint16:4", 0},
        {"TPD", "then detaches", "", "", "2 $exch_log $clone_log", "ModifySynchronization", "Operation", "uint16:2", 1},
    };
    // clang-format on
    for (const std::string prefix : {"IBMTSSVC", "TPD"}) {
        sim::TestServer server(SuiteConfig(prefix), testsupport::PlainHttp(clock.clock()));
        for (const Row& r : rows) {
            if (r.prefix != prefix) continue;
            SCOPED_TRACE(r.name);
            server.reset();
            testsupport::TalonConfig talon(r.talon);
            Device dev(server);
            const std::string config = r.config, method = r.method;
            if (!config.empty())
                dev.info.setConfig(config.substr(0, config.find('=')),
                                   config.substr(config.find('=') + 1));
            std::vector<std::string> args = {dev.array.id};
            std::istringstream words(r.args);
            for (std::string w; words >> w;)
                args.push_back(w[0] == '$' ? dev.volume(w.substr(1)).uuid : w);
            RkCimConnection& conn = dev.snap.m_CimConnection;
            ASSERT_EQ(conn.ConnectCimom(), 0);
            std::string out;
            std::vector<std::string> volArgs;
            unsigned int result = 0;
            if (method == "ModifySynchronization")
                dev.snap.ModifySync(conn, args, false);
            else if (method != "CreateOrModifyElementFromStoragePool")
                dev.snap.AttachModRep(conn, args, out);
            else if ((result = dev.snap.CreateStorageVolParams(conn, args, args.back(), volArgs)) ==
                     0)
                dev.snap.CreateStorageVolume(conn, volArgs, out);
            conn.DisconnectCimom();
            const auto calls = testsupport::Calls(server, method);
            if (!r.param) {  // refused before the call
                EXPECT_EQ(result, 650015u);
                EXPECT_TRUE(calls.empty());
                EXPECT_TRUE(dev.logged(r.sent));
                continue;
            }
            ASSERT_GT(calls.size(), r.nth);
            EXPECT_EQ(ParamText(calls[r.nth], r.param), r.sent);
        }
    }
}

}  // namespace
}  // namespace clonetest
