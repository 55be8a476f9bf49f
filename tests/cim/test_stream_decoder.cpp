// The streaming decoder against the whole-document decoder, then what only it does.
#include <gtest/gtest.h>

#include <functional>

#include <cim/CIM.h>
#include <cim/xml/Codec.h>

#include "testsupport/LoopbackServer.h"
#include "testsupport/RandomCim.h"

using namespace cim;
using namespace cim::xml;
using testsupport::describeResponse;
using testsupport::RandomCim;

namespace {

// Collects what a handler receives into a Response, in order.
struct Collect : ResponseHandler {
    Response got;
    void instance(CIMInstance&& i) override { got.instances.push_back(std::move(i)); }
    void instanceName(CIMObjectPath&& p) override { got.instanceNames.push_back(std::move(p)); }
};

// Fed in pieces of random sizes (one piece when maxPiece is 0), through a handler.
std::string viaStream(const std::string& body, RandomCim& g, std::uint32_t maxPiece) {
    Collect c;
    ResponseDecoder d(Limits(), &c);
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t n =
            std::min<std::size_t>(maxPiece ? 1 + g.below(maxPiece) : body.size(), body.size() - at);
        d.feed(body.data() + at, n);
        at += n;
    }
    Response r = d.finish();
    r.instances = std::move(c.got.instances);
    r.instanceNames = std::move(c.got.instanceNames);
    return describeResponse(r);
}

std::string answer(RandomCim& g) {
    std::string xml = encodeResponse(g.response());
    return g.chance(50) ? g.respell(xml) : xml;
}

std::string names(int count) {
    std::string s = "<IRETURNVALUE>";
    for (int i = 0; i < count; ++i)
        s += "<INSTANCENAME CLASSNAME=\"V\"><KEYBINDING NAME=\"ID\"><KEYVALUE>" +
             std::to_string(i) + "</KEYVALUE></KEYBINDING></INSTANCENAME>\n";
    return cimtest::simpleResponse("7", "EnumerateInstanceNames", s + "</IRETURNVALUE>");
}

}  // namespace

// Damaged, both refuse or both give the same results.
TEST(StreamDecoder, DecodesGeneratedAnswersAsTheWholeDocumentDecoderDoes) {
    auto orRefused = [](const std::function<std::string()>& decode) {
        try {
            return decode();
        } catch (const ParseException&) {
            return std::string("refused");
        }
    };
    for (std::uint32_t seed = 0; seed < 3000; ++seed) {
        RandomCim g(seed);
        const std::string xml = answer(g);
        const std::string dom = describeResponse(decodeResponseDom(xml));
        ASSERT_EQ(viaStream(xml, g, 0), dom) << "seed " << seed << "\n" << xml;
        ASSERT_EQ(viaStream(xml, g, 1 + g.below(300)), dom) << "seed " << seed << " in pieces";
        const std::string bad = g.damage(xml);
        ASSERT_EQ(orRefused([&] { return viaStream(bad, g, 1 + g.below(200)); }),
                  orRefused([&] { return describeResponse(decodeResponseDom(bad)); }))
            << "seed " << seed << " damaged\n"
            << bad;
    }
}

// Faults anywhere raise ParseException after the results before them were handed over.
TEST(StreamDecoder, FaultsAreFoundWhereverTheyAre) {
    const std::string ok = names(3), big = names(100);
    const std::size_t results = ok.find("<IRETURNVALUE>") + 14;
    // Inserted at the start of the results, before the end of the results / response / message.
    auto at = [&](const std::string& mark, const std::string& text, std::size_t cut = 0) {
        const std::size_t p = mark.empty() ? results : ok.find(mark);
        return ok.substr(0, p) + text + ok.substr(p + cut);
    };
    struct Case {
        const char* name;
        std::string body;
        const char* words;
        std::size_t delivered;
        std::size_t limit = Limits().maxBytes;
    } cases[] = {
        // clang-format off
        {"cut inside a result", ok.substr(0, ok.rfind("<KEYVALUE>")), "malformed XML", 2},
        {"cut after the results", ok.substr(0, ok.size() - 10), "malformed XML", 3},
        {"document type in the prolog", "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"x\">]>" + ok.substr(ok.find("?>") + 2), "document type", 0},
        {"document type among the results", at("", "<!DOCTYPE x>"), "document type", 0},
        {"mismatched end of the results", at("</IRETURNVALUE>", "</IRETURNVALUES>", 15), "malformed XML", 3},
        {"unknown markup", at("", "<!ELEMENT x>"), "malformed XML", 0},
        {"NUL among the results", at("", std::string(1, '\0')), "malformed XML", 0},
        {"error element after the results", at("</IMETHODRESPONSE>", "<ERROR CODE=\"abc\"/>"), "invalid CODE", 3},
        {"multiple responses", at("</MESSAGE>", "<MULTIRSP/>"), "multiple", 3},
        {"one byte past the size limit", big, "exceeds the limit", 100, big.size() - 1},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Collect got;
        Limits limits;
        limits.maxBytes = c.limit;
        ResponseDecoder d(limits, &got);
        try {
            for (char ch : c.body) d.feed(&ch, 1);
            d.finish();
            ADD_FAILURE() << "decoded";
        } catch (const ParseException& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
        }
        EXPECT_EQ(got.got.instanceNames.size(), c.delivered);
    }
}

// Consecutive results share the texts they repeat; what they hold is still their own.
TEST(StreamDecoder, SharedTextsStayIndependentValues) {
    Response r = decodeResponse(names(3));
    ASSERT_EQ(r.instanceNames.size(), 3u);
    r.instanceNames[0].setClassName("Other");
    std::vector<CIMKeyBinding> keys = r.instanceNames[1].getKeyBindings();
    keys[0].setValue("changed");
    r.instanceNames[1].setKeyBindings(keys);
    EXPECT_EQ(r.instanceNames[1].toString(), "V.ID=\"changed\"");
    EXPECT_EQ(r.instanceNames[2].toString(), "V.ID=\"2\"");
}
