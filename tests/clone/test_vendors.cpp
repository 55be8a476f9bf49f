// The other providers' branches, seen through the in-parameters the simulator logs
// when it serves that vendor's class prefix: IBM SVC ("IBMTSSVC") and 3PAR ("TPD").
#include <functional>
#include <string>
#include <vector>

#include "CloneSuite.h"

namespace clonetest {
namespace {

using Call = std::function<void(Device&, std::vector<std::string>&)>;

sim::Config WithPrefix(const std::string& prefix) {
    sim::Config c = SuiteConfig();
    c.classPrefix = prefix;
    return c;
}

struct Row {
    const char* name;
    const char* talon;
    const char* arrayConfig;  // "key=value", or empty
    std::vector<std::string> args;
    Call call;
    const char* method;
    size_t callIndex;
    const char* param;
    std::string sent;
};

void ModifySync(Device& d, std::vector<std::string>& a) {
    d.snap.ModifySync(d.snap.m_CimConnection, a, false);
}
void Attach(Device& d, std::vector<std::string>& a) {
    std::string sync;
    d.snap.AttachModRep(d.snap.m_CimConnection, a, sync);
}
void Create(Device& d, std::vector<std::string>& a) {
    std::vector<std::string> volArgs;
    if (d.snap.CreateStorageVolParams(d.snap.m_CimConnection, a, a.back(), volArgs) != 0) return;
    std::string path;
    d.snap.CreateStorageVolume(d.snap.m_CimConnection, volArgs, path);
}

class Vendors : public Suite {
  protected:
    explicit Vendors(const std::string& prefix) : Suite(WithPrefix(prefix)) {}

    // Runs each row on a fresh array; "$x" in an argument is the UUID of volume x.
    void Check(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            sim.reset();
            testsupport::TalonConfig talon(r.talon);
            Device dev(sim);
            dev.snap.clock = clock;
            std::string config = r.arrayConfig;
            if (!config.empty())
                dev.info.setConfig(config.substr(0, config.find('=')),
                                   config.substr(config.find('=') + 1));
            std::vector<std::string> args = r.args;
            for (std::string& a : args)
                if (!a.empty() && a[0] == '$') a = dev.volume(a.substr(1)).uuid;
            args.insert(args.begin(), dev.array.id);
            ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0) << r.name;
            r.call(dev, args);
            dev.snap.m_CimConnection.DisconnectCimom();
            const auto calls = Calls(r.method);
            ASSERT_GT(calls.size(), r.callIndex) << r.name;
            EXPECT_EQ(ParamText(calls[r.callIndex], r.param), r.sent) << r.name;
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

TEST_F(Ibm, FlashCopyOptionsFollowTheOperationAndTheSettings) {
    const std::string sync = "ModifySynchronization";
    const std::string attach = "AttachReplica";
    const std::string create = "CreateOrModifyElementFromStoragePool";
    Check({
        {"stop forced",
         "",
         "",
         {"2", "$exch_log", "$clone_log"},
         ModifySync,
         sync.c_str(),
         0,
         "Force",
         "boolean:TRUE"},
        {"synchronized mapping stops unforced",
         "nIBMSVCEnableForceSEFCStop = 1",
         "",
         {"8", "$exch_log", "$clone_log"},
         ModifySync,
         sync.c_str(),
         0,
         "Force",
         "boolean:FALSE"},
        {"no force for a resync",
         "",
         "",
         {"4", "$exch_log", "$clone_log"},
         ModifySync,
         sync.c_str(),
         0,
         "Force",
         "absent"},
        {"restore asked",
         "",
         "",
         {"5", "$exch_log", "$clone_log", "Restore"},
         ModifySync,
         sync.c_str(),
         0,
         "Restore",
         "boolean:TRUE"},
        {"clone copy rate",
         "",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "BackgroundCopyRate",
         "uint16:50"},
        {"clone copy rate from the host",
         "IBMSVC_FC_BACKGROUNDCOPYRATE = 80",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "BackgroundCopyRate",
         "uint16:80"},
        {"invalid clean rate",
         "",
         "SMCONFIG_NAME_IBMSVC_CLEAN_RATE=150",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "CleanRate",
         "uint16:50"},
        {"incremental clone",
         "",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "Incremental",
         "boolean:TRUE"},
        {"snapshot copies nothing",
         "",
         "",
         {"4", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "BackgroundCopyRate",
         "uint16:0"},
        {"clone sent as copy type 4",
         "",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "CopyType",
         "uint16:4"},
        {"reverse sent as copy type 5",
         "",
         "",
         {"6", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "CopyType",
         "uint16:5"},
        {"replica named",
         "",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "ElementName",
         "string:spare_log"},
        {"odd grain size",
         "IBMSVC_MAP_GRAIN_SIZE = 100",
         "",
         {"5", "$exch_log", "$spare_log"},
         Attach,
         attach.c_str(),
         0,
         "GrainSize",
         "uint16:256"},
        {"space-efficient volume",
         "nIBMSVCDisablePoolCheck = 1\nIBMSVC_VDISK_TYPE = 6",
         "",
         {"clone_new", "DG1", "5", "$exch_log"},
         Create,
         create.c_str(),
         0,
         "isSpaceEfficient",
         "boolean:TRUE"},
        {"I/O group",
         "nIBMSVCDisablePoolCheck = 1\nIBMSVC_VDISK_TYPE = 6\nIBMSVC_IOGroup = io1",
         "",
         {"clone_new", "DG1", "5", "$exch_log"},
         Create,
         create.c_str(),
         0,
         "IOGroup",
         "string:io1"},
    });
}

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

TEST_F(ThreePar, DetachResynchronizesFirstAndVolumesKeepTheSourcesGoal) {
    Check({
        {"resync first",
         "",
         "",
         {"2", "$exch_log", "$clone_log"},
         ModifySync,
         "ModifySynchronization",
         0,
         "Operation",
         "uint16:4"},
        {"then detach",
         "",
         "",
         {"2", "$exch_log", "$clone_log"},
         ModifySync,
         "ModifySynchronization",
         1,
         "Operation",
         "uint16:2"},
        {"thick volume",
         "",
         "",
         {"clone_new", "DG1", "0", "$exch_log"},
         Create,
         "CreateOrModifyElementFromStoragePool",
         0,
         "ElementType",
         "uint16:2"},
    });
}

}  // namespace
}  // namespace clonetest
