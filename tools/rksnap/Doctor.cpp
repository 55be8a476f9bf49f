// rksnap doctor: checks, in order and one line each, what a snapshot needs from
// the configuration and from each array's provider. Provider queries go through
// cimq, our CIM client program shipped beside rksnap.
#include <arpa/inet.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "App.h"
#include "Process.h"
#include "rkso/RKPassword.h"
#include "rkso/RkDeviceTree.h"

namespace rksnap {
namespace {

using nlohmann::json;

struct Check {
    std::string name;
    std::string status;  // ok, problem, skipped
    std::string detail;
    std::string fix;
};

class ArrayDoctor {
  public:
    ArrayDoctor(Session& s, const ArrayEntry& a) : m_s(s), m_a(a) {}
    std::vector<Check> run();

  private:
    void add(const std::string& name, bool ok, const std::string& detail,
             const std::string& fix = "") {
        m_checks.push_back({name, ok ? "ok" : "problem", detail, ok ? "" : fix});
        if (!ok) m_stop = true;
    }
    void skip(const std::string& name) {
        m_checks.push_back({name, "skipped", "an earlier check failed", ""});
    }
    bool decrypt(const std::string& encrypted, std::string* plain, std::string* error);
    bool tcp(std::string* error, int* fd);
    bool tls(int fd, std::string* detail);
    // cimq's JSON answer; false with its complaint.
    bool cimq(const std::vector<std::string>& args, json* out, std::string* error, int* rc);

    Session& m_s;
    const ArrayEntry& m_a;
    std::vector<Check> m_checks;
    bool m_stop = false;
    std::string m_password;
};

bool ArrayDoctor::decrypt(const std::string& encrypted, std::string* plain, std::string* error) {
    std::vector<char> buf(4100, '\0');
    RKPassword p(m_s.keyFile());
    if (!p.decrypt(encrypted.c_str(), buf.data(), buf.size())) {
        *error = p.getLastError();
        return false;
    }
    *plain = buf.data();
    std::fill(buf.begin(), buf.end(), '\0');
    return true;
}

bool ArrayDoctor::tcp(std::string* error, int* fd) {
    addrinfo hints{}, *res = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    int rc =
        getaddrinfo(m_a.address.c_str(), std::to_string(m_a.effectivePort()).c_str(), &hints, &res);
    if (rc != 0) {
        *error = std::string("cannot resolve ") + m_a.address + ": " + gai_strerror(rc);
        return false;
    }
    *fd = socket(res->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    rc = connect(*fd, res->ai_addr, res->ai_addrlen);
    freeaddrinfo(res);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{*fd, POLLOUT, 0};
        int err = ETIMEDOUT;
        socklen_t len = sizeof err;
        if (poll(&p, 1, 5000) == 1) getsockopt(*fd, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = err == 0 ? 0 : -1;
        errno = err;
    }
    if (rc != 0) {
        *error = std::string(std::strerror(errno));
        close(*fd);
        *fd = -1;
        return false;
    }
    // Blocking again, with time-outs, for the TLS handshake.
    fcntl(*fd, F_SETFL, fcntl(*fd, F_GETFL) & ~O_NONBLOCK);
    timeval tv{5, 0};
    setsockopt(*fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(*fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return true;
}

std::string nameText(X509_NAME* name) {
    char buf[512] = {};
    X509_NAME_oneline(name, buf, sizeof buf - 1);
    return buf;
}

bool ArrayDoctor::tls(int fd, std::string* detail) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, m_a.address.c_str());
    bool ok = SSL_connect(ssl) == 1;
    if (!ok) {
        *detail = "TLS handshake failed";
    } else if (X509* cert = SSL_get1_peer_certificate(ssl)) {
        const ASN1_TIME* notAfter = X509_get0_notAfter(cert);
        int days = 0, secs = 0;
        ASN1_TIME_diff(&days, &secs, nullptr, notAfter);
        BIO* bio = BIO_new(BIO_s_mem());
        ASN1_TIME_print(bio, notAfter);
        char when[64] = {};
        BIO_read(bio, when, sizeof when - 1);
        BIO_free(bio);
        *detail = std::string(SSL_get_version(ssl)) + ", subject " +
                  nameText(X509_get_subject_name(cert)) + ", issuer " +
                  nameText(X509_get_issuer_name(cert)) + ", expires " + when;
        if (days < 0 || (days == 0 && secs < 0)) {
            ok = false;
            *detail += " (expired)";
        }
        X509_free(cert);
    } else {
        ok = false;
        *detail = "the provider sent no certificate";
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return ok;
}

bool ArrayDoctor::cimq(const std::vector<std::string>& args, json* out, std::string* error,
                       int* rc) {
    const std::string self = [] {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }();
    const std::string program = self.substr(0, self.find_last_of('/')) + "/cimq";
    std::vector<std::string> argv = {program,
                                     "--url",
                                     std::string(m_a.https ? "https://" : "http://") + m_a.address +
                                         ":" + std::to_string(m_a.effectivePort()),
                                     "-u",
                                     m_a.user,
                                     "--password-env",
                                     "RKSNAP_PROVIDER_PASSWORD",
                                     "--timeout",
                                     "30",
                                     "--json"};
    if (m_a.https) argv.push_back("--insecure");  // the certificate is checked on its own line
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {"RKSNAP_PROVIDER_PASSWORD=" + m_password, "PATH=/usr/bin:/bin"};
    char errName[] = "/tmp/rksnap-doctor.XXXXXX";
    int errFd = mkstemp(errName);
    if (errFd >= 0) close(errFd);
    Child c;
    bool started = c.start(argv, errFd >= 0 ? errName : "", env);
    std::fill(env[0].begin(), env[0].end(), '\0');
    if (!started) {
        if (errFd >= 0) unlink(errName);
        *error = "cannot run " + program;
        *rc = -1;
        return false;
    }
    std::string text = c.readAll();
    *rc = c.wait();
    std::string err;
    if (errFd >= 0) {
        std::string why;
        readSmallFile(errName, 65536, &err, &why);
        unlink(errName);
    }
    if (*rc != 0) {
        *error = err.substr(0, err.find('\n'));
        if (error->rfind("cimq: ", 0) == 0) *error = error->substr(6);
        return false;
    }
    *out = json::parse(text, nullptr, false);
    if (out->is_discarded()) {
        *error = "cimq gave no JSON";
        return false;
    }
    return true;
}

bool containsNoCase(const std::string& hay, const std::string& needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    });
    return it != hay.end();
}

std::vector<Check> ArrayDoctor::run() {
    const std::string n = m_a.name;
    std::string error;
    // 1. Configuration and passwords.
    std::string arrayPassword;
    bool pwOk = decrypt(m_a.password, &m_password, &error);
    if (pwOk && !m_a.arrayPassword.empty())
        pwOk = decrypt(m_a.arrayPassword, &arrayPassword, &error);
    add("configuration and passwords", pwOk,
        pwOk ? m_s.config.path() + ", passwords decrypt with " + m_s.keyFile()
             : "cannot decrypt: " + error,
        "rksnap array set-password " + n);
    const std::vector<std::string> names = {
        "provider reachable", "TLS certificate",      "credentials accepted",
        "array namespace",    "storage system",       "shared secret",
        "controllers",        "host initiator ports", "replication service"};
    size_t next = 0;
    auto skipRest = [&] {
        for (; next < names.size(); ++next) skip(names[next]);
    };
    if (m_stop) {
        skipRest();
        return m_checks;
    }
    // 2. TCP, 3. TLS.
    int fd = -1;
    bool reach = tcp(&error, &fd);
    add(names[next++], reach,
        m_a.address + ":" + std::to_string(m_a.effectivePort()) +
            (reach ? " answers" : ": " + error),
        "start the SMI-S provider, or correct the address and port (rksnap array remove/add " + n +
            ")");
    if (m_stop) {
        skipRest();
        return m_checks;
    }
    if (m_a.https) {
        std::string detail;
        bool ok = tls(fd, &detail);
        add(names[next++], ok, detail, "renew the provider's certificate");
    } else {
        m_checks.push_back({names[next++], "ok", "plain HTTP: no certificate (Https = 0)", ""});
    }
    close(fd);
    // 4. Credentials.
    json answer;
    int rc = 0;
    bool ok = cimq({"-n", "interop", "ei", "CIM_Namespace", "-p", "Name"}, &answer, &error, &rc);
    bool refused = !ok && error.find("401") != std::string::npos;
    add(names[next++], ok, ok ? "user " + m_a.user + " logged in" : error,
        refused ? "the provider refused user " + m_a.user + ": rksnap array set-password " + n
                : "check the provider (cimq exit " + std::to_string(rc) + ")");
    if (m_stop) {
        skipRest();
        return m_checks;
    }
    // 5. Namespace through interop.
    std::vector<std::string> spaces;
    for (const json& i : answer) spaces.push_back(i["properties"].value("Name", std::string()));
    std::string ns = m_a.nameSpace;
    if (ns.empty())
        for (const std::string& s : spaces)
            if (s != "interop" && s != "root/interop" && s != "root/cimv2" && ns.empty()) ns = s;
    bool listed = !ns.empty() && std::find(spaces.begin(), spaces.end(), ns) != spaces.end();
    std::string all;
    for (const std::string& s : spaces) all += (all.empty() ? "" : ", ") + s;
    add(names[next++], listed,
        listed ? ns : "'" + (ns.empty() ? std::string("(none)") : ns) + "' not among " + all,
        "set the namespace the provider lists (rksnap array remove/add " + n + " --namespace NS)");
    if (m_stop) {
        skipRest();
        return m_checks;
    }
    // 6. Storage system by id; 8 needs the same answer.
    json systems;
    ok = cimq({"-n", ns, "ein", "CIM_ComputerSystem"}, &systems, &error, &rc);
    bool found = false;
    int controllers = 0;
    for (const json& p : systems) {
        std::string path = p.get<std::string>();
        if (path.find("StorageSystem") != std::string::npos &&
            path.find("Name=\"" + m_a.arrayId + "\"") != std::string::npos)
            found = true;
        if (path.find("StorageProcessorSystem") != std::string::npos) ++controllers;
    }
    add(names[next++], ok && found,
        ok ? (found ? m_a.arrayId : "no storage system " + m_a.arrayId + " in " + ns) : error,
        "correct the array id (rksnap identify DEVICE shows it)");
    if (m_stop) {
        skipRest();
        return m_checks;
    }
    // 7. Shared secret: compared, never shown.
    if (arrayPassword.empty()) {
        m_checks.push_back({names[next++], "skipped", "no array password configured",
                            "rksnap array set-password " + n + " --array-password"});
    } else {
        json secrets;
        ok = cimq({"-n", ns, "ei", "CIM_SharedSecret"}, &secrets, &error, &rc);
        int state = 0;  // 0 none found, 1 in step, 2 out of step
        for (const json& s : secrets)
            if (s["properties"].value("RemoteID", std::string()) == m_a.arrayId ||
                s["properties"].value("SystemName", std::string()) == m_a.arrayId)
                state = s["properties"].value("Secret", std::string()) == arrayPassword ? 1 : 2;
        std::fill(arrayPassword.begin(), arrayPassword.end(), '\0');
        add(names[next++], ok && state == 1,
            !ok          ? error
            : state == 1 ? "the provider holds the configured array password"
            : state == 2
                ? "the provider's copy of the array password differs from the configured one"
                : "the provider shares no array password",
            "rksnap prepare brings it in step; or correct it: rksnap array set-password " + n +
                " --array-password");
        m_stop = false;  // the remaining checks do not depend on it
    }
    // 8. Controllers.
    add(names[next++], controllers >= 2, std::to_string(controllers) + " controller(s)",
        "the array must show both controllers to the provider");
    m_stop = false;
    // 9. This host's initiator ports.
    std::vector<RkInitiatorPort> ports;
    CUxError cux;
    if (!RkDeviceTree::getInitiatorPorts(ports, cux) || ports.empty()) {
        add(names[next++], false, "no initiator ports: " + cux.AsString(),
            "set [Host] InitiatorPorts or check the HBAs");
    } else {
        json ids;
        ok = cimq({"-n", ns, "ei", "CIM_StorageHardwareID", "-p", "StorageID"}, &ids, &error, &rc);
        std::string detail, unknown;
        for (const RkInitiatorPort& p : ports) {
            std::string path;
            for (const json& h : ids)
                if (containsNoCase(h["properties"].value("StorageID", std::string()), p.name) &&
                    h["path"].get<std::string>().find(m_a.arrayId) != std::string::npos)
                    path = h["path"].get<std::string>();
            if (path.empty()) {
                unknown += (unknown.empty() ? "" : ", ") + p.name;
                continue;
            }
            json groups;
            std::string owners;
            if (cimq({"-n", ns, "ai", path, "--assoc-class", "CIM_MemberOfCollection",
                      "--result-class", "CIM_SystemSpecificCollection", "-p", "ElementName"},
                     &groups, &error, &rc))
                for (const json& g : groups)
                    owners += (owners.empty() ? "" : ", ") +
                              g["properties"].value("ElementName", std::string());
            detail += (detail.empty() ? "" : "; ") + p.name + " of " +
                      (owners.empty() ? "no host" : owners);
        }
        add(names[next++], ok && unknown.empty(),
            !ok               ? error
            : unknown.empty() ? detail
                              : "port(s) " + unknown + " unknown to the array",
            "define this host and its ports on the array (or correct [Host] InitiatorPorts)");
    }
    m_stop = false;
    // 10. Replication service.
    json caps;
    ok = cimq({"-n", ns, "ei", "CIM_StorageReplicationCapabilities", "-p",
               "SupportedSynchronizationType"},
              &caps, &error, &rc);
    std::string types;
    for (const json& c : caps)
        if (c["path"].get<std::string>().find(m_a.arrayId) != std::string::npos)
            for (const json& t :
                 c["properties"].value("SupportedSynchronizationType", json::array()))
                types += (types.empty() ? "" : ", ") + t.dump();
    add(names[next++], ok && !types.empty(),
        ok ? (types.empty() ? "no replication capabilities" : "synchronization types " + types)
           : error,
        "the provider offers no replication service for this array");
    std::fill(m_password.begin(), m_password.end(), '\0');
    return m_checks;
}

}  // namespace

int runDoctor(const Options& o) {
    Session s(o);
    if (!s.open(false, false, true)) return kExitNone;
    std::vector<ArrayEntry> arrays = s.config.arrays();
    const std::string only = o.snaps.empty() ? std::string() : o.snaps.front();
    json doc = {{"arrays", json::array()}};
    bool allOk = true, any = false;
    for (const ArrayEntry& a : arrays) {
        if (!only.empty() && a.name != only) continue;
        any = true;
        ArrayDoctor doctor(s, a);
        std::vector<Check> checks = doctor.run();
        json aj = {{"array", a.name}, {"checks", json::array()}};
        if (!o.json) std::cout << "array " << a.name << "\n";
        for (const Check& c : checks) {
            if (c.status == "problem") allOk = false;
            aj["checks"].push_back(
                {{"check", c.name}, {"status", c.status}, {"detail", c.detail}, {"fix", c.fix}});
            if (!o.json) {
                std::cout << "  "
                          << (c.status == "ok"        ? "ok      "
                              : c.status == "problem" ? "PROBLEM "
                                                      : "skipped ")
                          << c.name << ": " << c.detail;
                if (!c.fix.empty()) std::cout << " -> " << c.fix;
                std::cout << "\n";
            }
        }
        doc["arrays"].push_back(aj);
    }
    if (!any) {
        allOk = false;
        std::string m = only.empty() ? "no arrays configured (rksnap array add)"
                                     : "no array '" + only + "' configured";
        doc["error"] = m;
        if (!o.json) std::cout << m << "\n";
    }
    doc["exitCode"] = allOk ? kExitAll : kExitNone;
    if (o.json) printJson(doc);
    return allOk ? kExitAll : kExitNone;
}

}  // namespace rksnap
