#include "FabricClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "FabricView.h"
#include "SmallFile.h"

namespace rkhost {
namespace {

struct Sink {
    std::string body;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->body.size() + n > kMaxFabricBytes) {
        sink->tooLarge = true;
        return 0;  // makes curl stop with a write error
    }
    sink->body.append(data, n);
    return n;
}

struct Easy {
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;
    ~Easy() {
        curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

// Wiped when done: it held the fabric password.
struct Secret {
    std::string text;
    ~Secret() {
        if (!text.empty()) std::memset(&text[0], 0, text.size());
    }
};

bool readPassword(const std::string& file, Secret* password, std::string* error) {
    if (!readSmallFile(file, 4096, &password->text)) {
        *error = "cannot read fabric password file '" + file + "': " + std::strerror(errno);
        return false;
    }
    size_t end = password->text.find_first_of("\r\n");
    if (end != std::string::npos) password->text.resize(end);
    return true;
}

}  // namespace

bool fetchFabric(const DeviceTreeSettings& s, const std::vector<std::string>& ports,
                 std::string* body, std::string* error) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    if (s.fabricUrl.empty()) {
        *error = "no fabric configured ([Host] FabricUrl)";
        return false;
    }
    if (s.fabricUrl.compare(0, 7, "http://") != 0 && s.fabricUrl.compare(0, 8, "https://") != 0) {
        *error = "fabric address must start with http:// or https:// ([Host] FabricUrl)";
        return false;
    }
    size_t authority = s.fabricUrl.find("//") + 2;
    if (s.fabricUrl.find('@', authority) < s.fabricUrl.find('/', authority)) {
        *error = "fabric address must not hold credentials; use FabricUser and FabricPasswordFile";
        return false;
    }
    Secret password;
    if (!s.fabricUser.empty() && !s.fabricPasswordFile.empty() &&
        !readPassword(s.fabricPasswordFile, &password, error))
        return false;

    std::string url = s.fabricUrl;
    while (!url.empty() && url.back() == '/') url.pop_back();
    url += "/fabric/luns";
    const std::string request = fabricRequest(ports);
    Easy e;
    Sink sink;
    char curlError[CURL_ERROR_SIZE] = {};
    e.curl = curl_easy_init();
    if (!e.curl) {
        *error = "cannot start an HTTP request";
        return false;
    }
    e.headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(e.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e.curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e.curl, CURLOPT_POSTFIELDS, request.c_str());
    curl_easy_setopt(e.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
    curl_easy_setopt(e.curl, CURLOPT_HTTPHEADER, e.headers);
    curl_easy_setopt(e.curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(e.curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(e.curl, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(e.curl, CURLOPT_TIMEOUT, static_cast<long>(s.fabricTimeoutSeconds));
    curl_easy_setopt(e.curl, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(std::min(s.fabricTimeoutSeconds, 10)));
    if (!s.fabricUser.empty()) {
        curl_easy_setopt(e.curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(e.curl, CURLOPT_USERNAME, s.fabricUser.c_str());
        curl_easy_setopt(e.curl, CURLOPT_PASSWORD, password.text.c_str());
    }
    if (!s.fabricCaFile.empty()) curl_easy_setopt(e.curl, CURLOPT_CAINFO, s.fabricCaFile.c_str());
    if (s.fabricInsecure) {
        curl_easy_setopt(e.curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(e.curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    CURLcode rc = curl_easy_perform(e.curl);
    if (sink.tooLarge) {
        *error = "fabric answer from " + url + " is larger than " +
                 std::to_string(kMaxFabricBytes) + " bytes";
        return false;
    }
    if (rc != CURLE_OK) {
        *error = "cannot read the fabric at " + url + ": " +
                 (curlError[0] ? curlError : curl_easy_strerror(rc));
        return false;
    }
    long status = 0;
    curl_easy_getinfo(e.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status == 401) {
        *error = "the fabric at " + url + " refused the credentials (HTTP 401)";
        return false;
    }
    if (status != 200) {
        *error = "the fabric at " + url + " answered HTTP " + std::to_string(status);
        return false;
    }
    *body = std::move(sink.body);
    return true;
}

}  // namespace rkhost
