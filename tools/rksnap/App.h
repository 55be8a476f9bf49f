// What the commands share: options, the loaded configuration, records and plug-in.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "Plugin.h"
#include "Records.h"

namespace rksnap {

// Exit codes.
constexpr int kExitAll = 0;
constexpr int kExitNone = 1;
constexpr int kExitSome = 2;
constexpr int kExitUnreachable = 3;
constexpr int kExitUsage = 64;

struct Options {
    std::string configPath;
    std::string stateDir;
    std::string pluginPath;
    bool json = false;

    // Snapshot commands.
    std::vector<std::string> devices;
    std::vector<std::string> snaps;
    std::string name;
    std::string engine = "pit";
    std::string array;
    bool keep = false;
    bool all = false;

    // Array commands.
    std::string address;
    std::string arrayId;
    int port = 0;
    bool http = false;
    std::string user = "admin";
    std::string nameSpace;
    std::string passwordFile;
    std::string passwordEnv;
    bool arrayPassword = false;
    std::string arrayPasswordFile;
    std::string arrayPasswordEnv;

    // demo
    std::string simPath;
    bool keepState = false;
};

class Session {
  public:
    explicit Session(const Options& o) : opts(o) {}
    // Configuration (and, when asked, records and plug-in); false with the
    // reason printed.
    // withHost: the host libraries read the configuration too (device tree, clock).
    bool open(bool withRecords, bool withPlugin, bool withHost = false);
    std::string keyFile() const;
    int controlHostId() const;

    const Options& opts;
    Config config;
    Records records;
    Plugin plugin;
    std::string stateDir;
};

// Printing: text on stdout, or one JSON document when --json.
void printJson(const nlohmann::json& doc);
void printError(const Options& o, const std::string& message, int exitCode);
std::string statusName(int status);
// A table with a header row, columns padded to their widest cell.
std::string table(const std::vector<std::vector<std::string>>& rows);
std::string timeText(int64_t seconds);

int runSnapCommand(const std::string& command, const Options& o);
int runIdentify(const Options& o);
int runDevices(const Options& o);
int runList(const Options& o);
int runShow(const Options& o);
int runStatus(const Options& o);
int runArray(const std::string& command, const Options& o);
int runDemo(const Options& o);
int runDoctor(const Options& o);

}  // namespace rksnap
