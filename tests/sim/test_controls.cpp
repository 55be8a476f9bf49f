// The controls later suites build on: the request log, removals behind the client's back, state.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "testsupport/RawHttp.h"
#include "testsupport/SimArrays.h"

using nlohmann::json;
using testsupport::client;
using testsupport::enumerateNames;
using testsupport::postCim;
using testsupport::volumeNames;

namespace {

// The JSON answer of a control request (a GET without a body) that must get `status`.
json control(sim::TestServer& s, const std::string& path, const char* body, int status = 200) {
    auto c = client(s);
    auto res = body ? c->Post(path, body, "application/json") : c->Get(path);
    EXPECT_TRUE(res && res->status == status)
        << path << " " << std::string(body ? body : "").substr(0, 60);
    return res ? json::parse(res->body, nullptr, false) : json();
}

int cimStatus(httplib::Client& c, const cim::xml::Request& r) {
    auto res = postCim(c, r);
    return res ? res->status : -1;
}

}  // namespace

TEST(SimControls, LogListsInParametersAndReturnValuesWithSecretsMasked) {
    sim::TestServer sim;
    const std::string ns = sim.arrayNamespace();
    const cim::CIMObjectPath job = sim.provider().startJob(3600 * 1000);
    auto call = testsupport::invoke(job, ns, "RequestStateChange");
    // clang-format off
    call.inParameters = {
        {"RequestedState", cim::CIMValue(cim::Uint16(4))}, {"Size", cim::CIMValue(cim::Uint64(1073741824))},
        {"ElementName", cim::CIMValue("clone_1")}, {"TheElement", cim::CIMValue(job)},
        {"Names", cim::CIMValue(cim::Array<cim::String>{"a", "b,c"})}, {"TargetPool", cim::CIMValue(cim::CIMTYPE_REFERENCE, false)},
        {"Secret", cim::CIMValue("S3cr3t-in-clear")}, {"NewPassword", cim::CIMValue("pw-in-clear")},
        {"OldPasswords", cim::CIMValue(cim::Array<cim::String>{"old-pw-in-clear"})}, {"Untyped", cim::CIMValue("7"), false}};
    const std::vector<std::string> expected = {
        "RequestedState uint16 4", "Size uint64 1073741824", "ElementName string clone_1",
        "TheElement reference " + job.toString(), "Names string[]  [a] [b,c]", "TargetPool reference null",
        "Secret string ****", "NewPassword string ****", "OldPasswords string[]  [****]", "Untyped untyped 7"};
    // clang-format on
    auto c = client(sim);
    ASSERT_EQ(cimStatus(*c, call), 200);
    sim.failReturnValue(4096, 1, {"", "RequestStateChange", ""});
    ASSERT_EQ(cimStatus(*c, call), 200);
    ASSERT_EQ(cimStatus(*c, testsupport::invoke(job, ns, "NoSuchMethod")), 200);
    auto records = sim.requests();
    ASSERT_EQ(records.size(), 3u);
    // Each parameter as "name type value", a null marked, an array's elements bracketed.
    std::vector<std::string> params;
    for (const auto& p : records[0].params) {
        params.push_back(p.name + " " + p.type + " " + (p.null ? "null" : "") + p.value);
        for (const auto& e : p.elements) params.back() += " [" + e + "]";
    }
    EXPECT_EQ(params, expected);
    EXPECT_EQ(records[0].returnValue, std::optional<uint32_t>(0));
    EXPECT_EQ(records[1].returnValue, std::optional<uint32_t>(4096)) << "an injected value";
    EXPECT_EQ(records[2].returnValue, std::nullopt) << "an error carries none";
    EXPECT_TRUE(records[2].params.empty());
    const json log = control(sim, "/control/log", nullptr);
    const std::string text = log.dump();
    for (const char* secret : {"S3cr3t-in-clear", "pw-in-clear", "old-pw-in-clear"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    EXPECT_EQ(log["requests"][0]["params"][5]["value"], nullptr);
    EXPECT_EQ(log["requests"][0]["params"][4]["value"], json::array({"a", "b,c"}));
    EXPECT_EQ(log["requests"][0]["returnValue"], 0);
}

TEST(SimControls, LogShowsWhichRequestsOverlapped) {
    sim::TestServer sim;
    const std::string ns = sim.arrayNamespace();
    auto c = client(sim);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(cimStatus(*c, enumerateNames(ns, "CIM_StoragePool")), 200);
    // A volume enumeration is held (by a delay only a stop ends) while two others are served.
    sim.delay(std::chrono::hours(1), 1, {"", "", "CIM_StorageVolume"});
    std::thread held([&] { postCim(*client(sim), volumeNames(sim)); });
    ASSERT_TRUE(
        sim.log().waitForInFlight("EnumerateInstanceNames", "", 1, std::chrono::seconds(30)));
    ASSERT_EQ(cimStatus(*c, volumeNames(sim)), 200);
    sim.server().stop();
    held.join();
    auto r = sim.requests();
    ASSERT_EQ(r.size(), 5u);
    auto overlap = [](const sim::RequestRecord& a, const sim::RequestRecord& b) {
        return a.beginTick < b.endTick && b.beginTick < a.endTick;
    };
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(overlap(r[i], r[i + 1])) << "one after another on one connection " << i;
        EXPECT_EQ(r[i].inFlight, 1) << i;
    }
    const auto& second = r[3];
    const auto& first = r[4];  // logged when the stop ended its delay
    EXPECT_EQ(first.fault, "stopping");
    EXPECT_TRUE(overlap(first, second));
    EXPECT_EQ(first.inFlight, 1);
    EXPECT_EQ(second.inFlight, 2) << "the held one was still in flight";
}

TEST(SimControls, ControlInterfaceSetsFaultsAndReportsTheLog) {
    sim::TestServer sim;
    const char* fault =
        R"({"kind":"cim-error","code":6,"description":"gone","operation":"EnumerateInstanceNames"})";
    EXPECT_TRUE(control(sim, "/control/faults", fault).contains("id"));
    auto faults = control(sim, "/control/faults", nullptr)["faults"];
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0]["kind"], "cim-error");
    auto c = client(sim);
    auto res = postCim(*c, volumeNames(sim));
    ASSERT_TRUE(res);
    EXPECT_EQ(cim::xml::decodeResponse(res->body).errorCode, cim::CIM_ERR_NOT_FOUND);
    auto entries = control(sim, "/control/log", nullptr)["requests"];
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["operation"], "EnumerateInstanceNames");
    EXPECT_EQ(entries[0]["namespace"], sim.arrayNamespace());
    EXPECT_EQ(entries[0]["cimStatus"], 6);
    EXPECT_EQ(entries[0]["fault"], "cim-error");
    EXPECT_TRUE(entries[0].contains("timeMs"));
    EXPECT_TRUE(entries[0].contains("connection"));
    const std::pair<const char*, const char*> settings[] = {
        {"/control/latency", R"({"ms":1})"},
        {"/control/jobs", R"({"outcome":"Exception","count":2})"},
        {"/control/jobs", R"({"outcome":"terminated"})"},
        {"/control/jobs", R"({"outcome":"Killed","skip":2})"},
        {"/control/jobs", R"({"vanish":false})"},
        {"/control/faults", R"({"kind":"http","status":503,"count":-1})"},
        {"/control/faults", R"({"kind":"hang","holdMs":20})"},
        {"/control/reset", ""}};
    for (const auto& [path, body] : settings) control(sim, path, body);
    EXPECT_TRUE(sim.faults().rules().empty());
    EXPECT_EQ(sim.faults().latencyMs(), 0);
    EXPECT_EQ(sim.log().size(), 0u);
    EXPECT_EQ(postCim(*c, volumeNames(sim))->status, 200);
    EXPECT_EQ(c->Delete("/control/log")->status, 200);
    EXPECT_EQ(sim.log().size(), 0u);
}

TEST(SimControls, RemovingAnObjectTakesWhatDependsOnIt) {
    const sim::Config config = testsupport::richConfig();
    sim::TestServer sim(config);
    using K = sim::RemovableKind;
    // Volumes gone; then what is left of each list, and members of the consistency group.
    // clang-format off
    const char* lists[] = {"pitGroups", "pits", "views", "consistencyGroups", "cgPits", "cgPitViews", "mappings", "syncs"};
    struct Row { const char* name; K kind; std::string target; std::string gone; std::vector<size_t> left; } rows[] = {
        {"base with a PiT group, CG member view, clone", K::Volume, "src1", "mv1 src1 view1", {0, 0, 1, 1, 1, 1, 1, 1, 1}},
        {"base with a legacy snapshot and a mapping", K::Volume, "SRC2", "mv2 snap1 src2", {1, 2, 2, 1, 1, 1, 1, 1, 1}},
        {"clone target", K::Volume, "clone1", "clone1", {1, 2, 3, 1, 1, 1, 2, 1, 2}},
        {"legacy snapshot", K::Volume, "snap1", "snap1", {1, 2, 3, 1, 1, 1, 2, 1, 2}},
        {"PiT with a mapped view", K::PiT, config.arrays[0].pits[0].id, "view1", {1, 1, 2, 1, 1, 1, 1, 2, 2}},
        {"CG PiT with its view", K::PiT, config.arrays[0].cgPits[0].id, "mv1 mv2", {1, 2, 1, 1, 0, 0, 2, 2, 2}},
        {"PiT view", K::PiTView, "view1", "view1", {1, 2, 2, 1, 1, 1, 1, 2, 2}},
        {"CG view by label", K::PiTView, "CGVIEW1", "mv1 mv2", {1, 2, 1, 1, 1, 0, 2, 2, 2}},
        {"one member of a CG view", K::PiTView, "mv1", "mv1", {1, 2, 2, 1, 1, 1, 2, 2, 2}},
        {"PiT group", K::PiTGroup, "src1_SMIS_PG", "view1", {0, 0, 2, 1, 1, 1, 1, 2, 2}},
        {"consistency group", K::ConsistencyGroup, "1A_2", "mv1 mv2", {1, 2, 1, 0, 0, 0, 2, 2, 0}},
        {"mapping", K::Mapping, "view1", "", {1, 2, 3, 1, 1, 1, 1, 2, 2}},
    };
    // clang-format on
    auto labels = [](const json& a) {
        std::set<std::string> out;
        for (const auto& v : a["volumes"]) out.insert(v["label"].get<std::string>());
        return out;
    };
    const std::set<std::string> all = labels(sim.state()["arrays"][0]);
    for (const Row& row : rows) {
        sim.reset();
        ASSERT_FALSE(sim.removeObject(row.kind, row.target).empty()) << row.name;
        json a = sim.state()["arrays"][0];
        std::string gone;
        const auto left = labels(a);
        for (const auto& l : all)
            if (!left.count(l)) gone += (gone.empty() ? "" : " ") + l;
        EXPECT_EQ(gone, row.gone) << row.name;
        std::vector<size_t> counts;
        for (const char* list : lists) counts.push_back(a[list].size());
        counts.push_back(
            a["consistencyGroups"].empty() ? 0 : a["consistencyGroups"][0]["members"].size());
        EXPECT_EQ(counts, row.left) << row.name;
    }
    // clang-format off
    struct Missing { K kind; const char* target; } missing[] = {
        {K::Volume, "nope"}, {K::PiTView, "src1"}, {K::Mapping, "src1"}, {K::PiT, "junk"},
        {K::PiTGroup, "src2_SMIS_PG"}, {K::ConsistencyGroup, "src1"}};
    // clang-format on
    sim.reset();
    const json before = sim.state();
    for (const Missing& m : missing) {
        EXPECT_THROW(sim.removeObject(m.kind, m.target), std::invalid_argument)
            << sim::removableKindName(m.kind) << " " << m.target;
    }
    EXPECT_EQ(sim.state(), before);
}

TEST(SimControls, RemovalJustBeforeTheNthMatchingRequest) {
    sim::TestServer sim(testsupport::richConfig());
    const std::string ns = sim.arrayNamespace();
    auto volumeCount = [&](httplib::Client& c) {
        auto res = postCim(c, volumeNames(sim));
        return res ? cim::xml::decodeResponse(res->body).instanceNames.size() : size_t(0);
    };
    auto c = client(sim);
    const size_t all = volumeCount(*c);
    const char* nth =
        R"({"object":"volume","target":"src2","className":"CIM_StorageVolume","nth":2})";
    EXPECT_TRUE(control(sim, "/control/remove", nth).contains("id"));
    EXPECT_EQ(control(sim, "/control/remove", nullptr)["pending"].size(), 1u);
    ASSERT_EQ(cimStatus(*c, enumerateNames(ns, "CIM_StoragePool")), 200);
    EXPECT_EQ(volumeCount(*c), all) << "the first matching request";
    EXPECT_EQ(volumeCount(*c), all - 3) << "src2 with its member view and snapshot";
    EXPECT_EQ(volumeCount(*c), all - 3);
    auto r = sim.requests();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[1].removed, "") << "a pool enumeration does not match";
    EXPECT_EQ(r[3].removed.rfind("volume src2 (", 0), 0u) << r[3].removed;
    EXPECT_EQ(r[4].removed, "");
    // From the API, by method; an object already gone is reported, not thrown.
    sim.removeBefore(sim::RemovableKind::PiTView, "view1", {"", "", ""});
    sim.removeBefore(sim::RemovableKind::PiTView, "view1", {"EnumerateInstanceNames", "", ""});
    ASSERT_EQ(cimStatus(*c, enumerateNames(ns, "CIM_StoragePool")), 200);
    EXPECT_NE(sim.requests().back().removed.find("volume view1"), std::string::npos);
    EXPECT_NE(sim.requests().back().removed.find("nothing removed: no pitView"), std::string::npos);
    // At once over HTTP, and reset brings the array back.
    control(sim, "/control/remove", R"({"object":"mapping","target":"SRC1"})", 404);
    const char* group = R"({"object":"pitGroup","target":"src1_SMIS_PG"})";
    EXPECT_EQ(control(sim, "/control/remove", group)["removed"].size(), 3u);
    control(sim, "/control/reset", "");
    EXPECT_EQ(volumeCount(*c), all);
}

TEST(SimControls, ControlRequestsRefuseBadInputWithoutEchoingIt) {
    sim::TestServer sim;
    const std::string junk(5000, 'Q');
    // clang-format off
    struct Row { const char* path; std::string body; } rows[] = {
        {"/control/faults", "{"},
        {"/control/faults", "[]"},
        {"/control/faults", R"({"kind":"boom"})"},
        {"/control/faults", R"({"kind":"http","status":"x"})"},
        {"/control/faults", R"({"kind":"http","count":0})"},
        {"/control/faults", R"({"kind":"http","skip":-1})"},
        {"/control/faults", R"({"kind":"http","skip":"two"})"},
        {"/control/faults", R"({"kind":"hang","holdMs":-5})"},
        {"/control/faults", R"({"count":1})"},
        {"/control/faults", R"({"kind":"http","status":99})"},
        {"/control/faults", R"({"kind":"delay","delayMs":-1})"},
        {"/control/faults", R"({"kind":"return-value","value":-4})"},
        {"/control/faults", R"({"kind":"return-value","value":99999999999})"},
        {"/control/faults", R"({"kind":"http","className":7})"},
        {"/control/remove", R"({"object":"lun","target":"x"})"},
        {"/control/remove", R"({"object":"volume"})"},
        {"/control/remove", R"({"object":"volume","target":"x","nth":0})"},
        {"/control/remove", R"({"object":"volume","target":7})"},
        {"/control/remove", "[1,2"},
        {"/control/remove", R"({"object":")" + junk},
        {"/control/faults", "{\"kind\": " + junk},
        {"/control/latency", R"({"ms":-5})"},
        {"/control/latency", R"({"ms":"fast"})"},
        {"/control/jobs", R"({"outcome":"Exploded"})"},
        {"/control/jobs", R"({"outcome":"Exception","count":0})"},
        {"/control/jobs", R"({"outcome":"Exception","skip":-1})"},
        {"/control/jobs", R"({})"},
        {"/control/jobs", R"({"vanish":"yes"})"},
    };
    // clang-format on
    for (const Row& row : rows) {
        const json answer = control(sim, row.path, row.body.c_str(), 400);
        ASSERT_TRUE(answer.contains("error")) << row.body.substr(0, 60);
        EXPECT_EQ(answer["error"].get<std::string>().find("QQQQ"), std::string::npos);
    }
    EXPECT_TRUE(sim.faults().rules().empty());
    EXPECT_TRUE(sim.server().removals().rules().empty());
}

TEST(SimControls, StateHidesEveryCredential) {
    // clang-format off
    struct Row { const char* name; const char* arrayPassword; const char* providerSecret; bool current; } rows[] = {
        {"secret up to date", "Array-Pw-1", "Array-Pw-1", true},
        {"stale secret", "Array-Pw-2", "Old-Secret-2", false},
        {"never shared", "Array-Pw-3", "", false},
    };
    // clang-format on
    for (const Row& row : rows) {
        json j = sim::Config::defaults().toJson();
        j["password"] = "Server-Pw-0";
        j["arrays"][0]["password"] = row.arrayPassword;
        j["arrays"][0]["providerSecret"] = row.providerSecret;
        sim::TestServer sim(sim::Config::fromJson(j));
        const json state = control(sim, "/control/state", nullptr);
        const std::string text = state.dump();
        for (const char* secret : {"Server-Pw-0", row.arrayPassword, row.providerSecret})
            EXPECT_TRUE(!*secret || text.find(secret) == std::string::npos)
                << row.name << ": " << secret;
        EXPECT_EQ(state["arrays"][0]["providerSecretCurrent"], row.current) << row.name;
        EXPECT_EQ(state["arrays"][0]["volumes"].size(), 8u) << row.name;
        EXPECT_EQ(state, sim.state()) << row.name;
    }
}
