// A byte string in code page 936 with printf-style formatting: the display
// texts and messages of the actions. Lengths are counted in bytes.
#pragma once

#include <cstddef>
#include <string>

#if defined(__GNUC__)
#define CSTRING_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define CSTRING_PRINTF(fmt, args)
#endif

class CString {
public:
    CString() = default;
    CString(const char* text) : m_bytes(text ? text : "") {}  // NOLINT: converting, like the platform's
    CString(const char* bytes, size_t length) : m_bytes(bytes, length) {}

    int GetLength() const { return static_cast<int>(m_bytes.size()); }
    bool IsEmpty() const { return m_bytes.empty(); }
    void Empty() { m_bytes.clear(); }
    const char* GetString() const { return m_bytes.c_str(); }
    operator const char*() const { return m_bytes.c_str(); }  // NOLINT: as the platform's
    unsigned char GetAt(int index) const { return static_cast<unsigned char>(m_bytes.at(static_cast<size_t>(index))); }

    // Replaces the text with the formatted one. As with a C string, a formatted
    // zero byte ends the text, so Format("%c", 0) gives the empty text.
    void Format(const char* format, ...) CSTRING_PRINTF(2, 3);

    CString& operator+=(const CString& other)
    {
        m_bytes += other.m_bytes;
        return *this;
    }
    friend CString operator+(CString left, const CString& right) { return left += right; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }

    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};
