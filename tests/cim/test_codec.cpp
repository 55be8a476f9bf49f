// CIM-XML codec: encode/decode round trips in both directions and refused input.
#include <gtest/gtest.h>

#include <thread>

#include <cim/CIM.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

using namespace cim;
using namespace cim::xml;

namespace {

CIMObjectPath volumePath(const std::string& id) {
    return CIMObjectPath(
        "", "root/LsiArray13", "LSISSI_StorageVolume",
        {CIMKeyBinding("CreationClassName", "LSISSI_StorageVolume", CIMKeyBinding::STRING),
         CIMKeyBinding("DeviceID", id, CIMKeyBinding::STRING),
         CIMKeyBinding("SystemName", "SYS-1", CIMKeyBinding::STRING)});
}

CIMInstance volume(const std::string& id) {
    CIMInstance v("LSISSI_StorageVolume");
    v.addProperty(CIMProperty("DeviceID", CIMValue(id)));
    v.addProperty(CIMProperty("ElementName", CIMValue(std::string("vol <1> & \"x\"\t'y'\r\n"))));
    v.addProperty(CIMProperty("NumberOfBlocks", CIMValue(Uint64(2097152))));
    v.addProperty(CIMProperty("OperationalStatus", CIMValue(Array<Uint16>{2, 32768})));
    v.addProperty(CIMProperty("Primordial", CIMValue(false)));
    v.addProperty(CIMProperty("Caption", CIMValue(CIMTYPE_STRING, false)));
    v.addProperty(CIMProperty("Names", CIMValue(CIMTYPE_STRING, true)));
    v.addProperty(CIMProperty("Created", CIMValue(CIMDateTime("20240101120000.000000+060"))));
    v.addProperty(CIMProperty("Pool",
                              CIMValue(CIMObjectPath::parse("root/x:Pool.InstanceID=\"P1\"")), 0,
                              "CIM_StoragePool", "LSISSI_StorageVolume", true));
    v.addProperty(CIMProperty("Unicode", CIMValue(std::string("Grüße ✓"))));
    v.setPath(volumePath(id));
    return v;
}

std::string body(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><CIM CIMVERSION=\"2.0\" "
           "DTDVERSION=\"2.0\"><MESSAGE ID=\"9\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP>" +
           inner + "</SIMPLERSP></MESSAGE></CIM>";
}

std::string imr(const std::string& inner) {
    return body("<IMETHODRESPONSE NAME=\"GetInstance\"><IRETURNVALUE>" + inner +
                "</IRETURNVALUE></IMETHODRESPONSE>");
}

void expectParseError(const std::string& xml, const std::string& needle) {
    try {
        decodeResponse(xml);
        ADD_FAILURE() << "decoded: " << xml;
    } catch (const ParseException& e) {
        EXPECT_NE(std::string(e.what()).find(needle), std::string::npos)
            << "message \"" << e.what() << "\" lacks \"" << needle << "\"";
    }
}

}  // namespace

TEST(CodecRequests, EveryIntrinsicOperationRoundTrips) {
    std::vector<Request> reqs;
    Request gi;
    gi.methodName = kGetInstance;
    gi.nameSpace = "root/LsiArray13";
    gi.instanceName = volumePath("VOL \"Q\" \\ 1");
    gi.localOnly = false;
    gi.includeQualifiers = true;
    gi.includeClassOrigin = true;
    gi.propertyList.set({"JobState", "PercentComplete"});
    reqs.push_back(gi);
    Request ei;
    ei.methodName = kEnumerateInstances;
    ei.nameSpace = "root/LsiArray13";
    ei.className = CIMName("CIM_StorageVolume");
    ei.deepInheritance = true;
    ei.propertyList.set({});  // empty, not null
    reqs.push_back(ei);
    Request an;
    an.methodName = kAssociatorNames;
    an.nameSpace = "interop";
    an.objectName = volumePath("v1");
    an.assocClass = CIMName("CIM_HostedService");
    an.resultClass = CIMName("CIM_ReplicationService");
    an.role = "Antecedent";
    an.resultRole = "Dependent";
    reqs.push_back(an);
    Request rn = an;
    rn.methodName = kReferenceNames;
    rn.objectName = CIMObjectPath::parse("CIM_ComputerSystem");  // class-level query
    reqs.push_back(rn);
    Request mi;
    mi.methodName = kModifyInstance;
    mi.nameSpace = "root/LsiArray13";
    mi.modifiedInstance = volume("v2");
    mi.includeQualifiers = true;
    mi.propertyList.set({"Secret"});
    reqs.push_back(mi);
    Request ci;
    ci.methodName = kCreateInstance;
    ci.nameSpace = "root/LsiArray13";
    ci.newInstance = volume("v3");
    reqs.push_back(ci);
    Request di;
    di.methodName = kDeleteInstance;
    di.nameSpace = "root/LsiArray13";
    di.instanceName = volumePath("v4");
    reqs.push_back(di);

    for (const Request& r : reqs) {
        Request back = decodeRequest(encodeRequest(r));
        EXPECT_TRUE(back.intrinsic);
        EXPECT_EQ(back.messageId, r.messageId);
        EXPECT_EQ(back.methodName, r.methodName);
        EXPECT_EQ(back.nameSpace, r.nameSpace);
        // Paths inside the request body carry no namespace.
        if (r.instanceName) {
            CIMObjectPath want = *r.instanceName;
            want.setNameSpace(CIMNamespaceName());
            EXPECT_EQ(back.instanceName, want);
        }
        if (r.objectName) {
            CIMObjectPath want = *r.objectName;
            want.setNameSpace(CIMNamespaceName());
            EXPECT_EQ(back.objectName, want);
        }
        EXPECT_EQ(back.className, r.className);
        EXPECT_EQ(back.localOnly, r.localOnly);
        EXPECT_EQ(back.deepInheritance, r.deepInheritance);
        EXPECT_EQ(back.includeQualifiers, r.includeQualifiers);
        EXPECT_EQ(back.includeClassOrigin, r.includeClassOrigin);
        EXPECT_EQ(back.propertyList, r.propertyList);
        EXPECT_EQ(back.assocClass, r.assocClass);
        EXPECT_EQ(back.resultClass, r.resultClass);
        EXPECT_EQ(back.role, r.role);
        EXPECT_EQ(back.resultRole, r.resultRole);
        EXPECT_EQ(back.modifiedInstance.has_value(), r.modifiedInstance.has_value());
        if (r.modifiedInstance) {
            CIMInstance want = *r.modifiedInstance;
            CIMObjectPath p = want.getPath();
            p.setNameSpace(CIMNamespaceName());
            want.setPath(p);
            EXPECT_TRUE(back.modifiedInstance->identical(want));
        }
        if (r.newInstance) {
            CIMInstance want = *r.newInstance;
            want.setPath(CIMObjectPath());
            EXPECT_TRUE(back.newInstance->identical(want));
        }
    }
}

TEST(CodecRequests, ExtrinsicCallWithEveryParameterType) {
    Request r;
    r.intrinsic = false;
    r.messageId = "77";
    r.methodName = "CreateSynchronizationAspect";
    r.target = CIMObjectPath::parse(
        "root/LsiArray13:LSISSI_ReplicationService.CreationClassName=\"LSISSI_ReplicationService\","
        "Name=\"RS\",SystemCreationClassName=\"LSISSI_StorageSystem\",SystemName=\"SYS-1\"");
    CIMInstance embedded("CIM_SettingData");
    embedded.addProperty(CIMProperty("ElementName", CIMValue(std::string("a<b>"))));
    std::vector<CIMValue> values = {
        CIMValue(true),
        CIMValue(Uint8(200)),
        CIMValue(Sint8(-5)),
        CIMValue(Uint16(7)),
        CIMValue(Sint16(-7)),
        CIMValue(Uint32(4096)),
        CIMValue(Sint32(-1)),
        CIMValue(Uint64(18446744073709551615ull)),
        CIMValue(Sint64(-42)),
        CIMValue(Real32(0.25f)),
        CIMValue(Real64(1e300)),
        CIMValue(Char16(u'ß')),
        CIMValue(std::string("")),
        CIMValue(CIMDateTime("00000010000000.000000:000")),
        CIMValue(volumePath("src")),
        CIMValue(Array<CIMObjectPath>{volumePath("a"), volumePath("b")}),
        CIMValue(Array<Uint16>{1, 2, 3}),
        CIMValue(Array<String>{"x", "", "z"}),
        CIMValue(Array<Boolean>{true}),
        CIMValue(Array<Real64>{-0.5}),
        CIMValue(Array<CIMDateTime>{CIMDateTime("20240101000000.000000+000")}),
        CIMValue(CIMTYPE_UINT16, false),
        CIMValue(CIMTYPE_REFERENCE, true),
        CIMValue(embedded)};
    for (std::size_t i = 0; i < values.size(); ++i)
        r.inParameters.emplace_back("P" + std::to_string(i), values[i]);
    r.inParameters.emplace_back("Untyped", CIMValue(std::string("42")), false);

    Request back = decodeRequest(encodeRequest(r));
    EXPECT_FALSE(back.intrinsic);
    EXPECT_EQ(back.messageId, "77");
    EXPECT_EQ(back.methodName, r.methodName);
    EXPECT_EQ(back.target, r.target);
    EXPECT_EQ(back.nameSpace.getString(), "root/LsiArray13");
    ASSERT_EQ(back.inParameters.size(), r.inParameters.size());
    // A null parameter carries its type but not whether it is an array.
    r.inParameters[22].setValue(CIMValue(CIMTYPE_REFERENCE, false));
    for (std::size_t i = 0; i < r.inParameters.size(); ++i) {
        EXPECT_TRUE(back.inParameters[i].identical(r.inParameters[i]))
            << r.inParameters[i].getParameterName() << ": "
            << r.inParameters[i].getValue().toString() << " vs "
            << back.inParameters[i].getValue().toString();
    }
    // A call on a class (no keys) travels as LOCALCLASSPATH.
    Request cls = r;
    cls.target = CIMObjectPath::parse("root/x:LSISSI_StorageConfigurationService");
    cls.inParameters.clear();
    std::string text = encodeRequest(cls);
    EXPECT_NE(text.find("<LOCALCLASSPATH>"), std::string::npos);
    EXPECT_EQ(decodeRequest(text).target, cls.target);
}

TEST(CodecResponses, EveryResultFormRoundTrips) {
    CIMInstance v1 = volume("v1"), v2 = volume("VOL \"Q\" \\ 1");
    struct Case {
        const char* method;
        bool names;
        bool instances;
    } cases[] = {{kEnumerateInstanceNames, true, false},
                 {kAssociatorNames, true, false},
                 {kReferenceNames, true, false},
                 {kCreateInstance, true, false},
                 {kGetInstance, false, true},
                 {kEnumerateInstances, false, true},
                 {kAssociators, false, true},
                 {kReferences, false, true}};
    for (const auto& c : cases) {
        Response r;
        r.methodName = c.method;
        r.hasReturnValue = true;
        CIMObjectPath p1 = v1.getPath(), p2 = v2.getPath();
        p1.setHost("array.example");
        p2.setHost("array.example");
        if (c.names) r.instanceNames = {p1, p2};
        if (c.instances) {
            CIMInstance a = v1, b = v2;
            a.setPath(p1);
            b.setPath(p2);
            r.instances = {a, b};
            if (std::string(c.method) == kGetInstance) r.instances.pop_back();
        }
        std::string text = encodeResponse(r);
        Response back = decodeResponse(text);
        EXPECT_EQ(back.methodName, c.method);
        EXPECT_TRUE(back.hasReturnValue);
        ASSERT_EQ(back.instanceNames.size(), r.instanceNames.size()) << c.method;
        ASSERT_EQ(back.instances.size(), r.instances.size()) << c.method;
        bool fullPaths =
            std::string(c.method) == kAssociatorNames || std::string(c.method) == kReferenceNames ||
            std::string(c.method) == kAssociators || std::string(c.method) == kReferences;
        for (std::size_t i = 0; i < r.instanceNames.size(); ++i) {
            CIMObjectPath want = r.instanceNames[i];
            if (!fullPaths) {
                want.setHost("");
                want.setNameSpace(CIMNamespaceName());
            }
            EXPECT_EQ(back.instanceNames[i], want) << c.method;
        }
        for (std::size_t i = 0; i < r.instances.size(); ++i) {
            CIMInstance want = r.instances[i];
            CIMObjectPath p = want.getPath();
            if (std::string(c.method) == kGetInstance) {
                p = CIMObjectPath();
            } else if (!fullPaths) {
                p.setHost("");
                p.setNameSpace(CIMNamespaceName());
            }
            want.setPath(p);
            EXPECT_TRUE(back.instances[i].identical(want)) << c.method;
            EXPECT_EQ(back.instances[i].getProperty(1).getValue().toString(),
                      "vol <1> & \"x\"\t'y'\r\n");
        }
    }
}

// The encoder looks at texts sixteen bytes at a time: each character that needs care (and
// some that must pass as they are) at the edges of those blocks, in a key value and a
// property value, comes back as it was.
TEST(CodecResponses, TextsSurviveWhereverTheirSpecialCharactersFall) {
    const std::string specials[] = {"&",    "<",    ">",    "\"",   "'",        "\t",
                                    "\r\n", "\x01", "\x1f", "\x7f", "\xc3\xa9", "\xe2\x9c\x93"};
    const std::size_t positions[] = {0, 1, 14, 15, 16, 17, 31, 32, 33, 47, 48};
    for (const std::string& special : specials) {
        for (std::size_t at : positions) {
            std::string text(48, 'a');
            text.insert(at, special);
            CIMInstance v("LSISSI_StorageVolume");
            v.addProperty(CIMProperty("ElementName", CIMValue(text)));
            v.setPath(volumePath(text));
            Response r;
            r.methodName = kEnumerateInstances;
            r.hasReturnValue = true;
            r.instances = {v};
            Response back = decodeResponse(encodeResponse(r));
            ASSERT_EQ(back.instances.size(), 1u);
            const std::string row = "byte " +
                                    std::to_string(static_cast<unsigned char>(special[0])) +
                                    " at " + std::to_string(at);
            EXPECT_EQ(back.instances[0].getProperty(0).getValue().toString(), text) << row;
            EXPECT_EQ(back.instances[0].getPath().findKeyBinding("DeviceID")->getValue(), text)
                << row;
        }
    }
}

TEST(CodecResponses, ErrorsEmptyResultsAndExtrinsicOutputs) {
    Response err;
    err.methodName = kGetInstance;
    err.errorCode = CIM_ERR_NOT_FOUND;
    err.errorDescription = "no \"such\" <thing>";
    Response e2 = decodeResponse(encodeResponse(err));
    EXPECT_TRUE(e2.isError());
    EXPECT_EQ(e2.errorCode, CIM_ERR_NOT_FOUND);
    EXPECT_EQ(e2.errorDescription, err.errorDescription);

    Response empty;
    empty.methodName = kEnumerateInstanceNames;
    empty.hasReturnValue = true;
    Response e3 = decodeResponse(encodeResponse(empty));
    EXPECT_TRUE(e3.hasReturnValue);
    EXPECT_TRUE(e3.instanceNames.empty());
    // An instance without a path goes out as a plain INSTANCE whatever the method.
    Response nopath;
    nopath.methodName = kEnumerateInstances;
    nopath.instances.push_back(CIMInstance("X"));
    Response np = decodeResponse(encodeResponse(nopath));
    ASSERT_EQ(np.instances.size(), 1u);
    EXPECT_EQ(np.instances[0].getClassName().getString(), "X");

    Response del;
    del.methodName = kDeleteInstance;
    EXPECT_FALSE(decodeResponse(encodeResponse(del)).hasReturnValue);

    Response m;
    m.intrinsic = false;
    m.methodName = "ModifySettingsDefineState";
    m.returnValue = CIMValue(Uint32(4096));
    m.outParameters.emplace_back(
        "Job", CIMValue(CIMObjectPath::parse("root/x:LSISSI_Job.InstanceID=\"J:1\"")));
    m.outParameters.emplace_back("ResultingState", CIMValue(CIMTYPE_REFERENCE, false));
    m.outParameters.emplace_back("Codes", CIMValue(Array<Sint32>{-1, 0, 1}));
    Response back = decodeResponse(encodeResponse(m));
    EXPECT_FALSE(back.intrinsic);
    EXPECT_EQ(back.returnValue, CIMValue(Uint32(4096)));
    ASSERT_EQ(back.outParameters.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(back.outParameters[i].identical(m.outParameters[i])) << i;
}

TEST(CodecResponses, GetClassRoundTrips) {
    CIMClass c("LSISSI_ReplicationService", "CIM_ReplicationService");
    c.addQualifier(CIMQualifier("Description", CIMValue(std::string("replication"))));
    c.addProperty(CIMProperty("Name", CIMValue(CIMTYPE_STRING, false)));
    CIMMethod m("CreateElementReplica", CIMTYPE_UINT32);
    m.addParameter(CIMParameter("SyncType", CIMTYPE_UINT16));
    m.addParameter(
        CIMParameter("SourceElement", CIMTYPE_REFERENCE, false, 0, "CIM_LogicalElement"));
    m.addParameter(CIMParameter("Members", CIMTYPE_REFERENCE, true, 0, "CIM_LogicalElement"));
    m.addParameter(CIMParameter("Flags", CIMTYPE_UINT16, true, 4));
    c.addMethod(m);
    Response r;
    r.methodName = kGetClass;
    r.cimClass = c;
    Response back = decodeResponse(encodeResponse(r));
    ASSERT_TRUE(back.cimClass);
    EXPECT_TRUE(back.cimClass->identical(c));
    EXPECT_EQ(back.cimClass->getQualifiers().size(), 1u);
}

TEST(CodecDecoding, RefusesBadDocumentsWithANamedReason) {
    expectParseError("", "malformed XML");
    expectParseError("not xml at all", "malformed XML");
    expectParseError("<CIM><MESSAGE ID=\"1\">", "malformed XML");
    expectParseError("<?xml version=\"1.0\"?><HTML/>", "wrong root element <HTML>");
    expectParseError("<CIM/>", "missing <MESSAGE>");
    expectParseError("<CIM><MESSAGE ID=\"1\"/></CIM>", "missing <SIMPLERSP>");
    expectParseError("<CIM><MESSAGE ID=\"1\"><SIMPLERSP/></MESSAGE></CIM>",
                     "<IMETHODRESPONSE> or <METHODRESPONSE>");
    expectParseError("<CIM><MESSAGE ID=\"1\"><MULTIRSP/></MESSAGE></CIM>", "multiple");
    expectParseError(imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"uint99\"/>"
                         "</INSTANCE>"),
                     "unknown value type \"uint99\"");
    expectParseError(imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"uint8\">"
                         "<VALUE>300</VALUE></PROPERTY></INSTANCE>"),
                     "invalid uint8 value \"300\"");
    expectParseError(imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"boolean\">"
                         "<VALUE>maybe</VALUE></PROPERTY></INSTANCE>"),
                     "invalid boolean");
    expectParseError(imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\"><VALUE>1</VALUE>"
                         "</PROPERTY></INSTANCE>"),
                     "without the TYPE attribute");
    expectParseError(imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"string\"/>"
                         "<PROPERTY NAME=\"P\" TYPE=\"string\"/></INSTANCE>"),
                     "duplicate property");
    expectParseError(imr("<INSTANCE CLASSNAME=\"9X\"/>"), "illegal name \"9X\"");
    expectParseError(imr("<INSTANCE/>"), "without the CLASSNAME attribute");
    expectParseError(imr("<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"><KEYVALUE "
                         "VALUETYPE=\"float\">1</KEYVALUE></KEYBINDING></INSTANCENAME>"),
                     "unknown key VALUETYPE");
    expectParseError(imr("<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"><KEYVALUE "
                         "VALUETYPE=\"numeric\">12x</KEYVALUE></KEYBINDING></INSTANCENAME>"),
                     "invalid numeric key value");
    expectParseError(imr("<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"/></INSTANCENAME>"),
                     "<KEYBINDING> without a value");
    expectParseError(imr("<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"><KEYVALUE>a"
                         "</KEYVALUE></KEYBINDING><KEYBINDING NAME=\"k\"><KEYVALUE>b</KEYVALUE>"
                         "</KEYBINDING></INSTANCENAME>"),
                     "duplicate key");
    expectParseError(imr("<OBJECTPATH/>"), "<OBJECTPATH> without an object path");
    expectParseError(imr("<INSTANCEPATH><NAMESPACEPATH><HOST>bad host</HOST><LOCALNAMESPACEPATH>"
                         "<NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH></NAMESPACEPATH>"
                         "<INSTANCENAME CLASSNAME=\"X\"/></INSTANCEPATH>"),
                     "illegal host");
    expectParseError(imr("<LOCALINSTANCEPATH><LOCALNAMESPACEPATH/><INSTANCENAME CLASSNAME=\"X\"/>"
                         "</LOCALINSTANCEPATH>"),
                     "without <NAMESPACE>");
    expectParseError(body("<IMETHODRESPONSE NAME=\"X\"><ERROR CODE=\"abc\"/></IMETHODRESPONSE>"),
                     "invalid CODE");
    expectParseError(body("<METHODRESPONSE NAME=\"M\"><PARAMVALUE NAME=\"P\" PARAMTYPE=\"uint16\">"
                          "<VALUE.REFERENCE><CLASSNAME NAME=\"X\"/></VALUE.REFERENCE></PARAMVALUE>"
                          "</METHODRESPONSE>"),
                     "<VALUE.REFERENCE> in a uint16");
    expectParseError(body("<METHODRESPONSE NAME=\"M\"><PARAMVALUE NAME=\"P\" PARAMTYPE=\"string\" "
                          "EmbeddedObject=\"instance\"><VALUE>&lt;CLASS NAME=&quot;X&quot;/&gt;"
                          "</VALUE></PARAMVALUE></METHODRESPONSE>"),
                     "is not an <INSTANCE>");
}

TEST(CodecDecoding, InstancesWithManyProperties) {
    // Many instances with the same hundred property names are not duplicates of each other.
    Response r;
    r.methodName = kEnumerateInstances;
    for (int i = 0; i < 5; ++i) {
        CIMInstance inst("Wide");
        for (int k = 0; k < 100; ++k)
            inst.addProperty(CIMProperty("P" + std::to_string(k), CIMValue(Uint32(k))));
        inst.setPath(CIMObjectPath::parse("Wide.K=" + std::to_string(i)));
        r.instances.push_back(inst);
    }
    Response back = decodeResponse(encodeResponse(r));
    ASSERT_EQ(back.instances.size(), 5u);
    EXPECT_EQ(back.instances[4].getPropertyCount(), 100u);
    // A duplicate late in a wide instance is still found.
    std::string props;
    for (int k = 0; k < 100; ++k)
        props += "<PROPERTY NAME=\"P" + std::to_string(k) + "\" TYPE=\"string\"/>";
    props += "<PROPERTY NAME=\"p90\" TYPE=\"string\"/>";
    expectParseError(imr("<INSTANCE CLASSNAME=\"W\">" + props + "</INSTANCE>"),
                     "duplicate property \"p90\"");
}

TEST(CodecDecoding, NeverExpandsEntitiesOrDocumentTypes) {
    // A document type with an entity (the "billion laughs" shape) is refused outright.
    std::string bomb =
        "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        "\"&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
        imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"string\"><VALUE>&b;</VALUE>"
            "</PROPERTY></INSTANCE>")
            .substr(std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>").size());
    expectParseError(bomb, "document type");
    std::string ext = "<!DOCTYPE CIM SYSTEM \"file:///etc/passwd\"><CIM/>";
    expectParseError(ext, "document type");
    // Without a DOCTYPE an undefined entity is never resolved.
    Response r = decodeResponse(
        imr("<INSTANCE CLASSNAME=\"X\"><PROPERTY NAME=\"p\" TYPE=\"string\"><VALUE>&xxe;&amp;&#65;"
            "</VALUE></PROPERTY></INSTANCE>"));
    ASSERT_EQ(r.instances.size(), 1u);
    std::string v = r.instances[0].getProperty(0).getValue().toString();
    EXPECT_EQ(v.find("passwd"), std::string::npos);
    EXPECT_NE(v.find("&A"), std::string::npos);
}

TEST(CodecDecoding, SizeAndDepthLimits) {
    Response ok;
    ok.methodName = kEnumerateInstanceNames;
    ok.instanceNames = {volumePath("x")};
    std::string text = encodeResponse(ok);
    Limits small;
    small.maxBytes = text.size() - 1;
    try {
        decodeResponse(text, small);
        ADD_FAILURE() << "over-size document accepted";
    } catch (const ParseException& e) {
        EXPECT_NE(std::string(e.what()).find("exceeds the limit"), std::string::npos);
    }
    small.maxBytes = text.size();
    EXPECT_NO_THROW(decodeResponse(text, small));

    // References nested in key bindings beyond the limit are refused, not recursed into.
    std::string inner =
        "<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"K\"><KEYVALUE>v"
        "</KEYVALUE></KEYBINDING></INSTANCENAME>";
    for (int i = 0; i < 200; ++i)
        inner = "<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"R\"><VALUE.REFERENCE>" + inner +
                "</VALUE.REFERENCE></KEYBINDING></INSTANCENAME>";
    expectParseError(imr(inner), "nested too deeply");
}

TEST(CodecDecoding, AcceptsLenientForms) {
    // Untyped key values default to strings, booleans in any case, extra whitespace.
    Response r = decodeResponse(
        imr("<INSTANCENAME CLASSNAME=\"X\"><KEYBINDING NAME=\"S\"><KEYVALUE>a b</KEYVALUE>"
            "</KEYBINDING><KEYBINDING NAME=\"B\"><KEYVALUE VALUETYPE=\"boolean\"> true "
            "</KEYVALUE></KEYBINDING></INSTANCENAME>"
            "<INSTANCE CLASSNAME=\"Y\"><PROPERTY NAME=\"n\" TYPE=\"uint32\"><VALUE>\n 7 \n</VALUE>"
            "</PROPERTY><PROPERTY NAME=\"s\" TYPE=\"string\"><VALUE> </VALUE></PROPERTY>"
            "<UNKNOWN.ELEMENT/></INSTANCE>"));
    ASSERT_EQ(r.instanceNames.size(), 1u);
    EXPECT_EQ(r.instanceNames[0].toString(), "X.B=TRUE,S=\"a b\"");
    ASSERT_EQ(r.instances.size(), 1u);
    EXPECT_EQ(r.instances[0].getProperty(0).getValue(), CIMValue(Uint32(7)));
    EXPECT_EQ(r.instances[0].getProperty(1).getValue(), CIMValue(std::string(" ")));
    // A UTF-8 byte order mark is skipped.
    Response bom = decodeResponse("\xEF\xBB\xBF" + imr("<CLASSNAME NAME=\"Z\"/>"));
    ASSERT_EQ(bom.instanceNames.size(), 1u);
    EXPECT_EQ(bom.instanceNames[0].getClassName().getString(), "Z");
}

TEST(CodecRequestsDecoding, ClassifiesFaultsForTheHttpAnswer) {
    auto code = [](const std::string& text) {
        try {
            decodeRequest(text);
        } catch (const RequestException& e) {
            return e.cimError() + "/" + std::to_string(e.httpStatus());
        }
        return std::string("accepted");
    };
    std::string head = "<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">";
    std::string call =
        "<IMETHODCALL NAME=\"EnumerateInstanceNames\"><LOCALNAMESPACEPATH>"
        "<NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH><IPARAMVALUE "
        "NAME=\"ClassName\"><CLASSNAME NAME=\"X\"/></IPARAMVALUE></IMETHODCALL>";
    auto msg = [&](const std::string& attrs, const std::string& inner) {
        return head + "<MESSAGE ID=\"1\" PROTOCOLVERSION=\"1.0\"" + attrs + ">" + inner +
               "</MESSAGE></CIM>";
    };
    EXPECT_EQ(code(msg("", "<SIMPLEREQ>" + call + "</SIMPLEREQ>")), "accepted");
    EXPECT_EQ(code("<CIM"), "request-not-well-formed/400");
    EXPECT_EQ(code(msg("", "<SIMPLEREQ>" + call)), "request-not-well-formed/400");
    EXPECT_EQ(code("<?xml version=\"1.0\"?><CIM CIMVERSION=\"3.0\" DTDVERSION=\"2.0\"/>"),
              "unsupported-cim-version/501");
    std::string badProto = head + "<MESSAGE ID=\"1\" PROTOCOLVERSION=\"2.0\"><SIMPLEREQ>" + call +
                           "</SIMPLEREQ></MESSAGE></CIM>";
    EXPECT_EQ(code(badProto), "unsupported-protocol-version/501");
    EXPECT_EQ(code(msg("", "<MULTIREQ/>")), "multiple-requests-unsupported/501");
    EXPECT_EQ(code(msg("", "<SIMPLEREQ/>")), "request-not-valid/400");
    EXPECT_EQ(code("<?xml version=\"1.0\"?><NOTCIM/>"), "request-not-valid/400");
    EXPECT_EQ(code(msg("", "<SIMPLEREQ><IMETHODCALL NAME=\"GetInstance\"/></SIMPLEREQ>")),
              "request-not-valid/400");
    EXPECT_EQ(code(msg("",
                       "<SIMPLEREQ><IMETHODCALL NAME=\"GetInstance\"><LOCALNAMESPACEPATH>"
                       "<NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH><IPARAMVALUE "
                       "NAME=\"LocalOnly\"><VALUE>perhaps</VALUE></IPARAMVALUE></IMETHODCALL>"
                       "</SIMPLEREQ>")),
              "request-not-valid/400");
    EXPECT_EQ(code(msg("",
                       "<SIMPLEREQ><METHODCALL NAME=\"M\"><PARAMVALUE NAME=\"P\"/>"
                       "</METHODCALL></SIMPLEREQ>")),
              "request-not-valid/400");
    // Unknown intrinsic methods and parameters pass; the server answers them itself.
    Request r = decodeRequest(msg("",
                                  "<SIMPLEREQ><IMETHODCALL NAME=\"Frobnicate\">"
                                  "<LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/>"
                                  "</LOCALNAMESPACEPATH><IPARAMVALUE NAME=\"Odd\"/>"
                                  "</IMETHODCALL></SIMPLEREQ>"));
    EXPECT_EQ(r.methodName, "Frobnicate");
    EXPECT_EQ(r.unknownParameters, std::vector<std::string>{"Odd"});
}

TEST(HttpHeaders, ObjectHeaderAndPercentCoding) {
    // Exactly what the recorded client sent for an extrinsic call.
    Request r;
    r.intrinsic = false;
    r.methodName = "FailMethod";
    r.target = CIMObjectPath::parse(
        "//somehost/root/cimv2:PEER_TestService.CreationClassName=\"PEER_TestService\","
        "Name=\"PeerService\",SystemCreationClassName=\"CIM_ComputerSystem\","
        "SystemName=\"peer.example\"");
    EXPECT_EQ(cimObjectHeader(r),
              "root%2Fcimv2%3APEER_TestService.CreationClassName%3D%22PEER_TestService%22%2CName%"
              "3D%22PeerService%22%2CSystemCreationClassName%3D%22CIM_ComputerSystem%22%2C"
              "SystemName%3D%22peer.example%22");
    EXPECT_EQ(cimMethodHeader(r), "FailMethod");
    EXPECT_TRUE(cimObjectHeaderMatches(r, cimObjectHeader(r)));
    // Raw (not encoded) header values are accepted too, as one independent client sends them.
    EXPECT_TRUE(cimObjectHeaderMatches(r, percentDecode(cimObjectHeader(r))));
    Request i;
    i.methodName = kEnumerateInstanceNames;
    i.nameSpace = "root/cimv2";
    EXPECT_EQ(cimObjectHeader(i), "root%2Fcimv2");
    EXPECT_TRUE(cimObjectHeaderMatches(i, "root/cimv2"));
    EXPECT_TRUE(cimObjectHeaderMatches(i, "ROOT%2fCIMV2"));
    EXPECT_FALSE(cimObjectHeaderMatches(i, "root%2Fother"));
    EXPECT_FALSE(cimObjectHeaderMatches(r, "garbage\"path"));

    EXPECT_EQ(percentEncode("a b/c:%~._-"), "a%20b%2Fc%3A%25~._-");
    EXPECT_EQ(percentDecode("CIM_ERR_FAILED%3A%20PEER%20simulated%20failure"),
              "CIM_ERR_FAILED: PEER simulated failure");
    EXPECT_EQ(percentDecode("100%"), "100%");
    EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(percentDecode(percentEncode(all)), all);
}

TEST(CodecConcurrency, DecodersAndSharedValuesAcrossThreads) {
    // Decoding keeps no shared state, and copies of a value share its boxed path safely.
    Response r;
    r.methodName = kEnumerateInstances;
    for (int i = 0; i < 50; ++i) r.instances.push_back(volume("v" + std::to_string(i)));
    const std::string text = encodeResponse(r);
    const CIMValue shared(volumePath("shared"));
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 20; ++n) {
                Response back = decodeResponse(text);
                CIMValue copy = shared;
                CIMObjectPath p;
                copy.get(p);
                if (back.instances.size() == 50 && p == volumePath("shared") &&
                    back.instances[49].getPath().findKeyBinding("DeviceID")->getValue() == "v49")
                    ++ok[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ok, std::vector<int>(4, 20));
}
