// Response decoder: no crash on any input; whatever decodes re-encodes to something that
// decodes again, and every decoded path survives its text form.
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    cim::xml::Limits limits;
    limits.maxBytes = 1 << 20;
    cim::xml::Response r;
    try {
        r = cim::xml::decodeResponse(body, limits);
    } catch (const cim::Exception&) {
        return 0;
    }
    for (const auto& p : r.instanceNames) checkPath(p);
    for (const auto& i : r.instances) {
        checkPath(i.getPath());
        for (const auto& prop : i.getProperties()) (void)prop.getValue().toString();
    }
    for (const auto& p : r.outParameters) (void)p.getValue().toString();
    (void)r.returnValue.toString();
    std::string again = cim::xml::encodeResponse(r);
    try {
        cim::xml::decodeResponse(again);
    } catch (const cim::Exception&) {
        std::abort();  // our own output must always read back
    }
    return 0;
}
