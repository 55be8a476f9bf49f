// ModifyInstance and DeleteInstance, job controls, reset and state files, concurrent use.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SimModelTest.h"

using namespace simtest;
using cim::CIMObjectPath;
using nlohmann::json;

namespace {

cim::xml::Request modify(cim::CIMInstance inst, const std::vector<cim::CIMName>& list,
                         bool nullList = false) {
    auto r = op(cim::xml::kModifyInstance);
    r.includeQualifiers = true;
    if (!nullList) r.propertyList.set(list);
    r.modifiedInstance = std::move(inst);
    return r;
}

cim::CIMInstance with(cim::CIMInstance inst, const std::string& name, const cim::CIMValue& v) {
    const cim::Uint32 k = inst.findProperty(name);
    if (k == cim::PEG_NOT_FOUND)
        inst.addProperty(cim::CIMProperty(name, v));
    else
        inst.getProperty(k).setValue(v);
    return inst;
}

cim::CIMInstance fetch(sim::Provider& p, const CIMObjectPath& path) {
    return ok(p, getInstance(path)).instances.at(0);
}

sim::Config viewConfig(bool staleSecret = false) {
    json j = sim::Config::defaults().toJson();
    j["arrays"][0]["volumes"].push_back(
        {{"label", "snapview"}, {"kind", "view"}, {"blocks", 2048}});
    j["arrays"][0]["consistencyGroups"] = json::array({{{"label", "CG_A"}}});
    if (staleSecret) j["arrays"][0]["providerSecret"] = "stale";
    return sim::Config::fromJson(j);
}

}  // namespace

TEST(SimModify, RefusalsChangeNothingAndEchoNoSecretWhatFollowsTheRulesChanges) {
    sim::Provider p(viewConfig());
    const CIMObjectPath vol = volume(p, "ora_log");
    const cim::CIMInstance view = fetch(p, volume(p, "snapview"));
    const cim::CIMInstance secret = fetch(p, first(p, "CIM_SharedSecret"));
    const cim::CIMInstance whole = fetch(p, volume(p, "small_lun"));
    const CIMObjectPath gone = withKey(vol, "DeviceID", "6ABCDEF0000000000000000000000000");
    CIMObjectPath unknownPath = vol;
    unknownPath.setClassName("NETAPP_Unknown");
    cim::CIMInstance missing = fetch(p, vol), unknown = missing;
    missing.setPath(gone);
    unknown.setPath(unknownPath);
    auto elsewhere = modify(fetch(p, vol), {"ElementName"});
    elsewhere.nameSpace = "root/other";
    const CIMObjectPath link =
        ok(p, refNames(vol, "CIM_AllocatedFromStoragePool")).instanceNames.at(0);
    auto del = [](const CIMObjectPath& path) {
        auto r = op(cim::xml::kDeleteInstance);
        r.instanceName = path;
        return r;
    };
    auto name = [&](const cim::CIMValue& v) {
        return modify(with(view, "ElementName", v), {"ElementName"});
    };
    auto access = [&](const cim::CIMValue& v) {
        return modify(with(view, "Access", v), {"Access"});
    };
    const cim::CIMInstance colour = with(whole, "Colour", "red");
    // clang-format off
    const struct { const char* name; cim::xml::Request request; cim::CIMStatusCode code; } rows[] = {
        {"secret not a string", modify(with(secret, "Secret", cim::Uint16(7)), {"Secret"}), cim::CIM_ERR_INVALID_PARAMETER},
        {"secret with another change", modify(with(with(secret, "Secret", "leakme-123"), "ElementName", "renamed"), {"Secret", "ElementName"}), cim::CIM_ERR_NOT_SUPPORTED},
        {"secret too long", modify(with(secret, "Secret", std::string(2000, 'x')), {"Secret"}), cim::CIM_ERR_INVALID_PARAMETER},
        {"name with bad characters", name("bad name!"), cim::CIM_ERR_FAILED},
        {"name too long", name(std::string(31, 'n')), cim::CIM_ERR_FAILED},
        {"empty name", name(""), cim::CIM_ERR_FAILED},
        {"name taken in another case", name("ORA_LOG"), cim::CIM_ERR_FAILED},
        {"name of a consistency group", name("cg_a"), cim::CIM_ERR_FAILED},
        {"name not a string", name(cim::Uint16(3)), cim::CIM_ERR_INVALID_PARAMETER},
        {"access as uint8", access(cim::Uint8(3)), cim::CIM_ERR_INVALID_PARAMETER},
        {"access out of range", access(cim::Uint16(9)), cim::CIM_ERR_INVALID_PARAMETER},
        {"access null", access(cim::CIMValue(cim::CIMTYPE_UINT16, false)), cim::CIM_ERR_INVALID_PARAMETER},
        {"read-only property", modify(with(view, "NumberOfBlocks", cim::Uint64(1)), {"NumberOfBlocks"}), cim::CIM_ERR_NOT_SUPPORTED},
        {"unknown property in list", modify(view, {"Colour"}), cim::CIM_ERR_INVALID_PARAMETER},
        {"whole instance with two changes", modify(with(with(whole, "ElementName", "tiny2"), "BlockSize", cim::Uint64(4096)), {}, true), cim::CIM_ERR_NOT_SUPPORTED},
        {"whole instance with an unknown property", modify(colour, {}, true), cim::CIM_ERR_INVALID_PARAMETER},
        {"missing volume", modify(missing, {"ElementName"}), cim::CIM_ERR_NOT_FOUND},
        {"unknown class", modify(unknown, {"ElementName"}), cim::CIM_ERR_INVALID_CLASS},
        {"other namespace", elsewhere, cim::CIM_ERR_INVALID_NAMESPACE},
        {"an association", modify(fetch(p, link), {"SpaceConsumed"}), cim::CIM_ERR_NOT_SUPPORTED},
        {"delete a volume", del(vol), cim::CIM_ERR_NOT_SUPPORTED},
        {"delete a missing volume", del(gone), cim::CIM_ERR_NOT_FOUND},
        {"delete an association", del(link), cim::CIM_ERR_NOT_SUPPORTED},
        {"delete of an unknown class", del(unknownPath), cim::CIM_ERR_INVALID_CLASS},
        {"delete a running job", del(p.startJob(3600 * 1000)), cim::CIM_ERR_FAILED},
    };
    // clang-format on
    const json before = p.currentState().toJson();
    for (const auto& row : rows) {
        auto answer = p.handle(row.request);
        EXPECT_EQ(answer.errorCode, row.code) << row.name;
        for (const char* secretText : {"leakme", "xxxx"})
            EXPECT_EQ(answer.errorDescription.find(secretText), std::string::npos) << row.name;
    }
    EXPECT_EQ(p.currentState().toJson(), before);
    ok(p, name("host_snap-1#"));
    EXPECT_EQ(prop(fetch(p, view.getPath()), "ElementName"), "host_snap-1#");
    // A whole instance with one change or nulls for the rest of its class; unlisted ones ignored.
    ok(p, modify(with(whole, "ElementName", "tiny"), {}, true));
    EXPECT_EQ(prop(fetch(p, whole.getPath()), "ElementName"), "tiny");
    cim::CIMInstance wide = with(whole, "ElementName", "wide");
    wide.addProperty(cim::CIMProperty("Caption", cim::CIMValue(cim::CIMTYPE_STRING, false)));
    wide.addProperty(
        cim::CIMProperty("CommunicationStatus", cim::CIMValue(cim::CIMTYPE_UINT16, false)));
    ok(p, modify(wide, {}, true));
    EXPECT_EQ(prop(fetch(p, whole.getPath()), "ElementName"), "wide");
    ok(p, modify(with(whole, "BlockSize", cim::Uint64(4096)), {"ElementName"}));
    EXPECT_EQ(prop(fetch(p, whole.getPath()), "ElementName"), "small_lun");
}

// A stale secret also stays stale in the state file, when the configured one is current.
TEST(SimModify, StalePasswordBlocksViewChangesUntilTheSecretIsFixed) {
    sim::Provider p(viewConfig(true));
    const std::string path = ::testing::TempDir() + "simmodel-state-" + std::to_string(::getpid());
    p.saveState(path);
    EXPECT_EQ(sim::Config::loadState(path, sim::Config::defaults()).arrays[0].providerSecret, "");
    std::remove(path.c_str());
    CIMObjectPath view = volume(p, "snapview");
    auto rename = modify(with(fetch(p, view), "ElementName", "mapped1"), {"ElementName"});
    EXPECT_EQ(p.handle(rename).errorCode, cim::CIM_ERR_FAILED);
    ok(p, modify(with(fetch(p, first(p, "CIM_SharedSecret")), "Secret", "arraypw"), {"Secret"}));
    ok(p, rename);
    EXPECT_EQ(prop(fetch(p, view), "ElementName"), "mapped1");
}

TEST(SimProvider, ConcurrentRequestsStayConsistent) {
    ManualClock clock;
    sim::Provider p(sim::Config::defaults(), clock.clock());
    CIMObjectPath vol = volume(p, "exch_log");
    const cim::CIMInstance inst = fetch(p, vol);
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                std::string name = "exch_log_" + std::to_string(t) + "_" + std::to_string(i % 3);
                failures +=
                    p.handle(modify(with(inst, "ElementName", name), {"ElementName"})).isError();
            }
        });
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            while (!stop) {
                auto g = p.handle(getInstance(vol));
                failures += g.isError() || g.instances.size() != 1 ||
                            prop(g.instances[0], "ElementName").rfind("exch_log", 0) != 0;
                auto e = p.handle(enumNames("CIM_StorageVolume"));
                failures += e.isError() || e.instanceNames.size() != 8;
                auto a =
                    p.handle(assocNames(vol, "CIM_AllocatedFromStoragePool", "CIM_StoragePool"));
                failures += a.isError() || a.instanceNames.size() != 1;
                failures += p.fabricLuns({"10000090FA1B2C3D"})["luns"].size() != 4;
            }
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 100; ++i) {
            CIMObjectPath j = p.startJob(5);
            clock.advance(3);
            failures += p.handle(getInstance(j)).isError();
        }
    });
    for (size_t i = 0; i < 2; ++i) threads[i].join();
    threads.back().join();
    stop = true;
    for (size_t i = 2; i + 1 < threads.size(); ++i) threads[i].join();
    EXPECT_EQ(failures.load(), 0);
}

// Faults outside the job states are refused.
TEST(SimJobs, RequestStateChangeStopsARunningJob) {
    ManualClock clock;
    sim::Provider p(sim::Config::defaults(), clock.clock());
    EXPECT_THROW(p.startJob(10, 5), std::invalid_argument);
    EXPECT_THROW(p.failNextJobs(1, 4), std::invalid_argument);
    EXPECT_THROW(p.failNextJobs(-1, 10), std::invalid_argument);
    // The return value (a uint32) of RequestStateChange, or the CIM error.
    auto call = [&](const CIMObjectPath& job, const cim::CIMValue& state, bool typed = true) {
        std::vector<cim::CIMParamValue> in;
        if (!state.isNull()) in.emplace_back("RequestedState", state, typed);
        auto r = p.handle(invoke(job, "RequestStateChange", in));
        if (r.isError()) return "error " + std::to_string(r.errorCode);
        EXPECT_EQ(r.returnValue.getType(), cim::CIMTYPE_UINT32);
        return r.returnValue.toString();
    };
    const cim::CIMValue terminate(cim::Uint16(4));
    p.startJobWithEffect(1000, [](sim::Array& a) { a.volumes[0].label = "job_effect"; });
    CIMObjectPath job = first(p, "CIM_ConcreteJob");
    EXPECT_EQ(call(job, terminate), "0");
    auto stopped = fetch(p, job);
    EXPECT_EQ(prop(stopped, "JobState"), "8");
    EXPECT_NE(prop(stopped, "ErrorDescription"), "");
    EXPECT_EQ(call(job, terminate), "4097");  // finished already
    clock.advance(1000);
    for (const auto& v : ok(p, enumInstances("CIM_StorageVolume", {"ElementName"})).instances)
        EXPECT_NE(prop(v, "ElementName"), "job_effect")
            << "a stopped job must not apply its effect";
    CIMObjectPath other = p.startJob(1000), viaSuper = other;
    viaSuper.setClassName("CIM_ConcreteJob");
    const std::string invalid = "error " + std::to_string(cim::CIM_ERR_INVALID_PARAMETER);
    // clang-format off
    const struct { const char* name; CIMObjectPath job; cim::CIMValue state; bool typed; std::string answer; } rows[] = {
        {"no state, via the superclass", viaSuper, cim::CIMValue(), true, "5"},
        {"state 7", other, cim::CIMValue(cim::Uint16(7)), true, "5"},
        {"state 3", other, cim::CIMValue(cim::Uint16(3)), true, "4097"},
        {"untyped not a number", other, cim::CIMValue(std::string("abc")), false, invalid},
        {"typed as a string", other, cim::CIMValue(std::string("4")), true, invalid},
        {"untyped 5, via the superclass", viaSuper, cim::CIMValue(std::string("5")), false, "0"},
    };
    // clang-format on
    for (const auto& row : rows)
        EXPECT_EQ(call(row.job, row.state, row.typed), row.answer) << row.name;
    EXPECT_EQ(prop(fetch(p, other), "JobState"), "9");
    clock.advance(400000);
    EXPECT_EQ(call(other, terminate), "error " + std::to_string(cim::CIM_ERR_NOT_FOUND))
        << "expired";
}
