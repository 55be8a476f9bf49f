// Request checks, the fault injector under concurrent use and the request log, without sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <cim/xml/Codec.h>

#include "sim/server/CimHttp.h"
#include "sim/server/Faults.h"
#include "sim/server/RequestLog.h"
#include "testsupport/RawHttp.h"

namespace {

std::string bodyWithDtd(const std::string& dtd) {
    std::string body =
        cim::xml::encodeRequest(testsupport::enumerateNames("root/cimv2", "PEER_StorageVolume"));
    return body.replace(body.find("DTDVERSION=\"") + 12, 3, dtd);
}

sim::CimHeaders rawHeaders() {
    return sim::CimHeaders{"MethodCall", "EnumerateInstanceNames", "root%2Fcimv2", "1.0"};
}

}  // namespace

TEST(CimHttp, RefusesBadRequestsWithTheirCimError) {
    const std::string body = bodyWithDtd("2.0");
    // Entities are never expanded: a document type declaration is refused.
    const std::string bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
        "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">&b;</CIM>";
    cim::xml::Limits small;
    small.maxBytes = 64;
    // clang-format off
    struct Row {
        const char* name; sim::CimHeaders headers; std::string body; int status;
        const char* cimError; bool small = false;
    } rows[] = {
        {"no CIMOperation", {std::nullopt, "EnumerateInstanceNames", "root/cimv2", "1.0"}, body, 400, ""},
        {"not MethodCall", {"MethodResponse", "EnumerateInstanceNames", "root/cimv2", "1.0"}, body, 400, "unsupported-operation"},
        {"protocol 2.0", {"MethodCall", "EnumerateInstanceNames", "root/cimv2", "2.0"}, body, 501, "unsupported-protocol-version"},
        {"no CIMMethod", {"MethodCall", std::nullopt, "root/cimv2", "1.0"}, body, 400, "header-mismatch"},
        {"no CIMObject", {"MethodCall", "EnumerateInstanceNames", std::nullopt, "1.0"}, body, 400, "header-mismatch"},
        {"other method", {"MethodCall", "GetInstance", "root/cimv2", "1.0"}, body, 400, "header-mismatch"},
        {"other namespace", {"MethodCall", "EnumerateInstanceNames", "root%2Fother", "1.0"}, body, 400, "header-mismatch"},
        {"not well-formed", rawHeaders(), "<CIM><MESSAGE></CIM>", 400, "request-not-well-formed"},
        {"DTD 9.9", rawHeaders(), bodyWithDtd("9.9"), 501, "unsupported-dtd-version"},
        {"empty", rawHeaders(), "", 400, "request-not-well-formed"},
        {"entities", rawHeaders(), bomb, 400, "request-not-valid"},
        {"over the size limit", rawHeaders(), body, 400, "request-not-valid", true},
        // clang-format on
    };
    for (const Row& row : rows) {
        auto call =
            sim::acceptCimRequest(row.headers, row.body, row.small ? small : cim::xml::Limits());
        ASSERT_FALSE(call.ok()) << row.name;
        EXPECT_EQ(call.rejection.status, row.status) << row.name;
        EXPECT_EQ(call.rejection.cimError, row.cimError) << row.name;
    }
}

TEST(Faults, ConcurrentTakersNeverExceedTheCount) {
    sim::FaultInjector f;
    sim::FaultRule r;
    r.kind = sim::FaultKind::Http;
    r.count = 100;
    f.add(r);
    std::atomic<int> hits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) hits += f.take({"GetInstance", "", "C"}) ? 1 : 0;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(hits.load(), 100);
}

TEST(RequestLog, KeepsOrderCapacityAndWakesWaiters) {
    sim::RequestLog log(3);
    std::thread writer([&] {
        for (int i = 0; i < 5; ++i) {
            sim::RequestRecord r;
            r.operation = "Op" + std::to_string(i);
            log.add(r);
        }
    });
    EXPECT_TRUE(log.waitUntil(
        [](const std::vector<sim::RequestRecord>& v) { return !v.empty() && v.back().seq == 5; },
        std::chrono::seconds(10)));
    writer.join();
    auto records = log.snapshot();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.front().operation, "Op2");
    EXPECT_EQ(records.back().seq, 5u);
    EXPECT_GT(records.back().timeMs, 0);
    EXPECT_EQ(sim::RequestRecord::fromJson(log.toJson()["requests"].at(2)).operation, "Op4");
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_FALSE(log.waitForCount(1, std::chrono::milliseconds(1)));
}
