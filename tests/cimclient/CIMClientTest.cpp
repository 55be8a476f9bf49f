// CIMClient: connection rules, answers that do not fit, error words the retries rely on,
// and answers handed on while they arrive against the collecting calls.
#include <cim/CIMClient.h>
#include <cim/xml/Codec.h>

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
