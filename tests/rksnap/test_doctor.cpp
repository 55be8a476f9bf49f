// rksnap doctor names each fault the simulator can be set to, on its own line.
#include <gtest/gtest.h>

#include "testsupport/RksnapHost.h"

namespace {

using nlohmann::json;
using testsupport::RksnapHost;
using testsupport::RksnapResult;
using testsupport::RksnapSetup;

struct Fault {
    const char* name;
    std::function<void(sim::Config&, RksnapSetup&)> arrange;
    std::string failingCheck;  // "" = every check passes
};

TEST(Doctor, FindsAndNamesEachFault) {
    const std::vector<Fault> rows = {
        {"healthy", [](sim::Config&, RksnapSetup&) {}, ""},
        {"provider down",
         [](sim::Config&, RksnapSetup& s) { s.httpsPort = testsupport::closedPort(); },
         "provider reachable"},
        {"wrong password", [](sim::Config&, RksnapSetup& s) { s.providerPassword = "not-it"; },
         "credentials accepted"},
        {"missing namespace",
         [](sim::Config&, RksnapSetup& s) {
             s.addArgs = {"--namespace", "root/missing"};
         },
         "array namespace"},
        {"secret out of step",
         [](sim::Config& c, RksnapSetup&) { c.arrays[0].providerSecret = "stale-one"; },
         "shared secret"},
        {"unknown host ports",
         [](sim::Config&, RksnapSetup& s) { s.initiatorPorts = "2000000000000001"; },
         "host initiator ports"},
    };
    for (const Fault& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Config config = testsupport::fastJobs();
        RksnapSetup setup;
        row.arrange(config, setup);
        const std::string arrayPassword = config.arrays[0].password;
        sim::TestServer sim(config);
        RksnapHost host(sim, setup);
        const std::string apw = host.dir().write("apw", arrayPassword + "\n", 0600);
        ASSERT_EQ(
            host.run({"array", "set-password", "sim1", "--array-password", "--password-file", apw})
                .exitCode,
            0);

        RksnapResult text = host.run({"doctor"});
        RksnapResult r = host.run({"--json", "doctor", "sim1"});
        EXPECT_EQ(r.exitCode, row.failingCheck.empty() ? 0 : 1) << r.out << r.err;
        EXPECT_EQ(text.exitCode, r.exitCode) << text.out;
        ASSERT_EQ(r.doc["arrays"].size(), 1u) << r.out;
        std::vector<std::string> problems;
        for (const json& c : r.doc["arrays"][0]["checks"])
            if (c["status"] == "problem") {
                problems.push_back(c["check"]);
                EXPECT_FALSE(c["fix"].get<std::string>().empty()) << c;
                EXPECT_NE(text.out.find("PROBLEM " + c["check"].get<std::string>()),
                          std::string::npos)
                    << text.out;
            }
        if (row.failingCheck.empty())
            EXPECT_TRUE(problems.empty()) << r.out;
        else
            EXPECT_EQ(problems, std::vector<std::string>{row.failingCheck}) << r.out;
        EXPECT_EQ(r.out.find(arrayPassword), std::string::npos) << "the array password was shown";
    }
}

}  // namespace
