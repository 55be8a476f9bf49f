// CIMClient behaviour that does not depend on recorded samples: connection rules, answers
// that are not what was asked for, and the error words the retry logic relies on.
#include <cim/CIMClient.h>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <set>

#include <testsupport/LoopbackServer.h>

using namespace cim;
using namespace cimtest;

namespace {

const char* kNames =
    "<IRETURNVALUE>\n<INSTANCENAME CLASSNAME=\"LSISSI_StorageVolume\">\n"
    "<KEYBINDING NAME=\"DeviceID\"><KEYVALUE VALUETYPE=\"string\">V1</KEYVALUE></KEYBINDING>\n"
    "</INSTANCENAME>\n</IRETURNVALUE>\n";

// Answers every request with what make() returns for the request's message ID.
struct Server {
    explicit Server(std::function<std::string(const std::string& id)> make)
        : raw([make](const RawRequest& r) {
              return RawReply{make(messageIdOf(r.body)), RawReply::Send};
          }) {}
    RawServer raw;
};

template <class E>
std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong exception type: ") + e.what();
    }
    return "no exception";
}

}  // namespace

TEST(CIMClientConnect, RefusedPortFailsAtConnectWithConnectionFailed) {
    CIMClient c;
    std::string msg =
        messageOf<CannotConnectException>([&] { c.connect("127.0.0.1", closedPort(), "u", "p"); });
    EXPECT_NE(msg.find("Connection failed"), std::string::npos) << msg;
    EXPECT_FALSE(c.isConnected());
    msg = messageOf<CannotConnectException>(
        [&] { c.connect("127.0.0.1", closedPort(), SSLContext(), "u", "p"); });
    EXPECT_NE(msg.find("Connection failed"), std::string::npos) << msg;
}

TEST(CIMClientConnect, ConnectedClientRefusesASecondConnect) {
    Server s([](const std::string& id) {
        return cimResponse(simpleResponse(id, "EnumerateInstanceNames", kNames));
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_TRUE(c.isConnected());
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), "u", "p"), AlreadyConnectedException);
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), SSLContext(), "u", "p"),
                 AlreadyConnectedException);
    EXPECT_EQ(c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume").size(), 1u);
    c.disconnect();
    EXPECT_FALSE(c.isConnected());
    EXPECT_THROW(c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"),
                 NotConnectedException);
    c.disconnect();
}

TEST(CIMClientAnswers, ManyOperationsOnOneConnection) {
    Server s([](const std::string& id) {
        return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kNames), {});
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    for (int i = 0; i < 10; ++i) {
        auto names = c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume");
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].findKeyBinding("DeviceID")->getValue(), "V1");
    }
    EXPECT_EQ(s.raw.connections(), 1);
    // Every request had its own message ID.
    std::set<std::string> ids;
    for (const auto& r : s.raw.requests()) ids.insert(messageIdOf(r.body));
    EXPECT_EQ(ids.size(), 10u);
}

TEST(CIMClientAnswers, NonCimBodyIsAParseError) {
    Server s([](const std::string&) {
        return httpResponse(200, "OK", {{"Content-Type", "text/html"}, {"Content-Length", "22"}},
                            "<html>not cim</html>\r\n");
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_THROW(c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"), ParseException);
}

TEST(CIMClientAnswers, MalformedXmlIsAParseError) {
    Server s([](const std::string& id) {
        std::string body = simpleResponse(id, "EnumerateInstanceNames", kNames);
        return cimResponse(body.substr(0, body.size() / 2) + "</WRONG>");
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_THROW(c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"), ParseException);
}

TEST(CIMClientAnswers, EmptyBodyIsAParseError) {
    Server s([](const std::string&) { return cimResponse(""); });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_THROW(c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"), ParseException);
}

TEST(CIMClientAnswers, AnswerToAnotherRequestIsRefused) {
    Server wrongId([](const std::string&) {
        return cimResponse(simpleResponse("999999", "EnumerateInstanceNames", kNames));
    });
    CIMClient c;
    c.connect("127.0.0.1", wrongId.raw.port(), "u", "p");
    std::string msg = messageOf<ParseException>(
        [&] { c.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"); });
    EXPECT_NE(msg.find("message ID"), std::string::npos) << msg;

    Server wrongMethod([](const std::string& id) {
        return cimResponse(simpleResponse(id, "EnumerateInstances", kNames));
    });
    CIMClient d;
    d.connect("127.0.0.1", wrongMethod.raw.port(), "u", "p");
    EXPECT_THROW(d.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume"), ParseException);
}

TEST(CIMClientAnswers, GetInstanceWithoutInstanceIsAParseError) {
    Server s([](const std::string& id) {
        return cimResponse(simpleResponse(id, "GetInstance", "<IRETURNVALUE>\n</IRETURNVALUE>\n"));
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_THROW(c.getInstance("root/LsiArray13", CIMObjectPath::parse("X.K=\"1\"")),
                 ParseException);
}

TEST(CIMClientAnswers, ErrorElementCarriesCodeAndName) {
    Server s([](const std::string& id) {
        return cimResponse(simpleResponse(
            id, "GetInstance",
            "<ERROR CODE=\"6\" DESCRIPTION=\"CIM_ERR_NOT_FOUND: X.K=&quot;1&quot;\"/>"));
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    try {
        c.getInstance("root/LsiArray13", CIMObjectPath::parse("X.K=\"1\""));
        FAIL() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_EQ(e.getCode(), CIM_ERR_NOT_FOUND);
        EXPECT_EQ(std::string(e.what()), "CIM_ERR_NOT_FOUND: X.K=\"1\"");
    }
}

TEST(CIMClientRequests, NullNamespaceIsRefusedLocally) {
    Server s([](const std::string& id) {
        return cimResponse(simpleResponse(id, "EnumerateInstanceNames", kNames));
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    EXPECT_THROW(c.enumerateInstanceNames(CIMNamespaceName(), "CIM_StorageVolume"), Exception);
    CIMInstance noPath("X");
    EXPECT_THROW(c.modifyInstance("root/LsiArray13", noPath), Exception);
    EXPECT_TRUE(s.raw.requests().empty());
}

TEST(CIMClientRequests, InvokeMethodGoesToTheGivenNamespace) {
    Server s([](const std::string& id) {
        return cimResponse(simpleResponse(
            id, "CreateSynchronizationAspect",
            "<RETURNVALUE PARAMTYPE=\"uint32\"><VALUE>0</VALUE></RETURNVALUE>\n", false));
    });
    CIMClient c;
    c.connect("127.0.0.1", s.raw.port(), "u", "p");
    Array<CIMParamValue> out;
    CIMValue ret = c.invokeMethod(
        "root/LsiArray13",
        CIMObjectPath::parse("//otherhost/other/ns:LSISSI_ReplicationService.Name=\"R\""),
        "CreateSynchronizationAspect", {CIMParamValue("SyncType", CIMValue(Uint16(7)))}, out);
    EXPECT_EQ(ret.toString(), "0");
    auto requests = s.raw.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string* object = requests[0].header("CIMObject");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->rfind("root%2FLsiArray13%3ALSISSI_ReplicationService", 0), 0u) << *object;
    EXPECT_EQ(*requests[0].header("CIMMethod"), "CreateSynchronizationAspect");
}
