// CIM-XML decoding of whole documents with pugixml: requests, single instances, and
// responses the way they were decoded before answers were decoded while they arrive.
#include <cim/xml/Codec.h>

#include "DomDecoder.h"

namespace cim::xml {

namespace detail {
bool legalHost(std::string_view host) {
    if (host.empty()) return false;
    for (char ch : host) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']' || c == '%';
        if (!ok) return false;
    }
    return true;
}
}  // namespace detail

namespace {

using detail::clip;
using detail::DomDecoder;
using detail::fail;
using detail::forElements;
using detail::is;
using detail::requireAttr;
using detail::requireChild;
using detail::ResponseSink;
using pugi::xml_node;

bool majorIs(const char* version, char major) {
    return version[0] == major && (version[1] == '.' || version[1] == 0);
}

}  // namespace

namespace detail {

void responseFromDocument(DomDecoder& d, const xml_node& root, Response& r, ResultSink& out) {
    xml_node msg = d.message(root);
    r.messageId = requireAttr(msg, "ID");
    if (msg.child("MULTIRSP")) fail("multiple responses are not supported");
    xml_node simple = requireChild(msg, "SIMPLERSP");
    xml_node rsp = simple.child("IMETHODRESPONSE");
    if (rsp) {
        r.intrinsic = true;
    } else {
        rsp = simple.child("METHODRESPONSE");
        if (!rsp) fail("missing <IMETHODRESPONSE> or <METHODRESPONSE> element in <SIMPLERSP>");
        r.intrinsic = false;
    }
    d.responseBody(rsp, r, out);
}

}  // namespace detail

Response decodeResponseDom(std::string_view body, const Limits& limits) {
    DomDecoder d(limits);
    Response r;
    ResponseSink sink(r);
    detail::responseFromDocument(d, d.load(body), r, sink);
    return r;
}

Request decodeRequest(std::string_view body, const Limits& limits) {
    DomDecoder d(limits);
    xml_node root;
    try {
        root = d.load(body);
    } catch (const DomDecoder::NotWellFormed& e) {
        throw RequestException("request-not-well-formed", 400, e.getMessage());
    } catch (const ParseException& e) {
        throw RequestException("request-not-valid", 400, e.getMessage());
    }
    try {
        if (is(root, "CIM")) {
            const char* cimv = root.attribute("CIMVERSION").value();
            const char* dtdv = root.attribute("DTDVERSION").value();
            if (!majorIs(cimv, '2'))
                throw RequestException("unsupported-cim-version", 501,
                                       "CIM version \"" + clip(cimv) + "\" is not supported");
            if (!majorIs(dtdv, '2'))
                throw RequestException("unsupported-dtd-version", 501,
                                       "DTD version \"" + clip(dtdv) + "\" is not supported");
        }
        xml_node msg = d.message(root);
        Request r;
        r.messageId = requireAttr(msg, "ID");
        const char* pv = msg.attribute("PROTOCOLVERSION").value();
        if (!majorIs(pv, '1'))
            throw RequestException("unsupported-protocol-version", 501,
                                   "protocol version \"" + clip(pv) + "\" is not supported");
        if (msg.child("MULTIREQ"))
            throw RequestException("multiple-requests-unsupported", 501,
                                   "multiple requests are not supported");
        xml_node simple = requireChild(msg, "SIMPLEREQ");
        if (xml_node call = simple.child("IMETHODCALL")) {
            r.intrinsic = true;
            r.methodName = requireAttr(call, "NAME");
            r.nameSpace = d.localNamespacePath(requireChild(call, "LOCALNAMESPACEPATH"));
            forElements(call, [&](const xml_node& p) {
                if (is(p, "IPARAMVALUE")) d.iparam(p, r);
            });
        } else if (xml_node mcall = simple.child("METHODCALL")) {
            r.intrinsic = false;
            r.methodName = requireAttr(mcall, "NAME");
            if (!CIMName::legal(r.methodName))
                fail("illegal method name \"" + clip(r.methodName) + "\"");
            if (xml_node lip = mcall.child("LOCALINSTANCEPATH")) {
                r.target = d.localInstancePath(lip, 0);
            } else if (xml_node lcp = mcall.child("LOCALCLASSPATH")) {
                CIMObjectPath p;
                d.anyPath(lcp, 0, p);
                r.target = p;
            } else {
                fail("missing <LOCALINSTANCEPATH> or <LOCALCLASSPATH> element in <METHODCALL>");
            }
            r.nameSpace = r.target.getNameSpace();
            forElements(mcall, [&](const xml_node& p) {
                if (is(p, "PARAMVALUE")) r.inParameters.push_back(d.paramValue(p));
            });
        } else {
            fail("missing <IMETHODCALL> or <METHODCALL> element in <SIMPLEREQ>");
        }
        return r;
    } catch (const RequestException&) {
        throw;
    } catch (const ParseException& e) {
        throw RequestException("request-not-valid", 400, e.getMessage());
    } catch (const MalformedObjectNameException& e) {
        throw RequestException("request-not-valid", 400, e.getMessage());
    }
}

CIMInstance decodeInstance(std::string_view xmlText, const Limits& limits) {
    DomDecoder d(limits);
    xml_node root = d.load(xmlText);
    if (!is(root, "INSTANCE"))
        fail(std::string("wrong root element <") + root.name() + ">, expected <INSTANCE>");
    return d.instance(root, 0);
}

}  // namespace cim::xml
