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

void expectMalformed(const std::string& text) {
    try {
        CIMObjectPath::parse(text);
        ADD_FAILURE() << "parsed: " << text;
    } catch (const MalformedObjectNameException& e) {
        EXPECT_NE(std::string(e.what()).find("malformed"), std::string::npos) << e.what();
    }
}

}  // namespace

TEST(ObjectPathText, CanonicalFormSortsKeysCaseInsensitively) {
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
}

TEST(ObjectPathText, MatchesTheRecordedServersEscaping) {
    // The recorded server prints the volume VOL "Q" \ 1 like this in its error texts.
    CIMObjectPath p("", CIMNamespaceName(), "PEER_StorageVolume",
                    {CIMKeyBinding("DeviceID", "VOL \"Q\" \\ 1", CIMKeyBinding::STRING)});
    EXPECT_EQ(p.toString(), "PEER_StorageVolume.DeviceID=\"VOL \\\"Q\\\" \\\\ 1\"");
    CIMObjectPath back = CIMObjectPath::parse(p.toString());
    EXPECT_EQ(back.getKeyBindings().at(0).getValue(), "VOL \"Q\" \\ 1");
}

TEST(ObjectPathText, RoundTripsAwkwardValues) {
    for (std::string v : {"a,b", "k=v", "\"", "\\", "\\\"", "x\\\\\"y", "", " lead", "tail ",
                          "a.b:c/d", "ünïcödé", "line\nbreak", "PEER:JOB:0001", "600A0B80"}) {
        CIMObjectPath p = volume(v);
        CIMObjectPath back = CIMObjectPath::parse(p.toString());
        EXPECT_EQ(back, p) << p.toString();
        EXPECT_EQ(back.findKeyBinding("deviceid")->getValue(), v);
        EXPECT_EQ(back.toString(), p.toString());
    }
}

TEST(ObjectPathText, AssociationWithTwoReferencesRoundTrips) {
    CIMObjectPath system(
        "", "root/cimv2", "PEER_ComputerSystem",
        {CIMKeyBinding("Name", "SYS \"A\\1\"", CIMKeyBinding::STRING),
         CIMKeyBinding("CreationClassName", "PEER_ComputerSystem", CIMKeyBinding::STRING)});
    CIMObjectPath vol = volume("VOL \"Q\" \\ 1", "root/cimv2");
    vol.setHost("vm");
    CIMObjectPath assoc(
        "vm", "root/cimv2", "PEER_SystemDevice",
        {CIMKeyBinding("GroupComponent", system), CIMKeyBinding("PartComponent", vol)});
    std::string text = assoc.toString();
    CIMObjectPath back = CIMObjectPath::parse(text);
    EXPECT_EQ(back, assoc);
    EXPECT_EQ(back.toString(), text);
    const CIMKeyBinding* part = back.findKeyBinding("PartComponent");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(CIMObjectPath::parse(part->getValue()), vol);
    EXPECT_EQ(CIMObjectPath::parse(part->getValue()).findKeyBinding("DeviceID")->getValue(),
              "VOL \"Q\" \\ 1");
    // A reference to a path that itself holds a reference doubles the escapes again.
    CIMObjectPath outer("", CIMNamespaceName(), "Outer", {CIMKeyBinding("Ref", assoc)});
    EXPECT_EQ(CIMObjectPath::parse(outer.toString()), outer);
}

TEST(ObjectPathText, KeyKindsAreRecognised) {
    CIMObjectPath p =
        CIMObjectPath::parse("root/cimv2:X.B=true,N=-42,H=0x1F,R=1.5e3,S=\"42\",Ref=\"Y.K=1\"");
    EXPECT_EQ(p.getNameSpace().getString(), "root/cimv2");
    EXPECT_EQ(p.findKeyBinding("B")->getType(), CIMKeyBinding::BOOLEAN);
    EXPECT_EQ(p.findKeyBinding("B")->getValue(), "TRUE");
    EXPECT_EQ(p.findKeyBinding("N")->getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(p.findKeyBinding("H")->getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(p.findKeyBinding("R")->getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(p.findKeyBinding("S")->getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(p.findKeyBinding("Ref")->getType(), CIMKeyBinding::REFERENCE);
    // Numbers compare by value, booleans in any case.
    EXPECT_EQ(CIMObjectPath::parse("X.N=0x10"), CIMObjectPath::parse("X.N=16"));
    EXPECT_EQ(CIMObjectPath::parse("X.B=false"), CIMObjectPath::parse("X.B=FALSE"));
    EXPECT_NE(CIMObjectPath::parse("X.N=16"), CIMObjectPath::parse("X.N=\"16\""));
}

TEST(ObjectPathText, ClassPathsAndHosts) {
    CIMObjectPath c = CIMObjectPath::parse("CIM_StorageVolume");
    EXPECT_TRUE(c.getKeyBindings().empty());
    EXPECT_EQ(c.getClassName(), CIMName("cim_storagevolume"));
    CIMObjectPath h = CIMObjectPath::parse("//10.0.0.1:5988/interop:CIM_Namespace.Name=\"a\"");
    EXPECT_EQ(h.getHost(), "10.0.0.1:5988");
    EXPECT_EQ(h.getNameSpace().getString(), "interop");
    EXPECT_EQ(CIMObjectPath().toString(), "");
}

TEST(ObjectPathText, EqualityIgnoresCaseAndKeyOrder) {
    EXPECT_EQ(CIMObjectPath::parse("//VM/ROOT/cimv2:cls.b=\"x\",A=\"y\""),
              CIMObjectPath::parse("//vm/root/CIMV2:CLS.a=\"y\",B=\"x\""));
    // Key values are case-sensitive strings.
    EXPECT_NE(CIMObjectPath::parse("cls.a=\"Y\""), CIMObjectPath::parse("cls.a=\"y\""));
    EXPECT_NE(CIMObjectPath::parse("cls.a=\"y\""), CIMObjectPath::parse("cls.a=\"y\",b=1"));
}

TEST(ObjectPathText, StringThatLooksLikeAPathStillRoundTrips) {
    CIMObjectPath p("", CIMNamespaceName(), "X",
                    {CIMKeyBinding("S", "A.c=2,B=1", CIMKeyBinding::STRING)});
    EXPECT_EQ(CIMObjectPath::parse(p.toString()), p);
}

TEST(ObjectPathText, MalformedTextsAreRefused) {
    expectMalformed("600A0B80002A1B3C0000ABCD12345678");  // a bare volume UUID
    expectMalformed("");
    expectMalformed("X.K=\"unterminated");
    expectMalformed("X.K=\"a\"\"");
    expectMalformed("X.K=\"a\"junk");
    expectMalformed("X.K=unquoted");
    expectMalformed("X.K=");
    expectMalformed("X.K");
    expectMalformed("X.=\"a\"");
    expectMalformed("X.1K=\"a\"");
    expectMalformed("X.K=\"a\",");
    expectMalformed("X.K=\"a\",K=\"b\"");  // duplicate key
    expectMalformed("X.");
    expectMalformed("Bad-Class.K=1");
    expectMalformed("root//cimv2:X.K=1");
    expectMalformed("//host");
    expectMalformed("///ns:X");
    expectMalformed("ns:");
    expectMalformed(":X");
    expectMalformed("X Y");
    expectMalformed("X.K=\"a\\");
    expectMalformed("//ho st/ns:X");
    // Constructor form raises the same error.
    EXPECT_THROW(CIMObjectPath("not a path"), MalformedObjectNameException);
}

TEST(ObjectPathText, DeepNestingIsBoundedAndStillRoundTrips) {
    CIMObjectPath p = CIMObjectPath::parse("X.K=1");
    for (int i = 0; i < 12; ++i)
        p = CIMObjectPath("", CIMNamespaceName(), "X", {CIMKeyBinding("R", p)});
    EXPECT_EQ(CIMObjectPath::parse(p.toString()), p);
    EXPECT_EQ(p.findKeyBinding("R")->getType(), CIMKeyBinding::REFERENCE);
    // Past the nesting limit the inner text is kept as a string instead of being followed.
    std::string deep = "X.K=1";
    for (int i = 0; i < 18; ++i) {
        std::string esc;
        for (char c : deep) {
            if (c == '"' || c == '\\') esc += '\\';
            esc += c;
        }
        deep = "X.R=\"" + esc + "\"";
    }
    CIMObjectPath d = CIMObjectPath::parse(deep);
    EXPECT_EQ(CIMObjectPath::parse(d.toString()), d);
    EXPECT_EQ(d.toString(), deep);
}

TEST(KeyBinding, FromTypedValues) {
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(Uint16(7))).getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(Uint16(7))).getValue(), "7");
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(true)).getValue(), "TRUE");
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(std::string("s"))).getType(), CIMKeyBinding::STRING);
    CIMObjectPath ref = CIMObjectPath::parse("X.K=1");
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(ref)).getType(), CIMKeyBinding::REFERENCE);
    EXPECT_THROW(CIMKeyBinding("K", CIMValue(CIMTYPE_STRING, false)), TypeMismatchException);
    EXPECT_THROW(CIMKeyBinding("K", CIMValue(Array<Uint16>{1})), TypeMismatchException);
}
