#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>

#include "App.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"
#include "rkso/RkDeviceTree.h"
#include "rkso/RkHostClock.h"

namespace rksnap {
namespace {

// Engine records the plug-in asks for when the configuration names none:
// the PiT engine (snapshots), the older engine's clones and its replicas.
const char* const kDefaultEngines =
    "[Engines]\n"
    "54 = {SnapVendorName:LSI,Capabilities:1}\n"
    "17 = {SnapVendorName:LSI,Capabilities:2}\n"
    "16 = {SnapVendorName:LSI,Capabilities:1}\n";

// Host time running faster than the wall clock: waits of the plug-in (job
// polls, rescans) take 1/scale of their length. Only for simulated arrays,
// whose jobs are configured to finish as much faster.
class ScaledClock : public RkHostClock {
  public:
    explicit ScaledClock(int scale) : m_scale(scale), m_start(std::chrono::steady_clock::now()) {}
    int64_t nowMs() override {
        auto real = std::chrono::steady_clock::now() - m_start;
        return std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * m_scale;
    }
    void sleepMs(int64_t ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms / m_scale));
    }

  private:
    const int m_scale;
    const std::chrono::steady_clock::time_point m_start;
};

}  // namespace

std::string Session::keyFile() const {
    std::string configured = config.get("Host", "PasswordKeyFile");
    if (!configured.empty()) return configured;
    const std::string& p = config.path();
    size_t slash = p.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : p.substr(0, slash)) + "/rksnap.key";
}

int Session::controlHostId() const {
    std::string v = config.get("Host", "ControlHostId");
    return v.empty() ? 1 : std::atoi(v.c_str());
}

bool Session::open(bool withRecords, bool withPlugin, bool withHost) {
    std::string error;
    const std::string configPath = opts.configPath.empty() ? defaultConfigPath() : opts.configPath;
    if (!config.load(configPath, !opts.configPath.empty(), &error)) {
        printError(opts, error, kExitNone);
        return false;
    }
    stateDir = opts.stateDir.empty() ? defaultStateDir() : opts.stateDir;
    if (!withRecords && !withPlugin && !withHost) return true;
    if (!makeDirs(stateDir, &error)) {
        printError(opts, error, kExitNone);
        return false;
    }
    // The host libraries (and through them the plug-in) read the same text,
    // with the database and key file this run uses.
    std::string text = std::string("[Host]\nDeviceTree = linux\nPasswordKeyFile = ") + keyFile() +
                       "\n" + (config.has("Engines", "54") ? "" : kDefaultEngines) + config.text() +
                       "\n[Host]\nSnapDatabase = " + Records::databasePath(stateDir) + "\n";
    if (!RKPlatformInfo::loadConfigText(text, &error)) {
        printError(opts, "configuration '" + configPath + "': " + error, kExitNone);
        return false;
    }
    RkDeviceTree::reset();
    // [Host] ClockScale: see ScaledClock. The clock lives as long as the process.
    int scale = std::atoi(config.get("Host", "ClockScale").c_str());
    if (scale > 1 && scale <= 1000) RkHostClock::install(new ScaledClock(scale));
    if (!std::getenv("RKHOST_DEBUG_LOG")) EvDebug::setLogFile((stateDir + "/rksnap.log").c_str());
    if (withRecords &&
        !records.open(
            stateDir, controlHostId(),
            [](const std::string& m) { std::cerr << "rksnap: " << m << std::endl; }, &error)) {
        printError(opts, error, kExitNone);
        return false;
    }
    if (withPlugin && !plugin.load(opts.pluginPath, &error)) {
        printError(opts, error, kExitNone);
        return false;
    }
    return true;
}

void printJson(const nlohmann::json& doc) {
    std::cout << doc.dump(2) << std::endl;
}

void printError(const Options& o, const std::string& message, int exitCode) {
    if (o.json)
        printJson({{"error", message}, {"exitCode", exitCode}});
    else
        std::cerr << "rksnap: " << message << std::endl;
}

std::string statusName(int status) {
    switch (status) {
        case 0:
            return "reset";
        case 1:
            return "prepared";
        case 2:
            return "prepare failed";
        case 3:
            return "unprepared";
        case 5:
            return "created";
        case 6:
            return "create failed";
        case 7:
            return "clone not mapped";
        case 9:
            return "mapped";
        case 11:
            return "map failed";
        case 12:
            return "visible";
        case 14:
            return "unmapped";
        case 15:
            return "unmap failed";
        case 20:
            return "deleted";
        case 21:
            return "delete failed";
        case 22:
            return "reverted";
        case 23:
            return "revert failed";
        case 24:
            return "deleted outside";
        default:
            return "status " + std::to_string(status);
    }
}

std::string table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> width;
    for (const auto& r : rows)
        for (size_t i = 0; i < r.size(); ++i) {
            if (width.size() <= i) width.push_back(0);
            width[i] = std::max(width[i], r[i].size());
        }
    std::string out;
    for (const auto& r : rows) {
        std::string line;
        for (size_t i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string timeText(int64_t seconds) {
    if (seconds <= 0) return "-";
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

}  // namespace rksnap
