// CIM object model: names, datetimes, values, instances, lists, object path texts.
#include <gtest/gtest.h>

#include <cim/CIM.h>

using namespace cim;

TEST(Names, CompareCaseInsensitivelyAndValidate) {
    EXPECT_EQ(CIMName("CIM_StorageVolume"), CIMName("cim_storagevolume"));
    EXPECT_NE(CIMName("A"), CIMName("B"));
    for (const char* good : {"_x1", "Ünïcode"}) EXPECT_TRUE(CIMName::legal(good)) << good;
    for (const char* bad : {"1abc", "600A0B80002A1B3C0000ABCD12345678", "a-b", ""})
        EXPECT_FALSE(CIMName::legal(bad)) << bad;
    EXPECT_EQ(CIMNamespaceName("/root/cimv2").getString(), "root/cimv2");
    EXPECT_EQ(CIMNamespaceName("ROOT/CIMv2"), CIMNamespaceName("root/cimv2"));
    EXPECT_TRUE(CIMNamespaceName::legal("root/LsiArray13"));
    for (const char* bad : {"root//x", "root/", "no such"})
        EXPECT_FALSE(CIMNamespaceName::legal(bad)) << bad;
    EXPECT_LT(compareNoCase("abc", "ABD"), 0);
    EXPECT_GT(compareNoCase("abcd", "ABC"), 0);
    CIMType t;
    EXPECT_FALSE(cimTypeFromString("UINT16", t));
    for (int type = CIMTYPE_BOOLEAN; type <= CIMTYPE_INSTANCE; ++type)
        EXPECT_TRUE(cimTypeFromString(cimTypeToString(CIMType(type)), t) && t == type) << type;
    EXPECT_STREQ(cimTypeToString(static_cast<CIMType>(99)), "unknown");
    // Every status has its name: error texts and the tool's messages carry it.
    for (int code = 0; code <= 30; ++code) {
        const std::string name = cimStatusCodeToString(static_cast<CIMStatusCode>(code));
        EXPECT_TRUE(name.rfind("CIM_ERR_", 0) == 0 || name == "Unrecognized CIM status code")
            << code;
    }
    EXPECT_NE(std::string(CIMException(CIM_ERR_NOT_FOUND, "x").what()).find("CIM_ERR_NOT_FOUND"),
              std::string::npos);
}

TEST(DateTime, ParsesFormatsAndCompares) {
    CIMDateTime t("19991224120000.000000+360");
    EXPECT_EQ(t.getUtcOffset(), 360);
    // The same instant in UTC and in another zone compare equal.
    EXPECT_EQ(t, CIMDateTime("19991224060000.000000+000"));
    EXPECT_EQ(t, CIMDateTime("19991224050000.000000-060"));
    EXPECT_NE(t, CIMDateTime("19991224120000.000000+000"));
    EXPECT_TRUE(CIMDateTime("19991224050000.000000+000") < t);
    CIMDateTime i("00000001020304.500000:000");
    EXPECT_TRUE(i.isInterval());
    EXPECT_EQ(i.toMicroSeconds(), ((86400ull + 2 * 3600 + 3 * 60 + 4) * 1000000ull) + 500000);
    EXPECT_EQ(CIMDateTime(i.toMicroSeconds(), true).toString(), "00000001020304.500000:000");
    EXPECT_NE(i, CIMDateTime(i.toMicroSeconds(), false));  // interval vs timestamp
    CIMDateTime u(CIMDateTime("20240229235959.999999+000").toMicroSeconds(), false);
    EXPECT_EQ(u.toString(), "20240229235959.999999+000");
    EXPECT_TRUE(CIMDateTime::getCurrentDateTime().isTimeStamp());
    EXPECT_TRUE(CIMDateTime("2024**********.******+000").hasWildcards());
    for (const char* bad :
         {"", "19991224120000.000000+36", "19991224120000.000000+3600", "19991324120000.000000+000",
          "19990230120000.000000+000", "20230229120000.000000+000", "19991224250000.000000+000",
          "19991224126000.000000+000", "19991224120000,000000+000", "1999122412000a.000000+000",
          "00000001240000.000000:000", "00000001020304.500000:001", "19991224120000.000000*000",
          "19991224120000.000000+0*0"}) {
        CIMDateTime out;
        EXPECT_FALSE(CIMDateTime::parse(bad, out)) << bad;
        EXPECT_THROW(CIMDateTime{std::string_view(bad)}, ParseException) << bad;
    }
}

TEST(Value, ScalarsArraysAndNulls) {
    CIMValue nu(CIMTYPE_UINT16, true);
    EXPECT_TRUE(nu.isNull() && nu.isArray());
    Array<Uint16> untouched{9};
    nu.get(untouched);  // null leaves the argument alone
    EXPECT_EQ(untouched, Array<Uint16>{9});
    CIMValue v(Uint16(4096));
    Uint32 wrong = 0;
    EXPECT_THROW(v.get(wrong), TypeMismatchException);
    Array<Uint16> notArray;
    EXPECT_THROW(v.get(notArray), TypeMismatchException);
    v.set(std::string("now a string"));
    EXPECT_EQ(v.getType(), CIMTYPE_STRING);
    EXPECT_NE(CIMValue(Uint16(1)), CIMValue(Uint32(1)));
    EXPECT_NE(CIMValue(CIMTYPE_STRING, false), CIMValue(std::string()));
    CIMObjectPath p = CIMObjectPath::parse("root/cimv2:X.K=\"v\"");
    // clang-format off
    const struct { CIMValue value; const char* text; } forms[] = {
        {CIMValue(true), "TRUE"}, {CIMValue(Uint64(18446744073709551615ull)), "18446744073709551615"},
        {CIMValue(Sint64(-9223372036854775807ll - 1)), "-9223372036854775808"},
        {CIMValue(Real64(0.1)), "0.1"}, {CIMValue(Real32(1.5f)), "1.5"}, {CIMValue(Char16(u'é')), "é"},
        {CIMValue(CIMDateTime("20240101000000.000000+000")), "20240101000000.000000+000"},
        {CIMValue(Array<CIMObjectPath>{p, p}), "root/cimv2:X.K=\"v\",root/cimv2:X.K=\"v\""},
        {CIMValue(Array<String>{"a", "b,c"}), "a,b,c"}, {CIMValue(Array<Uint16>{}), ""}, {CIMValue(), ""},
    };
    // clang-format on
    for (const auto& f : forms) EXPECT_EQ(f.value.toString(), f.text) << f.text;
}

TEST(Value, FromTextReadsWireFormsAndRefusesGarbage) {
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_BOOLEAN, " FaLsE\n"), CIMValue(false));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_UINT16, "0x10"), CIMValue(Uint16(16)));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_SINT8, "-128"), CIMValue(Sint8(-128)));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_UINT64, "+18446744073709551615"),
              CIMValue(Uint64(18446744073709551615ull)));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_REAL64, "1.0000000000000000e+02"), CIMValue(100.0));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_STRING, " keep "), CIMValue(std::string(" keep ")));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_CHAR16, "é"), CIMValue(Char16(u'é')));
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_REFERENCE, "X.K=1").getType(), CIMTYPE_REFERENCE);
    // clang-format off
    const struct { CIMType type; const char* text; } bad[] = {
        {CIMTYPE_BOOLEAN, "yes"}, {CIMTYPE_UINT8, "256"}, {CIMTYPE_UINT8, "-1"}, {CIMTYPE_SINT8, "128"},
        {CIMTYPE_UINT16, "12abc"}, {CIMTYPE_UINT32, ""}, {CIMTYPE_UINT64, "18446744073709551616"},
        {CIMTYPE_SINT64, "9223372036854775808"}, {CIMTYPE_REAL64, "1e"}, {CIMTYPE_REAL32, "0x1p3"},
        {CIMTYPE_CHAR16, "ab"}, {CIMTYPE_DATETIME, "yesterday"},
        {CIMTYPE_REFERENCE, "600A0B80002A1B3C0000ABCD12345678"}, {CIMTYPE_INSTANCE, "<INSTANCE"}};
    // clang-format on
    for (const auto& b : bad)
        EXPECT_THROW(CIMValue::fromText(b.type, b.text), ParseException)
            << cimTypeToString(b.type) << " " << b.text;
    // Untyped values take the declared type.
    EXPECT_EQ(CIMValue(Array<String>{"1", "2"}).convertTo(CIMTYPE_UINT16),
              CIMValue(Array<Uint16>{1, 2}));
    EXPECT_EQ(CIMValue(CIMTYPE_STRING, false).convertTo(CIMTYPE_UINT16),
              CIMValue(CIMTYPE_UINT16, false));
    EXPECT_THROW(CIMValue(std::string("x")).convertTo(CIMTYPE_UINT16), ParseException);
    EXPECT_EQ(CIMValue(Uint16(7)).convertTo(CIMTYPE_STRING), CIMValue(std::string("7")));
    // An embedded instance's text form is the CIM-XML INSTANCE element, which reads back.
    CIMInstance inner("CIM_SettingData");
    inner.addProperty(CIMProperty("InstanceID", CIMValue(std::string("id<1>&"))));
    CIMValue e(inner);
    EXPECT_EQ(CIMValue::fromText(CIMTYPE_INSTANCE, e.toString()), e);
}

TEST(Instance, PropertiesMethodsAndListsRefuseMisuse) {
    CIMInstance inst("LSISSI_StorageVolume");
    inst.addProperty(CIMProperty("Name", CIMValue(std::string("600A"))));
    inst.addProperty(CIMProperty("BlockSize", CIMValue(Uint64(512))));
    EXPECT_THROW(inst.addProperty(CIMProperty("NAME", CIMValue(true))), AlreadyExistsException);
    EXPECT_EQ(inst.findProperty("blocksize"), 1u);
    EXPECT_EQ(inst.findProperty("Missing"), PEG_NOT_FOUND);
    EXPECT_THROW(inst.getProperty(2), IndexOutOfBoundsException);
    EXPECT_THROW(inst.removeProperty(PEG_NOT_FOUND), IndexOutOfBoundsException);
    // Replace a property keeping its name and attributes, as the property update does.
    CIMProperty old = inst.getProperty(0);
    old = CIMProperty(old.getName(), CIMValue(std::string("new")), 0, "CIM_X", "CIM_Y", true);
    inst.removeProperty(0);
    inst.addProperty(old);
    EXPECT_EQ(inst.findProperty("BlockSize"), 0u);
    EXPECT_EQ(inst.getProperty(1).getClassOrigin().getString(), "CIM_Y");
    CIMMethod m("CreateSynchronizationAspect", CIMTYPE_UINT32);
    m.addParameter(CIMParameter("SyncType", CIMTYPE_UINT16));
    EXPECT_THROW(m.addParameter(CIMParameter("synctype", CIMTYPE_UINT16)), AlreadyExistsException);
    CIMClass c("LSISSI_ReplicationService", "CIM_ReplicationService");
    c.addMethod(m);
    EXPECT_THROW(c.addMethod(m), AlreadyExistsException);
    EXPECT_EQ(c.findMethod("createsynchronizationaspect"), 0u);
    EXPECT_THROW(c.getMethod(1), IndexOutOfBoundsException);
    EXPECT_THROW(c.getMethod(0).getParameter(1), IndexOutOfBoundsException);
    // A null property list means all properties, an empty one none.
    CIMPropertyList all, none(std::vector<CIMName>{}), some(std::vector<CIMName>{"Name"});
    EXPECT_NE(all, none);
    EXPECT_TRUE(all.contains("Anything"));
    EXPECT_FALSE(none.contains("Anything"));
    EXPECT_TRUE(some.contains("NAME"));
    EXPECT_THROW(some[1], IndexOutOfBoundsException);
    some.clear();
    EXPECT_TRUE(some.isNull());
}

namespace {

CIMObjectPath volume(const std::string& deviceId, const std::string& ns = "root/LsiArray13") {
    return CIMObjectPath(
        "", ns, "LSISSI_StorageVolume",
        {CIMKeyBinding("SystemName", "SYS-A", CIMKeyBinding::STRING),
         CIMKeyBinding("DeviceID", deviceId, CIMKeyBinding::STRING),
         CIMKeyBinding("CreationClassName", "LSISSI_StorageVolume", CIMKeyBinding::STRING)});
}

CIMObjectPath P(const std::string& text) {
    return CIMObjectPath::parse(text);
}

}  // namespace

TEST(ObjectPathText, CanonicalFormAndEscapingAsTheRecordedServerPrintsThem) {
    CIMObjectPath p = volume("600A0B80002A1B3C0000");
    p.setHost("vm");
    EXPECT_EQ(
        p.toString(),
        "//vm/root/LsiArray13:LSISSI_StorageVolume.CreationClassName=\"LSISSI_StorageVolume\","
        "DeviceID=\"600A0B80002A1B3C0000\",SystemName=\"SYS-A\"");
    CIMObjectPath q("", CIMNamespaceName(), "C",
                    {CIMKeyBinding("b", "1", CIMKeyBinding::NUMERIC),
                     CIMKeyBinding("A", "x", CIMKeyBinding::STRING),
                     CIMKeyBinding("c", "true", CIMKeyBinding::BOOLEAN)});
    EXPECT_EQ(q.toString(), "C.A=\"x\",b=1,c=TRUE");
    // The recorded server prints the volume VOL "Q" \ 1 like this in its error texts.
    CIMObjectPath e("", CIMNamespaceName(), "PEER_StorageVolume",
                    {CIMKeyBinding("DeviceID", "VOL \"Q\" \\ 1", CIMKeyBinding::STRING)});
    EXPECT_EQ(e.toString(), "PEER_StorageVolume.DeviceID=\"VOL \\\"Q\\\" \\\\ 1\"");
    EXPECT_EQ(CIMObjectPath().toString(), "");
}

TEST(ObjectPathText, AwkwardValuesAndNestedReferencesRoundTrip) {
    for (std::string v : {"a,b", "k=v", "\"", "\\", "\\\"", "x\\\\\"y", "", " lead", "tail ",
                          "a.b:c/d", "ünïcödé", "line\nbreak", "PEER:JOB:0001"}) {
        CIMObjectPath p = volume(v);
        CIMObjectPath back = P(p.toString());
        EXPECT_EQ(back, p) << p.toString();
        EXPECT_EQ(back.findKeyBinding("deviceid")->getValue(), v);
        EXPECT_EQ(back.toString(), p.toString());
    }
    CIMObjectPath vol = volume("VOL \"Q\" \\ 1", "root/cimv2");
    vol.setHost("vm");
    // A reference to a path that itself holds references doubles the escapes again, and so
    // on; past the nesting limit the inner text is kept as a string instead of followed.
    CIMObjectPath deep = vol;
    for (int i = 0; i < 12; ++i)
        deep = CIMObjectPath("", CIMNamespaceName(), "X", {CIMKeyBinding("R", deep)});
    EXPECT_EQ(P(deep.toString()), deep);
    EXPECT_EQ(P(deep.findKeyBinding("R")->getValue()).findKeyBinding("R")->getType(),
              CIMKeyBinding::REFERENCE);
    std::string text = "X.K=1";
    for (int i = 0; i < 18; ++i) {
        std::string esc;
        for (char c : text) {
            if (c == '"' || c == '\\') esc += '\\';
            esc += c;
        }
        text = "X.R=\"" + esc + "\"";
    }
    EXPECT_EQ(P(text).toString(), text);
}

TEST(ObjectPathText, KeyKindsHostsAndEquality) {
    CIMObjectPath p = P("root/cimv2:X.B=true,N=-42,H=0x1F,R=1.5e3,S=\"42\",Ref=\"Y.K=1\"");
    EXPECT_EQ(p.getNameSpace().getString(), "root/cimv2");
    EXPECT_EQ(p.findKeyBinding("B")->getValue(), "TRUE");
    using K = CIMKeyBinding;
    // clang-format off
    const std::pair<const char*, K::Type> kinds[] = {{"B", K::BOOLEAN}, {"N", K::NUMERIC}, {"H", K::NUMERIC}, {"R", K::NUMERIC}, {"S", K::STRING}, {"Ref", K::REFERENCE}};
    // clang-format on
    for (auto [k, type] : kinds) EXPECT_EQ(p.findKeyBinding(k)->getType(), type) << k;
    CIMObjectPath h = P("//10.0.0.1:5988/interop:CIM_Namespace.Name=\"a\"");
    EXPECT_EQ(h.getHost(), "10.0.0.1:5988");
    EXPECT_EQ(h.getNameSpace().getString(), "interop");
    EXPECT_TRUE(P("CIM_StorageVolume").getKeyBindings().empty());
    // Names, hosts and namespaces in any case, keys in any order, numbers by value; key
    // values are case-sensitive strings.
    EXPECT_EQ(P("//VM/ROOT/cimv2:cls.b=\"x\",A=\"y\""), P("//vm/root/CIMV2:CLS.a=\"y\",B=\"x\""));
    EXPECT_EQ(P("X.N=0x10"), P("X.N=16"));
    EXPECT_EQ(P("X.B=false"), P("X.B=FALSE"));
    EXPECT_NE(P("X.N=16"), P("X.N=\"16\""));
    EXPECT_NE(P("cls.a=\"Y\""), P("cls.a=\"y\""));
    EXPECT_NE(P("cls.a=\"y\""), P("cls.a=\"y\",b=1"));
    CIMObjectPath pathLike("", CIMNamespaceName(), "X",
                           {CIMKeyBinding("S", "A.c=2,B=1", CIMKeyBinding::STRING)});
    EXPECT_EQ(P(pathLike.toString()), pathLike);
    // Key bindings from typed values.
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(Uint16(7))).getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(true)).getValue(), "TRUE");
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(P("X.K=1"))).getType(), CIMKeyBinding::REFERENCE);
    EXPECT_THROW(CIMKeyBinding("K", CIMValue(CIMTYPE_STRING, false)), TypeMismatchException);
    EXPECT_THROW(CIMKeyBinding("K", CIMValue(Array<Uint16>{1})), TypeMismatchException);
}

TEST(ObjectPathText, MalformedTextsAreRefused) {
    // clang-format off
    const char* const texts[] = {
        "", "X.K=\"unterminated", "X.K=\"a\"junk", "X.K=unquoted", "X.K=", "X.K", "X.=\"a\"",
        "X.1K=\"a\"", "X.K=\"a\",", "X.K=\"a\",K=\"b\"", "X.", "Bad-Class.K=1", "root//cimv2:X.K=1",
        "//host", "///ns:X", "ns:", ":X", "X Y", "X.K=\"a\\", "X.K=\"a\"\"", "//ho st/ns:X",
        "600A0B80002A1B3C0000ABCD12345678"};
    // clang-format on
    for (const char* bad : texts) {
        try {
            P(bad);
            ADD_FAILURE() << "parsed: " << bad;
        } catch (const MalformedObjectNameException& e) {
            EXPECT_NE(std::string(e.what()).find("malformed"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(CIMObjectPath("not a path"), MalformedObjectNameException);
}
