// The texts of one answer, shared between the objects decoded from it: names (classes,
// properties, keys, namespaces) through a bounded table, and key and string values through
// the last value seen at the same place, since consecutive instances of one class repeat
// most of them.
#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <cim/CIMName.h>
#include <cim/CIMValue.h>

namespace cim::xml::detail {

class TextPool {
  public:
    static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

    // Any text (a namespace, say).
    cim::detail::SharedString shared(std::string_view text);
    // A legal CIM name; null when the text is not one.
    CIMName name(std::string_view text);
    // The same for the name of the property at slot of an instance; hit tells whether it
    // is the name the last instance had there.
    CIMName propertyName(std::size_t slot, std::string_view text, bool& hit);
    // The leading property names of the last instance that are known to differ from each
    // other (so an instance whose names all hit needs no duplicate check).
    std::size_t distinctNames = 0;
    // slot: the key's place in its path.
    cim::detail::SharedString keyValue(std::size_t slot, std::string_view text);
    // slot: the property's place in its instance.
    CIMValue stringValue(std::size_t slot, std::string_view text);

  private:
    // Bounds what an answer full of distinct names can make the pool hold.
    static constexpr std::size_t kMaxNames = 4096;
    static constexpr std::size_t kMaxSlots = 256;

    // Keys view the texts the values hold.
    std::unordered_map<std::string_view, CIMName> m_names;
    // The names met last, tried before the table: class and key names repeat in every
    // result.
    static constexpr std::size_t kRecent = 8;
    CIMName m_recent[kRecent];
    std::size_t m_nextRecent = 0;
    std::unordered_map<std::string_view, cim::detail::SharedString> m_texts;
    std::vector<CIMName> m_propertyNames;
    std::vector<cim::detail::SharedString> m_keys;
    std::vector<CIMValue> m_values;
};

}  // namespace cim::xml::detail
