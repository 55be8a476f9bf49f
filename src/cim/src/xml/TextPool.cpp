#include "TextPool.h"

#include "../ValueAccess.h"

namespace cim::xml::detail {

using cim::detail::SharedString;
using cim::detail::ValueAccess;

SharedString TextPool::shared(std::string_view text) {
    auto it = m_texts.find(text);
    if (it != m_texts.end()) return it->second;
    SharedString s(text);
    if (m_texts.size() < kMaxNames && !s.empty()) m_texts.emplace(s.str(), s);
    return s;
}

CIMName TextPool::name(std::string_view text) {
    for (const CIMName& r : m_recent)
        if (r.getString() == text && !r.isNull()) return r;
    CIMName n;
    auto it = m_names.find(text);
    if (it != m_names.end()) {
        n = it->second;
    } else {
        if (!CIMName::legal(text)) return CIMName();
        n = CIMName(std::string(text));
        if (m_names.size() < kMaxNames) m_names.emplace(n.getString(), n);
    }
    m_recent[m_nextRecent] = n;
    m_nextRecent = (m_nextRecent + 1) % kRecent;
    return n;
}

CIMName TextPool::propertyName(std::size_t slot, std::string_view text, bool& hit) {
    hit = false;
    if (slot >= kMaxSlots) return name(text);
    if (slot < m_propertyNames.size() && m_propertyNames[slot].getString() == text) {
        hit = true;
        return m_propertyNames[slot];
    }
    CIMName n = name(text);
    if (n.isNull()) return n;
    if (slot >= m_propertyNames.size()) m_propertyNames.resize(slot + 1);
    m_propertyNames[slot] = n;
    return n;
}

SharedString TextPool::keyValue(std::size_t slot, std::string_view text) {
    if (slot >= kMaxSlots) return SharedString(text);
    if (slot >= m_keys.size()) m_keys.resize(slot + 1);
    SharedString& last = m_keys[slot];
    if (last.str() != text) last = SharedString(text);
    return last;
}

CIMValue TextPool::stringValue(std::size_t slot, std::string_view text) {
    if (slot >= kMaxSlots) return ValueAccess::string(text);
    if (slot >= m_values.size()) m_values.resize(slot + 1);
    CIMValue& last = m_values[slot];
    if (last.isNull() || ValueAccess::stringOf(last) != text) last = ValueAccess::string(text);
    return last;
}

}  // namespace cim::xml::detail
