// An immutable text shared by reference count. Names, namespaces, hosts and key values of
// the object model hold one, so that copies cost no allocation and a decoder can hand the
// same text to every object of an answer that repeats it.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace cim::detail {

class SharedString {
  public:
    SharedString() noexcept = default;
    // The empty text needs no allocation.
    explicit SharedString(std::string_view text)
        : m_rep(text.empty() ? nullptr : new Rep(std::string(text))) {}
    explicit SharedString(std::string&& text)
        : m_rep(text.empty() ? nullptr : new Rep(std::move(text))) {}
    SharedString(const SharedString& other) noexcept : m_rep(other.m_rep) {
        if (m_rep) m_rep->refs.fetch_add(1, std::memory_order_relaxed);
    }
    SharedString(SharedString&& other) noexcept : m_rep(std::exchange(other.m_rep, nullptr)) {}
    SharedString& operator=(const SharedString& other) noexcept {
        SharedString(other).swap(*this);
        return *this;
    }
    SharedString& operator=(SharedString&& other) noexcept {
        SharedString(std::move(other)).swap(*this);
        return *this;
    }
    ~SharedString() {
        if (m_rep && m_rep->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete m_rep;
    }

    const std::string& str() const noexcept { return m_rep ? m_rep->text : emptyText(); }
    bool empty() const noexcept { return m_rep == nullptr; }
    // True when both hold the very same text object (or are both empty).
    bool shares(const SharedString& other) const noexcept { return m_rep == other.m_rep; }
    void swap(SharedString& other) noexcept { std::swap(m_rep, other.m_rep); }

  private:
    struct Rep {
        explicit Rep(std::string&& t) : text(std::move(t)) {}
        std::atomic<std::size_t> refs{1};
        const std::string text;
    };
    static const std::string& emptyText() noexcept {
        static const std::string empty;
        return empty;
    }
    Rep* m_rep = nullptr;
};

}  // namespace cim::detail
