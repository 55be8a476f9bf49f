// CIMClient against a loopback server that replays the recorded answers of an independent
// CIM server. Each case makes the call the recorded client made and checks that our request
// carries the same operation, namespace, parameters and values (compared decoded), and that
// the recorded answer comes back as the right results or error. What each answer holds is
// the codec's to test (tests/cim); here it is what the client hands over.
#include <cim/CIMClient.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include <testsupport/LoopbackServer.h>

using namespace cim;
using namespace cimtest;

namespace {

const char* kVolume =
    "PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID="
    "\"600A0B80002A1B3C0000\",SystemCreationClassName=\"PEER_ComputerSystem\",SystemName="
    "\"SYS-A\"";
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

    // Our request and the recorded one agree on everything that means something.
    void expectSameRequest() const {
        auto sent = m_server.requests();
        ASSERT_EQ(sent.size(), 1u);
        RecordedMessage recorded = loadRecorded(m_sample + ".request.http");
        xml::Request ours = xml::decodeRequest(sent[0].body);
        xml::Request theirs = xml::decodeRequest(recorded.body);
        SCOPED_TRACE(m_sample);
        EXPECT_EQ(ours.intrinsic, theirs.intrinsic);
        EXPECT_EQ(ours.methodName, theirs.methodName);
        EXPECT_EQ(ours.nameSpace, theirs.nameSpace) << ours.nameSpace.getString();
        EXPECT_EQ(ours.instanceName, theirs.instanceName);
        EXPECT_EQ(ours.className, theirs.className);
        EXPECT_EQ(ours.objectName, theirs.objectName);
        expectSameInstance(ours.modifiedInstance, theirs.modifiedInstance);
        expectSameInstance(ours.newInstance, theirs.newInstance);
        EXPECT_EQ(ours.localOnly, theirs.localOnly);
        EXPECT_EQ(ours.deepInheritance, theirs.deepInheritance);
        EXPECT_EQ(ours.includeQualifiers, theirs.includeQualifiers);
        EXPECT_EQ(ours.includeClassOrigin, theirs.includeClassOrigin);
        EXPECT_TRUE(ours.propertyList == theirs.propertyList);
        EXPECT_EQ(ours.assocClass, theirs.assocClass);
        EXPECT_EQ(ours.resultClass, theirs.resultClass);
        EXPECT_EQ(ours.role, theirs.role);
        EXPECT_EQ(ours.resultRole, theirs.resultRole);
        EXPECT_TRUE(ours.unknownParameters.empty());
        EXPECT_EQ(ours.target, theirs.target) << ours.target.toString();
        ASSERT_EQ(ours.inParameters.size(), theirs.inParameters.size());
        for (std::size_t i = 0; i < ours.inParameters.size(); ++i) {
            EXPECT_TRUE(ours.inParameters[i].identical(theirs.inParameters[i]))
                << ours.inParameters[i].getParameterName() << " = "
                << ours.inParameters[i].getValue().toString();
        }
        // The HTTP headers name the same method and object.
        auto header = [](const Fields& f, const std::string& name) {
            for (const auto& h : f) {
                if (equalNoCase(h.first, name)) return h.second;
            }
            return std::string("<none>");
        };
        EXPECT_EQ(header(sent[0].headers, "CIMMethod"), header(recorded.headers, "CIMMethod"));
        EXPECT_EQ(xml::percentDecode(header(sent[0].headers, "CIMObject")),
                  xml::percentDecode(header(recorded.headers, "CIMObject")));
        EXPECT_EQ(header(sent[0].headers, "CIMOperation"), "MethodCall");
    }

    CIMClient client;

  private:
    static void expectSameInstance(const std::optional<CIMInstance>& a,
                                   const std::optional<CIMInstance>& b) {
        ASSERT_EQ(a.has_value(), b.has_value());
        if (!a) return;
        EXPECT_EQ(a->getClassName(), b->getClassName());
        EXPECT_EQ(a->getPath(), b->getPath());
        ASSERT_EQ(a->getPropertyCount(), b->getPropertyCount());
        for (Uint32 i = 0; i < a->getPropertyCount(); ++i) {
            const CIMProperty& p = a->getProperty(i);
            Uint32 j = b->findProperty(p.getName());
            ASSERT_NE(j, PEG_NOT_FOUND) << p.getName().getString();
            EXPECT_EQ(p.getValue(), b->getProperty(j).getValue()) << p.getName().getString();
        }
    }

    std::string m_sample;
    RecordedMessage m_response;
    RawServer m_server;
};

std::string keyOf(const CIMObjectPath& p, const char* key) {
    const CIMKeyBinding* k = p.findKeyBinding(key);
    return k != nullptr ? k->getValue() : "<none>";
}

std::string propertyOf(const CIMInstance& i, const char* name) {
    Uint32 n = i.findProperty(name);
    return n == PEG_NOT_FOUND ? "<none>" : i.getProperty(n).getValue().toString();
}

const char* const kKinds[] = {"boolean", "string", "numeric", "reference"};

// What a call handed over, as one line the table can search.
std::string names(const Array<CIMObjectPath>& paths) {
    std::ostringstream out;
    out << paths.size();
    for (const auto& p : paths) {
        out << " " << p.getClassName().getString() << " ns=" << p.getNameSpace().getString();
        for (const auto& k : p.getKeyBindings())
            out << " " << k.getName().getString() << "(" << kKinds[k.getType()]
                << ")=" << k.getValue();
    }
    return out.str();
}

std::string objects(const Array<CIMInstance>& instances, const char* property = "DeviceID") {
    std::ostringstream out;
    out << instances.size();
    for (const auto& i : instances)
        out << " " << i.getClassName().getString() << " " << property << "="
            << propertyOf(i, property) << " path=" << i.getPath().toString();
    return out.str();
}

std::string outcome(const std::function<std::string()>& call) {
    try {
        return call();
    } catch (const CIMException& e) {
        return "CIMException " + std::string(cimStatusCodeToString(e.getCode())) + " " + e.what() +
               " | " + e.getDescription();
    } catch (const HttpException& e) {
        return "HttpException " + std::to_string(e.getStatus()) + " " + e.what();
    }
}

CIMInstance volumeInstance(const std::vector<std::pair<const char*, CIMValue>>& properties) {
    CIMInstance i("PEER_StorageVolume");
    for (const auto& p : properties) i.addProperty(CIMProperty(p.first, p.second));
    return i;
}

}  // namespace

TEST(WireTest, EveryRecordedExchange) {
    if (wireDir().empty()) GTEST_SKIP() << "recorded samples not present";
    const std::string mike = "Test_CLITestProviderClass.Id=\"Mike\"";
    auto volumeNames = [](CIMClient& c) {
        return names(c.enumerateInstanceNames("root/cimv2", "PEER_StorageVolume"));
    };
    auto noSuchClass = [](CIMClient& c) {
        return names(c.enumerateInstanceNames("root/cimv2", "PEER_NoSuchClass"));
    };
    auto namespaces = [](CIMClient& c) {
        return names(c.enumerateInstanceNames("interop", "CIM_Namespace"));
    };
    const struct {
        const char* sample;
        std::function<std::string(CIMClient&)> call;
        std::vector<std::string> expect;  // each appears in what the call handed over
        bool sameRequest;
    } cases[] = {
        {"01-EnumerateInstanceNames",
         volumeNames,
         {"3 PEER_StorageVolume", "DeviceID(string)=VOL \"Q\" \\ 1"},
         true},
        {"01-EnumerateInstanceNames-association",
         [](CIMClient& c) {
             return names(c.enumerateInstanceNames("root/cimv2", "PEER_SystemDevice"));
         },
         {"GroupComponent(reference)"},
         true},
        {"01-EnumerateInstanceNames-numerickey",
         [](CIMClient& c) {
             return names(
                 c.enumerateInstanceNames("test/TestProvider", "Test_CLITestProviderEmpty"));
         },
         {"1 ", "(numeric)"},
         true},
        {"02-EnumerateInstances",
         [](CIMClient& c) {
             auto all =
                 c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false, false, false);
             std::string out = objects(all);
             for (const auto& i : all)
                 if (keyOf(i.getPath(), "DeviceID") != propertyOf(i, "DeviceID"))
                     out += " PATH-MISMATCH";
             return out;
         },
         {"3 PEER_StorageVolume"},
         true},
        {"03-EnumerateInstances-propertylist",
         [](CIMClient& c) {
             CIMPropertyList list(std::vector<CIMName>{"DeviceID", "ElementName", "NumberOfBlocks",
                                                       "OperationalStatus"});
             return objects(c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false,
                                                 false, false, list),
                            "NumberOfBlocks");
         },
         {"3 PEER_StorageVolume NumberOfBlocks=2"},
         true},
        {"02-EnumerateInstances-alltypes",
         [](CIMClient& c) {
             return objects(c.enumerateInstances("test/TestProvider", "Test_CLITestProviderClass",
                                                 true, false));
         },
         {"3 "},
         true},
        {"04-GetInstance",
         [](CIMClient& c) {
             CIMInstance i = c.getInstance("root/cimv2", P(kVolume), false, false, false);
             return objects({i}) + " EnabledState=" + propertyOf(i, "EnabledState");
         },
         // The instance carries the path it was read by.
         {"PEER_StorageVolume DeviceID=600A0B80002A1B3C0000 path=",
          "DeviceID=\"600A0B80002A1B3C0000\"", "EnabledState=5"},
         true},
        {"04-GetInstance-association",
         [](CIMClient& c) {
             CIMObjectPath part =
                 P("PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID=\"VOL "
                   "\\\"Q\\\" \\\\ "
                   "1\",SystemCreationClassName=\"PEER_ComputerSystem\",SystemName=\"SYS-A\"");
             CIMObjectPath assoc("", CIMNamespaceName(), "PEER_SystemDevice",
                                 {CIMKeyBinding("GroupComponent", P(kSystem)),
                                  CIMKeyBinding("PartComponent", part)});
             return objects({c.getInstance("root/cimv2", assoc, false)});
         },
         {"1 PEER_SystemDevice"},
         true},
        {"05-GetInstance-qualifiers-classorigin",
         [](CIMClient& c) {
             return objects({c.getInstance("root/cimv2", P(kVolume), false, true, true)});
         },
         {"DeviceID=600A0B80002A1B3C0000"},
         true},
        {"06-AssociatorNames",
         [](CIMClient& c) {
             return names(c.associatorNames("root/cimv2", P(kVolume), "PEER_SystemDevice",
                                            "PEER_ComputerSystem", "", ""));
         },
         {"1 PEER_ComputerSystem ns=root/cimv2", "Name(string)=SYS-A"},
         true},
        {"06-AssociatorNames-provider",
         [&](CIMClient& c) {
             return names(c.associatorNames("test/TestProvider", P(mike),
                                            "Test_CLITestProviderLinkClass",
                                            "Test_CLITestProviderClass"));
         },
         {"1 "},
         true},
        {"07-Associators",
         [](CIMClient& c) {
             return objects(c.associators("root/cimv2", P(kVolume), "PEER_SystemDevice",
                                          "PEER_ComputerSystem"));
         },
         {"1 PEER_ComputerSystem", "Name=\"SYS-A\""},
         true},
        {"08-ReferenceNames",
         [](CIMClient& c) {
             auto refs = c.referenceNames("root/cimv2", P(kSystem), "PEER_SystemDevice", "");
             std::string out = names(refs);
             for (const auto& n : refs) {
                 const CIMKeyBinding* part = n.findKeyBinding("PartComponent");
                 if (part == nullptr) return out + " NO-PART";
                 CIMObjectPath::parse(part->getValue());
             }
             return out;
         },
         {"2 ", "PartComponent(reference)"},
         true},
        {"08-ReferenceNames-provider",
         [&](CIMClient& c) {
             return names(
                 c.referenceNames("test/TestProvider", P(mike), "Test_CLITestProviderLinkClass"));
         },
         {"Test_CLITestProviderLinkClass"},
         true},
        {"09-References",
         [](CIMClient& c) {
             return objects(c.references("root/cimv2", P(kSystem), "PEER_SystemDevice", "", false,
                                         false, CIMPropertyList()));
         },
         {"2 PEER_SystemDevice"},
         true},
        {"09-References-provider",
         [&](CIMClient& c) {
             return objects(
                 c.references("test/TestProvider", P(mike), "Test_CLITestProviderLinkClass"));
         },
         {"Test_CLITestProviderLinkClass"},
         true},
        {"10-ModifyInstance-propertylist",
         [](CIMClient& c) {
             CIMInstance i = volumeInstance(
                 {{"ElementName", CIMValue(std::string("vol0 renamed"))},
                  {"SystemCreationClassName", CIMValue(std::string("PEER_ComputerSystem"))},
                  {"SystemName", CIMValue(std::string("SYS-A"))},
                  {"CreationClassName", CIMValue(std::string("PEER_StorageVolume"))},
                  {"DeviceID", CIMValue(std::string("600A0B80002A1B3C0000"))}});
             i.setPath(P(kVolume));
             c.modifyInstance("root/cimv2", i, false, CIMPropertyList({"ElementName"}));
             return std::string("done");
         },
         {"done"},
         true},
        {"11-DeleteInstance",
         [](CIMClient& c) {
             c.deleteInstance(
                 "root/cimv2",
                 P("PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID="
                   "\"VOL-DEL\",SystemCreationClassName=\"PEER_ComputerSystem\","
                   "SystemName=\"SYS-A\""));
             return std::string("done");
         },
         {"done"},
         true},
        {"12-InvokeMethod",
         [](CIMClient& c) {
             Array<CIMParamValue> in = {
                 CIMParamValue("ElementName", CIMValue(std::string("snap 1"))),
                 CIMParamValue("Mode", CIMValue(Uint16(3))),
                 CIMParamValue("Size", CIMValue(Uint64(1099511627776ull))),
                 CIMParamValue("Force", CIMValue(true)),
                 CIMParamValue("SourceElement", CIMValue(P(kVolume))),
                 CIMParamValue("Members", CIMValue(Array<CIMObjectPath>{P(kVolume), P(kSystem)})),
                 CIMParamValue("Comment", CIMValue(CIMTYPE_STRING, false)),
                 CIMParamValue("Flags", CIMValue(Array<Uint16>{1, 2})),
             };
             Array<CIMParamValue> out;
             std::string s =
                 "rv=" +
                 c.invokeMethod("root/cimv2", P(kService), "TestJobMethod", in, out).toString();
             for (const auto& p : out) {
                 s += " " + p.getParameterName() + "(" + cimTypeToString(p.getValue().getType()) +
                      ")=";
                 if (p.getValue().getType() == CIMTYPE_REFERENCE && !p.getValue().isArray()) {
                     CIMObjectPath job;
                     p.getValue().get(job);
                     s += keyOf(job, "InstanceID");
                 } else {
                     s += p.getValue().toString();
                 }
             }
             return s;
         },
         {"rv=4096", "Job(reference)=PEER:JOB:0001", "OutSize(uint64)=18446744073709551615"},
         true},
        {"12-InvokeMethod-refparams-provider",
         [&](CIMClient& c) {
             CIMObjectPath fred = P("Test_CLITestProviderClass.Id=\"Fred\"");
             Array<CIMParamValue> in = {
                 CIMParamValue("InParam1", CIMValue(fred)),
                 CIMParamValue("InParam2", CIMValue(Array<CIMObjectPath>{P(mike), fred}))};
             Array<CIMParamValue> out;
             CIMValue rv =
                 c.invokeMethod("test/TestProvider", P(mike), "ReferenceParamTest", in, out);
             return "rv=" + rv.toString() + " out=" + std::to_string(out.size());
         },
         {"rv=0 out=2"},
         true},
        {"12-InvokeMethod-error-FAILED",
         [](CIMClient& c) {
             Array<CIMParamValue> out;
             c.invokeMethod("root/cimv2", P(kService), "FailMethod",
                            {CIMParamValue("Reason", CIMValue(std::string("test")))}, out);
             return std::string("no exception");
         },
         {"CIMException CIM_ERR_FAILED", "PEER simulated failure"},
         true},
        {"13-EnumerateInstanceNames-CIM_Namespace-interop",
         namespaces,
         {"Name(string)=interop"},
         true},
        {"14-GetInstance-error-NOT_FOUND",
         [](CIMClient& c) {
             c.getInstance("root/cimv2",
                           P("PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID="
                             "\"NOPE\",SystemCreationClassName=\"PEER_ComputerSystem\","
                             "SystemName=\"SYS-A\""));
             return std::string("no exception");
         },
         {"CIMException CIM_ERR_NOT_FOUND", "| ", "DeviceID=\"NOPE\""},
         true},
        {"14-GetInstance-error-NOT_FOUND-provider",
         [](CIMClient& c) {
             c.getInstance("test/TestProvider", P("Test_CLITestProviderClass.Id=\"Nobody\""));
             return std::string("no exception");
         },
         {"CIMException CIM_ERR_NOT_FOUND CIM_ERR_NOT_FOUND"},
         true},
        // Errors sent to a client that did not ask for trailers: ERROR in the body.
        {"14-GetInstance-error-NOT_FOUND-wbemcli",
         [](CIMClient& c) { return objects({c.getInstance("root/cimv2", P(kVolume))}); },
         {"CIMException CIM_ERR_NOT_FOUND CIM_ERR_NOT_FOUND"},
         false},
        {"15-EnumerateInstanceNames-error-INVALID_CLASS-wbemcli",
         noSuchClass,
         {"CIMException CIM_ERR_INVALID_CLASS CIM_ERR_INVALID_CLASS"},
         false},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE-wbemcli",
         noSuchClass,
         {"CIMException CIM_ERR_INVALID_NAMESPACE CIM_ERR_INVALID_NAMESPACE"},
         false},
        // Errors in the trailers of an enumeration.
        {"15-EnumerateInstanceNames-error-INVALID_CLASS",
         noSuchClass,
         {"CIMException CIM_ERR_INVALID_CLASS"},
         true},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE",
         [](CIMClient& c) { return names(c.enumerateInstanceNames("no/such", "CIM_Namespace")); },
         {"CIMException CIM_ERR_INVALID_NAMESPACE"},
         true},
        {"17-EnumerateInstanceNames-error-HTTP401-wrong-password",
         volumeNames,
         {"HttpException 401", "HTTP", "401"},
         false},
        {"17-EnumerateInstanceNames-auth-ok", namespaces, {"Name(string)=interop"}, true},
        // HTTP-level refusals without a length on a kept connection must not hang.
        {"18-EnumerateInstanceNames-error-HTTP400-not-well-formed-handwritten",
         volumeNames,
         {"HttpException 400 ", "HTTP"},
         false},
        {"18-EnumerateInstanceNames-error-HTTP400-header-mismatch-handwritten",
         volumeNames,
         {"HttpException 400 ", "HTTP"},
         false},
        {"18-EnumerateInstanceNames-error-HTTP400-no-CIMOperation-handwritten",
         volumeNames,
         {"HttpException 400 ", "HTTP"},
         false},
        {"18-EnumerateInstanceNames-error-HTTP501-unsupported-dtd-handwritten",
         volumeNames,
         {"HttpException 501 ", "HTTP"},
         false},
        // The recorded answer names another method; the error is still reported as such.
        {"18-FrobnicateInstances-error-NOT_SUPPORTED-handwritten",
         volumeNames,
         {"CIMException CIM_ERR_NOT_SUPPORTED"},
         false},
        {"19-CreateInstance",
         [](CIMClient& c) {
             CIMInstance i = volumeInstance(
                 {{"ElementName", CIMValue(std::string("new volume"))},
                  {"OperationalStatus", CIMValue(Array<Uint16>{2, 32768})},
                  {"SystemCreationClassName", CIMValue(std::string("PEER_ComputerSystem"))},
                  {"SystemName", CIMValue(std::string("SYS-A"))},
                  {"CreationClassName", CIMValue(std::string("PEER_StorageVolume"))},
                  {"DeviceID", CIMValue(std::string("VOL-NEW"))},
                  {"BlockSize", CIMValue(Uint64(512))},
                  {"NumberOfBlocks", CIMValue(Uint64(2048))}});
             return names({c.createInstance("root/cimv2", i)});
         },
         {"DeviceID(string)=VOL-NEW"},
         true},
        {"20-GetClass",
         [](CIMClient& c) {
             return c.getClass("root/cimv2", "PEER_TestService", false, true, true)
                 .getClassName()
                 .getString();
         },
         {"PEER_TestService"},
         true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.sample);
        Replay r(t.sample);
        r.client.setTimeout(60000);
        const std::string got = outcome([&] { return t.call(r.client); });
        for (const auto& e : t.expect)
            EXPECT_NE(got.find(e), std::string::npos) << e << " in " << got;
        if (t.sameRequest) r.expectSameRequest();
    }
}
