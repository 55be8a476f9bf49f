// The recorded exchanges of an independent server and two independent clients.
#include <gtest/gtest.h>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include <testsupport/LoopbackServer.h>

#include "testsupport/RandomCim.h"

using namespace cim;
using cimtest::field;
using testsupport::describeRequest;
using testsupport::describeResponse;

namespace {

xml::Response response(const std::string& name) {
    return xml::decodeResponse(cimtest::loadRecorded(name + ".response.http").body);
}

xml::Request request(const std::string& name) {
    return xml::decodeRequest(cimtest::loadRecorded(name + ".request.http").body);
}

class WireSamples : public ::testing::Test {
  protected:
    void SetUp() override {
        if (cimtest::wireFiles(".http").empty())
            GTEST_SKIP() << "no recorded samples in " << cimtest::wireDir();
    }
};

const char* const kVolQ = "DeviceID=\"VOL \\\"Q\\\" \\\\ 1\"";

}  // namespace

TEST_F(WireSamples, EveryResponseBodyDecodes) {
    int decoded = 0;
    for (const auto& f : cimtest::wireFiles(".response.http")) {
        cimtest::RecordedMessage m = cimtest::loadRecorded(f);
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

// What each recorded answer holds, as describeResponse writes it.
TEST_F(WireSamples, ResponsesHoldWhatTheServerSent) {
    // clang-format off
    const struct { const char* sample; std::vector<std::string> holds; } cases[] = {
        {"01-EnumerateInstanceNames", {"EnumerateInstanceNames error 0  with return value", kVolQ, "DeviceID=\"VOL-DEL\""}},
        {"01-EnumerateInstanceNames-numerickey", {"path Test_CLITestProviderEmpty.id=42 host \n"}},
        {"01-EnumerateInstanceNames-association", {"PartComponent=\"PEER_StorageVolume.CreationClassName=\\\"PEER_StorageVolume\\\",DeviceID=\\\"VOL \\\\\\\"Q\\\\\\\" \\\\\\\\ 1\\\""}},
        {"02-EnumerateInstances-alltypes",
         {"instance Test_CLITestProviderClass at Test_CLITestProviderClass.Id=\"Mike\"", "  scalBool boolean =TRUE ",
          "  scalUint8 uint8 =220 ", "  scalSint8 sint8 =124 ", "  scalUint64 uint64 =100 ", "  scalSint64 sint64 null ",
          "  scalReal32 real32 =100 ", "  scalReal64 real64 =100 ", "  scalString string =teststring ",
          "  scalDateTime datetime =19991224120000.000000+360 ", "  defaultString string =test\"embedded\"quote ",
          "  defaultReal32 real32 null ", "  arrayBool boolean[3] =TRUE,FALSE,TRUE ", "  arrayUint8 uint8[3] =4,128,240 ",
          "  arraySint8 sint8[3] =4,126,-126 ", "  arraySint64 sint64[0] null ", "  arrayReal64 real64[3] =4,128,240 ",
          "  arrayString string[3] =First,Second,Third ", "  arrayDateTime datetime[3] =", "  scalString string =a<b&\"c\" "}},
        {"02-EnumerateInstances", {"  NumberOfBlocks uint64 =2097152 ", "ElementName string =vol0 "}},
        {"03-EnumerateInstances-propertylist", {"  NumberOfBlocks uint64 =18446744073709551615 ",
          "  ElementName string =vol <one> & \"two\" ", "  OperationalStatus uint16[2] =2,32768 "}},
        {"04-GetInstance", {"instance PEER_StorageVolume at  host \n", "  BlockSize uint64 =512 ",
          "  Primordial boolean =FALSE ", "  EnabledState uint16 =5 "}},
        {"04-GetInstance-association", {"  PartComponent reference =", kVolQ}},
        {"05-GetInstance-qualifiers-classorigin", {"{Description propagated string =Peer test storage volume}",
          "  InstanceID string null ref  origin CIM_ManagedElement size 0 propagated"}},
        {"06-AssociatorNames", {"path //vm/root/cimv2:PEER_ComputerSystem.CreationClassName=\"PEER_ComputerSystem\",Name=\"SYS-A\" host vm\n"}},
        {"07-Associators", {"host vm\n", "  Name string =SYS-A "}},
        {"08-ReferenceNames", {"path //vm/root/cimv2:PEER_SystemDevice.GroupComponent="}},
        {"08-ReferenceNames-provider", {"child=\"//vm/test/TestProvider:Test_CLITestProviderClass.Id=\\\"Mike\\\"\""}},
        {"09-References", {"  PartComponent reference =", kVolQ}},
        {"19-CreateInstance", {"DeviceID=\"VOL-NEW\""}},
        {"20-GetClass", {"<CLASS NAME=\"PEER_TestService\" SUPERCLASS=\"CIM_Service\">", "<METHOD NAME=\"TestJobMethod\" TYPE=\"uint32\"",
          "<PARAMETER.REFERENCE NAME=\"SourceElement\" REFERENCECLASS=\"CIM_ManagedElement\">",
          "<PARAMETER.REFARRAY NAME=\"Members\" REFERENCECLASS=\"CIM_ManagedElement\">", "<PARAMETER.ARRAY NAME=\"Flags\" TYPE=\"uint16\">"}},
        {"12-InvokeMethod", {"extrinsic TestJobMethod", "return uint32 =4096",
          "out Job typed reference =root/cimv2:PEER_ConcreteJob.InstanceID=\"PEER:JOB:0001\"",
          "out TargetElement typed reference =//127.0.0.1/root/cimv2:PEER_StorageVolume.DeviceID=\"600A0B80002A1B3C0000\",SystemName=\"SYS \\\"A\\\\1\\\"\"",
          "DeviceID=\"VOL-2\"", "out OutSize typed uint64 =18446744073709551615", "out Received typed string"}},
        {"12-InvokeMethod-refparams-provider", {"return uint32 =0",
          "out OutParam1 typed reference =Test_CLITestProviderClass.Id=\"Fred\"", "out OutParam2 typed reference[2] ="}},
        {"10-ModifyInstance-propertylist", {"ModifyInstance error 0  without return value\nreturn"}},
        {"14-GetInstance-error-NOT_FOUND-wbemcli", {"error 6 CIM_ERR_NOT_FOUND: "}},
        {"15-EnumerateInstanceNames-error-INVALID_CLASS-wbemcli", {"error 5 CIM_ERR_INVALID_CLASS: PEER_NoSuchClass "}},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE-wbemcli", {"error 3 CIM_ERR_INVALID_NAMESPACE: no/such "}},
        {"18-FrobnicateInstances-error-NOT_SUPPORTED-handwritten", {"error 7 CIM_ERR_NOT_SUPPORTED: Unrecognized intrinsic method: FrobnicateInstances "}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::string got = describeResponse(response(c.sample));
        for (const std::string& h : c.holds)
            EXPECT_NE(got.find(h), std::string::npos) << c.sample << " lacks: " << h;
    }
    // Association keys are references, whatever the texts look like.
    xml::Response a = response("01-EnumerateInstanceNames-association");
    ASSERT_EQ(a.instanceNames.size(), 2u);
    EXPECT_EQ(a.instanceNames[1].findKeyBinding("PartComponent")->getType(),
              CIMKeyBinding::REFERENCE);
    EXPECT_EQ(CIMObjectPath::parse(a.instanceNames[1].toString()), a.instanceNames[1]);
}

// The server prints the missing instance's path in its error description as we do.
TEST_F(WireSamples, TheServerPrintsPathsAsWeDo) {
    cimtest::RecordedMessage nf =
        cimtest::loadRecorded("14-GetInstance-error-NOT_FOUND.response.http");
    EXPECT_EQ(
        xml::percentDecode(field(nf.trailers, "cimstatuscodedescription")),
        "CIM_ERR_NOT_FOUND: " + request("14-GetInstance-error-NOT_FOUND").instanceName->toString());
    EXPECT_EQ(response("14-GetInstance-error-NOT_FOUND-wbemcli").errorDescription,
              "CIM_ERR_NOT_FOUND: " +
                  request("14-GetInstance-error-NOT_FOUND-wbemcli").instanceName->toString());
}

// Every request decodes, as its headers say, and survives our encoder and decoder.
TEST_F(WireSamples, EveryRequestDecodesAsItsHeadersSay) {
    int decoded = 0;
    for (const auto& f : cimtest::wireFiles(".request.http")) {
        cimtest::RecordedMessage m = cimtest::loadRecorded(f);
        const bool malformed = f.find("not-well-formed") != std::string::npos;
        if (malformed || f.find("unsupported-dtd") != std::string::npos) {
            try {
                xml::decodeRequest(m.body);
                ADD_FAILURE() << f;
            } catch (const xml::RequestException& e) {
                EXPECT_EQ(
                    e.cimError() + "/" + std::to_string(e.httpStatus()),
                    malformed ? "request-not-well-formed/400" : "unsupported-dtd-version/501");
            }
            continue;
        }
        xml::Request r;
        ASSERT_NO_THROW(r = xml::decodeRequest(m.body)) << f;
        EXPECT_EQ(xml::cimMethodHeader(r) == field(m.headers, "cimmethod"),
                  f.find("header-mismatch") == std::string::npos)
            << f;
        EXPECT_TRUE(xml::cimObjectHeaderMatches(r, field(m.headers, "cimobject"))) << f;
        EXPECT_TRUE(r.unknownParameters.empty()) << f;
        EXPECT_EQ(describeRequest(xml::decodeRequest(xml::encodeRequest(r))), describeRequest(r))
            << f;
        ++decoded;
    }
    EXPECT_GE(decoded, 45);
}

TEST_F(WireSamples, RequestsHoldWhatTheClientSent) {
    // clang-format off
    const struct { const char* sample; std::vector<std::string> holds; } cases[] = {
        // Flags: LocalOnly, DeepInheritance, IncludeQualifiers, IncludeClassOrigin; "-" when
        // not sent, so the server's default applies.
        {"03-EnumerateInstances-propertylist", {"intrinsic 1000 EnumerateInstances ns root/cimv2 instance - object - class "
          "CIM_StorageVolume flags false--- properties [DeviceID,ElementName,NumberOfBlocks,OperationalStatus,]"}},
        {"02-EnumerateInstances", {" properties all "}},
        {"02-EnumerateInstances-wbemcli", {" flags falsetruefalsetrue "}},
        {"04-GetInstance-association", {"instance PEER_SystemDevice.GroupComponent=", "PartComponent=\"PEER_StorageVolume"}},
        {"06-AssociatorNames", {"object PEER_StorageVolume.", "DeviceID=\"600A0B80002A1B3C0000\"",
          "assoc PEER_SystemDevice result PEER_ComputerSystem role - "}},
        {"10-ModifyInstance-propertylist", {" flags --false- properties [ElementName,] ",
          "  ElementName string =vol0 renamed ", "DeviceID=\"600A0B80002A1B3C0000\""}},
        {"19-CreateInstance", {"  OperationalStatus uint16[2] =2,32768 ", "  DeviceID string =VOL-NEW "}},
        {"16-EnumerateInstanceNames-error-INVALID_NAMESPACE", {" ns no/such "}},
        {"12-InvokeMethod", {"extrinsic 1001 TestJobMethod ns root/cimv2 ", "Name=\"PeerService\"",
          "out ElementName typed string =snap 1", "out Mode typed uint16 =3", "out Size typed uint64 =1099511627776",
          "out Force typed boolean =TRUE", "out SourceElement typed reference =PEER_StorageVolume.",
          "out Members typed reference[2] =", "out Comment typed string null", "out Flags typed uint16[2] =1,2"}},
        // wbemcli sends untyped values; the server gives them their declared types.
        {"12-InvokeMethod-wbemcli", {"out Mode untyped string =4", "out Size untyped string =42",
          "out Force untyped string =false", "out Flags untyped string[3] =5,6,7"}},
        {"12-InvokeMethod-refparams-provider", {" ns test/TestProvider ", "out InParam2 typed reference[2] ="}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::string got = describeRequest(request(c.sample));
        for (const std::string& h : c.holds)
            EXPECT_NE(got.find(h), std::string::npos) << c.sample << " lacks: " << h << "\n" << got;
    }
    EXPECT_EQ(request("10-ModifyInstance-wbemcli").modifiedInstance->getPropertyCount(), 57u);
    xml::Request w = request("12-InvokeMethod-wbemcli");
    EXPECT_EQ(w.inParameters[4].getValue().convertTo(CIMTYPE_UINT16),
              CIMValue(Array<Uint16>{5, 6, 7}));
}
