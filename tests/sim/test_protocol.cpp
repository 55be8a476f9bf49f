// The CIM side of requests (header checks, decoding, made-up answers), the fault
// rules and the request log, without sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimHttp.h"
#include "sim/server/CimHttp.h"
#include "sim/server/Faults.h"
#include "sim/server/RequestLog.h"

namespace {

using simtest::enumerateNames;

cim::xml::Request invoke(const std::string& ns, const std::string& cls, const std::string& method) {
    return simtest::invoke(
        cim::CIMObjectPath("", ns, cls,
                           {cim::CIMKeyBinding("Name", "svc", cim::CIMKeyBinding::STRING)}),
        ns, method);
}

sim::CimHeaders headersFor(const cim::xml::Request& r) {
    return sim::CimHeaders{"MethodCall", cim::xml::cimMethodHeader(r), cim::xml::cimObjectHeader(r),
                           "1.0"};
}

const char* kWellFormed =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
    "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"%s\"><MESSAGE ID=\"7\" PROTOCOLVERSION=\"1.0\">"
    "<SIMPLEREQ><IMETHODCALL NAME=\"EnumerateInstanceNames\"><LOCALNAMESPACEPATH>"
    "<NAMESPACE NAME=\"root\"/><NAMESPACE NAME=\"cimv2\"/></LOCALNAMESPACEPATH>"
    "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"PEER_StorageVolume\"/></IPARAMVALUE>"
    "</IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>";

std::string bodyWithDtd(const char* dtd) {
    char buf[1024];
    std::snprintf(buf, sizeof(buf), kWellFormed, dtd);
    return buf;
}

sim::CimHeaders rawHeaders(const std::string& method = "EnumerateInstanceNames",
                           const std::string& object = "root%2Fcimv2") {
    return sim::CimHeaders{"MethodCall", method, object, "1.0"};
}

}  // namespace

TEST(CimHttp, AcceptsWhatClientsSend) {
    auto ours = enumerateNames("root/netapp/santricity", "CIM_StorageVolume");
    auto method = invoke("root/netapp/santricity", "NETAPP_ReplicationService",
                         "CreateSynchronizationAspect");
    const std::string body = bodyWithDtd("2.0");
    sim::CimHeaders anyCase = rawHeaders();
    anyCase.operation = "methodcall";
    anyCase.protocolVersion.reset();
    // wbemcli encodes the namespace separator but sends the keys raw.
    const std::string wbemcli =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n"
        "<MESSAGE ID=\"4711\" PROTOCOLVERSION=\"1.0\"><SIMPLEREQ><METHODCALL "
        "NAME=\"TestJobMethod\"><LOCALINSTANCEPATH><LOCALNAMESPACEPATH><NAMESPACE "
        "NAME=\"root\"/><NAMESPACE NAME=\"cimv2\"/></LOCALNAMESPACEPATH><INSTANCENAME "
        "CLASSNAME=\"PEER_TestService\"><KEYBINDING NAME=\"Name\"><KEYVALUE "
        "VALUETYPE=\"string\">PeerService</KEYVALUE></KEYBINDING></INSTANCENAME>"
        "</LOCALINSTANCEPATH><PARAMVALUE NAME=\"Force\"><VALUE>false</VALUE></PARAMVALUE>"
        "</METHODCALL></SIMPLEREQ>\n</MESSAGE></CIM>";
    struct Row {
        const char* name;
        sim::CimHeaders headers;
        std::string body;
        sim::RequestKey key;
    } rows[] = {
        // clang-format off
        {"our encoder", headersFor(ours), cim::xml::encodeRequest(ours), {"EnumerateInstanceNames", "", "CIM_StorageVolume"}},
        {"our extrinsic call", headersFor(method), cim::xml::encodeRequest(method), {"InvokeMethod", "CreateSynchronizationAspect", "NETAPP_ReplicationService"}},
        {"raw CIMObject", rawHeaders("EnumerateInstanceNames", "root/cimv2"), body, {"EnumerateInstanceNames", "", "PEER_StorageVolume"}},
        {"any case, no protocol version", anyCase, body, {"EnumerateInstanceNames", "", "PEER_StorageVolume"}},
        {"wbemcli", {"MethodCall", "TestJobMethod", "root%2Fcimv2%3APEER_TestService.Name=\"PeerService\"", "1.0"}, wbemcli, {"InvokeMethod", "TestJobMethod", "PEER_TestService"}},
        // clang-format on
    };
    for (const Row& row : rows) {
        auto call = sim::acceptCimRequest(row.headers, row.body);
        ASSERT_TRUE(call.ok()) << row.name << ": " << call.rejection.detail;
        auto key = sim::requestKey(*call.request);
        EXPECT_EQ(key.operation, row.key.operation) << row.name;
        EXPECT_EQ(key.method, row.key.method) << row.name;
        EXPECT_EQ(key.className, row.key.className) << row.name;
    }
}

TEST(CimHttp, RefusesBadRequestsWithTheirCimError) {
    const std::string body = bodyWithDtd("2.0");
    // Entities are never expanded: a document type declaration is refused.
    const std::string bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
        "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">&b;</CIM>";
    cim::xml::Limits small;
    small.maxBytes = 64;
    struct Row {
        const char* name;
        sim::CimHeaders headers;
        std::string body;
        int status;
        const char* cimError;
        bool small = false;
    } rows[] = {
        // clang-format off
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

TEST(CimHttp, RequestKeyNamesTheTargetClass) {
    cim::xml::Request a;
    a.methodName = cim::xml::kAssociatorNames;
    a.objectName = cim::CIMObjectPath("", "", "NETAPP_StorageSystem", {});
    EXPECT_EQ(sim::requestKey(a).className, "NETAPP_StorageSystem");
}

TEST(Faults, MatchingCountsDownAndIgnoresCase) {
    sim::FaultInjector f;
    sim::FaultRule onlyVolumes;
    onlyVolumes.kind = sim::FaultKind::Http;
    onlyVolumes.count = 2;
    onlyVolumes.operation = "getinstance";
    onlyVolumes.className = "NETAPP_StorageVolume";
    f.add(onlyVolumes);

    sim::RequestKey other{"GetInstance", "", "NETAPP_StorageSystem"};
    sim::RequestKey volume{"GetInstance", "", "netapp_storagevolume"};
    EXPECT_FALSE(f.take(other));
    EXPECT_TRUE(f.take(volume));
    EXPECT_TRUE(f.take(volume));
    EXPECT_FALSE(f.take(volume));
    EXPECT_TRUE(f.rules().empty());

    sim::FaultRule forever;
    forever.kind = sim::FaultKind::Close;
    forever.count = -1;
    f.add(forever);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(f.take(other));
    f.clear();
    EXPECT_FALSE(f.take(other));
}

TEST(Faults, ReturnValueOnlyHitsExtrinsicCalls) {
    sim::FaultInjector f;
    sim::FaultRule rv;
    rv.kind = sim::FaultKind::ReturnValue;
    rv.returnValue = 4;
    f.add(rv);
    EXPECT_FALSE(f.take({"GetInstance", "", "X"}));
    auto hit = f.take({"InvokeMethod", "ExposePaths", "X"});
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->returnValue, 4u);
}

TEST(Faults, ConcurrentTakersNeverExceedTheCount) {
    sim::FaultInjector f;
    sim::FaultRule r;
    r.kind = sim::FaultKind::Http;
    r.count = 100;
    f.add(r);
    std::atomic<int> hits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (f.take({"GetInstance", "", "C"})) ++hits;
            }
        });
    }
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

    auto json = log.toJson();
    ASSERT_EQ(json["requests"].size(), 3u);
    auto back = sim::RequestRecord::fromJson(json["requests"][2]);
    EXPECT_EQ(back.operation, "Op4");

    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_FALSE(log.waitForCount(1, std::chrono::milliseconds(1)));
}
