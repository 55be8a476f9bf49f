// The array password the SMI-S provider holds for the array (the "Secret" of its
// CIM_SharedSecret): kept in step with the password configured on the host, so that
// the provider's provisioning methods keep working. Neither value is ever traced.
#include <string.h>

#include <string>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>

#include "LsiCommon.h"
#include "eseries/LSISnapshot.h"
#include "rkso/RKPassword.h"
#include "smis/RkCaught.h"

namespace {

const char* const kPasswordSetting = "SMCONFIG_NAME_LSI_ARRAY_PASSWORD";
constexpr size_t kPlainBytes = 2040;

enum class SecretFind { Found, NoSystem, NoService, NoSecret, TooMany };

struct SharedSecret {
    SecretFind result = SecretFind::NoSystem;
    cim::CIMObjectPath service;
    cim::CIMObjectPath secret;
    size_t count = 0;  // CIM_SharedSecret instances of the service
};

// The array's storage system (prefix_StorageSystem whose "Name" is arrayName), its
// shared-secret service, and the service's one shared secret.
SharedSecret FindSharedSecret(RkCimConnection& conn, const std::string& prefix,
                              const std::string& arrayName) {
    SharedSecret found;
    cim::CIMObjectPath system;
    for (const cim::CIMObjectPath& p : conn.GetInstanceNames(prefix + "_StorageSystem")) {
        if (lsi::Key(p, "Name") == arrayName) {
            system = p;
            break;
        }
    }
    if (system.getClassName().isNull()) return found;
    std::vector<cim::CIMObjectPath> services =
        conn.GetAssociatorNames(system, "CIM_HostedService", "CIM_SharedSecretService");
    if (services.empty()) {
        found.result = SecretFind::NoService;
        return found;
    }
    found.service = services.front();
    std::vector<cim::CIMObjectPath> secrets =
        conn.GetAssociatorNames(found.service, "CIM_SharedSecretIsShared", "CIM_SharedSecret");
    found.count = secrets.size();
    if (secrets.size() != 1) {
        found.result = secrets.empty() ? SecretFind::NoSecret : SecretFind::TooMany;
        return found;
    }
    found.secret = secrets.front();
    found.result = SecretFind::Found;
    return found;
}

// Closes a connection that an operation opened itself, on every return.
struct Disconnect {
    RkCimConnection& conn;
    ~Disconnect() { conn.DisconnectCimom(); }
};

// Texts that hold a password, wiped on every return.
struct Wiped {
    std::string current;
    std::string password;
    char plain[kPlainBytes] = {0};
    ~Wiped() {
        lsi::Wipe(current);
        lsi::Wipe(password);
        explicit_bzero(plain, sizeof plain);
    }
};

}  // namespace

int LSISnapshot::CheckAndUpdateArraySecret(RKSO::SnapInfo* info) {
    const char* fn = "CheckAndUpdateArraySecret";
    if (m_CimConnection.ConnectCimom() != 0) {
        const char* text =
            "Connection to CIMOM failed. Please check - 1) If right credentials have been "
            "provided in array management. 2) If the SMI-S provider services are up and running.";
        DEBUG_TRACE_NORMAL(fn, "%s", text);
        setErrorMsg(3, text);
        return 0;
    }
    Disconnect closer{m_CimConnection};
    Wiped texts;
    try {
        RKSO::SnapInfo* settings = info ? info : m_pLogger;
        std::string prefix =
            lsi::ConfiguredClassPrefix(*this, settings, fn, lsi::PrefixReader::SecretCheck);
        if (prefix.empty()) prefix = GetVendorByName(m_CimConnection, m_SystemName);
        // A rejected login was reported already; nothing more can be read.
        if (m_CimConnection.AuthFailed()) return 0;
        if (prefix.empty()) prefix = "NETAPP";

        const SharedSecret found = FindSharedSecret(m_CimConnection, prefix, m_SystemName);
        switch (found.result) {
            case SecretFind::NoSystem:
                DEBUG_TRACE_NORMAL(fn, "Unable to get storage system-[%s] object path",
                                   m_SystemName.c_str());
                return 0;
            case SecretFind::NoService:
                DEBUG_TRACE_NORMAL(fn, "No SharedSecret service found for the array-[%s-].",
                                   m_SystemName.c_str());
                return 0;
            case SecretFind::NoSecret:
                DEBUG_TRACE_NORMAL(fn, "No SharedSecret instance found for the array-[%s-].",
                                   m_SystemName.c_str());
                return 0;
            case SecretFind::TooMany:
                DEBUG_TRACE_NORMAL(fn,
                                   "Multiple SharedSecret instance found-[%d] for the array-[%s]",
                                   static_cast<int>(found.count), m_SystemName.c_str());
                return 0;
            case SecretFind::Found:
                break;
        }
        const std::string secretPath = found.secret.toString();
        const cim::CIMInstance instance = m_CimConnection.GetInstance(found.secret);
        if (instance.isUninitialized()) {
            DEBUG_TRACE_NORMAL(fn,
                               "Unable to fetch the SharedSecret instance properties using "
                               "path-[%s]",
                               secretPath.c_str());
            return 0;
        }
        bool hasSecret = false;
        texts.current = GetInstanceProp(m_CimConnection, instance, "Secret", hasSecret);
        if (!hasSecret) {
            DEBUG_TRACE_NORMAL(fn,
                               "Unable to get secret key from SharedSecret instance properties");
            return 0;
        }
        if (texts.current.empty())
            DEBUG_TRACE_NORMAL(fn,
                               "The storage array-[%s] has not shared the password with SMI-S "
                               "Provider. Please use the snap config-[%s] at array management "
                               "level to update the password at SMI-S Provider so that "
                               "provisioning APIs will not fail due to authentication issue.",
                               m_SystemName.c_str(), "LSI Array Password");

        std::string encrypted;
        if (settings) settings->getConfigValue(kPasswordSetting, encrypted);
        if (encrypted.empty()) return 0;
        RKPassword decrypter;
        if (!decrypter.decrypt(encrypted.c_str(), texts.plain, sizeof texts.plain)) {
            DEBUG_TRACE_NORMAL(fn, "Unable to decrpt the array password due to error-[%s]",
                               decrypter.getLastError().c_str());
            return 0;
        }
        texts.password = texts.plain;
        if (texts.password.empty() || texts.password == texts.current) return 0;

        if (UpdateInstanceProp(m_CimConnection, secretPath, "Secret", texts.password) == 1) {
            DEBUG_TRACE_NORMAL(fn,
                               "Updated the secret key at SMI-S Provider for storage array-[%s]",
                               m_SystemName.c_str());
            return 1;
        }
        DEBUG_TRACE_NORMAL(fn,
                           "Failed to update the secret key at SMI-S Provider for storage "
                           "array-[%s]",
                           m_SystemName.c_str());
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 0;
    }
}

bool LSISnapshot::SetArrayPW(std::string& arrayName, std::string& newSecret) {
    const char* fn = "LSISnapshot::SetArrayPW";
    // An empty secret would leave the provider without the array's password.
    if (arrayName.empty() || newSecret.empty()) {
        TraceInvalidParameters(fn);
        return false;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) {
        DEBUG_TRACE(fn, "Connection to CIMOM failed");
        return false;
    }
    try {
        std::string prefix =
            lsi::ConfiguredClassPrefix(*this, m_pLogger, fn, lsi::PrefixReader::SetArrayPW);
        if (prefix.empty()) prefix = GetVendorByName(m_CimConnection, m_SystemName);
        if (prefix.empty()) prefix = "LSISSI";

        const SharedSecret found = FindSharedSecret(m_CimConnection, prefix, arrayName);
        switch (found.result) {
            case SecretFind::NoSystem:
                DEBUG_TRACE(fn, "Did not find StorageSystem for Array %s\n", arrayName.c_str());
                return false;
            case SecretFind::NoService:
                DEBUG_TRACE(fn, "Did not find SharedSecret Service for Array");
                return false;
            case SecretFind::NoSecret:
                DEBUG_TRACE(fn, "Did not find SharedSecret for Array %s\n", arrayName.c_str());
                return false;
            case SecretFind::TooMany:
                DEBUG_TRACE(fn, "Too many (%d) SharedSecret instances for Array %s\n",
                            static_cast<int>(found.count),
                            lsi::Key(found.service, "SystemName").c_str());
                return false;
            case SecretFind::Found:
                break;
        }
        if (UpdateInstanceProp(m_CimConnection, found.secret.toString(), "Secret", newSecret) !=
            1) {
            DEBUG_TRACE(fn, "Failed to update SharedSecret for Array %s\n", arrayName.c_str());
            return false;
        }
        DEBUG_TRACE(fn, "Password modified\n");
        return true;
    } catch (...) {
        lsi::TraceCaughtLine(*this, fn, __LINE__);
        return false;
    }
}
