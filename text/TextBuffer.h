// The owned, always-terminated character buffer behind CString (bytes) and
// CWideString (UTF-16). malloc and free rather than std::basic_string, so
// the Windows program carries none of the C++ library's string code.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

template <class Char>
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const Char* text, size_t length) { Append(text, length); }
    TextBuffer(const TextBuffer& other) { Append(other.m_text, other.m_length); }
    TextBuffer(TextBuffer&& other) noexcept : m_text(other.m_text), m_length(other.m_length)
    {
        other.m_text = nullptr;
        other.m_length = 0;
    }
    TextBuffer& operator=(const TextBuffer& other)
    {
        if (this != &other) Assign(other.m_text, other.m_length);
        return *this;
    }
    TextBuffer& operator=(TextBuffer&& other) noexcept
    {
        if (this != &other) {
            std::free(m_text);
            m_text = other.m_text;
            m_length = other.m_length;
            other.m_text = nullptr;
            other.m_length = 0;
        }
        return *this;
    }
    ~TextBuffer() { std::free(m_text); }

    size_t Length() const { return m_length; }
    // Always terminated, also when empty.
    const Char* Text() const
    {
        static const Char kEmpty[1] = {};
        return m_text != nullptr ? m_text : kEmpty;
    }

    void Clear()
    {
        std::free(m_text);
        m_text = nullptr;
        m_length = 0;
    }

    // Replaces the text (which `text` may lie in).
    void Assign(const Char* text, size_t length)
    {
        TextBuffer copy(text, length);
        *this = static_cast<TextBuffer&&>(copy);
    }

    void Append(const Char* text, size_t length)
    {
        if (length == 0) return;
        // A new buffer rather than realloc: `text` may lie in this one.
        const size_t total = m_length + length;
        Char* joined = Allocate(total);
        if (m_length != 0) std::memcpy(joined, m_text, m_length * sizeof(Char));
        std::memcpy(joined + m_length, text, length * sizeof(Char));
        joined[total] = Char();
        std::free(m_text);
        m_text = joined;
        m_length = total;
    }

    // Room for `length` characters (and the terminating zero), to be filled by
    // the caller; the text is then that long. Anything in it before is gone.
    Char* Resize(size_t length)
    {
        Clear();
        m_text = Allocate(length);
        m_text[length] = Char();
        m_length = length;
        return m_text;
    }

    // Cuts the text to its first `length` characters.
    void Truncate(size_t length)
    {
        if (length >= m_length) return;
        if (length == 0) {
            Clear();
            return;
        }
        m_text[length] = Char();
        m_length = length;
    }

    friend bool operator==(const TextBuffer& a, const TextBuffer& b)
    {
        return a.m_length == b.m_length &&
               (a.m_length == 0 || std::memcmp(a.m_text, b.m_text, a.m_length * sizeof(Char)) == 0);
    }

private:
    // Without memory for a few dozen characters the program cannot go on.
    static Char* Allocate(size_t length)
    {
        auto* text = static_cast<Char*>(std::malloc((length + 1) * sizeof(Char)));
        if (text == nullptr) std::abort();
        return text;
    }

    Char* m_text = nullptr;  // m_length characters and a terminating zero, or none
    size_t m_length = 0;
};
