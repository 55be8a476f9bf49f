// The snapshot commands: each runs entry points of the plug-in over the devices
// of one snapshot record, with the intent recorded before and the outcome after.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "App.h"
#include "Host.h"

namespace rksnap {
namespace {

using nlohmann::json;

constexpr int kErrConnection = 60541;
constexpr int kErrCredentials = 60555;
constexpr int kErrNotSupported = 60557;

struct EngineChoice {
    const char* name;
    short id;
    bool cg;
};
const EngineChoice kEngines[] = {
    {"pit", 54, false}, {"cg", 54, true}, {"clone", 17, false}, {"replica", 16, false}};

// Shows what a long call waits for, on a terminal only.
class Progress {
  public:
    Progress(bool enabled, std::string label) : m_enabled(enabled), m_label(std::move(label)) {
        if (!m_enabled) return;
        m_start = std::chrono::steady_clock::now();
        m_thread = std::thread([this] { run(); });
    }
    ~Progress() {
        if (!m_enabled) return;
        {
            std::lock_guard<std::mutex> l(m_mu);
            m_stop = true;
        }
        m_cv.notify_all();
        m_thread.join();
        std::cerr << "\r\033[K" << std::flush;
    }
    void line(const std::string& text) {
        if (!m_enabled) return;
        std::lock_guard<std::mutex> l(m_mu);
        m_last = text.substr(0, 100);
    }

  private:
    void run() {
        std::unique_lock<std::mutex> l(m_mu);
        while (!m_cv.wait_for(l, std::chrono::milliseconds(250), [this] { return m_stop; })) {
            double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
            char head[64];
            std::snprintf(head, sizeof head, "%s %5.1fs ", m_label.c_str(), s);
            std::cerr << "\r\033[K" << head << m_last << std::flush;
        }
    }
    bool m_enabled;
    std::string m_label;
    std::chrono::steady_clock::time_point m_start;
    std::mutex m_mu;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::string m_last;
    std::thread m_thread;
};

struct CallOutcome {
    SnapRecord snap;
    std::string op;
    int result = 1;
    double seconds = 0;
    std::vector<DeviceRecord> devices;
    std::vector<std::string> hints;  // per device, "" when none
    int exitCode = kExitNone;
};

std::string hintFor(const DeviceRecord& d, const std::string& arrayProblem,
                    const std::string& array) {
    if (!arrayProblem.empty()) return arrayProblem;
    switch (d.errorCode) {
        case kErrCredentials:
            return "the provider refused the credentials: rksnap array set-password " + array;
        case kErrConnection:
            return "cannot reach the provider of array " + array +
                   ": check it runs (rksnap doctor " + array + ")";
        case kErrNotSupported:
            return "the device is not a volume of a supported array";
        default:
            return std::string();
    }
}

bool succeeded(const std::string& op, int status) {
    if (op == "prepare") return status == 1;
    if (op == "snap") return status == 5;
    if (op == "map" || op == "ismapped") return status == 9 || status == 12;
    if (op == "unmap") return status == 14;
    if (op == "revert") return status == 22;
    if (op == "delete") return status == 20;
    if (op == "unprepare") return status == 3;
    return status != 0;
}

int exitFor(const std::string& op, int result, const std::vector<DeviceRecord>& devices) {
    int ok = 0, unreachable = 0;
    for (const DeviceRecord& d : devices) {
        if (op == "reconcile" ? d.errorCode == 0 : succeeded(op, d.status)) ++ok;
        if (d.errorCode == kErrConnection) ++unreachable;
    }
    if (result == 0 && ok == static_cast<int>(devices.size())) return kExitAll;
    if (unreachable > 0 && ok == 0) return kExitUnreachable;
    if (result == 2 || (ok > 0 && ok < static_cast<int>(devices.size()))) return kExitSome;
    return result == 0 ? kExitAll : kExitNone;
}

class Runner {
  public:
    explicit Runner(Session& s) : m_s(s) {}

    CallOutcome call(SnapRecord snap, const std::string& op, rkso_devices_fn fn) {
        CallOutcome out;
        out.op = op;
        CallContext ctx;
        ctx.config = &m_s.config;
        ctx.records = &m_s.records;
        ctx.keyFile = m_s.keyFile();
        ctx.controlHostId = m_s.controlHostId();
        ctx.engineId = static_cast<short>(snap.engineId);
        ctx.consistencyGroup = snap.engine == "cg";
        ctx.snapFlags = m_s.opts.keep ? RKSO::SNAP_FLAG_KEEP : 0;
        ctx.operationType = op == "delete" ? 132 : 0;  // delete unmaps first
        ctx.arrayName = snap.arrayName;
        ctx.snapName = snap.name;
        Progress progress(isatty(2) && !m_s.opts.json, op + " " + snap.name);
        ctx.onProgress = [&progress](const std::string& l) { progress.line(l); };
        ctx.op = op;
        ctx.callId = m_s.records.beginCall(snap.id, op);

        std::vector<std::unique_ptr<HostDevice>> devices;
        std::vector<RKSO::SnapInfo*> raw;
        for (DeviceRecord d : snap.devices) {
            d.lastOp = op;
            d.errorCode = 0;  // each call reports its own errors
            d.errorText.clear();
            devices.push_back(std::make_unique<HostDevice>(ctx, d));
            raw.push_back(devices.back().get());
        }
        auto start = std::chrono::steady_clock::now();
        out.result = fn(raw.data(), static_cast<short>(raw.size()), m_util(ctx));
        dieAt(op, "outcome");
        out.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        m_s.records.endCall(ctx.callId, out.result);

        std::string selected;
        for (auto& d : devices)
            if (selected.empty()) selected = d->selectedArray();
        if (snap.arrayName.empty() && !selected.empty()) {
            ArrayEntry a;
            if (m_s.config.findArray(selected, &a)) {
                snap.arrayName = a.name;
                m_s.records.setSnapArray(snap.id, a.name);
            }
        }
        for (auto& d : devices) {
            DeviceRecord r = d->record();
            r.lastOp = op;
            r.lastOpAt = nowSeconds();
            m_s.records.saveDevice(r);  // also records a device the plug-in never touched
            out.devices.push_back(r);
            std::string hint = hintFor(r, d->arrayProblem(), snap.arrayName);
            if (hint.empty() && r.errorCode == 0 && !succeeded(op, r.status))
                hint = d->lastErrorLine();
            out.hints.push_back(hint);
        }
        out.exitCode = exitFor(op, out.result, out.devices);
        updateSnap(snap, out);
        out.snap = snap;
        return out;
    }

  private:
    RKSO::RKOSUtil* m_util(CallContext& ctx) {
        m_utilObj = std::make_unique<HostUtil>(ctx);
        return m_utilObj.get();
    }

    void updateSnap(SnapRecord& snap, const CallOutcome& out) {
        auto all = [&](int status) {
            for (const DeviceRecord& d : out.devices)
                if (d.status != status) return false;
            return !out.devices.empty();
        };
        auto any = [&](int status) {
            for (const DeviceRecord& d : out.devices)
                if (d.status == status) return true;
            return false;
        };
        std::string state = snap.state;
        if (out.op == "prepare") state = any(1) ? "prepared" : "prepare failed";
        if (out.op == "snap") state = any(5) ? "created" : "create failed";
        if (out.op == "map" && any(9)) state = "mapped";
        if (out.op == "unmap" && all(14)) state = "created";
        if (out.op == "revert" && any(22)) state = "reverted";
        if (out.op == "delete" && all(20)) {
            m_s.records.markDeleted(snap.id, "deleted");
            state = "deleted";
        } else if (out.op == "delete" && any(14)) {
            state = "created";
        }
        if (out.op == "reconcile" && all(24)) {
            m_s.records.markDeleted(snap.id, "deleted outside rksnap");
            state = "deleted";
        }
        if (out.op == "unprepare") {
            m_s.records.markDeleted(snap.id, "unprepared");
            state = "deleted";
        }
        if (out.op == "prepare" && !any(1)) {
            // Nothing was prepared: the name is free again, the record stays in the history.
            m_s.records.setSnapState(snap.id, state);
            m_s.records.markDeleted(snap.id, "prepare failed");
            state = "deleted";
        }
        if (state != snap.state && state != "deleted") m_s.records.setSnapState(snap.id, state);
        snap.state = state;
    }

    Session& m_s;
    std::unique_ptr<HostUtil> m_utilObj;
};

json deviceJson(const DeviceRecord& d, const std::string& hint) {
    json j = {{"device", d.device},
              {"status", d.status},
              {"statusName", statusName(d.status)},
              {"error", {{"code", d.errorCode}, {"message", d.errorText}}},
              {"snapDevice", d.snapDevice},
              {"lastOperation", d.lastOp},
              {"uniqueId", d.uniqueId},
              {"interrupted", d.intent}};
    if (!hint.empty()) j["hint"] = hint;
    return j;
}

json snapJson(const SnapRecord& s) {
    return {{"id", s.id},
            {"name", s.name},
            {"engine", s.engine},
            {"engineId", s.engineId},
            {"array", s.arrayName},
            {"state", s.state},
            {"created", timeText(s.createdAt)},
            {"deleted", s.deletedAt ? timeText(s.deletedAt) : ""},
            {"deleteOutcome", s.deleteOutcome}};
}

void printOutcome(const CallOutcome& c) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.2f", c.seconds);
    std::cout << c.op << " " << c.snap.name << ": " << (c.exitCode == 0 ? "ok" : "FAILED") << " ("
              << secs << " s)\n";
    std::vector<std::vector<std::string>> rows = {{"  DEVICE", "STATUS", "SNAP DEVICE", "ERROR"}};
    for (size_t i = 0; i < c.devices.size(); ++i) {
        const DeviceRecord& d = c.devices[i];
        rows.push_back({"  " + d.device, statusName(d.status),
                        d.snapDevice.empty() ? "-" : d.snapDevice,
                        d.errorCode ? std::to_string(d.errorCode) + " " + d.errorText : "-"});
    }
    std::cout << table(rows);
    for (size_t i = 0; i < c.devices.size(); ++i)
        if (!c.hints[i].empty() && (c.devices[i].errorCode || c.exitCode))
            std::cout << "  " << c.devices[i].device << ": " << c.hints[i] << "\n";
}

std::string defaultName() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "rksnap_%Y%m%d_%H%M%S", &tm);
    return buf;
}

bool validName(const std::string& n) {
    if (n.empty() || n.size() > 30) return false;
    for (char c : n)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    return true;
}

const char* const kInterruptedOutcome =
    "interrupted in snap before the array named its PiT; the plug-in removes any PiT it made "
    "once that is the oldest of its group";
const char* const kFailedOutcome =
    "deleted; the plug-in removes any PiT the failed snap made once that is the oldest of its "
    "group";

std::string idField(const std::string& id, int n) {
    size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = id.find('*', start);
        if (start == std::string::npos) return std::string();
        ++start;
    }
    return id.substr(start, id.find('*', start) - start);
}

bool named(const SnapRecord& r, const DeviceRecord& d) {
    std::string made = idField(d.uniqueId, r.engineId == 54 ? 9 : 7);
    return !made.empty() && made != "null";
}

// A snap that was killed before any of its devices recorded what it created.
bool interruptedBeforeNamed(const SnapRecord& r) {
    for (const DeviceRecord& d : r.devices)
        if (d.intent != "snap" || named(r, d)) return false;
    return !r.devices.empty();
}

// A snap that was killed after every device recorded what it created.
bool interruptedAfterNamed(const SnapRecord& r) {
    for (const DeviceRecord& d : r.devices)
        if (d.intent != "snap" || !named(r, d)) return false;
    return !r.devices.empty();
}

// A PiT snap that failed without naming a PiT: the array may have made one whose
// answer was lost.
bool failedBeforeNamed(const SnapRecord& r) {
    if (r.engineId != 54 || r.state != "create failed") return false;
    for (const DeviceRecord& d : r.devices)
        if (named(r, d)) return false;
    return true;
}

std::string interruptedIn(const SnapRecord& r) {
    for (const DeviceRecord& d : r.devices)
        if (!d.intent.empty()) return d.intent;
    return std::string();
}

int combine(const std::vector<CallOutcome>& calls) {
    if (calls.empty()) return kExitNone;
    int all = 0, none = 0, unreachable = 0;
    for (const CallOutcome& c : calls) {
        all += c.exitCode == kExitAll;
        none += c.exitCode == kExitNone;
        unreachable += c.exitCode == kExitUnreachable;
    }
    if (all == static_cast<int>(calls.size())) return kExitAll;
    if (unreachable && all == 0) return kExitUnreachable;
    if (none + unreachable == static_cast<int>(calls.size())) return kExitNone;
    return kExitSome;
}

}  // namespace

int runSnapCommand(const std::string& command, const Options& o) {
    Session s(o);
    if (!s.open(true, true)) return kExitNone;
    Runner runner(s);
    std::vector<CallOutcome> calls;
    std::vector<std::string> problems;

    auto newSnap = [&](SnapRecord* snap) {
        const EngineChoice* engine = nullptr;
        for (const EngineChoice& e : kEngines)
            if (o.engine == e.name) engine = &e;
        if (!engine) {
            problems.push_back("unknown engine '" + o.engine + "' (pit, cg, replica, clone)");
            return false;
        }
        if (o.devices.empty()) {
            problems.push_back(command + " needs devices");
            return false;
        }
        if (engine->cg && o.devices.size() < 2) {
            problems.push_back("a consistency group needs two or more devices");
            return false;
        }
        if (o.devices.size() > 256) {
            problems.push_back("at most 256 devices in one call");
            return false;
        }
        snap->name = o.name.empty() ? defaultName() : o.name;
        if (!validName(snap->name)) {
            problems.push_back("snapshot name '" + snap->name +
                               "' must be 1 to 30 letters, digits, '_' or '-'");
            return false;
        }
        if (!o.array.empty()) {
            ArrayEntry a;
            if (!s.config.findArray(o.array, &a)) {
                problems.push_back("no array '" + o.array + "' configured (rksnap array list)");
                return false;
            }
            snap->arrayName = a.name;
        }
        snap->engine = engine->name;
        snap->engineId = engine->id;
        snap->state = "preparing";
        for (size_t i = 0; i < o.devices.size(); ++i) {
            DeviceRecord d;
            d.position = static_cast<int>(i);
            d.device = o.devices[i];
            snap->devices.push_back(d);
        }
        std::string error;
        if (!s.records.createSnap(*snap, &error)) {
            problems.push_back(error);
            return false;
        }
        return true;
    };

    if (command == "prepare" || command == "snap") {
        SnapRecord snap;
        bool existing = !o.name.empty() && s.records.findSnap(o.name, false, &snap);
        if (existing && command == "prepare") {
            problems.push_back("a snapshot named '" + o.name + "' exists already");
        } else if (existing && !interruptedIn(snap).empty()) {
            problems.push_back("snapshot '" + o.name + "' was interrupted in " +
                               interruptedIn(snap) + ": run rksnap reconcile first");
        } else if (existing && snap.state != "prepared") {
            problems.push_back("snapshot '" + o.name + "' is " + snap.state + ", not prepared");
        } else if (existing || newSnap(&snap)) {
            if (!existing) {
                calls.push_back(runner.call(snap, "prepare", s.plugin.prepare));
                snap = calls.back().snap;
            }
            if (command == "snap" && snap.state == "prepared") {
                s.records.findSnap(snap.name, false, &snap);
                calls.push_back(runner.call(snap, "snap", s.plugin.snap));
            }
        }
    } else {
        struct {
            const char* op;
            rkso_devices_fn fn;
        } ops[] = {{"map", s.plugin.map},
                   {"unmap", s.plugin.unmap},
                   {"ismapped", s.plugin.isMapped},
                   {"revert", s.plugin.revert},
                   {"delete", s.plugin.remove},
                   {"reconcile", s.plugin.reconcile},
                   {"unprepare", s.plugin.unprepare}};
        rkso_devices_fn fn = nullptr;
        for (auto& e : ops)
            if (command == e.op) fn = e.fn;
        std::vector<SnapRecord> targets;
        if (command == "reconcile" && o.snaps.empty()) {
            for (SnapRecord& r : s.records.listSnaps(false)) targets.push_back(r);
        } else {
            for (const std::string& name : o.snaps) {
                SnapRecord r;
                if (s.records.findSnap(name, false, &r))
                    targets.push_back(r);
                else
                    problems.push_back("no snapshot named '" + name + "' (rksnap list)");
            }
        }
        for (SnapRecord& r : targets) {
            bool hasIdentifier = false;
            for (const DeviceRecord& d : r.devices)
                hasIdentifier = hasIdentifier || !d.uniqueId.empty();
            if (command == "reconcile" && !hasIdentifier) {
                // Never reached the array as far as the records know.
                s.records.markDeleted(r.id, "never created");
                continue;
            }
            const bool interrupted = interruptedBeforeNamed(r);
            if ((command == "reconcile" && interrupted) ||
                (command == "delete" && (interrupted || failedBeforeNamed(r)))) {
                // Killed (or its answer lost) between the array's work and the
                // identifier's write: a PiT it made is one no record names. The
                // plug-in's reconcile sweeps such PiTs from the oldest end of the
                // group; the record closes once that ran.
                calls.push_back(runner.call(r, "reconcile", s.plugin.reconcile));
                if (calls.back().exitCode == kExitAll) {
                    s.records.markDeleted(r.id, interrupted ? kInterruptedOutcome : kFailedOutcome);
                    calls.back().snap.state = "deleted";
                }
                continue;
            }
            const bool adopt = command == "reconcile" && interruptedAfterNamed(r);
            calls.push_back(runner.call(r, command, fn));
            CallOutcome& c = calls.back();
            if (adopt && c.exitCode == kExitAll && c.snap.state != "deleted") {
                // Killed after the array named the PiT: the snapshot exists, only
                // its outcome was lost.
                for (DeviceRecord& d : c.devices) {
                    d.status = RKSO::SNAP_STATUS_CREATED;
                    s.records.saveDevice(d);
                }
                s.records.setSnapState(r.id, "created");
                c.snap.state = "created";
            }
        }
    }

    int code = problems.empty() ? combine(calls) : kExitNone;
    if (command == "reconcile" && problems.empty() && calls.empty()) code = kExitAll;
    if (o.json) {
        json doc = {{"command", command}, {"calls", json::array()}, {"exitCode", code}};
        for (const CallOutcome& c : calls) {
            json cj = {{"operation", c.op},      {"snapshot", snapJson(c.snap)},
                       {"result", c.result},     {"seconds", c.seconds},
                       {"exitCode", c.exitCode}, {"devices", json::array()}};
            for (size_t i = 0; i < c.devices.size(); ++i)
                cj["devices"].push_back(deviceJson(c.devices[i], c.hints[i]));
            doc["calls"].push_back(cj);
        }
        if (!problems.empty()) doc["errors"] = problems;
        printJson(doc);
    } else {
        for (const CallOutcome& c : calls) printOutcome(c);
        for (const std::string& p : problems) std::cerr << "rksnap: " << p << std::endl;
        if (command == "reconcile" && calls.empty() && problems.empty())
            std::cout << "reconcile: nothing to check\n";
    }
    return code;
}

int runList(const Options& o) {
    Session s(o);
    if (!s.open(true, false)) return kExitNone;
    std::vector<SnapRecord> snaps = s.records.listSnaps(o.all);
    if (o.json) {
        json doc = {{"snapshots", json::array()}};
        for (const SnapRecord& r : snaps) {
            json j = snapJson(r);
            j["devices"] = json::array();
            for (const DeviceRecord& d : r.devices) j["devices"].push_back(deviceJson(d, ""));
            doc["snapshots"].push_back(j);
        }
        printJson(doc);
        return kExitAll;
    }
    std::vector<std::vector<std::string>> rows = {
        {"NAME", "ENGINE", "ARRAY", "STATE", "CREATED", "DEVICES", "NOTE"}};
    for (const SnapRecord& r : snaps) {
        std::string devices, note;
        for (const DeviceRecord& d : r.devices) {
            devices += (devices.empty() ? "" : ",") + d.device;
            if (!d.intent.empty())
                note = "interrupted in " + d.intent +
                       (interruptedBeforeNamed(r) ? ", may have made an unnamed PiT" : "") +
                       " (rksnap reconcile)";
        }
        if (r.deletedAt) note = r.deleteOutcome + " " + timeText(r.deletedAt);
        rows.push_back({r.name, r.engine, r.arrayName.empty() ? "-" : r.arrayName, r.state,
                        timeText(r.createdAt), devices, note});
    }
    std::cout << table(rows);
    return kExitAll;
}

int runShow(const Options& o) {
    Session s(o);
    if (!s.open(true, false)) return kExitNone;
    SnapRecord r;
    if (o.snaps.empty() || !s.records.findSnap(o.snaps.front(), true, &r)) {
        printError(o,
                   "no snapshot named '" + (o.snaps.empty() ? "" : o.snaps.front()) +
                       "' (rksnap list --all)",
                   kExitNone);
        return kExitNone;
    }
    std::vector<CallRecord> calls = s.records.calls(r.id);
    if (o.json) {
        json j = snapJson(r);
        j["devices"] = json::array();
        for (const DeviceRecord& d : r.devices) {
            json dj = deviceJson(d, "");
            dj["uniqueId"] = d.uniqueId;
            dj["capability"] = d.capability;
            j["devices"].push_back(dj);
        }
        j["calls"] = json::array();
        for (const CallRecord& c : calls)
            j["calls"].push_back({{"operation", c.op},
                                  {"started", timeText(c.startedAt)},
                                  {"ended", timeText(c.endedAt)},
                                  {"result", c.result},
                                  {"state", c.state}});
        printJson(j);
        return kExitAll;
    }
    std::cout << "Snapshot " << r.name << " (id " << r.id << ")\n"
              << "  engine   " << r.engine << " (" << r.engineId << ")\n"
              << "  array    " << (r.arrayName.empty() ? "-" : r.arrayName) << "\n"
              << "  state    " << r.state << "\n"
              << "  created  " << timeText(r.createdAt) << "\n";
    if (r.deletedAt)
        std::cout << "  deleted  " << timeText(r.deletedAt) << " (" << r.deleteOutcome << ")\n";
    for (const DeviceRecord& d : r.devices) {
        std::cout << "  device " << d.device << ": " << statusName(d.status);
        if (!d.snapDevice.empty()) std::cout << ", seen as " << d.snapDevice;
        if (d.errorCode) std::cout << ", error " << d.errorCode << " " << d.errorText;
        if (!d.intent.empty()) std::cout << ", interrupted in " << d.intent;
        std::cout << "\n    identifier " << (d.uniqueId.empty() ? "-" : d.uniqueId) << "\n";
    }
    std::vector<std::vector<std::string>> rows = {{"  CALL", "STARTED", "RESULT", "STATE"}};
    for (const CallRecord& c : calls)
        rows.push_back({"  " + c.op, timeText(c.startedAt),
                        c.result < 0 ? "-" : std::to_string(c.result), c.state});
    std::cout << table(rows);
    return kExitAll;
}

int runStatus(const Options& o) {
    Session s(o);
    if (!s.open(true, false)) return kExitNone;
    std::vector<DeviceRecord> last = s.records.lastPerDevice(o.devices);
    std::vector<SnapRecord> all = s.records.listSnaps(true);
    auto snapName = [&](int64_t id) {
        for (const SnapRecord& r : all)
            if (r.id == id) return r.name;
        return std::string("?");
    };
    if (o.json) {
        json doc = {{"devices", json::array()}};
        for (const DeviceRecord& d : last) {
            json j = deviceJson(d, "");
            j["snapshot"] = snapName(d.snapId);
            j["at"] = timeText(d.lastOpAt);
            doc["devices"].push_back(j);
        }
        printJson(doc);
        return kExitAll;
    }
    std::vector<std::vector<std::string>> rows = {
        {"DEVICE", "SNAPSHOT", "LAST CALL", "AT", "STATUS", "ERROR"}};
    for (const DeviceRecord& d : last)
        rows.push_back({d.device, snapName(d.snapId),
                        d.lastOp + (d.intent.empty() ? "" : " (interrupted)"), timeText(d.lastOpAt),
                        statusName(d.status),
                        d.errorCode ? std::to_string(d.errorCode) + " " + d.errorText : "-"});
    std::cout << table(rows);
    return kExitAll;
}

}  // namespace rksnap
