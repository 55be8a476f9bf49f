// Response decoder: no crash on any input, fed in pieces as the network would; the streaming
// decoder agrees with the whole-document decoder (both refuse, or both give the same
// objects); whatever decodes re-encodes to something that decodes again, and every decoded
// path survives its text form.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>

namespace {

void checkPath(const cim::CIMObjectPath& p) {
    if (p.getClassName().isNull()) return;  // instances without a path
    if (cim::CIMObjectPath::parse(p.toString()) != p) std::abort();
}

struct Collect : cim::xml::ResponseHandler {
    cim::xml::Response got;
    void instance(cim::CIMInstance&& i) override { got.instances.push_back(std::move(i)); }
    void instanceName(cim::CIMObjectPath&& p) override {
        got.instanceNames.push_back(std::move(p));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte sets the size of the pieces the rest arrives in.
    const std::size_t piece = 1 + data[0] % 97;
    std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    cim::xml::Limits limits;
    limits.maxBytes = 1 << 20;

    cim::xml::Response r;
    bool streamed = true;
    try {
        Collect c;
        cim::xml::ResponseDecoder d(limits, &c);
        for (std::size_t at = 0; at < body.size(); at += piece)
            d.feed(body.data() + at, std::min(piece, body.size() - at));
        r = d.finish();
        r.instances = std::move(c.got.instances);
        r.instanceNames = std::move(c.got.instanceNames);
    } catch (const cim::Exception&) {
        streamed = false;
    }
    cim::xml::Response dom;
    bool whole = true;
    try {
        dom = cim::xml::decodeResponseDom(body, limits);
    } catch (const cim::Exception&) {
        whole = false;
    }
    if (streamed != whole) std::abort();
    if (!streamed) return 0;
    const std::string again = cim::xml::encodeResponse(r);
    if (again != cim::xml::encodeResponse(dom)) std::abort();

    for (const auto& p : r.instanceNames) checkPath(p);
    for (const auto& i : r.instances) {
        checkPath(i.getPath());
        for (const auto& prop : i.getProperties()) (void)prop.getValue().toString();
    }
    for (const auto& p : r.outParameters) (void)p.getValue().toString();
    (void)r.returnValue.toString();
    try {
        cim::xml::decodeResponse(again);
    } catch (const cim::Exception&) {
        std::abort();  // our own output must always read back
    }
    return 0;
}
