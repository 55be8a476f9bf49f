// The smis-sim binary: its command line, the URL lines it prints, credentials from a
// file, the state file, a clean stop on SIGTERM, and its memory under giant bodies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "SimHttp.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/RawHttp.h"

namespace {

// The smis-sim binary as a child process.
class Child : public testsupport::ChildProcess {
  public:
    explicit Child(std::vector<std::string> args)
        : ChildProcess(SMIS_SIM_BINARY, std::move(args)) {}
};

int portOf(const std::string& url, const char* scheme) {
    std::smatch m;
    std::regex re(std::string("^") + scheme + "://127\\.0\\.0\\.1:([0-9]+)$");
    if (!std::regex_match(url, m, re)) return -1;
    return std::stoi(m[1]);
}

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "/smis-sim-cli-" + std::to_string(getpid()) + "-" + name;
}

int status(httplib::Client& c, const std::string& user, const std::string& password) {
    c.set_basic_auth(user.c_str(), password.c_str());
    auto res = c.Get("/control/log");
    return res ? res->status : -1;
}

}  // namespace

TEST(SmisSimCli, PrintsOneUrlPerListenerServesAndStopsOnSigterm) {
    Child sim({"--http-port", "0", "--https-port", "0"});
    std::string httpLine = sim.readLine();
    std::string httpsLine = sim.readLine();
    int http = portOf(httpLine, "http");
    int https = portOf(httpsLine, "https");
    ASSERT_GT(http, 0) << httpLine;
    ASSERT_GT(https, 0) << httpsLine;

    httplib::Client c("127.0.0.1", http);
    EXPECT_EQ(status(c, "admin", "admin"), 200);
    auto res = simtest::postCim(c, simtest::enumerateNames("interop", "CIM_Namespace"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);

    httplib::SSLClient s("127.0.0.1", https);
    s.enable_server_certificate_verification(false);
    s.set_basic_auth("admin", "admin");
    auto sres = s.Get("/control/log");
    ASSERT_TRUE(sres) << httplib::to_string(sres.error());
    EXPECT_EQ(sres->status, 200);

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_EQ(sim.drain(), "");
}

TEST(SmisSimCli, HelpDocumentsEveryOption) {
    Child help({"--help"});
    std::string text = help.drain();
    EXPECT_EQ(help.wait(), 0);
    for (const char* option :
         {"--config", "--bind", "--http-port", "--https-port", "--user", "--password-file",
          "--preset", "--state-file", "--cert", "--key", "--threads", "--keep-alive-timeout",
          "--latency-ms", "--hold-ms", "--header-timeout-ms", "--body-timeout-ms",
          "--max-request-bytes", "--print-config", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST(SmisSimCli, CredentialsFromTheCommandLine) {
    std::string file = tempPath("password");
    { std::ofstream(file) << "s3cret pass\r\nignored second line\n"; }
    Child sim(
        {"--http-port", "0", "--https-port", "-1", "--user", "tester", "--password-file", file});
    int port = portOf(sim.readLine(), "http");
    ASSERT_GT(port, 0);
    httplib::Client c("127.0.0.1", port);
    EXPECT_EQ(status(c, "admin", "admin"), 401);
    EXPECT_EQ(status(c, "tester", "s3cret"), 401);
    EXPECT_EQ(status(c, "tester", "s3cret pass"), 200);
    EXPECT_EQ(sim.terminate(), 0);
    std::remove(file.c_str());
}

TEST(SmisSimCli, RefusesBadStartsWithAMessage) {
    const std::string badJson = tempPath("bad.json"), emptyPassword = tempPath("empty");
    const std::string folder = tempPath("folder"), large = tempPath("large");
    const std::string nul = tempPath("nul"), locked = tempPath("locked");
    std::ofstream(badJson) << "{ \"arrays\": [ ";
    std::ofstream(emptyPassword) << "\n";
    ::mkdir(folder.c_str(), 0700);
    std::ofstream(large) << std::string(5000, 'S');
    std::ofstream(nul) << std::string("pass\0word\n", 10);
    std::ofstream(locked) << "SSSSSSSS\n";
    ::chmod(locked.c_str(), 0);
    const std::vector<std::string> oneListener = {"--http-port", "0", "--https-port", "-1"};
    struct Row {
        std::vector<std::string> args;
        std::string says;  // "" for any message
    } rows[] = {
        {{"--http-port", "abc"}, ""},
        {{"--no-such-option"}, ""},
        {{"--config", "/nonexistent/config.json"}, ""},
        {{"--config", badJson}, ""},
        {{"--preset", "ACME"}, ""},
        {{"--password-file", emptyPassword}, ""},
        {{"--cert", badJson, "--key", badJson, "--http-port", "-1", "--https-port", "0"}, ""},
        {{"--threads", "0"}, ""},
        {{"--password-file", "/dev/zero"}, "larger than 4096 bytes"},
        {{"--password-file", folder}, folder},
        {{"--password-file", large}, "larger than 4096 bytes"},
        {{"--password-file", nul}, "NUL byte"},
        // root reads a locked file anyway
        {{"--password-file", geteuid() == 0 ? nul : locked},
         geteuid() == 0 ? "NUL" : "cannot be opened"},
    };
    for (Row& row : rows) {
        std::string all;
        for (const auto& a : row.args) all += a + " ";
        if (row.args[0] != "--cert")
            row.args.insert(row.args.end(), oneListener.begin(), oneListener.end());
        Child sim(row.args);
        EXPECT_NE(sim.wait(), 0) << all;
        EXPECT_EQ(sim.drain(), "") << all;
        const std::string err = sim.drain(true);
        EXPECT_NE(err.find(row.says), std::string::npos) << all << ": " << err;
        EXPECT_FALSE(err.empty()) << all;
        EXPECT_EQ(err.find("SSSS"), std::string::npos) << all;
    }

    Child first(oneListener);
    std::string port = std::to_string(portOf(first.readLine(), "http"));
    Child clash({"--http-port", port, "--https-port", "-1"});
    EXPECT_EQ(clash.wait(), 1);
    EXPECT_NE(clash.drain(true).find(port), std::string::npos);
    EXPECT_EQ(first.terminate(), 0);
    EXPECT_EQ(first.drain(), "") << "one URL line for one listener";
    ::rmdir(folder.c_str());
    for (const auto& f : {badJson, emptyPassword, large, nul, locked}) std::remove(f.c_str());
}

TEST(SmisSimCli, StateFileKeepsTheArrayAcrossRestarts) {
    std::string state = tempPath("state.json");
    std::remove(state.c_str());
    {
        Child sim({"--http-port", "0", "--https-port", "-1", "--state-file", state});
        ASSERT_GT(portOf(sim.readLine(), "http"), 0);
        EXPECT_EQ(sim.terminate(), 0);
    }
    nlohmann::json saved;
    {
        std::ifstream in(state);
        ASSERT_TRUE(in.good());
        saved = nlohmann::json::parse(in);
    }
    ASSERT_TRUE(saved.contains("arrays"));
    ASSERT_FALSE(saved["arrays"].empty());
    ASSERT_FALSE(saved["arrays"][0]["volumes"].empty());
    saved["arrays"][0]["volumes"][0]["label"] = "renamed_by_test";
    { std::ofstream(state) << saved.dump(); }

    Child sim({"--http-port", "0", "--https-port", "-1", "--state-file", state});
    int port = portOf(sim.readLine(), "http");
    ASSERT_GT(port, 0);
    httplib::Client c("127.0.0.1", port);
    c.set_basic_auth("admin", "admin");
    cim::xml::Request req;
    req.methodName = cim::xml::kEnumerateInstances;
    req.nameSpace = saved.value("namespace", std::string("root/netapp/santricity"));
    req.className = cim::CIMName("CIM_StorageVolume");
    auto res = simtest::postCim(c, req);
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("renamed_by_test"), std::string::npos);
    EXPECT_EQ(sim.terminate(), 0);
    std::remove(state.c_str());
}

TEST(SmisSimCli, PrintConfigShowsTheEffectivePreset) {
    Child sim({"--print-config", "--preset", "lsissi"});
    auto json = nlohmann::json::parse(sim.drain(), nullptr, false);
    EXPECT_EQ(sim.wait(), 0);
    ASSERT_FALSE(json.is_discarded());
    EXPECT_EQ(json.value("classPrefix", ""), "LSISSI");
    EXPECT_EQ(json.value("namespace", ""), "root/LsiArray13");
    // The default credentials ("admin") never appear; they are masked.
    EXPECT_EQ(json.value("password", ""), "****");
    ASSERT_FALSE(json["arrays"].empty());
    EXPECT_EQ(json["arrays"][0].value("password", ""), "****");
    EXPECT_EQ(json["arrays"][0].value("providerSecret", ""), "****");
}

namespace {

// Peak resident memory of a process in KiB (VmHWM), or -1.
long peakRssKib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

std::string cimHead(const std::string& login, const std::string& framing) {
    auto req = simtest::enumerateNames("root/netapp/santricity", "CIM_StorageVolume");
    std::string h = "POST /cimom HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [k, v] : simtest::cimHeaders(req)) h += k + ": " + v + "\r\n";
    if (!login.empty()) h += "Authorization: " + login + "\r\n";
    return h + framing + "\r\n";
}

}  // namespace

TEST(SmisSimCli, GiantChunkedBodiesKeepTheSimulatorSmall) {
    // 300 MB of chunks, with and without credentials, as fast as it takes them.
    struct Row {
        const char* name;
        std::string login;
        int status;
    } rows[] = {{"no credentials", "", 401},
                {"credentials", testsupport::basicAuth("admin", "admin"), 413}};
    for (const Row& row : rows) {
        Child sim({"--http-port", "0", "--https-port", "-1", "--max-request-bytes", "1048576"});
        int port = portOf(sim.readLine(), "http");
        ASSERT_GT(port, 0);
        const std::string megabyte = "100000\r\n" + std::string(1 << 20, 'x') + "\r\n";
        size_t sent = 0;
        int refusals = 0;
        while (sent < 300u * (1 << 20)) {
            testsupport::RawConnection raw(port, 30);
            ASSERT_TRUE(raw.send(cimHead(row.login, "Transfer-Encoding: chunked\r\n"))) << row.name;
            while (sent < 300u * (1 << 20) && raw.send(megabyte)) sent += megabyte.size();
            refusals += testsupport::RawConnection::status(raw.readResponse()) == row.status;
        }
        EXPECT_GT(refusals, 0) << row.name;
        long peak = peakRssKib(sim.pid());
        EXPECT_GT(peak, 0) << row.name;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // Sanitizers keep freed memory in quarantine: the bound holds for real builds.
        EXPECT_LT(peak, 100 * 1024) << row.name << ": peak RSS " << peak << " KiB";
#endif
        std::printf("[ figures  ] %s: peak RSS %ld KiB after %zu MB of chunks\n", row.name, peak,
                    sent >> 20);
        EXPECT_EQ(sim.terminate(), 0);
    }
}

TEST(SmisSimCli, SigtermClosesEveryConnectionAtOnce) {
    Child sim({"--http-port", "0", "--https-port", "0", "--keep-alive-timeout", "3600",
               "--header-timeout-ms", "3600000"});
    int http = portOf(sim.readLine(), "http");
    int https = portOf(sim.readLine(), "https");
    ASSERT_GT(http, 0);
    ASSERT_GT(https, 0);
    testsupport::RawConnection silent(http), halfHead(http), noHandshake(https);
    ASSERT_TRUE(halfHead.send("POST /cimom HTTP/1.1\r\nHost: x\r\n"));
    // Served once, so every listener has been accepting.
    httplib::Client c("127.0.0.1", http);
    ASSERT_EQ(status(c, "admin", "admin"), 200);
    kill(sim.pid(), SIGTERM);
    EXPECT_TRUE(silent.endedByPeer());
    EXPECT_TRUE(halfHead.endedByPeer());
    EXPECT_TRUE(noHandshake.endedByPeer());
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SmisSimCli, HoldTimeFromTheCommandLine) {
    Child sim({"--http-port", "0", "--https-port", "-1", "--hold-ms", "20"});
    int port = portOf(sim.readLine(), "http");
    ASSERT_GT(port, 0);
    httplib::Client c("127.0.0.1", port);
    c.set_basic_auth("admin", "admin");
    auto set = c.Post("/control/faults", R"({"kind":"hang"})", "application/json");
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, 200);
    std::string body = cim::xml::encodeRequest(
        simtest::enumerateNames("root/netapp/santricity", "CIM_StorageVolume"));
    testsupport::RawConnection raw(port, 60);
    ASSERT_TRUE(raw.send(cimHead(testsupport::basicAuth("admin", "admin"),
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                         body));
    EXPECT_TRUE(raw.endedByPeer()) << "held 20 ms, not the default 10 minutes";
    EXPECT_EQ(sim.terminate(), 0);
}
