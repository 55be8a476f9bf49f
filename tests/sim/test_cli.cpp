// The smis-sim binary: its command line, the URL lines it prints, credentials from a
// file, the state file, and a clean stop on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "SimHttp.h"

extern char** environ;

namespace {

// A child process with its stdout and stderr on pipes.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        args.insert(args.begin(), SMIS_SIM_BINARY);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("spawn");
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Child() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    // The next stdout line, or "" at end of output or after the timeout.
    std::string readLine(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) return "";
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            char buf[4096];
            ssize_t n = ::read(m_out, buf, sizeof(buf));
            if (n <= 0) return "";
            m_buffer.append(buf, static_cast<size_t>(n));
        }
    }

    // Everything left on stdout (or stderr) until the child closes it.
    std::string drain(bool fromStderr = false) {
        std::string all = fromStderr ? std::string() : m_buffer;
        if (!fromStderr) m_buffer.clear();
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fromStderr ? m_err : m_out, buf, sizeof(buf))) > 0) {
            all.append(buf, static_cast<size_t>(n));
        }
        return all;
    }

    // Exit code, or 128 + signal.
    int wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int terminate() {
        kill(m_pid, SIGTERM);
        return wait();
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_buffer;
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

TEST(SmisSimCli, OneListenerWhenTheOtherIsOff) {
    Child sim({"--http-port", "0", "--https-port", "-1"});
    std::string line = sim.readLine();
    EXPECT_GT(portOf(line, "http"), 0) << line;
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
          "--latency-ms", "--hold-ms", "--print-config", "--help"}) {
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
    std::string badJson = tempPath("bad.json");
    std::string emptyPassword = tempPath("empty");
    {
        std::ofstream(badJson) << "{ \"arrays\": [ ";
        std::ofstream(emptyPassword) << "\n";
    }
    std::vector<std::vector<std::string>> cases = {
        {"--http-port", "abc"},
        {"--no-such-option"},
        {"--config", "/nonexistent/config.json"},
        {"--config", badJson, "--http-port", "0", "--https-port", "-1"},
        {"--preset", "ACME", "--http-port", "0", "--https-port", "-1"},
        {"--password-file", emptyPassword, "--http-port", "0", "--https-port", "-1"},
        {"--cert", badJson, "--key", badJson, "--http-port", "-1", "--https-port", "0"},
        {"--threads", "0"},
    };
    for (const auto& args : cases) {
        Child sim(args);
        int code = sim.wait();
        std::string all;
        for (const auto& a : args) all += a + " ";
        EXPECT_NE(code, 0) << all;
        EXPECT_EQ(sim.drain(), "") << all;
        EXPECT_FALSE(sim.drain(true).empty()) << all;
    }

    Child first({"--http-port", "0", "--https-port", "-1"});
    std::string port = std::to_string(portOf(first.readLine(), "http"));
    Child clash({"--http-port", port, "--https-port", "-1"});
    EXPECT_EQ(clash.wait(), 1);
    EXPECT_NE(clash.drain(true).find(port), std::string::npos);
    EXPECT_EQ(first.terminate(), 0);
    std::remove(badJson.c_str());
    std::remove(emptyPassword.c_str());
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
