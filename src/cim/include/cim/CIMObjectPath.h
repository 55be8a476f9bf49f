// Object paths (instance and class names) and their canonical text form:
//
//   [//host/][namespace:]ClassName[.key=value{,key=value}]
//
// for example
//   //vm/root/cimv2:PEER_StorageVolume.CreationClassName="PEER_StorageVolume",DeviceID="X"
//
// - Keys are written in case-insensitive alphabetical order of their names.
// - String values are double-quoted; '"' and '\' inside are escaped with '\'.
// - Reference values are the referenced path's text, quoted and escaped like a string,
//   so a reference inside a reference doubles the escapes.
// - Numeric values (decimal, 0x hex or real) and booleans (TRUE/FALSE) are not quoted.
//
// toString() always gives this canonical text, and parsing it gives back an equal path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <cim/CIMName.h>
#include <cim/Types.h>

namespace cim {

class CIMObjectPath;
class CIMValue;

class CIMKeyBinding {
  public:
    enum Type { BOOLEAN, STRING, NUMERIC, REFERENCE };

    CIMKeyBinding() = default;
    // value is the key's text: the string itself, the number's digits, "TRUE"/"FALSE",
    // or a reference's path text.
    CIMKeyBinding(const CIMName& name, const std::string& value, Type type)
        : m_name(name), m_value(std::string_view(value)), m_type(type) {}
    // A value whose text is already shared (decoders share the repeated values of one
    // answer).
    CIMKeyBinding(const CIMName& name, const detail::SharedString& value, Type type)
        : m_name(name), m_value(value), m_type(type) {}
    // A reference key; the value becomes the canonical text of reference.
    CIMKeyBinding(const CIMName& name, const CIMObjectPath& reference);
    // From a typed scalar value: integers and reals become NUMERIC, boolean BOOLEAN,
    // reference REFERENCE, everything else STRING (its text form). Throws
    // TypeMismatchException for null, array and embedded instance values.
    CIMKeyBinding(const CIMName& name, const CIMValue& value);

    const CIMName& getName() const { return m_name; }
    void setName(const CIMName& name) { m_name = name; }
    const std::string& getValue() const { return m_value.str(); }
    void setValue(const std::string& value) { m_value = detail::SharedString(value); }
    Type getType() const { return m_type; }
    void setType(Type type) { m_type = type; }

    // Names compare case-insensitively; references compare as paths, numbers by value,
    // booleans in any case. A string key equals a reference key with the same text
    // (the text form cannot tell them apart).
    bool equal(const CIMKeyBinding& other) const;
    friend bool operator==(const CIMKeyBinding& a, const CIMKeyBinding& b) { return a.equal(b); }
    friend bool operator!=(const CIMKeyBinding& a, const CIMKeyBinding& b) { return !a.equal(b); }

  private:
    CIMName m_name;
    detail::SharedString m_value;
    Type m_type = STRING;
};

class CIMObjectPath {
  public:
    CIMObjectPath() = default;
    // Parses an object path text; throws MalformedObjectNameException ("malformed").
    explicit CIMObjectPath(std::string_view text);
    CIMObjectPath(const std::string& host, const CIMNamespaceName& nameSpace,
                  const CIMName& className,
                  const std::vector<CIMKeyBinding>& keyBindings = std::vector<CIMKeyBinding>())
        : m_host(std::string_view(host)),
          m_nameSpace(nameSpace),
          m_className(className),
          m_keys(keyBindings) {}

    // Parses text; throws MalformedObjectNameException whose message contains
    // "malformed" for empty text, a name that is not a legal CIM name (for example a
    // bare volume UUID, which starts with a digit), unbalanced quotes, a bad value,
    // duplicate keys or trailing garbage.
    static CIMObjectPath parse(std::string_view text);
    // Replaces this path with the parsed text (same errors as parse).
    void set(std::string_view text) { *this = parse(text); }
    void clear();

    const std::string& getHost() const { return m_host.str(); }
    void setHost(const std::string& host) { m_host = detail::SharedString(host); }
    const CIMNamespaceName& getNameSpace() const { return m_nameSpace; }
    void setNameSpace(const CIMNamespaceName& ns) { m_nameSpace = ns; }
    const CIMName& getClassName() const { return m_className; }
    void setClassName(const CIMName& name) { m_className = name; }
    const std::vector<CIMKeyBinding>& getKeyBindings() const { return m_keys; }
    void setKeyBindings(const std::vector<CIMKeyBinding>& keys) { m_keys = keys; }
    void setKeyBindings(std::vector<CIMKeyBinding>&& keys) { m_keys = std::move(keys); }
    void addKeyBinding(const CIMKeyBinding& key) { m_keys.push_back(key); }

    // The first key whose name matches (any case), or nullptr.
    const CIMKeyBinding* findKeyBinding(const CIMName& name) const;

    // The canonical text (see the top of this file). An empty path gives "".
    std::string toString() const;

    // Host and namespace compare case-insensitively, class names too; key bindings
    // are compared as a set (order does not matter).
    bool identical(const CIMObjectPath& other) const;
    friend bool operator==(const CIMObjectPath& a, const CIMObjectPath& b) {
        return a.identical(b);
    }
    friend bool operator!=(const CIMObjectPath& a, const CIMObjectPath& b) {
        return !a.identical(b);
    }

  private:
    detail::SharedString m_host;
    CIMNamespaceName m_nameSpace;
    CIMName m_className;
    std::vector<CIMKeyBinding> m_keys;
};

}  // namespace cim
