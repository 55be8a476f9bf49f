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
    unsigned maxResponseMiB = 256;
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
    if (!o.passwordFile.empty()) return cimq::readPasswordFile(o.passwordFile);
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

// Prints results while they arrive, through one buffer on standard output. Text output is
// made printable (one path per line, no terminal control from server texts); JSON output
// is an array written one element at a time.
class Printer {
  public:
    explicit Printer(bool json) : m_json(json) {}
    ~Printer() { flush(); }

    void path(const cim::CIMObjectPath& p) {
        if (m_json) {
            element(cimq::jsonText(p.toString()));
        } else {
            cimq::appendPrintable(m_out, p.toString());
            m_out += '\n';
        }
        ++m_count;
        flushIfFull();
    }

    void instance(const cim::CIMInstance& i) {
        if (m_json) {
            element(cimq::jsonText(cimq::toJson(i)));
        } else {
            if (m_count) m_out += '\n';
            cimq::describe(m_out, i);
        }
        ++m_count;
        flushIfFull();
    }

    // Closes the JSON array.
    void finish() {
        if (m_json) m_out += m_count ? "\n]\n" : "[]\n";
        flush();
    }

    void flush() {
        if (!m_out.empty()) std::fwrite(m_out.data(), 1, m_out.size(), stdout);
        m_out.clear();
        std::fflush(stdout);
    }

  private:
    // One element of the array, indented as a whole array printed with indent 2 would be.
    void element(const std::string& text) {
        m_out += m_count ? ",\n  " : "[\n  ";
        for (char c : text) {
            m_out += c;
            if (c == '\n') m_out += "  ";
        }
    }
    void flushIfFull() {
        if (m_out.size() >= (std::size_t(1) << 16)) flush();
    }

    bool m_json;
    std::size_t m_count = 0;
    std::string m_out;
};

std::string printable(const std::string& text) {
    std::string out;
    cimq::appendPrintable(out, text);
    return out;
}

int run(const Options& o) {
    const cimq::Endpoint endpoint = cimq::parseUrl(o.url);
    const unsigned timeoutMs = cimq::timeoutMilliseconds(o.timeoutSeconds);
    if (o.maxResponseMiB < 1 || o.maxResponseMiB > 65536) {
        throw UsageError("--max-response-mib must be between 1 and 65536");
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
    client.setTimeout(timeoutMs);
    client.setMaxResponseSize(std::size_t(o.maxResponseMiB) << 20);
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

    Printer out(o.json);
    auto onPath = [&](cim::CIMObjectPath&& p) { out.path(p); };
    auto onInstance = [&](cim::CIMInstance&& i) { out.instance(i); };
    if (o.command == "ein") {
        client.forEachInstanceName(ns, o.className, onPath);
        out.finish();
    } else if (o.command == "ei") {
        client.forEachInstance(ns, o.className, onInstance, true, false, false, false, props);
        out.finish();
    } else if (o.command == "gi") {
        out.instance(client.getInstance(ns, target, false, false, false, props));
        out.finish();
    } else if (o.command == "an") {
        client.forEachAssociatorName(ns, target, onPath, assoc, result, o.role, o.resultRole);
        out.finish();
    } else if (o.command == "ai") {
        client.forEachAssociator(ns, target, onInstance, assoc, result, o.role, o.resultRole, false,
                                 false, props);
        out.finish();
    } else if (o.command == "rn") {
        client.forEachReferenceName(ns, target, onPath, result, o.role);
        out.finish();
    } else if (o.command == "ri") {
        client.forEachReference(ns, target, onInstance, result, o.role, false, false, props);
        out.finish();
    } else if (o.command == "im") {
        std::vector<cim::CIMParamValue> outParams;
        cim::CIMValue ret = client.invokeMethod(ns, target, o.method, inParams, outParams);
        if (o.json) {
            json params = json::object();
            for (const auto& p : outParams)
                params[p.getParameterName()] = cimq::toJson(p.getValue());
            json j;
            j["returnValue"] = cimq::toJson(ret);
            j["outParameters"] = std::move(params);
            std::cout << cimq::jsonText(j) << '\n';
        } else {
            std::cout << "ReturnValue = " << (ret.isNull() ? "NULL" : printable(ret.toString()))
                      << '\n';
            for (const auto& p : outParams) {
                std::cout << printable(p.getParameterName()) << " = "
                          << (p.getValue().isNull() ? "NULL" : printable(p.getValue().toString()))
                          << '\n';
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
            std::cout << cimq::jsonText(
                             json{{"modified", target.toString()}, {"property", propertyName}})
                      << '\n';
        } else {
            std::cout << "Modified " << propertyName << " of " << printable(target.toString())
                      << '\n';
        }
    } else if (o.command == "di") {
        client.deleteInstance(ns, target);
        if (o.json) {
            std::cout << cimq::jsonText(json{{"deleted", target.toString()}}) << '\n';
        } else {
            std::cout << "Deleted " << printable(target.toString()) << '\n';
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

Password: with -u, from --password-file (first line; at most 4096 bytes), from
  --password-env, or else asked for on the terminal. It is never taken from the command line.

Text output escapes control characters in server texts (\n, \xHH, \u00HH), so that every
  path stays on one line; JSON output replaces bytes that are not UTF-8 with U+FFFD.

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
    app.add_option("--timeout", o.timeoutSeconds,
                   "Time-out per operation in seconds, at least 0.001 (default 60)");
    app.add_option("--max-response-mib", o.maxResponseMiB,
                   "Largest answer accepted, in MiB (default 256)");
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
    } catch (const cim::ResponseTooLargeException& e) {
        std::cerr << "cimq: the answer is larger than the limit of " << (e.getLimit() >> 20)
                  << " MiB; --max-response-mib raises it\n";
        return 1;
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
