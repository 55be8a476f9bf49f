// A typed CIM value: null, a scalar or an array of any CIM type.
//
// Text form (toString(), what callers read from properties and parameters):
// - integers: decimal ("4096", "-126");
// - booleans: "TRUE" or "FALSE";
// - reals: the shortest decimal text that reads back to the same value ("100", "0.1",
//   "1e+20");
// - char16: the character in UTF-8;
// - strings: the string as it is;
// - datetimes: the 25-character DMTF text;
// - references: the canonical object path text (see CIMObjectPath.h);
// - embedded instances: the CIM-XML INSTANCE element;
// - arrays: the elements' text forms joined by "," (no escaping; an element that holds
//   a comma is not told apart);
// - null values: "".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <cim/CIMDateTime.h>
#include <cim/CIMObjectPath.h>
#include <cim/Types.h>

namespace cim {

class CIMInstance;
namespace detail {
struct ValueAccess;
}

class CIMValue {
  public:
    // A null boolean scalar.
    CIMValue();
    // A null value of the given type (arraySize is ignored; null arrays have size 0).
    CIMValue(CIMType type, bool isArray, Uint32 arraySize = 0);

    CIMValue(Boolean x);
    CIMValue(Uint8 x);
    CIMValue(Sint8 x);
    CIMValue(Uint16 x);
    CIMValue(Sint16 x);
    CIMValue(Uint32 x);
    CIMValue(Sint32 x);
    CIMValue(Uint64 x);
    CIMValue(Sint64 x);
    CIMValue(Real32 x);
    CIMValue(Real64 x);
    CIMValue(Char16 x);
    CIMValue(const char* x);
    CIMValue(const String& x);
    CIMValue(String&& x);
    CIMValue(const CIMDateTime& x);
    CIMValue(const CIMObjectPath& x);
    CIMValue(const CIMInstance& x);
    CIMValue(const Array<Boolean>& x);
    CIMValue(const Array<Uint8>& x);
    CIMValue(const Array<Sint8>& x);
    CIMValue(const Array<Uint16>& x);
    CIMValue(const Array<Sint16>& x);
    CIMValue(const Array<Uint32>& x);
    CIMValue(const Array<Sint32>& x);
    CIMValue(const Array<Uint64>& x);
    CIMValue(const Array<Sint64>& x);
    CIMValue(const Array<Real32>& x);
    CIMValue(const Array<Real64>& x);
    CIMValue(const Array<Char16>& x);
    CIMValue(const Array<String>& x);
    CIMValue(Array<String>&& x);
    CIMValue(const Array<CIMDateTime>& x);
    CIMValue(const Array<CIMObjectPath>& x);
    CIMValue(Array<CIMObjectPath>&& x);
    CIMValue(const Array<CIMInstance>& x);

    bool isNull() const { return m_null; }
    bool isArray() const { return m_isArray; }
    CIMType getType() const { return m_type; }
    // Elements of an array value; 0 for null and scalar values.
    Uint32 getArraySize() const;

    void setNullValue(CIMType type, bool isArray, Uint32 arraySize = 0);
    // Back to a null boolean scalar.
    void clear();

    // get() copies the value out. It throws TypeMismatchException when the value's type
    // or arrayness differs from the argument's, and leaves the argument unchanged when
    // the value is null.
    void get(Boolean& x) const;
    void get(Uint8& x) const;
    void get(Sint8& x) const;
    void get(Uint16& x) const;
    void get(Sint16& x) const;
    void get(Uint32& x) const;
    void get(Sint32& x) const;
    void get(Uint64& x) const;
    void get(Sint64& x) const;
    void get(Real32& x) const;
    void get(Real64& x) const;
    void get(Char16& x) const;
    void get(String& x) const;
    void get(CIMDateTime& x) const;
    void get(CIMObjectPath& x) const;
    void get(CIMInstance& x) const;
    void get(Array<Boolean>& x) const;
    void get(Array<Uint8>& x) const;
    void get(Array<Sint8>& x) const;
    void get(Array<Uint16>& x) const;
    void get(Array<Sint16>& x) const;
    void get(Array<Uint32>& x) const;
    void get(Array<Sint32>& x) const;
    void get(Array<Uint64>& x) const;
    void get(Array<Sint64>& x) const;
    void get(Array<Real32>& x) const;
    void get(Array<Real64>& x) const;
    void get(Array<Char16>& x) const;
    void get(Array<String>& x) const;
    void get(Array<CIMDateTime>& x) const;
    void get(Array<CIMObjectPath>& x) const;
    void get(Array<CIMInstance>& x) const;

    // set() replaces type and value.
    template <class T>
    void set(T&& x) {
        *this = CIMValue(std::forward<T>(x));
    }

    // The text form described at the top of this file.
    std::string toString() const;
    // Appends the text form to out, without a string of its own in between.
    void appendText(std::string& out) const;

    // Same type, arrayness, nullness and elements.
    bool equal(const CIMValue& other) const;
    friend bool operator==(const CIMValue& a, const CIMValue& b) { return a.equal(b); }
    friend bool operator!=(const CIMValue& a, const CIMValue& b) { return !a.equal(b); }

    // Reads one scalar of the given type from the CIM-XML VALUE text: integers in
    // decimal (a leading '+' allowed) or 0x hex, booleans "true"/"false" in any case,
    // reals in decimal or exponent form, datetimes in DMTF form, references as path
    // texts, char16 as one UTF-8 character, strings as they are. Throws ParseException
    // naming the type and the text; out-of-range integers are refused.
    static CIMValue fromText(CIMType type, std::string_view text);
    // The array form: one text per element.
    static CIMValue fromTexts(CIMType type, const std::vector<std::string>& texts);

    // The same value converted to another type through its text form (used by servers
    // for untyped parameters). Null values stay null. Throws ParseException.
    CIMValue convertTo(CIMType type) const;

    CIMValue(const CIMValue& other) noexcept;
    CIMValue(CIMValue&& other) noexcept;
    CIMValue& operator=(const CIMValue& other) noexcept;
    CIMValue& operator=(CIMValue&& other) noexcept;
    ~CIMValue();

  private:
    friend struct detail::ValueAccess;
    // Everything that is not a number, boolean or char16 lives in an immutable box shared
    // by the copies of the value, so a value costs 16 bytes and a copy no allocation.
    struct Box;
    union Bits {
        Boolean b;
        Uint8 u8;
        Sint8 s8;
        Uint16 u16;
        Sint16 s16;
        Uint32 u32;
        Sint32 s32;
        Uint64 u64;
        Sint64 s64;
        Real32 r32;
        Real64 r64;
        Char16 c16;
        Box* box;
    };

    // Strings and arrays may hold no box: then they are empty.
    bool isBoxed() const { return !m_null && (m_isArray || m_type >= CIMTYPE_STRING); }
    void release() noexcept;
    template <class T>
    void box(CIMType type, bool isArray, T&& value);
    template <class T>
    const T* unbox() const;
    void setString(std::string_view text);
    std::string_view stringView() const;
    void checkType(CIMType type, bool isArray) const;

    Bits m_bits{};
    CIMType m_type = CIMTYPE_BOOLEAN;
    bool m_isArray = false;
    bool m_null = true;
};

}  // namespace cim
