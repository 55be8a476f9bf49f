// Object path texts and value texts: no crash; every parsed path prints to a text that
// parses back to an equal path, and printing is stable.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <cim/CIMDateTime.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMValue.h>
#include <cim/Exception.h>
#include <cim/xml/HttpHeaders.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        cim::CIMObjectPath p = cim::CIMObjectPath::parse(text);
        std::string s = p.toString();
        cim::CIMObjectPath q = cim::CIMObjectPath::parse(s);
        if (q != p || q.toString() != s) std::abort();
    } catch (const cim::MalformedObjectNameException&) {
    }
    if (cim::xml::percentDecode(cim::xml::percentEncode(text)) != text) std::abort();
    cim::CIMDateTime dt;
    if (cim::CIMDateTime::parse(text, dt) && dt.toString() != text) std::abort();
    if (size > 0) {
        auto type = static_cast<cim::CIMType>(data[0] % 15);  // scalar types up to reference
        try {
            cim::CIMValue v = cim::CIMValue::fromText(type, text.substr(1));
            cim::CIMValue w = cim::CIMValue::fromText(type, v.toString());
            bool nan = (type == cim::CIMTYPE_REAL32 || type == cim::CIMTYPE_REAL64) &&
                       v.toString() == "NaN";
            if (!nan && w != v) std::abort();
        } catch (const cim::Exception&) {
        }
    }
    return 0;
}
