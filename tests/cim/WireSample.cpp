#include "WireSample.h"

#include <dirent.h>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cimtest {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// Reads "Name: value" lines up to an empty line; returns the position after it.
std::size_t readFields(const std::string& s, std::size_t pos,
                       std::map<std::string, std::string>& out) {
    while (pos < s.size()) {
        std::size_t eol = s.find("\r\n", pos);
        if (eol == std::string::npos) eol = s.size();
        std::string line = s.substr(pos, eol - pos);
        pos = eol + 2;
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) throw std::runtime_error("bad header line: " + line);
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        out[lower(line.substr(0, colon))] = value;
    }
    return pos;
}

}  // namespace

HttpMessage readHttpFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    HttpMessage m;
    std::size_t eol = s.find("\r\n");
    if (eol == std::string::npos) throw std::runtime_error("no start line in " + path);
    m.startLine = s.substr(0, eol);
    std::size_t pos = readFields(s, eol + 2, m.headers);
    if (lower(m.headers["transfer-encoding"]) == "chunked") {
        while (true) {
            std::size_t e = s.find("\r\n", pos);
            if (e == std::string::npos) throw std::runtime_error("truncated chunk in " + path);
            std::size_t size = std::stoul(s.substr(pos, e - pos), nullptr, 16);
            pos = e + 2;
            if (size == 0) break;
            m.body += s.substr(pos, size);
            pos += size + 2;
        }
        readFields(s, pos, m.trailers);
    } else if (m.headers.count("content-length")) {
        std::size_t n = std::stoul(m.headers["content-length"]);
        m.body = s.substr(pos, n);
    } else {
        m.body = s.substr(std::min(pos, s.size()));
    }
    return m;
}

std::string wireDir() {
    return RKSO_CIM_WIRE_DIR;
}

std::vector<std::string> wireFiles(const std::string& suffix) {
    std::vector<std::string> out;
    DIR* d = opendir(wireDir().c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > suffix.size() &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(n);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace cimtest
