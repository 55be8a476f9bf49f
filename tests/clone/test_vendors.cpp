// The other providers' branches, seen through the in-parameters the simulator logs
// when it serves that vendor's class prefix: IBM SVC ("IBMTSSVC") and 3PAR ("TPD").
#include <sstream>
#include <string>
#include <vector>

#include "CloneSuite.h"

namespace clonetest {
namespace {

sim::Config WithPrefix(const std::string& prefix) {
    sim::Config c = SuiteConfig();
    c.classPrefix = prefix;
    return c;
}

struct Row {
    const char* name;
    const char* talon;   // host settings
    const char* config;  // one array setting "key=value", or ""
    const char* args;    // after the system name; "$x" is the UUID of volume x
    const char* method;  // of the logged call; "#n" picks the nth call
    const char* param;
    const char* sent;
};

class Vendors : public Suite {
  protected:
    explicit Vendors(const std::string& prefix) : Suite(WithPrefix(prefix)) {}

    // Calls the wrapper of the row's method on a fresh array and reads what it sent.
    void Check(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
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
            std::string method = r.method;
            const size_t hash = method.find('#');
            const size_t index =
                hash == std::string::npos ? 0 : std::stoul(method.substr(hash + 1));
            method = method.substr(0, hash);

            RkCimConnection& conn = dev.snap.m_CimConnection;
            ASSERT_EQ(conn.ConnectCimom(), 0) << r.name;
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
            ASSERT_GT(calls.size(), index) << r.name;
            EXPECT_EQ(ParamText(calls[index], r.param), r.sent) << r.name;
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
        {"resync first", "", "", "2 $exch_log $clone_log", "ModifySynchronization#0", "Operation", "uint16:4"},
        {"then detach", "", "", "2 $exch_log $clone_log", "ModifySynchronization#1", "Operation", "uint16:2"},
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
