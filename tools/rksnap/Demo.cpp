// rksnap demo: starts the simulator from the build on free ports (HTTPS), with a
// temporary configuration and state, and walks the whole road of a snapshot by
// running rksnap itself for each step. Ends with a summary table; exits 0 only
// when every step gave the outcome expected. Leaves nothing behind, also when
// interrupted.
#include <curl/curl.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>

#include "App.h"
#include "Process.h"

namespace rksnap {

volatile sig_atomic_t g_interrupted = 0;

namespace {

using nlohmann::json;

volatile pid_t g_child = -1;
volatile pid_t g_sim = -1;

void onSignal(int) {
    g_interrupted = 1;
    if (g_child > 0) kill(g_child, SIGTERM);
}

// Host waits run this much faster, and simulated jobs finish as much sooner.
constexpr int kClockScale = 50;
constexpr int kJobMs = 20;

std::string selfPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("rksnap");
}

std::string randomText(size_t n) {
    static const char kChars[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::random_device rd;
    std::string s;
    for (size_t i = 0; i < n; ++i) s += kChars[rd() % (sizeof kChars - 1)];
    return s;
}

size_t collect(char* data, size_t size, size_t n, void* user) {
    auto* s = static_cast<std::string*>(user);
    if (s->size() + size * n > (16u << 20)) return 0;  // a log is far smaller
    s->append(data, size * n);
    return size * n;
}

// A control request to the simulator; the answer's JSON.
bool control(const std::string& method, const std::string& url, const std::string& user,
             const std::string& password, const json& body, json* answer) {
    CURL* c = curl_easy_init();
    if (!c) return false;
    std::string text = body.is_null() ? std::string() : body.dump(), got;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    if (!text.empty()) curl_easy_setopt(c, CURLOPT_POSTFIELDS, text.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &got);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    if (rc != CURLE_OK || status != 200) return false;
    *answer = json::parse(got, nullptr, false);
    return !answer->is_discarded();
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

std::string field(const std::string& uniqueId, int n) {
    size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = uniqueId.find('*', start);
        if (start == std::string::npos) return std::string();
        ++start;
    }
    return uniqueId.substr(start, uniqueId.find('*', start) - start);
}

struct StepResult {
    std::string what;
    std::string devices;
    std::string outcome;
    bool ok = false;
    double seconds = 0;
    size_t requests = 0;
};

class Demo {
  public:
    explicit Demo(const Options& o) : m_o(o) {}
    ~Demo() { cleanup(); }

    int run();

  private:
    bool startSimulator(std::string* error);
    json rksnap(std::vector<std::string> args, int* exitCode);
    size_t takeRequests();
    void step(const std::string& what, const std::string& devices,
              const std::function<std::string(bool*)>& body);
    void cleanup();

    const Options& m_o;
    std::string m_dir;
    Child m_sim;
    std::string m_http, m_https, m_user = "demo", m_password;
    std::vector<StepResult> m_steps;
    bool m_failed = false;
};

bool Demo::startSimulator(std::string* error) {
    std::string simPath = m_o.simPath;
    if (simPath.empty()) {
        std::string self = selfPath();
        simPath = self.substr(0, self.find_last_of('/')) + "/smis-sim";
    }
    if (access(simPath.c_str(), X_OK) != 0) {
        *error = "simulator '" + simPath + "' not found (--sim names it)";
        return false;
    }
    // Its default arrays, with fast jobs and fresh passwords.
    Child print;
    if (!print.start({simPath, "--print-config"}, m_dir + "/sim.err")) {
        *error = "cannot run " + simPath;
        return false;
    }
    json config = json::parse(print.readAll(), nullptr, false);
    if (print.wait() != 0 || config.is_discarded() || !config.contains("arrays")) {
        *error = "the simulator did not print its configuration";
        return false;
    }
    config["jobs"]["durationMs"] = kJobMs;
    for (json& a : config["arrays"]) {
        a["password"] = m_password;
        a["providerSecret"] = m_password;
    }
    if (!writeFileAtomic(m_dir + "/sim.json", config.dump(), error) ||
        !writeFileAtomic(m_dir + "/password", m_password + "\n", error))
        return false;
    if (!m_sim.start({simPath, "--config", m_dir + "/sim.json", "--http-port", "0", "--https-port",
                      "0", "--user", m_user, "--password-file", m_dir + "/password"},
                     m_dir + "/sim.err")) {
        *error = "cannot start " + simPath;
        return false;
    }
    g_sim = m_sim.pid;
    for (int i = 0; i < 2; ++i) {
        std::string line = m_sim.readLine(10000);
        if (line.rfind("https://", 0) == 0)
            m_https = line;
        else if (line.rfind("http://", 0) == 0)
            m_http = line;
    }
    if (m_http.empty() || m_https.empty()) {
        *error = "the simulator did not start (see its messages above)";
        std::string err;
        if (readSmallFile(m_dir + "/sim.err", 65536, &err, error)) std::cerr << err;
        return false;
    }
    return true;
}

json Demo::rksnap(std::vector<std::string> args, int* exitCode) {
    args.insert(args.begin(), {selfPath(), "--config", m_dir + "/rksnap.conf", "--state-dir",
                               m_dir + "/state", "--json"});
    Child c;
    *exitCode = -1;
    if (g_interrupted || !c.start(args, m_dir + "/rksnap.err")) return json::object();
    g_child = c.pid;
    std::string out = c.readAll();
    *exitCode = c.wait();
    g_child = -1;
    json j = json::parse(out, nullptr, false);
    return j.is_object() ? j : json::object();
}

size_t Demo::takeRequests() {
    json log;
    if (!control("GET", m_http + "/control/log", m_user, m_password, json(), &log)) return 0;
    json none;
    control("DELETE", m_http + "/control/log", m_user, m_password, json(), &none);
    return log.value("requests", json::array()).size();
}

void Demo::step(const std::string& what, const std::string& devices,
                const std::function<std::string(bool*)>& body) {
    if (g_interrupted) return;
    StepResult r;
    r.what = what;
    r.devices = devices;
    auto start = std::chrono::steady_clock::now();
    r.outcome = body(&r.ok);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.requests = takeRequests();
    if (!r.ok) m_failed = true;
    std::printf("%-44s %-8s %6.2f s  %s\n", what.c_str(), r.ok ? "ok" : "FAILED", r.seconds,
                r.outcome.c_str());
    std::fflush(stdout);
    m_steps.push_back(r);
}

void Demo::cleanup() {
    if (m_sim.pid > 0) {
        kill(m_sim.pid, SIGTERM);
        m_sim.wait();
        g_sim = -1;
    }
    if (!m_dir.empty() && !m_o.keepState)
        nftw(m_dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    m_dir.clear();
}

// The outcome text of a call document: each device's status (and error).
std::string outcomeOf(const json& doc, int exitCode, bool* ok, int wantExit = 0) {
    *ok = exitCode == wantExit;
    if (!doc.is_object()) return "no answer (exit " + std::to_string(exitCode) + ")";
    if (doc.contains("error")) return doc["error"].get<std::string>();
    std::string text;
    for (const json& c : doc.value("calls", json::array()))
        for (const json& d : c["devices"]) {
            text += (text.empty() ? "" : ", ") + d.value("statusName", std::string("?"));
            if (d["error"].value("code", 0))
                text += " (" + std::to_string(d["error"].value("code", 0)) + ")";
        }
    for (const json& e : doc.value("errors", json::array())) text += " " + e.get<std::string>();
    return text.empty() ? "exit " + std::to_string(exitCode) : text;
}

std::string shortDev(const std::string& d) {
    return d.size() > 20 ? "..." + d.substr(d.size() - 8) : d;
}

int Demo::run() {
    char tmpl[] = "/tmp/rksnap-demo.XXXXXX";
    if (!mkdtemp(tmpl)) {
        printError(m_o, std::string("cannot make a temporary folder: ") + std::strerror(errno),
                   kExitNone);
        return kExitNone;
    }
    m_dir = tmpl;
    m_password = "demo-" + randomText(16);
    std::string error;
    auto overall = std::chrono::steady_clock::now();
    std::printf(
        "rksnap demo: a simulated E-Series array on loopback, driven through the plug-in\n");
    if (!startSimulator(&error)) {
        printError(m_o, error, kExitNone);
        return kExitNone;
    }
    std::printf("simulator: %s (HTTPS), state in %s\n", m_https.c_str(), m_dir.c_str());
    std::printf("host waits run %dx faster; simulated jobs take %d ms\n\n", kClockScale, kJobMs);
    const std::string conf =
        "[Host]\nDeviceTree = simulation\nFabricUrl = " + m_http +
        "\nInitiatorPorts = 10000090FA1B2C3D\nClockScale = " + std::to_string(kClockScale) + "\n";
    if (!writeFileAtomic(m_dir + "/rksnap.conf", conf, &error)) {
        printError(m_o, error, kExitNone);
        return kExitNone;
    }
    const std::string port = m_https.substr(m_https.find_last_of(':') + 1);
    int rc = 0;
    json arrays;
    // Every array of the simulator is configured by its id.
    {
        json state;
        if (!control("GET", m_http + "/control/state", m_user, m_password, json(), &state) ||
            state.value("arrays", json::array()).empty()) {
            printError(m_o, "cannot read the simulator's arrays", kExitNone);
            return kExitNone;
        }
        arrays = state["arrays"];
    }
    const std::string arrayId = arrays[0].value("id", std::string());
    setenv("RKSNAP_DEMO_PASSWORD", m_password.c_str(), 1);
    step("array add (password encrypted)", "-", [&](bool* ok) {
        json d = rksnap({"array", "add", "sim1", "--address", "127.0.0.1", "--port", port,
                         "--array-id", arrayId, "--user", m_user, "--password-env",
                         "RKSNAP_DEMO_PASSWORD", "--array-password-env", "RKSNAP_DEMO_PASSWORD"},
                        &rc);
        return outcomeOf(d, rc, ok);
    });
    unsetenv("RKSNAP_DEMO_PASSWORD");

    std::string a, b;
    {
        json d = rksnap({"devices"}, &rc);
        for (const json& dev : d.value("devices", json::array())) {
            if (a.empty())
                a = dev.value("device", std::string());
            else if (b.empty())
                b = dev.value("device", std::string());
        }
        takeRequests();
        if (b.empty()) {
            printError(m_o, "the simulated fabric shows this host fewer than two volumes",
                       kExitNone);
            return kExitNone;
        }
    }
    const std::string both = shortDev(a) + " " + shortDev(b);
    step("identify two volumes", both, [&](bool* ok) {
        json d = rksnap({"identify", a, b}, &rc);
        *ok = rc == 0;
        std::string t;
        for (const json& dev : d.value("devices", json::array()))
            t += (t.empty() ? "" : ", ") +
                 std::string(dev.value("supported", false) ? "supported" : "not supported") +
                 " on " + dev.value("array", std::string("?"));
        return t;
    });
    step("prepare a PiT", shortDev(a), [&](bool* ok) {
        json d = rksnap({"prepare", "-n", "pit1", "-e", "pit", a}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("take the PiT", shortDev(a), [&](bool* ok) {
        json d = rksnap({"snap", "-n", "pit1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("take a consistency-group PiT of both", both, [&](bool* ok) {
        json d = rksnap({"snap", "-n", "cg1", "-e", "cg", a, b}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("map the PiT", shortDev(a), [&](bool* ok) {
        json d = rksnap({"map", "pit1"}, &rc);
        std::string t = outcomeOf(d, rc, ok);
        // The device that appeared must answer the PiT view's inquiry data.
        json show = rksnap({"show", "pit1"}, &rc);
        std::string snapDev, view;
        for (const json& dev : show.value("devices", json::array())) {
            snapDev = dev.value("snapDevice", std::string());
            view = field(dev.value("uniqueId", std::string()), 7);
        }
        json id = rksnap({"identify", snapDev}, &rc);
        std::string seen = id.value("devices", json::array()).empty()
                               ? std::string()
                               : id["devices"][0].value("lunUuid", std::string());
        *ok = *ok && !view.empty() && seen == view;
        return t + ", " + shortDev(snapDev) + (seen == view ? " shows the view " : " shows ") +
               seen;
    });
    step("check the mapping", shortDev(a), [&](bool* ok) {
        json d = rksnap({"ismapped", "pit1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("unmap the PiT", shortDev(a), [&](bool* ok) {
        json d = rksnap({"unmap", "pit1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("revert the source from the PiT", shortDev(a), [&](bool* ok) {
        json d = rksnap({"revert", "pit1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("take a replica (older engine)", shortDev(b), [&](bool* ok) {
        json d = rksnap({"snap", "-n", "rep1", "-e", "replica", b}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("delete the replica", shortDev(b), [&](bool* ok) {
        json d = rksnap({"delete", "rep1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("take a PiT to lose", shortDev(b), [&](bool* ok) {
        json d = rksnap({"snap", "-n", "pit2", "-e", "pit", b}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("PiT deleted behind our back; reconcile", shortDev(b), [&](bool* ok) {
        json show = rksnap({"show", "pit2"}, &rc);
        std::string pit;
        for (const json& dev : show.value("devices", json::array()))
            pit = field(dev.value("uniqueId", std::string()), 9);
        json removed;
        bool gone = !pit.empty() && control("POST", m_http + "/control/remove", m_user, m_password,
                                            {{"object", "pit"}, {"target", pit}}, &removed);
        json d = rksnap({"reconcile"}, &rc);
        std::string t = outcomeOf(d, rc, ok);
        json list = rksnap({"list", "--all"}, &rc);
        std::string outcome;
        for (const json& s : list.value("snapshots", json::array()))
            if (s.value("name", std::string()) == "pit2")
                outcome = s.value("deleteOutcome", std::string());
        *ok = *ok && gone && outcome == "deleted outside rksnap";
        return t + "; record: " + (outcome.empty() ? "still live" : outcome);
    });
    step("delete the PiTs, oldest first", both, [&](bool* ok) {
        json d = rksnap({"delete", "pit1", "cg1"}, &rc);
        return outcomeOf(d, rc, ok);
    });
    step("prepare and unprepare", shortDev(a), [&](bool* ok) {
        json p = rksnap({"prepare", "-n", "spare", a}, &rc);
        bool prepared = rc == 0;
        json d = rksnap({"unprepare", "spare"}, &rc);
        std::string t = outcomeOf(d, rc, ok);
        *ok = *ok && prepared;
        return t;
    });

    double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - overall).count();
    if (g_interrupted) {
        std::printf("\ninterrupted; the simulator is stopped and %s removed\n", m_dir.c_str());
        return 130;
    }
    std::vector<std::vector<std::string>> rows = {
        {"STEP", "DEVICES", "OUTCOME", "SECONDS", "PROVIDER REQUESTS"}};
    size_t requests = 0;
    for (const StepResult& s : m_steps) {
        char secs[32];
        std::snprintf(secs, sizeof secs, "%.2f", s.seconds);
        rows.push_back({s.what, s.devices, s.ok ? "as expected" : "UNEXPECTED: " + s.outcome, secs,
                        std::to_string(s.requests)});
        requests += s.requests;
    }
    char totalText[32];
    std::snprintf(totalText, sizeof totalText, "%.2f", total);
    rows.push_back({"total", "", m_failed ? "FAILED" : "all as expected", totalText,
                    std::to_string(requests)});
    std::printf("\nSummary (provider requests from the simulator's request log)\n%s",
                table(rows).c_str());
    if (m_o.keepState) std::printf("state kept in %s\n", m_dir.c_str());
    return m_failed ? kExitNone : kExitAll;
}

}  // namespace

int runDemo(const Options& o) {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc;
    {
        Demo demo(o);
        rc = demo.run();
    }
    curl_global_cleanup();
    return rc;
}

}  // namespace rksnap
