// The storage behind cim::CIMValue, for the value itself and for the codec's fast paths.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMValue.h>

namespace cim {

struct CIMValue::Box {
    std::atomic<std::size_t> refs{1};
};

namespace detail {

struct ValueAccess {
    template <class T>
    struct Typed final : CIMValue::Box {
        template <class... A>
        explicit Typed(A&&... a) : value(std::forward<A>(a)...) {}
        const T value;
    };

    // A string box keeps its bytes right behind the header: one allocation per string.
    struct Text final : CIMValue::Box {
        std::size_t size = 0;
        char* bytes() { return reinterpret_cast<char*>(this + 1); }
        const char* bytes() const { return reinterpret_cast<const char*>(this + 1); }
        std::string_view view() const { return std::string_view(bytes(), size); }

        static Text* make(std::string_view text) {
            void* raw = ::operator new(sizeof(Text) + text.size());
            Text* t = new (raw) Text();
            t->size = text.size();
            if (!text.empty()) std::memcpy(t->bytes(), text.data(), text.size());
            return t;
        }
        static void destroy(Text* t) {
            t->~Text();
            ::operator delete(t);
        }
    };

    static void destroy(CIMValue::Box* box, CIMType type, bool isArray);

    // A string value of the given text.
    static CIMValue string(std::string_view text) {
        CIMValue v;
        v.setString(text);
        return v;
    }
    // The text of a non-null string scalar.
    static std::string_view stringOf(const CIMValue& v) { return v.stringView(); }
    // Whether two values hold the very same storage (so they are equal without a look).
    static bool sameStorage(const CIMValue& a, const CIMValue& b) {
        return a.m_type == b.m_type && a.m_isArray == b.m_isArray && a.m_null == b.m_null &&
               a.isBoxed() && a.m_bits.box != nullptr && a.m_bits.box == b.m_bits.box;
    }
};

}  // namespace detail
}  // namespace cim
