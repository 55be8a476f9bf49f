// The recorded exchanges of an independent server and two independent clients: every
// response decodes to what it holds, every request decodes with the server-side decoder.
#include <gtest/gtest.h>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include <testsupport/LoopbackServer.h>

using namespace cim;
using cimtest::field;
using HttpMessage = cimtest::RecordedMessage;

namespace {

HttpMessage sample(const std::string& name) {
    return cimtest::loadRecorded(name);
}

xml::Response response(const std::string& name) {
    return xml::decodeResponse(sample(name + ".response.http").body);
}

xml::Request request(const std::string& name) {
    return xml::decodeRequest(sample(name + ".request.http").body);
}

const CIMValue& prop(const CIMInstance& inst, const char* name) {
    Uint32 i = inst.findProperty(name);
    if (i == PEG_NOT_FOUND) throw std::runtime_error(std::string("no property ") + name);
    return inst.getProperty(i).getValue();
}

template <class T>
T get(const CIMValue& v) {
    T x{};
    v.get(x);
    return x;
}

std::string key(const CIMObjectPath& p, const char* name) {
    const CIMKeyBinding* k = p.findKeyBinding(name);
    return k ? k->getValue() : "<none>";
}

const char* const kVolQ = "VOL \"Q\" \\ 1";

class WireSamples : public ::testing::Test {
  protected:
    void SetUp() override {
        if (cimtest::wireFiles(".http").empty())
            GTEST_SKIP() << "no recorded samples in " << cimtest::wireDir();
    }
};

}  // namespace

TEST_F(WireSamples, EveryResponseBodyDecodes) {
    int decoded = 0;
    for (const auto& f : cimtest::wireFiles(".response.http")) {
        HttpMessage m = sample(f);
        if (m.body.empty()) {
            // HTTP-level failures carry no CIM-XML.
            EXPECT_EQ(m.startLine.find(" 200 "), std::string::npos) << f;
            continue;
        }
        xml::Response r;
        ASSERT_NO_THROW(r = xml::decodeResponse(m.body)) << f;
        EXPECT_FALSE(r.methodName.empty()) << f;
        // An error sent in trailers leaves the body without ERROR and without a result.
        if (cimtest::findField(m.trailers, "cimstatuscode")) {
            EXPECT_FALSE(r.isError()) << f;
            EXPECT_FALSE(r.hasReturnValue) << f;
        }
        ++decoded;
    }
    EXPECT_GE(decoded, 35);
}

TEST_F(WireSamples, EnumerateInstanceNamesOfVolumes) {
    for (const char* f : {"01-EnumerateInstanceNames", "01-EnumerateInstanceNames-wbemcli"}) {
        xml::Response r = response(f);
        EXPECT_EQ(r.methodName, "EnumerateInstanceNames");
        EXPECT_TRUE(r.intrinsic);
        ASSERT_EQ(r.instanceNames.size(), 3u) << f;
        EXPECT_EQ(key(r.instanceNames[0], "DeviceID"), "600A0B80002A1B3C0000");
        EXPECT_EQ(key(r.instanceNames[1], "DeviceID"), kVolQ);
        EXPECT_EQ(key(r.instanceNames[2], "DeviceID"), "VOL-DEL");
        EXPECT_EQ(key(r.instanceNames[2], "SystemName"), "SYS-A");
        EXPECT_EQ(
            r.instanceNames[1].toString(),
            "PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\","
            "DeviceID=\"VOL \\\"Q\\\" \\\\ 1\",SystemCreationClassName=\"PEER_ComputerSystem\","
            "SystemName=\"SYS-A\"");
        for (const auto& p : r.instanceNames) EXPECT_EQ(CIMObjectPath::parse(p.toString()), p);
    }
}

TEST_F(WireSamples, OurPathTextMatchesTheServersOwnPrinting) {
    // The server prints the missing instance's path in its error description.
    xml::Response r = response("14-GetInstance-error-NOT_FOUND-wbemcli");
    xml::Request q = request("14-GetInstance-error-NOT_FOUND-wbemcli");
    ASSERT_TRUE(q.instanceName);
    EXPECT_EQ(r.errorDescription, "CIM_ERR_NOT_FOUND: " + q.instanceName->toString());
}

TEST_F(WireSamples, AssociationNamesHoldTwoReferences) {
    xml::Response r = response("01-EnumerateInstanceNames-association");
    ASSERT_EQ(r.instanceNames.size(), 2u);
    const CIMObjectPath& a = r.instanceNames[1];
    EXPECT_EQ(a.getClassName().getString(), "PEER_SystemDevice");
    ASSERT_EQ(a.getKeyBindings().size(), 2u);
    const CIMKeyBinding* part = a.findKeyBinding("PartComponent");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(key(CIMObjectPath::parse(part->getValue()), "DeviceID"), kVolQ);
    EXPECT_EQ(key(CIMObjectPath::parse(key(a, "GroupComponent")), "Name"), "SYS-A");
    EXPECT_EQ(CIMObjectPath::parse(a.toString()), a);

    for (const char* f : {"08-ReferenceNames", "08-ReferenceNames-wbemcli"}) {
        xml::Response rn = response(f);
        ASSERT_EQ(rn.instanceNames.size(), 2u) << f;
        EXPECT_EQ(rn.instanceNames[0].getHost(), "vm");
        EXPECT_EQ(rn.instanceNames[0].getNameSpace().getString(), "root/cimv2");
        EXPECT_EQ(key(CIMObjectPath::parse(key(rn.instanceNames[1], "PartComponent")), "DeviceID"),
                  kVolQ);
        EXPECT_EQ(CIMObjectPath::parse(rn.instanceNames[1].toString()), rn.instanceNames[1]);
    }
    xml::Response prov = response("08-ReferenceNames-provider");
    ASSERT_EQ(prov.instanceNames.size(), 1u);
    CIMObjectPath child = CIMObjectPath::parse(key(prov.instanceNames[0], "child"));
    EXPECT_EQ(child.getHost(), "vm");
    EXPECT_EQ(child.getNameSpace().getString(), "test/TestProvider");
    EXPECT_EQ(key(child, "Id"), "Mike");
}

TEST_F(WireSamples, NumericAndNamespaceKeys) {
    xml::Response r = response("01-EnumerateInstanceNames-numerickey");
    ASSERT_EQ(r.instanceNames.size(), 1u);
    const CIMKeyBinding& k = r.instanceNames[0].getKeyBindings().at(0);
    EXPECT_EQ(k.getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(k.getValue(), "42");
    EXPECT_EQ(r.instanceNames[0].toString(), "Test_CLITestProviderEmpty.id=42");

    for (const char* f :
         {"13-EnumerateInstanceNames-CIM_Namespace-interop", "17-EnumerateInstanceNames-auth-ok"}) {
        xml::Response ns = response(f);
        ASSERT_EQ(ns.instanceNames.size(), 9u) << f;
        std::vector<std::string> names;
        for (const auto& p : ns.instanceNames) {
            EXPECT_EQ(p.getClassName().getString(), "PG_NameSpace");
            names.push_back(key(p, "Name"));
        }
        EXPECT_NE(std::find(names.begin(), names.end(), "interop"), names.end());
        EXPECT_NE(std::find(names.begin(), names.end(), "root/cimv2"), names.end());
    }
}

TEST_F(WireSamples, EveryScalarAndArrayType) {
    xml::Response r = response("02-EnumerateInstances-alltypes");
    ASSERT_EQ(r.instances.size(), 3u);
    const CIMInstance& mike = r.instances[0];
    EXPECT_EQ(key(mike.getPath(), "Id"), "Mike");
    EXPECT_EQ(mike.getPropertyCount(), 42u);
    EXPECT_TRUE(get<Boolean>(prop(mike, "scalBool")));
    EXPECT_EQ(get<Uint8>(prop(mike, "scalUint8")), 220);
    EXPECT_EQ(get<Sint8>(prop(mike, "scalSint8")), 124);
    EXPECT_EQ(get<Uint16>(prop(mike, "scalUint16")), 100);
    EXPECT_EQ(get<Sint16>(prop(mike, "scalSint16")), 100);
    EXPECT_EQ(get<Uint32>(prop(mike, "scalUint32")), 100u);
    EXPECT_EQ(get<Sint32>(prop(mike, "scalSint32")), 100);
    EXPECT_EQ(get<Uint64>(prop(mike, "scalUint64")), 100u);
    EXPECT_TRUE(prop(mike, "scalSint64").isNull());
    EXPECT_EQ(prop(mike, "scalSint64").getType(), CIMTYPE_SINT64);
    EXPECT_FLOAT_EQ(get<Real32>(prop(mike, "scalReal32")), 100.0f);
    EXPECT_DOUBLE_EQ(get<Real64>(prop(mike, "scalReal64")), 100.0);
    EXPECT_EQ(get<String>(prop(mike, "scalString")), "teststring");
    CIMDateTime dt = get<CIMDateTime>(prop(mike, "scalDateTime"));
    EXPECT_EQ(dt.toString(), "19991224120000.000000+360");
    EXPECT_EQ(dt.getUtcOffset(), 360);
    EXPECT_TRUE(dt.isTimeStamp());
    EXPECT_EQ(get<String>(prop(mike, "defaultString")), "test\"embedded\"quote");
    EXPECT_TRUE(prop(mike, "defaultReal32").isNull());
    EXPECT_TRUE(prop(mike, "defaultDateTime").isNull());
    EXPECT_EQ(get<Array<Boolean>>(prop(mike, "arrayBool")), (Array<Boolean>{true, false, true}));
    EXPECT_EQ(get<Array<Uint8>>(prop(mike, "arrayUint8")), (Array<Uint8>{4, 128, 240}));
    EXPECT_EQ(get<Array<Sint8>>(prop(mike, "arraySint8")), (Array<Sint8>{4, 126, -126}));
    EXPECT_EQ(get<Array<Sint16>>(prop(mike, "arraySint16")), (Array<Sint16>{4, 126, -126}));
    EXPECT_EQ(get<Array<Uint32>>(prop(mike, "arrayUint32")), (Array<Uint32>{4, 128, 240}));
    EXPECT_EQ(get<Array<Sint32>>(prop(mike, "arraySint32")), (Array<Sint32>{4, 126, -126}));
    EXPECT_EQ(get<Array<Uint64>>(prop(mike, "arrayUint64")), (Array<Uint64>{4, 128, 240}));
    EXPECT_TRUE(prop(mike, "arraySint64").isNull());
    EXPECT_TRUE(prop(mike, "arraySint64").isArray());
    EXPECT_EQ(get<Array<Real32>>(prop(mike, "arrayReal32")), (Array<Real32>{4, 128, 240}));
    EXPECT_EQ(get<Array<Real64>>(prop(mike, "arrayReal64")), (Array<Real64>{4, 128, 240}));
    EXPECT_EQ(get<Array<String>>(prop(mike, "arrayString")),
              (Array<String>{"First", "Second", "Third"}));
    EXPECT_EQ(get<Array<CIMDateTime>>(prop(mike, "arrayDateTime")).size(), 3u);
    // Text forms as the SMI-S layer reads them.
    EXPECT_EQ(prop(mike, "arrayBool").toString(), "TRUE,FALSE,TRUE");
    EXPECT_EQ(prop(mike, "arraySint8").toString(), "4,126,-126");
    EXPECT_EQ(prop(mike, "scalReal64").toString(), "100");
    EXPECT_EQ(prop(mike, "scalSint64").toString(), "");
    EXPECT_EQ(get<String>(prop(r.instances[1], "scalString")), "a<b&\"c\"");
}

TEST_F(WireSamples, EnumerateInstancesWithPaths) {
    for (const char* f : {"02-EnumerateInstances", "02-EnumerateInstances-wbemcli"}) {
        xml::Response r = response(f);
        ASSERT_EQ(r.instances.size(), 3u) << f;
        for (const auto& inst : r.instances) {
            EXPECT_EQ(inst.getClassName().getString(), "PEER_StorageVolume");
            EXPECT_EQ(inst.getPropertyCount(), 57u);
            EXPECT_EQ(key(inst.getPath(), "DeviceID"), get<String>(prop(inst, "DeviceID")));
        }
        EXPECT_EQ(get<String>(prop(r.instances[0], "ElementName")), "vol0");
        EXPECT_EQ(get<Uint64>(prop(r.instances[0], "NumberOfBlocks")), 2097152u);
    }
    xml::Response pl = response("03-EnumerateInstances-propertylist");
    ASSERT_EQ(pl.instances.size(), 3u);
    const CIMInstance& q = pl.instances[1];
    EXPECT_EQ(q.getPropertyCount(), 4u);
    EXPECT_EQ(get<String>(prop(q, "DeviceID")), kVolQ);
    EXPECT_EQ(get<String>(prop(q, "ElementName")), "vol <one> & \"two\"");
    EXPECT_EQ(get<Uint64>(prop(q, "NumberOfBlocks")), 18446744073709551615ull);
    EXPECT_EQ(get<Array<Uint16>>(prop(q, "OperationalStatus")), (Array<Uint16>{2, 32768}));
    EXPECT_EQ(prop(q, "OperationalStatus").toString(), "2,32768");
}

TEST_F(WireSamples, GetInstanceWithAndWithoutQualifiers) {
    for (const char* f :
         {"04-GetInstance", "04-GetInstance-wbemcli", "05-GetInstance-qualifiers-classorigin"}) {
        xml::Response r = response(f);
        ASSERT_EQ(r.instances.size(), 1u) << f;
        const CIMInstance& v = r.instances[0];
        EXPECT_EQ(v.getPropertyCount(), 57u) << f;
        EXPECT_EQ(get<String>(prop(v, "Name")), "600A0B80002A1B3C0000");
        EXPECT_EQ(get<Uint64>(prop(v, "BlockSize")), 512u);
        EXPECT_FALSE(get<Boolean>(prop(v, "Primordial")));
        EXPECT_EQ(prop(v, "Primordial").toString(), "FALSE");
        EXPECT_EQ(get<Uint16>(prop(v, "EnabledState")), 5);
    }
    xml::Response q = response("05-GetInstance-qualifiers-classorigin");
    const CIMInstance& v = q.instances[0];
    ASSERT_EQ(v.getQualifiers().size(), 2u);
    EXPECT_EQ(get<String>(v.getQualifiers()[0].getValue()), "Peer test storage volume");
    EXPECT_TRUE(v.getQualifiers()[0].getPropagated());
    const CIMProperty& id = v.getProperty(v.findProperty("InstanceID"));
    EXPECT_EQ(id.getClassOrigin().getString(), "CIM_ManagedElement");
    EXPECT_TRUE(id.getPropagated());
    EXPECT_TRUE(id.getValue().isNull());

    xml::Response p = response("05-GetInstance-qualifiers-classorigin-provider");
    ASSERT_EQ(p.instances.size(), 1u);
    EXPECT_EQ(get<String>(prop(p.instances[0], "Id")), "Mike");

    xml::Response a = response("04-GetInstance-association");
    ASSERT_EQ(a.instances.size(), 1u);
    CIMObjectPath part = get<CIMObjectPath>(prop(a.instances[0], "PartComponent"));
    EXPECT_EQ(key(part, "DeviceID"), kVolQ);
    EXPECT_EQ(a.instances[0].getProperty(a.instances[0].findProperty("PartComponent")).getType(),
              CIMTYPE_REFERENCE);
}

TEST_F(WireSamples, AssociatorsAndReferences) {
    for (const char* f : {"06-AssociatorNames", "06-AssociatorNames-wbemcli"}) {
        xml::Response r = response(f);
        ASSERT_EQ(r.instanceNames.size(), 1u) << f;
        EXPECT_EQ(r.instanceNames[0].toString(),
                  "//vm/root/cimv2:PEER_ComputerSystem.CreationClassName=\"PEER_ComputerSystem\","
                  "Name=\"SYS-A\"");
    }
    xml::Response pn = response("06-AssociatorNames-provider");
    ASSERT_EQ(pn.instanceNames.size(), 1u);
    EXPECT_EQ(pn.instanceNames[0].toString(),
              "//vm/test/TestProvider:Test_CLITestProviderClass.Id=\"Mike\"");

    for (const char* f : {"07-Associators", "07-Associators-wbemcli"}) {
        xml::Response r = response(f);
        ASSERT_EQ(r.instances.size(), 1u) << f;
        EXPECT_EQ(r.instances[0].getPath().getHost(), "vm");
        EXPECT_EQ(key(r.instances[0].getPath(), "Name"), "SYS-A");
        EXPECT_EQ(get<String>(prop(r.instances[0], "Name")), "SYS-A");
    }
    xml::Response refs = response("09-References");
    ASSERT_EQ(refs.instances.size(), 2u);
    CIMObjectPath part = get<CIMObjectPath>(prop(refs.instances[1], "PartComponent"));
    EXPECT_EQ(key(part, "DeviceID"), kVolQ);
    EXPECT_EQ(CIMObjectPath::parse(key(refs.instances[1].getPath(), "PartComponent")), part);
    xml::Response pr = response("09-References-provider");
    ASSERT_EQ(pr.instances.size(), 1u);
    EXPECT_EQ(pr.instances[0].getClassName().getString(), "Test_CLITestProviderLinkClass");
}

TEST_F(WireSamples, ModifyDeleteCreate) {
    for (const char* f :
         {"10-ModifyInstance-propertylist", "10-ModifyInstance-wbemcli", "11-DeleteInstance"}) {
        xml::Response r = response(f);
        EXPECT_FALSE(r.isError()) << f;
        EXPECT_FALSE(r.hasReturnValue) << f;
        EXPECT_TRUE(r.instances.empty() && r.instanceNames.empty()) << f;
    }
    xml::Response c = response("19-CreateInstance");
    ASSERT_EQ(c.instanceNames.size(), 1u);
    EXPECT_EQ(key(c.instanceNames[0], "DeviceID"), "VOL-NEW");
}

TEST_F(WireSamples, InvokeMethodOutputs) {
    for (const char* f : {"12-InvokeMethod", "12-InvokeMethod-wbemcli"}) {
        xml::Response r = response(f);
        EXPECT_FALSE(r.intrinsic);
        EXPECT_EQ(r.methodName, "TestJobMethod");
        EXPECT_EQ(r.returnValue.getType(), CIMTYPE_UINT32);
        EXPECT_EQ(get<Uint32>(r.returnValue), 4096u);
        ASSERT_EQ(r.outParameters.size(), 6u);
        const CIMParamValue& job = r.outParameters[0];
        EXPECT_EQ(job.getParameterName(), "Job");
        EXPECT_EQ(job.getValue().getType(), CIMTYPE_REFERENCE);
        CIMObjectPath jp = get<CIMObjectPath>(job.getValue());
        EXPECT_EQ(jp.getNameSpace().getString(), "root/cimv2");
        EXPECT_EQ(key(jp, "InstanceID"), "PEER:JOB:0001");
        CIMObjectPath te = get<CIMObjectPath>(r.outParameters[1].getValue());
        EXPECT_EQ(te.getHost(), "127.0.0.1");
        EXPECT_EQ(key(te, "SystemName"), "SYS \"A\\1\"");
        EXPECT_EQ(CIMObjectPath::parse(te.toString()), te);
        Array<CIMObjectPath> tes = get<Array<CIMObjectPath>>(r.outParameters[2].getValue());
        ASSERT_EQ(tes.size(), 2u);
        EXPECT_EQ(key(tes[1], "DeviceID"), "VOL-2");
        EXPECT_EQ(get<Uint64>(r.outParameters[3].getValue()), 18446744073709551615ull);
        EXPECT_EQ(r.outParameters[4].getValue().getType(), CIMTYPE_UINT16);
        EXPECT_TRUE(r.outParameters[4].getValue().isArray());
        EXPECT_EQ(r.outParameters[5].getParameterName(), "Received");
    }
    xml::Response rp = response("12-InvokeMethod-refparams-provider");
    EXPECT_EQ(get<Uint32>(rp.returnValue), 0u);
    ASSERT_EQ(rp.outParameters.size(), 2u);
    EXPECT_EQ(key(get<CIMObjectPath>(rp.outParameters[0].getValue()), "Id"), "Fred");
    EXPECT_EQ(get<Array<CIMObjectPath>>(rp.outParameters[1].getValue()).size(), 2u);
}

TEST_F(WireSamples, ErrorsInBodyAndInTrailers) {
    struct Case {
        const char* file;
        CIMStatusCode code;
        const char* description;
    } bodyErrors[] = {
        {"14-GetInstance-error-NOT_FOUND-wbemcli", CIM_ERR_NOT_FOUND, nullptr},
        {"15-EnumerateInstanceNames-error-INVALID_CLASS-wbemcli", CIM_ERR_INVALID_CLASS,
         "CIM_ERR_INVALID_CLASS: PEER_NoSuchClass"},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE-wbemcli", CIM_ERR_INVALID_NAMESPACE,
         "CIM_ERR_INVALID_NAMESPACE: no/such"},
        {"18-FrobnicateInstances-error-NOT_SUPPORTED-handwritten", CIM_ERR_NOT_SUPPORTED,
         "CIM_ERR_NOT_SUPPORTED: Unrecognized intrinsic method: FrobnicateInstances"},
    };
    for (const auto& c : bodyErrors) {
        xml::Response r = response(c.file);
        EXPECT_TRUE(r.isError()) << c.file;
        EXPECT_EQ(r.errorCode, c.code) << c.file;
        if (c.description) {
            EXPECT_EQ(r.errorDescription, c.description);
        }
    }
    struct Trailer {
        const char* file;
        const char* code;
        const char* description;
    } trailerErrors[] = {
        {"12-InvokeMethod-error-FAILED", "1", "CIM_ERR_FAILED: PEER simulated failure"},
        {"14-GetInstance-error-NOT_FOUND-provider", "6", "CIM_ERR_NOT_FOUND"},
        {"15-EnumerateInstanceNames-error-INVALID_CLASS", "5",
         "CIM_ERR_INVALID_CLASS: PEER_NoSuchClass"},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE", "3",
         "CIM_ERR_INVALID_NAMESPACE: no/such"},
    };
    for (const auto& t : trailerErrors) {
        HttpMessage m = sample(std::string(t.file) + ".response.http");
        EXPECT_EQ(field(m.trailers, "cimstatuscode"), t.code);
        EXPECT_EQ(xml::percentDecode(field(m.trailers, "cimstatuscodedescription")), t.description);
        xml::Response r = xml::decodeResponse(m.body);
        EXPECT_FALSE(r.isError());
    }
    HttpMessage nf = sample("14-GetInstance-error-NOT_FOUND.response.http");
    EXPECT_EQ(
        xml::percentDecode(field(nf.trailers, "cimstatuscodedescription")),
        "CIM_ERR_NOT_FOUND: " + request("14-GetInstance-error-NOT_FOUND").instanceName->toString());
}

TEST_F(WireSamples, GetClassWithMethodsAndReferenceParameters) {
    xml::Response r = response("20-GetClass");
    ASSERT_TRUE(r.cimClass);
    const CIMClass& c = *r.cimClass;
    EXPECT_EQ(c.getClassName().getString(), "PEER_TestService");
    EXPECT_EQ(c.getSuperClassName().getString(), "CIM_Service");
    EXPECT_EQ(c.getPropertyCount(), 28u);
    EXPECT_EQ(c.getMethodCount(), 5u);
    Uint32 mi = c.findMethod("TestJobMethod");
    ASSERT_NE(mi, PEG_NOT_FOUND);
    const CIMMethod& m = c.getMethod(mi);
    EXPECT_EQ(m.getType(), CIMTYPE_UINT32);
    const CIMParameter& src = m.getParameter(m.findParameter("SourceElement"));
    EXPECT_EQ(src.getType(), CIMTYPE_REFERENCE);
    EXPECT_FALSE(src.isArray());
    EXPECT_EQ(src.getReferenceClassName().getString(), "CIM_ManagedElement");
    const CIMParameter& members = m.getParameter(m.findParameter("Members"));
    EXPECT_EQ(members.getType(), CIMTYPE_REFERENCE);
    EXPECT_TRUE(members.isArray());
    const CIMParameter& flags = m.getParameter(m.findParameter("Flags"));
    EXPECT_EQ(flags.getType(), CIMTYPE_UINT16);
    EXPECT_TRUE(flags.isArray());
    const CIMProperty& os = c.getProperty(c.findProperty("OperationalStatus"));
    EXPECT_TRUE(os.isArray());
    Uint32 vm = os.findQualifier("ValueMap");
    ASSERT_NE(vm, PEG_NOT_FOUND);
    EXPECT_EQ(get<Array<String>>(os.getQualifiers()[vm].getValue()).size(), 22u);
}

TEST_F(WireSamples, EveryRequestDecodesAsItsHeadersSay) {
    int decoded = 0;
    for (const auto& f : cimtest::wireFiles(".request.http")) {
        HttpMessage m = sample(f);
        if (f.find("not-well-formed") != std::string::npos) {
            try {
                xml::decodeRequest(m.body);
                ADD_FAILURE() << f;
            } catch (const xml::RequestException& e) {
                EXPECT_EQ(e.cimError(), "request-not-well-formed");
                EXPECT_EQ(e.httpStatus(), 400);
            }
            continue;
        }
        if (f.find("unsupported-dtd") != std::string::npos) {
            try {
                xml::decodeRequest(m.body);
                ADD_FAILURE() << f;
            } catch (const xml::RequestException& e) {
                EXPECT_EQ(e.cimError(), "unsupported-dtd-version");
                EXPECT_EQ(e.httpStatus(), 501);
            }
            continue;
        }
        xml::Request r;
        ASSERT_NO_THROW(r = xml::decodeRequest(m.body)) << f;
        if (f.find("header-mismatch") != std::string::npos)
            EXPECT_NE(xml::cimMethodHeader(r), field(m.headers, "cimmethod")) << f;
        else
            EXPECT_EQ(xml::cimMethodHeader(r), field(m.headers, "cimmethod")) << f;
        EXPECT_TRUE(xml::cimObjectHeaderMatches(r, field(m.headers, "cimobject"))) << f;
        EXPECT_TRUE(r.unknownParameters.empty()) << f;
        // Our encoder carries the same request: decode(encode(r)) gives it back.
        xml::Request again = xml::decodeRequest(xml::encodeRequest(r));
        EXPECT_EQ(again.methodName, r.methodName);
        EXPECT_EQ(again.nameSpace, r.nameSpace) << f;
        EXPECT_EQ(again.instanceName, r.instanceName) << f;
        EXPECT_EQ(again.objectName, r.objectName) << f;
        EXPECT_EQ(again.className, r.className) << f;
        EXPECT_EQ(again.localOnly, r.localOnly) << f;
        EXPECT_EQ(again.deepInheritance, r.deepInheritance) << f;
        EXPECT_EQ(again.includeQualifiers, r.includeQualifiers) << f;
        EXPECT_EQ(again.includeClassOrigin, r.includeClassOrigin) << f;
        EXPECT_EQ(again.propertyList, r.propertyList) << f;
        EXPECT_EQ(again.assocClass, r.assocClass) << f;
        EXPECT_EQ(again.resultClass, r.resultClass) << f;
        EXPECT_EQ(again.target, r.target) << f;
        ASSERT_EQ(again.inParameters.size(), r.inParameters.size()) << f;
        for (std::size_t i = 0; i < r.inParameters.size(); ++i)
            EXPECT_TRUE(again.inParameters[i].identical(r.inParameters[i])) << f;
        if (r.modifiedInstance) {
            EXPECT_TRUE(again.modifiedInstance->identical(*r.modifiedInstance));
        }
        if (r.newInstance) {
            EXPECT_TRUE(again.newInstance->identical(*r.newInstance));
        }
        ++decoded;
    }
    EXPECT_GE(decoded, 45);
}

TEST_F(WireSamples, IntrinsicRequestParameters) {
    xml::Request pl = request("03-EnumerateInstances-propertylist");
    EXPECT_EQ(pl.methodName, "EnumerateInstances");
    EXPECT_EQ(pl.nameSpace.getString(), "root/cimv2");
    EXPECT_EQ(pl.className->getString(), "CIM_StorageVolume");
    EXPECT_EQ(pl.localOnly, false);
    EXPECT_FALSE(pl.deepInheritance);  // not sent: the server's default applies
    ASSERT_FALSE(pl.propertyList.isNull());
    ASSERT_EQ(pl.propertyList.size(), 4u);
    EXPECT_EQ(pl.propertyList[3].getString(), "OperationalStatus");
    EXPECT_TRUE(request("02-EnumerateInstances").propertyList.isNull());

    xml::Request wb = request("02-EnumerateInstances-wbemcli");
    EXPECT_EQ(wb.deepInheritance, true);
    EXPECT_EQ(wb.includeQualifiers, false);
    EXPECT_EQ(wb.includeClassOrigin, true);

    xml::Request gi = request("04-GetInstance-association");
    ASSERT_TRUE(gi.instanceName);
    const CIMKeyBinding* part = gi.instanceName->findKeyBinding("PartComponent");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(key(CIMObjectPath::parse(part->getValue()), "DeviceID"), kVolQ);

    xml::Request an = request("06-AssociatorNames");
    EXPECT_EQ(key(*an.objectName, "DeviceID"), "600A0B80002A1B3C0000");
    EXPECT_EQ(an.assocClass->getString(), "PEER_SystemDevice");
    EXPECT_EQ(an.resultClass->getString(), "PEER_ComputerSystem");
    EXPECT_FALSE(an.role);

    xml::Request mi = request("10-ModifyInstance-propertylist");
    ASSERT_TRUE(mi.modifiedInstance);
    EXPECT_EQ(key(mi.modifiedInstance->getPath(), "DeviceID"), "600A0B80002A1B3C0000");
    EXPECT_EQ(get<String>(prop(*mi.modifiedInstance, "ElementName")), "vol0 renamed");
    EXPECT_EQ(mi.includeQualifiers, false);
    ASSERT_EQ(mi.propertyList.size(), 1u);
    EXPECT_EQ(mi.propertyList[0].getString(), "ElementName");
    EXPECT_EQ(request("10-ModifyInstance-wbemcli").modifiedInstance->getPropertyCount(), 57u);

    xml::Request ci = request("19-CreateInstance");
    ASSERT_TRUE(ci.newInstance);
    EXPECT_EQ(get<Array<Uint16>>(prop(*ci.newInstance, "OperationalStatus")),
              (Array<Uint16>{2, 32768}));
    EXPECT_EQ(get<String>(prop(*ci.newInstance, "DeviceID")), "VOL-NEW");

    xml::Request ns = request("16-EnumerateInstanceNames-error-INVALID_NAMESPACE");
    EXPECT_EQ(ns.nameSpace.getString(), "no/such");
}

TEST_F(WireSamples, ExtrinsicRequestParameters) {
    xml::Request r = request("12-InvokeMethod");
    EXPECT_FALSE(r.intrinsic);
    EXPECT_EQ(r.methodName, "TestJobMethod");
    EXPECT_EQ(r.nameSpace.getString(), "root/cimv2");
    EXPECT_EQ(key(r.target, "Name"), "PeerService");
    ASSERT_EQ(r.inParameters.size(), 8u);
    EXPECT_EQ(get<String>(r.inParameters[0].getValue()), "snap 1");
    EXPECT_EQ(get<Uint16>(r.inParameters[1].getValue()), 3);
    EXPECT_EQ(get<Uint64>(r.inParameters[2].getValue()), 1099511627776ull);
    EXPECT_TRUE(get<Boolean>(r.inParameters[3].getValue()));
    EXPECT_EQ(key(get<CIMObjectPath>(r.inParameters[4].getValue()), "DeviceID"),
              "600A0B80002A1B3C0000");
    EXPECT_EQ(get<Array<CIMObjectPath>>(r.inParameters[5].getValue()).size(), 2u);
    EXPECT_TRUE(r.inParameters[6].getValue().isNull());
    EXPECT_EQ(r.inParameters[6].getValue().getType(), CIMTYPE_STRING);
    EXPECT_EQ(get<Array<Uint16>>(r.inParameters[7].getValue()), (Array<Uint16>{1, 2}));
    for (const auto& p : r.inParameters) EXPECT_TRUE(p.isTyped());

    // wbemcli sends untyped values; the server gives them their declared types.
    xml::Request w = request("12-InvokeMethod-wbemcli");
    ASSERT_EQ(w.inParameters.size(), 5u);
    for (const auto& p : w.inParameters) EXPECT_FALSE(p.isTyped()) << p.getParameterName();
    EXPECT_EQ(get<Uint16>(w.inParameters[1].getValue().convertTo(CIMTYPE_UINT16)), 4);
    EXPECT_EQ(get<Uint64>(w.inParameters[2].getValue().convertTo(CIMTYPE_UINT64)), 42u);
    EXPECT_FALSE(get<Boolean>(w.inParameters[3].getValue().convertTo(CIMTYPE_BOOLEAN)));
    EXPECT_EQ(get<Array<Uint16>>(w.inParameters[4].getValue().convertTo(CIMTYPE_UINT16)),
              (Array<Uint16>{5, 6, 7}));

    xml::Request rp = request("12-InvokeMethod-refparams-provider");
    EXPECT_EQ(rp.nameSpace.getString(), "test/TestProvider");
    ASSERT_EQ(rp.inParameters.size(), 2u);
    EXPECT_EQ(rp.inParameters[1].getValue().getArraySize(), 2u);
}
