// cimq: look into a CIM server (an SMI-S provider) from the command line.
#include <cim/CIMClient.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "CimqSupport.h"

namespace {

using cimq::UsageError;
using nlohmann::json;

struct Options {
    std::string url = "http://localhost:5988";
    std::string nameSpace;
    std::string user;
    std::string passwordFile;
    std::string passwordEnv;
    bool insecure = false;
    std::string caFile;
    double timeoutSeconds = 60;
    bool json = false;

    std::string command;
    std::string className;
    std::string path;
    std::string method;
    std::string assignment;
    std::vector<std::string> properties;
    std::vector<std::string> parameters;
    std::string assocClass;
    std::string resultClass;
    std::string role;
    std::string resultRole;
};

std::string readPasswordFile(const std::string& file) {
    std::ifstream in(file);
    if (!in) throw UsageError("cannot read the password file " + file);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string promptPassword(const std::string& user) {
    int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        throw UsageError("no terminal to ask for the password of " + user +
                         "; use --password-file or --password-env");
    }
    std::string prompt = "Password for " + user + ": ";
    (void)!::write(fd, prompt.data(), prompt.size());
    termios old{};
    bool restore = ::tcgetattr(fd, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string password;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') password += c;
    if (restore) ::tcsetattr(fd, TCSAFLUSH, &old);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    return password;
}

std::string password(const Options& o) {
    if (!o.passwordFile.empty()) return readPasswordFile(o.passwordFile);
    if (!o.passwordEnv.empty()) {
        const char* value = std::getenv(o.passwordEnv.c_str());
        if (value == nullptr)
            throw UsageError("environment variable " + o.passwordEnv + " is not set");
        return value;
    }
    if (o.user.empty()) return {};
    return promptPassword(o.user);
}

cim::CIMObjectPath parsePath(const std::string& text) {
    try {
        return cim::CIMObjectPath::parse(text);
    } catch (const cim::MalformedObjectNameException& e) {
        throw UsageError(e.getMessage());
    }
}

cim::CIMPropertyList propertyList(const std::vector<std::string>& names) {
    if (names.empty()) return cim::CIMPropertyList();
    std::vector<cim::CIMName> list;
    for (const auto& n : names) {
        if (!cim::CIMName::legal(n)) throw UsageError("illegal property name '" + n + "'");
        list.emplace_back(n);
    }
    return cim::CIMPropertyList(list);
}

void printPaths(const Options& o, const std::vector<cim::CIMObjectPath>& paths) {
    if (o.json) {
        json j = json::array();
        for (const auto& p : paths) j.push_back(p.toString());
        std::cout << j.dump(2) << '\n';
        return;
    }
    for (const auto& p : paths) std::cout << p.toString() << '\n';
}

void printInstances(const Options& o, const std::vector<cim::CIMInstance>& instances) {
    if (o.json) {
        json j = json::array();
        for (const auto& i : instances) j.push_back(cimq::toJson(i));
        std::cout << j.dump(2) << '\n';
        return;
    }
    bool first = true;
    for (const auto& i : instances) {
        if (!first) std::cout << '\n';
        first = false;
        std::cout << cimq::describe(i);
    }
}

int run(const Options& o) {
    const cimq::Endpoint endpoint = cimq::parseUrl(o.url);
    if (o.timeoutSeconds <= 0 || o.timeoutSeconds > 86400) {
        throw UsageError("--timeout must be between 0 and 86400 seconds");
    }

    // Check every argument before any network traffic.
    cim::CIMObjectPath target;
    if (!o.path.empty()) target = parsePath(o.path);
    if (!o.className.empty() && !cim::CIMName::legal(o.className)) {
        throw UsageError("illegal class name '" + o.className + "'");
    }
    const cim::CIMPropertyList props = propertyList(o.properties);
    std::vector<cim::CIMParamValue> inParams;
    if (o.command == "im") {
        if (!cim::CIMName::legal(o.method))
            throw UsageError("illegal method name '" + o.method + "'");
        inParams = cimq::parseParameters(o.parameters);
    }
    std::string propertyName, propertyText;
    if (o.command == "mi") {
        std::size_t eq = o.assignment.find('=');
        if (eq == std::string::npos || eq == 0) throw UsageError("mi takes PROPERTY=VALUE");
        propertyName = o.assignment.substr(0, eq);
        propertyText = o.assignment.substr(eq + 1);
    }
    cim::CIMNamespaceName ns = !o.nameSpace.empty() ? cim::CIMNamespaceName(o.nameSpace)
                               : !target.getNameSpace().isNull()
                                   ? target.getNameSpace()
                                   : cim::CIMNamespaceName("root/cimv2");
    if (!cim::CIMNamespaceName::legal(ns.getString())) {
        throw UsageError("illegal namespace '" + ns.getString() + "'");
    }

    const std::string secret = password(o);
    cim::CIMClient client;
    client.setTimeout(static_cast<cim::Uint32>(o.timeoutSeconds * 1000));
    if (endpoint.https) {
        cim::SSLContext ssl =
            o.insecure
                ? cim::SSLContext(std::string(), [](cim::SSLCertificateInfo&) { return true; })
                : cim::SSLContext(o.caFile);
        client.connect(endpoint.host, endpoint.port, ssl, o.user, secret);
    } else {
        client.connect(endpoint.host, endpoint.port, o.user, secret);
    }

    const cim::CIMName assoc = o.assocClass.empty() ? cim::CIMName() : cim::CIMName(o.assocClass);
    const cim::CIMName result =
        o.resultClass.empty() ? cim::CIMName() : cim::CIMName(o.resultClass);

    if (o.command == "ein") {
        printPaths(o, client.enumerateInstanceNames(ns, o.className));
    } else if (o.command == "ei") {
        printInstances(
            o, client.enumerateInstances(ns, o.className, true, false, false, false, props));
    } else if (o.command == "gi") {
        printInstances(o, {client.getInstance(ns, target, false, false, false, props)});
    } else if (o.command == "an") {
        printPaths(o, client.associatorNames(ns, target, assoc, result, o.role, o.resultRole));
    } else if (o.command == "ai") {
        printInstances(o, client.associators(ns, target, assoc, result, o.role, o.resultRole, false,
                                             false, props));
    } else if (o.command == "rn") {
        printPaths(o, client.referenceNames(ns, target, result, o.role));
    } else if (o.command == "ri") {
        printInstances(o, client.references(ns, target, result, o.role, false, false, props));
    } else if (o.command == "im") {
        std::vector<cim::CIMParamValue> out;
        cim::CIMValue ret = client.invokeMethod(ns, target, o.method, inParams, out);
        if (o.json) {
            json params = json::object();
            for (const auto& p : out) params[p.getParameterName()] = cimq::toJson(p.getValue());
            json j;
            j["returnValue"] = cimq::toJson(ret);
            j["outParameters"] = std::move(params);
            std::cout << j.dump(2) << '\n';
        } else {
            std::cout << "ReturnValue = " << (ret.isNull() ? "NULL" : ret.toString()) << '\n';
            for (const auto& p : out) {
                std::cout << p.getParameterName() << " = "
                          << (p.getValue().isNull() ? "NULL" : p.getValue().toString()) << '\n';
            }
        }
    } else if (o.command == "mi") {
        cim::CIMInstance instance = client.getInstance(ns, target, false, false, false);
        cim::Uint32 index = instance.findProperty(propertyName);
        if (index == cim::PEG_NOT_FOUND) {
            throw UsageError("the instance has no property " + propertyName);
        }
        cim::CIMProperty& property = instance.getProperty(index);
        property.setValue(
            cimq::parsePropertyValue(property.getType(), property.isArray(), propertyText));
        instance.setPath(target);
        client.modifyInstance(ns, instance, false, cim::CIMPropertyList({property.getName()}));
        if (o.json) {
            std::cout << json{{"modified", target.toString()}, {"property", propertyName}}.dump(2)
                      << '\n';
        } else {
            std::cout << "Modified " << propertyName << " of " << target.toString() << '\n';
        }
    } else if (o.command == "di") {
        client.deleteInstance(ns, target);
        if (o.json) {
            std::cout << json{{"deleted", target.toString()}}.dump(2) << '\n';
        } else {
            std::cout << "Deleted " << target.toString() << '\n';
        }
    }
    client.disconnect();
    return 0;
}

const char* kFooter = R"(Paths are object path texts such as
  'LSISSI_StorageVolume.CreationClassName="LSISSI_StorageVolume",DeviceID="X",SystemName="Y"'
  (quote them for the shell). A path with a namespace ("root/ns:Class.key=...") sets the
  namespace unless -n is given; the default namespace is root/cimv2.

im parameters are NAME=TYPE:VALUE with TYPE one of boolean, uint8, sint8, uint16, sint16,
  uint32, sint32, uint64, sint64, real32, real64, char16, string, datetime, reference.
  TYPE[] makes an array; repeat NAME=TYPE[]:VALUE for each element. NAME=TYPE (no ':') sends
  a null value. Example: SyncType=uint16:7 Members=reference[]:PATH1 Members=reference[]:PATH2
mi sets one property, PROPERTY=VALUE, converted to the property's type (array elements
  separated by ','); only that property is sent (property list).

Password: with -u, from --password-file (first line), from --password-env, or else asked
  for on the terminal. It is never taken from the command line.

Exit status: 0 success, 1 failure (HTTP error, time-out, bad answer), 2 bad usage,
  3 cannot connect (refused, unreachable, TLS rejected), 4 the server reported a CIM error.)";

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"cimq: query and change a CIM server (CIM-XML over HTTP/HTTPS)", "cimq"};
    app.footer(kFooter);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--url", o.url,
                   "Server URL, http(s)://host[:port] (default http://localhost:5988; "
                   "port 5988 for http, 5989 for https)");
    app.add_option("-n,--namespace", o.nameSpace, "CIM namespace, e.g. root/LsiArray13");
    app.add_option("-u,--user", o.user, "User name for Basic authentication");
    auto* pwFile = app.add_option("--password-file", o.passwordFile,
                                  "Read the password from the first line of this file");
    auto* pwEnv = app.add_option("--password-env", o.passwordEnv,
                                 "Read the password from this environment variable");
    pwFile->excludes(pwEnv);
    auto* insecure = app.add_flag("--insecure", o.insecure,
                                  "HTTPS: accept any server certificate (encryption only)");
    auto* ca = app.add_option("--ca-file", o.caFile,
                              "HTTPS: trust store (PEM file or certificate directory); the "
                              "certificate must also name the host. Default: system CAs");
    insecure->excludes(ca);
    app.add_option("--timeout", o.timeoutSeconds, "Time-out per operation in seconds (default 60)");
    app.add_flag("--json", o.json, "Print JSON instead of text");

    auto addPath = [&](CLI::App* sub) {
        sub->add_option("PATH", o.path, "Object path text")->required();
    };
    auto addProps = [&](CLI::App* sub) {
        sub->add_option("-p,--property", o.properties,
                        "Return only this property (repeatable); default all")
            ->allow_extra_args(false);
    };
    auto addAssoc = [&](CLI::App* sub, bool names) {
        if (names)
            sub->add_option("--assoc-class", o.assocClass, "Only through this association class");
        sub->add_option("--result-class", o.resultClass, "Only results of this class");
        sub->add_option("--role", o.role, "Role of the source object in the association");
        if (names) sub->add_option("--result-role", o.resultRole, "Role of the result object");
    };

    auto* ein = app.add_subcommand("ein", "Enumerate instance names of CLASS (one path per line)");
    ein->add_option("CLASS", o.className, "Class name")->required();
    auto* ei = app.add_subcommand("ei", "Enumerate instances of CLASS (deep, not local only)");
    ei->add_option("CLASS", o.className, "Class name")->required();
    addProps(ei);
    auto* gi = app.add_subcommand("gi", "Get the instance at PATH");
    addPath(gi);
    addProps(gi);
    auto* an = app.add_subcommand("an", "Associator names of PATH");
    addPath(an);
    addAssoc(an, true);
    auto* ai = app.add_subcommand("ai", "Associators (instances) of PATH");
    addPath(ai);
    addAssoc(ai, true);
    addProps(ai);
    auto* rn = app.add_subcommand("rn", "Reference names of PATH");
    addPath(rn);
    addAssoc(rn, false);
    auto* ri = app.add_subcommand("ri", "References (association instances) of PATH");
    addPath(ri);
    addAssoc(ri, false);
    addProps(ri);
    auto* im = app.add_subcommand("im", "Invoke METHOD on PATH with NAME=TYPE:VALUE parameters");
    addPath(im);
    im->add_option("METHOD", o.method, "Method name")->required();
    im->add_option("PARAMS", o.parameters, "Input parameters NAME=TYPE:VALUE");
    auto* mi = app.add_subcommand("mi", "Modify one property of the instance at PATH");
    addPath(mi);
    mi->add_option("ASSIGNMENT", o.assignment, "PROPERTY=VALUE")->required();
    auto* di = app.add_subcommand("di", "Delete the instance at PATH");
    addPath(di);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    for (auto* sub : app.get_subcommands()) o.command = sub->get_name();

    try {
        return run(o);
    } catch (const UsageError& e) {
        std::cerr << "cimq: " << e.what() << '\n';
        return 2;
    } catch (const cim::CannotConnectException& e) {
        std::cerr << "cimq: cannot connect to " << o.url << ": " << e.what() << '\n';
        return 3;
    } catch (const cim::CIMException& e) {
        std::cerr << "cimq: CIM error " << static_cast<int>(e.getCode()) << ": " << e.what()
                  << '\n';
        return 4;
    } catch (const cim::Exception& e) {
        std::cerr << "cimq: " << e.what() << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "cimq: " << e.what() << '\n';
        return 1;
    }
}
