// A byte string in code page 936 with printf-style formatting: the actions'
// display texts and messages, and what the framework shows of them. Lengths
// are counted in bytes.
//
// The bytes live in a TextBuffer, not in a std::string: the Windows program
// then needs nothing of the C++ library's string code, which would be most of
// its size.
#pragma once

#include <cstddef>
#include <string>

#include "text/TextBuffer.h"

#if defined(__GNUC__)
#define CSTRING_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define CSTRING_PRINTF(fmt, args)
#endif

class CString {
public:
    CString() = default;
    CString(const char* text);  // NOLINT: converting, like the platform's
    CString(const char* bytes, size_t length) : m_bytes(bytes, length) {}

    int GetLength() const { return static_cast<int>(m_bytes.Length()); }
    bool IsEmpty() const { return m_bytes.Length() == 0; }
    void Empty() { m_bytes.Clear(); }
    const char* GetString() const { return m_bytes.Text(); }
    operator const char*() const { return GetString(); }  // NOLINT: as the platform's
    // Byte `index`; 0 for an index outside the text.
    unsigned char GetAt(int index) const;

    // Replaces the text with the formatted one. As with a C string, a formatted
    // zero byte ends the text, so Format("%c", 0) gives the empty text.
    void Format(const char* format, ...) CSTRING_PRINTF(2, 3);

    CString& operator+=(const CString& other)
    {
        m_bytes.Append(other.m_bytes.Text(), other.m_bytes.Length());
        return *this;
    }
    friend CString operator+(CString left, const CString& right) { return left += right; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }

    // For tests: the bytes as a std::string. Inline, so only a program that
    // calls it carries the string code.
    std::string Bytes() const { return std::string(GetString(), m_bytes.Length()); }

private:
    TextBuffer<char> m_bytes;
};
