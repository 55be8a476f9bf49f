// Object path texts: canonical form, escaping, references and malformed input.
#include <gtest/gtest.h>

#include <cim/CIMObjectPath.h>
#include <cim/CIMValue.h>
#include <cim/Exception.h>

using namespace cim;

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
