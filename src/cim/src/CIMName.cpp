#include <cim/CIMName.h>

namespace cim {

namespace {
inline unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}
inline bool isAlpha(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

int compareNoCase(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = fold(static_cast<unsigned char>(a[i]));
        unsigned char y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool CIMName::legal(std::string_view name) {
    if (name.empty() || !isAlpha(static_cast<unsigned char>(name[0]))) return false;
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (!isAlpha(c) && !isDigit(c)) return false;
    }
    return true;
}

bool CIMNamespaceName::legal(std::string_view name) {
    if (name.empty()) return false;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = name.find('/', start);
        std::string_view part = name.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!CIMName::legal(part)) return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

}  // namespace cim
