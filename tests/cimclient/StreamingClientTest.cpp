// Answers handed on while they arrive, against the collecting calls.
#include <cim/CIMClient.h>
#include <cim/xml/Codec.h>

#include <gtest/gtest.h>

#include <testsupport/LoopbackServer.h>
#include "testsupport/RandomCim.h"

using namespace cim;
using namespace cimtest;
using testsupport::describeResults;

namespace {

const CIMNamespaceName kNs("root/LsiArray13");
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

TEST(ClientAnswers, ACimErrorInTheTrailersWinsOverABodyThatDoesNotDecode) {
    RawServer server([](const RawRequest& r) {
        const std::string broken =
            simpleResponse(messageIdOf(r.body), "EnumerateInstanceNames",
                           "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"V\"><KEYBINDING NAME=\"K\">");
        if (r.body.find("WithTrailer") != std::string::npos)
            return RawReply{cimChunkedResponse(broken, {{"CIMStatusCode", "1"}}), RawReply::Send};
        return RawReply{cimChunkedResponse(broken, {}), RawReply::Send};
    });
    CIMClient c;
    c.connect("127.0.0.1", server.port(), "u", "p");
    EXPECT_THROW(c.enumerateInstanceNames(kNs, "WithTrailer"), CIMException);
    EXPECT_THROW(c.enumerateInstanceNames(kNs, "Without"), ParseException);
    EXPECT_EQ(server.connections(), 1);  // both answers were read to their end
}
