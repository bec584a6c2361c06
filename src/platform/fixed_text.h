#pragma once
// Fixed-capacity wide texts. A text of capacity N holds at most N-1 characters
// and a terminating zero; longer input is cut, never written past the end. A
// text ends at its first NUL, as the C string it stands for would.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace karvelo {

template <std::size_t N>
class FixedText {
    static_assert(N >= 1, "a text needs room for its terminator");

  public:
    static constexpr std::size_t kCapacity = N;

    constexpr FixedText() = default;
    FixedText(std::wstring_view text) { Assign(text); }  // NOLINT: implicit by design

    FixedText& operator=(std::wstring_view text) {
        Assign(text);
        return *this;
    }

    void Assign(std::wstring_view text) {
        std::size_t n = 0;
        while (n < text.size() && n < N - 1 && text[n] != L'\0') {
            data_[n] = text[n];
            ++n;
        }
        data_[n] = L'\0';
    }

    // Appends as much of the text as still fits.
    void Append(std::wstring_view text) {
        std::size_t n = size();
        for (std::size_t i = 0; i < text.size() && n < N - 1 && text[i] != L'\0'; ++i) {
            data_[n++] = text[i];
        }
        data_[n] = L'\0';
    }

    void Clear() { data_[0] = L'\0'; }

    std::size_t size() const {
        std::size_t n = 0;
        while (n < N - 1 && data_[n] != L'\0') ++n;
        return n;
    }
    bool empty() const { return data_[0] == L'\0'; }
    const wchar_t* c_str() const { return data_.data(); }
    std::wstring_view view() const { return std::wstring_view(data_.data(), size()); }
    std::wstring str() const { return std::wstring(view()); }

    friend bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }
    friend bool operator==(const FixedText& a, std::wstring_view b) { return a.view() == b; }

  private:
    std::array<wchar_t, N> data_{};
};

// A fixed-capacity text shared between threads. The user-interface thread, the
// acquisition thread and the key-poll thread read and write texts of the
// run-time state without a common lock; each access here is short and whole, so
// a reader sees either the old or the new text, never a mixture.
template <std::size_t N>
class SharedText {
  public:
    static constexpr std::size_t kCapacity = N;

    constexpr SharedText() = default;
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    void Set(std::wstring_view text) {
        Guard g(lock_);
        text_.Assign(text);
    }
    SharedText& operator=(std::wstring_view text) {
        Set(text);
        return *this;
    }
    void Clear() { Set(std::wstring_view()); }

    FixedText<N> Get() const {
        Guard g(lock_);
        return text_;
    }
    std::wstring str() const {
        Guard g(lock_);
        return text_.str();
    }
    bool empty() const {
        Guard g(lock_);
        return text_.empty();
    }
    bool operator==(std::wstring_view other) const {
        Guard g(lock_);
        return text_.view() == other;
    }

  private:
    class Guard {
      public:
        explicit Guard(std::atomic_flag& f) : f_(f) {
            while (f_.test_and_set(std::memory_order_acquire))
                f_.wait(true, std::memory_order_relaxed);
        }
        ~Guard() {
            f_.clear(std::memory_order_release);
            f_.notify_one();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

      private:
        std::atomic_flag& f_;
    };

    mutable std::atomic_flag lock_;
    FixedText<N> text_;
};

}  // namespace karvelo
