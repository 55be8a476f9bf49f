// Raw HTTP helpers for talking CIM-XML to the simulator without our CIM client.
#pragma once

#include <memory>
#include <string>

#include <httplib.h>

#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include "sim/server/TestServer.h"

namespace simtest {

// A keep-alive client logged in to the simulator.
inline std::unique_ptr<httplib::Client> client(sim::TestServer& s) {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", s.httpPort());
    c->set_basic_auth(s.user(), s.password());
    c->set_keep_alive(true);
    c->set_read_timeout(30, 0);
    return c;
}

inline httplib::Headers cimHeaders(const cim::xml::Request& r) {
    return {{"CIMOperation", "MethodCall"},
            {"CIMMethod", cim::xml::cimMethodHeader(r)},
            {"CIMObject", cim::xml::cimObjectHeader(r)},
            {"CIMProtocolVersion", "1.0"}};
}

// Over an httplib::Client or SSLClient.
template <class Client>
httplib::Result postCim(Client& client, const cim::xml::Request& r) {
    return client.Post("/cimom", cimHeaders(r), cim::xml::encodeRequest(r),
                       "application/xml; charset=\"utf-8\"");
}

inline cim::xml::Request enumerateNames(const std::string& ns, const std::string& cls) {
    cim::xml::Request r;
    r.methodName = cim::xml::kEnumerateInstanceNames;
    r.nameSpace = ns;
    r.className = cim::CIMName(cls);
    return r;
}

inline cim::xml::Request getInstance(const std::string& ns, const cim::CIMObjectPath& path) {
    cim::xml::Request r;
    r.methodName = cim::xml::kGetInstance;
    r.nameSpace = ns;
    cim::CIMObjectPath local = path;
    local.setHost("");
    local.setNameSpace(cim::CIMNamespaceName());
    r.instanceName = local;
    return r;
}

inline cim::xml::Request invoke(const cim::CIMObjectPath& target, const std::string& ns,
                                const std::string& method) {
    cim::xml::Request r;
    r.intrinsic = false;
    r.methodName = method;
    r.nameSpace = ns;
    cim::CIMObjectPath local = target;
    local.setHost("");
    local.setNameSpace(ns);
    r.target = local;
    return r;
}

}  // namespace simtest
