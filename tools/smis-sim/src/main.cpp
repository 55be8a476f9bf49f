// smis-sim: a simulated E-Series SMI-S provider on HTTP and HTTPS.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include <sim/Config.h>
#include <sim/Provider.h>

#include "PasswordFile.h"
#include "sim/server/ProviderBackend.h"
#include "sim/server/Server.h"

namespace {

// Anything at the path counts, so that a file we may not read is reported, not replaced.
bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "smis-sim: a simulated E-Series SMI-S provider (CIM-XML over HTTP and HTTPS).\n"
        "Once listening it prints one line per listener with its URL, e.g.\n"
        "  http://127.0.0.1:5988\n"
        "  https://127.0.0.1:5989\n"
        "CIM operations go to POST /cimom; the control interface lives under /control/ and\n"
        "the fabric view on POST /fabric/luns (see the README). Stop it with SIGINT or SIGTERM."};

    std::string configFile, bindAddress = "127.0.0.1", user, passwordFile, stateFile;
    std::string certFile, keyFile, preset;
    int httpPort = 5988, httpsPort = 5989;
    size_t threads = 256;
    int keepAlive = 30;
    int64_t headerTimeoutMs = 10000, bodyTimeoutMs = 10000;
    size_t maxRequestBytes = 64u << 20;
    int64_t latencyMs = 0;
    int64_t holdMs = 600000;
    bool printConfig = false;

    app.add_option("--config", configFile,
                   "JSON configuration (arrays, hosts, credentials, prefix, job timing); "
                   "default: one array with two pools, eight volumes, two hosts, one host group")
        ->check(CLI::ExistingFile);
    app.add_option("--bind", bindAddress, "Address to listen on")->capture_default_str();
    app.add_option("--http-port", httpPort, "HTTP port; 0 picks a free port, -1 turns HTTP off")
        ->capture_default_str();
    app.add_option("--https-port", httpsPort, "HTTPS port; 0 picks a free port, -1 turns HTTPS off")
        ->capture_default_str();
    app.add_option("--user", user,
                   "User name clients must send (Basic auth); default from the configuration");
    app.add_option("--password-file", passwordFile,
                   "File whose first line is the password clients must send; default from the "
                   "configuration")
        ->check(CLI::ExistingFile);
    app.add_option("--preset", preset,
                   "Class prefix and namespace: LSISSI (root/LsiArray13), DCIM "
                   "(root/DCIM/MDStorageArray13) or NETAPP (root/netapp/santricity)");
    app.add_option("--state-file", stateFile,
                   "Keep the array here (mode 0600, no credentials): loaded at start when it "
                   "exists, saved after every change and at exit; jobs in flight are not kept");
    app.add_option("--cert", certFile,
                   "PEM certificate for HTTPS (needs --key); default: self-signed, made at start")
        ->check(CLI::ExistingFile);
    app.add_option("--key", keyFile, "PEM private key of --cert")->check(CLI::ExistingFile);
    app.add_option("--threads", threads, "Connections served at once per listener")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--keep-alive-timeout", keepAlive, "Seconds an idle connection is kept open")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    app.add_option("--header-timeout-ms", headerTimeoutMs,
                   "A request head (and TLS handshake) must arrive within this")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{86400000}));
    app.add_option("--body-timeout-ms", bodyTimeoutMs,
                   "A request body, or an answer being sent, must move on within this")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{86400000}));
    app.add_option("--max-request-bytes", maxRequestBytes,
                   "Largest CIM request body; larger ones (also chunked) get 413 at once")
        ->capture_default_str()
        ->check(CLI::Range(size_t{1024}, size_t{1} << 32));
    app.add_option("--latency-ms", latencyMs, "Delay added before every CIM answer")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{0}, int64_t{3600000}));
    app.add_option("--hold-ms", holdMs,
                   "How long a \"hang\" fault holds a request unless its rule says "
                   "(\"holdMs\"); the client giving up or a stop ends it sooner")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{86400000}));
    app.add_flag("--print-config", printConfig,
                 "Print the effective configuration as JSON and exit (passwords and secrets "
                 "shown as ****; set them again before loading the file with --config)");

    CLI11_PARSE(app, argc, argv);

    try {
        sim::Config config =
            configFile.empty() ? sim::Config::defaults() : sim::Config::load(configFile);
        if (!user.empty()) config.user = user;
        if (!passwordFile.empty()) config.password = sim::detail::readPasswordFile(passwordFile);
        // The state file holds no credentials: they stay those of the configuration.
        if (!stateFile.empty() && fileExists(stateFile))
            config = sim::Config::loadState(stateFile, config);
        if (!preset.empty()) {
            sim::Preset p = sim::Config::presetFor(preset);
            config.preset = p.name;
            config.classPrefix = p.classPrefix;
            config.arrayNamespace = p.arrayNamespace;
        }

        if (printConfig) {
            // Credentials never leave the process in clear text.
            nlohmann::json out = config.toJson();
            if (out.contains("password")) out["password"] = "****";
            if (out.contains("arrays") && out["arrays"].is_array()) {
                for (auto& a : out["arrays"]) {
                    for (const char* key : {"password", "providerSecret"})
                        if (a.contains(key)) a[key] = "****";
                }
            }
            std::cout << out.dump(2) << std::endl;
            return 0;
        }

        // Signals are taken by sigwait below; threads started from here inherit the mask.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        signal(SIGPIPE, SIG_IGN);
        // Every connection takes a descriptor: allow as many as the system lets us.
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
        }

        sim::Provider provider(config);
        sim::ProviderBackend backend(provider, stateFile);

        sim::ServerOptions options;
        options.bindAddress = bindAddress;
        options.httpPort = httpPort < 0 ? -1 : httpPort;
        options.httpsPort = httpsPort < 0 ? -1 : httpsPort;
        options.user = config.user;
        options.password = config.password;
        options.certFile = certFile;
        options.keyFile = keyFile;
        options.maxThreads = threads;
        options.keepAliveTimeoutSec = keepAlive;
        options.maxHoldMs = holdMs;
        options.headerTimeoutMs = headerTimeoutMs;
        options.bodyTimeoutMs = bodyTimeoutMs;
        options.maxRequestBytes = maxRequestBytes;

        sim::Server server(backend, options);
        server.faults().setLatencyMs(latencyMs);
        server.start();
        if (server.httpPort() >= 0) std::cout << server.httpUrl() << "\n";
        if (server.httpsPort() >= 0) std::cout << server.httpsUrl() << "\n";
        std::cout.flush();

        int sig = 0;
        sigwait(&signals, &sig);
        server.stop();
        backend.saveState();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "smis-sim: " << e.what() << std::endl;
        return 1;
    }
}
