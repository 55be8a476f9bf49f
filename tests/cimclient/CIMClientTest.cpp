// CIMClient: connection rules, answers that do not fit, error words the retries rely on,
// answers handed on while they arrive, and replayed answers of an independent server (each
// call sends what the recorded client sent; what the answers hold is tests/cim's).
#include <cim/CIMClient.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <testsupport/LoopbackServer.h>

#include "Failure.h"
#include "testsupport/RandomCim.h"

using namespace cim;
using namespace cimtest;
using testsupport::describeResults;

namespace {

const char* kNames =
    "<IRETURNVALUE>\n<INSTANCENAME CLASSNAME=\"LSISSI_StorageVolume\">\n"
    "<KEYBINDING NAME=\"DeviceID\"><KEYVALUE VALUETYPE=\"string\">V1</KEYVALUE></KEYBINDING>\n"
    "</INSTANCENAME>\n</IRETURNVALUE>\n";
const char* kCut = "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"V\"><KEYBINDING NAME=\"K\">";
const CIMNamespaceName kNs("root/LsiArray13");

// Answers every request with what make() returns for the request's message ID.
struct Server {
    explicit Server(std::function<std::string(const std::string& id)> make)
        : raw([make](const RawRequest& r) {
              return RawReply{make(messageIdOf(r.body)), RawReply::Send};
          }) {
        client.connect("127.0.0.1", raw.port(), "u", "p");
    }
    RawServer raw;
    CIMClient client;
};

std::string names(const std::string& id) {
    return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kNames), {});
}

const CIMObjectPath kTarget = CIMObjectPath::parse("LSISSI_StorageVolume.DeviceID=\"V1\"");

// Answers every operation with the same generated results for its method.
RawReply generated(const RawRequest& r) {
    const std::string* method = r.header("CIMMethod");
    testsupport::RandomCim g(42);
    xml::Response answer;
    answer.messageId = messageIdOf(r.body);
    answer.methodName = method ? *method : "";
    answer.hasReturnValue = true;
    const bool paths = answer.methodName.find("Names") != std::string::npos;
    const bool withNamespace = answer.methodName.rfind("Enumerate", 0) != 0;
    for (int i = 0; i < 40; ++i) {
        if (paths) {
            answer.instanceNames.push_back(g.path(0, withNamespace));
        } else {
            CIMInstance inst = g.instance();
            inst.setPath(g.path(0, withNamespace));
            answer.instances.push_back(inst);
        }
    }
    return {cimChunkedResponse(xml::encodeResponse(answer), {}, 333), RawReply::Send};
}

}  // namespace

TEST(CIMClientConnect, OneConnectAtATimeAndNoCallsWithoutOne) {
    CIMClient refused;
    EXPECT_THROW(refused.connect("127.0.0.1", closedPort(), SSLContext(), "u", "p"),
                 CannotConnectException);
    Server s(names);
    CIMClient& c = s.client;
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), "u", "p"), AlreadyConnectedException);
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), SSLContext(), "u", "p"),
                 AlreadyConnectedException);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(c.enumerateInstanceNames(kNs, "CIM_StorageVolume").at(0).toString(),
                  "LSISSI_StorageVolume.DeviceID=\"V1\"");
    EXPECT_EQ(s.raw.connections(), 1);
    std::set<std::string> ids;
    for (const auto& r : s.raw.requests()) ids.insert(messageIdOf(r.body));
    EXPECT_EQ(ids.size(), 10u) << "every request has its own message ID";
    // Requests that cannot be sent never leave.
    EXPECT_THROW(c.enumerateInstanceNames(CIMNamespaceName(), "CIM_StorageVolume"), Exception);
    EXPECT_THROW(c.modifyInstance(kNs, CIMInstance("X")), Exception);  // no path
    EXPECT_EQ(s.raw.requests().size(), 10u);
    c.disconnect();
    EXPECT_FALSE(c.isConnected());
    EXPECT_THROW(c.enumerateInstanceNames(kNs, "CIM_StorageVolume"), NotConnectedException);
    c.disconnect();
}

// An answer that is not the answer to this request is a ParseException naming why, unless a
// CIM error in the trailers explains it; either way the connection stays usable.
TEST(CIMClientAnswers, AnswersThatDoNotFitTheRequestAreParseErrors) {
    using Id = const std::string&;
    const struct {
        const char* name;
        std::function<std::string(Id)> answer;
        const char* words;
    } cases[] = {
        // clang-format off
        {"not CIM", [](Id) { return httpResponse(200, "OK", {{"Content-Type", "text/html"}, {"Content-Length", "22"}}, "<html>not cim</html>\r\n"); }, ""},
        {"malformed", [](Id id) {
             std::string body = simpleResponse(id, "EnumerateInstanceNames", kNames);
             return cimResponse(body.substr(0, body.size() / 2) + "</WRONG>"); }, "malformed"},
        {"empty", [](Id) { return cimResponse(""); }, ""},
        {"another message ID", [](Id) { return cimResponse(simpleResponse("999999", "EnumerateInstanceNames", kNames)); }, "message ID"},
        {"another method", [](Id id) { return cimResponse(simpleResponse(id, "EnumerateInstances", kNames)); }, ""},
        {"cut short, CIM error in the trailers", [](Id id) { return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kCut), {{"CIMStatusCode", "1"}}); }, "cim 1: "},
        {"cut short, chunked", [](Id id) { return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kCut), {}); }, "parse: "},
        // clang-format on
    };
    for (const auto& c : cases) {
        Server s(c.answer);
        auto call = [&] {
            return failure([&] { s.client.enumerateInstanceNames(kNs, "CIM_StorageVolume"); });
        };
        const char* prefix = std::string(c.words).rfind("cim ", 0) == 0 ? c.words : "parse: ";
        for (const std::string& got : {call(), call()}) {
            EXPECT_EQ(got.rfind(prefix, 0), 0u) << c.name << ": " << got;
            EXPECT_NE(got.find(c.words), std::string::npos) << c.name << ": " << got;
        }
        EXPECT_EQ(s.raw.connections(), 1) << c.name << ": the answer was read to its end";
    }
    Server noInstance([](const std::string& id) {
        return cimResponse(simpleResponse(id, "GetInstance", "<IRETURNVALUE>\n</IRETURNVALUE>\n"));
    });
    EXPECT_THROW(noInstance.client.getInstance(kNs, CIMObjectPath::parse("X.K=\"1\"")),
                 ParseException);
}

// A method goes to the namespace given, not the path's; an error's status name is kept once.
TEST(CIMClientRequests, MethodsGoToTheGivenNamespaceAndErrorsKeepTheirName) {
    Server s([n = 0](const std::string& id) mutable {
        if (n++ == 1)  // the second request
            return cimResponse(simpleResponse(
                id, "GetInstance",
                "<ERROR CODE=\"6\" DESCRIPTION=\"CIM_ERR_NOT_FOUND: X.K=&quot;1&quot;\"/>"));
        return cimResponse(simpleResponse(
            id, "CreateSynchronizationAspect",
            "<RETURNVALUE PARAMTYPE=\"uint32\"><VALUE>0</VALUE></RETURNVALUE>\n", false));
    });
    Array<CIMParamValue> out;
    CIMValue ret = s.client.invokeMethod(
        kNs, CIMObjectPath::parse("//otherhost/other/ns:LSISSI_ReplicationService.Name=\"R\""),
        "CreateSynchronizationAspect", {CIMParamValue("SyncType", CIMValue(Uint16(7)))}, out);
    EXPECT_EQ(ret.toString(), "0");
    const RawRequest sent = s.raw.requests().at(0);
    EXPECT_EQ(sent.header("CIMObject")->rfind("root%2FLsiArray13%3ALSISSI_ReplicationService", 0),
              0u);
    EXPECT_EQ(*sent.header("CIMMethod"), "CreateSynchronizationAspect");
    EXPECT_EQ(failure([&] { s.client.getInstance(kNs, CIMObjectPath::parse("X.K=\"1\"")); }),
              "cim 6: CIM_ERR_NOT_FOUND: X.K=\"1\" | X.K=\"1\"");
}

TEST(ClientForEach, HandsOverWhatTheCollectingFormsReturnUntilTheCallbackThrows) {
    RawServer server(generated);
    CIMClient c;
    c.connect("127.0.0.1", server.port(), "u", "p");
    std::vector<CIMInstance> instances;
    std::vector<CIMObjectPath> paths;
    auto onInstance = [&](CIMInstance&& i) { instances.push_back(std::move(i)); };
    auto onPath = [&](CIMObjectPath&& p) { paths.push_back(std::move(p)); };
    struct Case {
        const char* name;
        std::function<std::string()> collected;
        std::function<void()> handedOver;
    } cases[] = {
        // clang-format off
        {"EnumerateInstances", [&] { return describeResults(c.enumerateInstances(kNs, "CIM_StorageVolume")); }, [&] { c.forEachInstance(kNs, "CIM_StorageVolume", onInstance); }},
        {"EnumerateInstanceNames", [&] { return describeResults({}, c.enumerateInstanceNames(kNs, "CIM_StorageVolume")); }, [&] { c.forEachInstanceName(kNs, "CIM_StorageVolume", onPath); }},
        {"Associators", [&] { return describeResults(c.associators(kNs, kTarget)); }, [&] { c.forEachAssociator(kNs, kTarget, onInstance); }},
        {"AssociatorNames", [&] { return describeResults({}, c.associatorNames(kNs, kTarget)); }, [&] { c.forEachAssociatorName(kNs, kTarget, onPath); }},
        {"References", [&] { return describeResults(c.references(kNs, kTarget)); }, [&] { c.forEachReference(kNs, kTarget, onInstance); }},
        {"ReferenceNames", [&] { return describeResults({}, c.referenceNames(kNs, kTarget)); }, [&] { c.forEachReferenceName(kNs, kTarget, onPath); }},
        // clang-format on
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string expected = k.collected();
        instances.clear();
        paths.clear();
        k.handedOver();
        EXPECT_EQ(instances.size() + paths.size(), 40u);
        EXPECT_EQ(describeResults(instances, paths), expected);
    }
    EXPECT_EQ(server.connections(), 1);
    // A callback that throws stops the call and the next call works.
    int seen = 0;
    EXPECT_THROW(c.forEachInstanceName(kNs, "CIM_StorageVolume",
                                       [&](CIMObjectPath&&) {
                                           if (++seen == 3) throw std::runtime_error("found it");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(seen, 3);
    // The rest of that answer was never read: the connection went, the next call opens one.
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "CIM_StorageVolume").size(), 40u);
    EXPECT_EQ(server.connections(), 2);
}

namespace {

std::string vol(const std::string& id) {
    return "PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID=\"" + id +
           "\",SystemCreationClassName=\"PEER_ComputerSystem\",SystemName=\"SYS-A\"";
}

const std::string kVolume = vol("600A0B80002A1B3C0000");
const char* kSystem =
    "PEER_ComputerSystem.CreationClassName=\"PEER_ComputerSystem\",Name=\"SYS-A\"";
const char* kService =
    "PEER_TestService.CreationClassName=\"PEER_TestService\",Name=\"PeerService\","
    "SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"peer.example\"";

CIMObjectPath P(const std::string& text) {
    return CIMObjectPath::parse(text);
}

// Replays one recorded answer (with the request's message ID) for every request.
class Replay {
  public:
    explicit Replay(const std::string& sample)
        : m_sample(sample),
          m_response(loadRecorded(sample + ".response.http")),
          m_server([this](const RawRequest& r) {
              return RawReply{replay(m_response, messageIdOf(r.body)), RawReply::Send};
          }) {
        client.connect("127.0.0.1", m_server.port(), "root", "secret");
    }
    // Our request and the recorded one agree on everything that means something: both
    // decoded and written again by one encoder give the same text, and the HTTP headers
    // name the same method and object.
    void expectSameRequest() const {
        auto sent = m_server.requests();
        ASSERT_EQ(sent.size(), 1u);
        RecordedMessage recorded = loadRecorded(m_sample + ".request.http");
        xml::Request ours = xml::decodeRequest(sent[0].body);
        xml::Request theirs = xml::decodeRequest(recorded.body);
        ours.messageId = theirs.messageId;
        EXPECT_EQ(xml::encodeRequest(ours), xml::encodeRequest(theirs)) << m_sample;
        EXPECT_TRUE(ours.unknownParameters.empty());
        EXPECT_EQ(field(sent[0].headers, "CIMMethod"), field(recorded.headers, "CIMMethod"));
        EXPECT_EQ(xml::percentDecode(field(sent[0].headers, "CIMObject")),
                  xml::percentDecode(field(recorded.headers, "CIMObject")));
        EXPECT_EQ(field(sent[0].headers, "CIMOperation"), "MethodCall");
    }
    CIMClient client;

  private:
    std::string m_sample;
    RecordedMessage m_response;
    RawServer m_server;
};

// Properties marked as the recorded client marks them.
CIMInstance volumeInstance(const std::vector<std::pair<const char*, CIMValue>>& properties) {
    CIMInstance i("PEER_StorageVolume");
    for (const auto& [name, value] : properties)
        i.addProperty(CIMProperty(name, value, 0, CIMName(), CIMName(), true));
    return i;
}

CIMValue S(const char* text) {
    return CIMValue(std::string(text));
}

}  // namespace

TEST(WireTest, EveryRecordedExchange) {
    if (wireDir().empty()) GTEST_SKIP() << "recorded samples not present";
    using Call = std::function<std::string(CIMClient&)>;
    auto names = [](const char* cls) -> Call {
        return [=](CIMClient& c) {
            return describeResults({}, c.enumerateInstanceNames("root/cimv2", cls));
        };
    };
    auto getVolume = [](const std::string& path) -> Call {
        return
            [=](CIMClient& c) { return describeResults({c.getInstance("root/cimv2", P(path))}); };
    };
    const Call volumeNames = names("PEER_StorageVolume");
    const CIMPropertyList someProperties(
        std::vector<CIMName>{"DeviceID", "ElementName", "NumberOfBlocks", "OperationalStatus"});
    const struct {
        const char* sample;
        Call call;
        std::vector<std::string> expect;  // each appears in what the call handed over
        bool sameRequest = true;
    } cases[] = {
        // clang-format off
        {"01-EnumerateInstanceNames", volumeNames, {"DeviceID=\"VOL \\\"Q\\\" \\\\ 1\""}},
        {"02-EnumerateInstances", [](CIMClient& c) {
             auto all = c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false, false, false);
             for (const auto& i : all)  // the instance carries its own path
                 if (i.getPath().findKeyBinding("DeviceID")->getValue() != i.getProperty(i.findProperty("DeviceID")).getValue().toString()) return std::string("PATH-MISMATCH");
             return describeResults(all);
         }, {"instance PEER_StorageVolume at PEER_StorageVolume."}},
        {"03-EnumerateInstances-propertylist", [&](CIMClient& c) { return describeResults(c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false, false, false, someProperties)); }, {"NumberOfBlocks uint64 =2097152"}},
        // The instance carries the path it was read by.
        {"04-GetInstance", [](CIMClient& c) { return describeResults({c.getInstance("root/cimv2", P(kVolume), false, false, false)}); }, {"instance PEER_StorageVolume at root/cimv2:" + kVolume, "EnabledState uint16 =5"}},
        {"04-GetInstance-association", [](CIMClient& c) {
             CIMObjectPath assoc("", CIMNamespaceName(), "PEER_SystemDevice", {CIMKeyBinding("GroupComponent", P(kSystem)), CIMKeyBinding("PartComponent", P(vol("VOL \\\"Q\\\" \\\\ 1")))});
             return describeResults({c.getInstance("root/cimv2", assoc, false)});
         }, {"instance PEER_SystemDevice"}},
        {"06-AssociatorNames", [](CIMClient& c) { return describeResults({}, c.associatorNames("root/cimv2", P(kVolume), "PEER_SystemDevice", "PEER_ComputerSystem", "", "")); }, {"path //vm/root/cimv2:" + std::string(kSystem) + " host vm"}},
        {"07-Associators", [](CIMClient& c) { return describeResults(c.associators("root/cimv2", P(kVolume), "PEER_SystemDevice", "PEER_ComputerSystem")); }, {"instance PEER_ComputerSystem at //vm/root/cimv2:"}},
        {"08-ReferenceNames", [](CIMClient& c) { return describeResults({}, c.referenceNames("root/cimv2", P(kSystem), "PEER_SystemDevice", "")); }, {"PartComponent=", "DeviceID=\\\"VOL \\\\\\\"Q"}},
        {"09-References", [](CIMClient& c) { return describeResults(c.references("root/cimv2", P(kSystem), "PEER_SystemDevice", "", false, false, CIMPropertyList())); }, {"instance PEER_SystemDevice at //vm/"}},
        {"10-ModifyInstance-propertylist", [&](CIMClient& c) {
             CIMInstance i = volumeInstance({{"ElementName", S("vol0 renamed")}, {"SystemCreationClassName", S("PEER_ComputerSystem")}, {"SystemName", S("SYS-A")}, {"CreationClassName", S("PEER_StorageVolume")}, {"DeviceID", S("600A0B80002A1B3C0000")}});
             i.setPath(P(kVolume));
             c.modifyInstance("root/cimv2", i, false, CIMPropertyList({"ElementName"}));
             return std::string("done modify");
         }, {"done modify"}},
        {"11-DeleteInstance", [&](CIMClient& c) { c.deleteInstance("root/cimv2", P(vol("VOL-DEL"))); return std::string("done delete"); }, {"done delete"}},
        {"12-InvokeMethod", [](CIMClient& c) {
             Array<CIMParamValue> in = {CIMParamValue("ElementName", S("snap 1")), CIMParamValue("Mode", CIMValue(Uint16(3))), CIMParamValue("Size", CIMValue(Uint64(1099511627776ull))), CIMParamValue("Force", CIMValue(true)),
                 CIMParamValue("SourceElement", CIMValue(P(kVolume))), CIMParamValue("Members", CIMValue(Array<CIMObjectPath>{P(kVolume), P(kSystem)})), CIMParamValue("Comment", CIMValue(CIMTYPE_STRING, false)), CIMParamValue("Flags", CIMValue(Array<Uint16>{1, 2}))};
             xml::Response r;
             r.returnValue = c.invokeMethod("root/cimv2", P(kService), "TestJobMethod", in, r.outParameters);
             return testsupport::describeResponse(r);
         }, {"return uint32 =4096", "out Job typed reference =", "PEER:JOB:0001", "out OutSize typed uint64 =18446744073709551615"}},
        {"12-InvokeMethod-error-FAILED", [](CIMClient& c) {
             Array<CIMParamValue> out;
             c.invokeMethod("root/cimv2", P(kService), "FailMethod", {CIMParamValue("Reason", S("test"))}, out);
             return std::string("no exception");
         }, {"cim 1: CIM_ERR_FAILED", "PEER simulated failure"}},
        {"14-GetInstance-error-NOT_FOUND", getVolume(vol("NOPE")), {"cim 6: CIM_ERR_NOT_FOUND", "| ", "DeviceID=\"NOPE\""}},
        // Errors sent to a client that did not ask for trailers: ERROR in the body.
        {"14-GetInstance-error-NOT_FOUND-wbemcli", getVolume(kVolume), {"cim 6: CIM_ERR_NOT_FOUND"}, false},
        // Errors in the trailers of an enumeration.
        {"15-EnumerateInstanceNames-error-INVALID_CLASS", names("PEER_NoSuchClass"), {"cim 5: CIM_ERR_INVALID_CLASS"}},
        {"17-EnumerateInstanceNames-error-HTTP401-wrong-password", volumeNames, {"http 401: ", "HTTP", "401"}, false},
        // An HTTP-level refusal without a length on a kept connection must not hang.
        {"18-EnumerateInstanceNames-error-HTTP400-not-well-formed-handwritten", volumeNames, {"http 400: ", "HTTP"}, false},
        // The recorded answer names another method; the error is still reported as such.
        {"18-FrobnicateInstances-error-NOT_SUPPORTED-handwritten", volumeNames, {"cim 7: CIM_ERR_NOT_SUPPORTED"}, false},
        {"19-CreateInstance", [&](CIMClient& c) {
             CIMInstance i = volumeInstance({{"ElementName", S("new volume")}, {"OperationalStatus", CIMValue(Array<Uint16>{2, 32768})}, {"SystemCreationClassName", S("PEER_ComputerSystem")}, {"SystemName", S("SYS-A")},
                 {"CreationClassName", S("PEER_StorageVolume")}, {"DeviceID", S("VOL-NEW")}, {"BlockSize", CIMValue(Uint64(512))}, {"NumberOfBlocks", CIMValue(Uint64(2048))}});
             return describeResults({}, {c.createInstance("root/cimv2", i)});
         }, {"DeviceID=\"VOL-NEW\""}},
        {"20-GetClass", [](CIMClient& c) { return c.getClass("root/cimv2", "PEER_TestService", false, true, true).getClassName().getString(); }, {"PEER_TestService"}},
        // clang-format on
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.sample);
        Replay r(t.sample);
        r.client.setTimeout(60000);
        std::string got;
        const std::string failed = failure([&] { got = t.call(r.client); });
        if (got.empty()) got = failed;
        for (const auto& e : t.expect)
            EXPECT_NE(got.find(e), std::string::npos) << e << " in " << got;
        if (t.sameRequest) r.expectSameRequest();
    }
}
