// A byte string in code page 936 with printf-style formatting: the display
// texts and messages of the actions. Lengths are counted in bytes.
//
// The bytes live in a buffer of the string's own (malloc and free), not in a
// std::string: the Windows program then needs nothing of the C++ library's
// string code, which would be most of its size.
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
    CString(const char* text);  // NOLINT: converting, like the platform's
    CString(const char* bytes, size_t length);
    CString(const CString& other);
    CString(CString&& other) noexcept;
    CString& operator=(const CString& other);
    CString& operator=(CString&& other) noexcept;
    ~CString();

    int GetLength() const { return static_cast<int>(m_length); }
    bool IsEmpty() const { return m_length == 0; }
    void Empty();
    const char* GetString() const { return m_bytes != nullptr ? m_bytes : ""; }
    operator const char*() const { return GetString(); }  // NOLINT: as the platform's
    // Byte `index`; 0 for an index outside the text.
    unsigned char GetAt(int index) const;

    // Replaces the text with the formatted one. As with a C string, a formatted
    // zero byte ends the text, so Format("%c", 0) gives the empty text.
    void Format(const char* format, ...) CSTRING_PRINTF(2, 3);

    CString& operator+=(const CString& other);
    friend CString operator+(CString left, const CString& right) { return left += right; }
    friend bool operator==(const CString& a, const CString& b);
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }

    // For tests: the bytes as a std::string. Inline, so only a program that
    // calls it carries the string code.
    std::string Bytes() const { return std::string(GetString(), m_length); }

private:
    // Replaces the text with `length` bytes (which may lie in the text itself).
    void Assign(const char* bytes, size_t length);

    char* m_bytes = nullptr;  // m_length bytes and a terminating zero, or none
    size_t m_length = 0;
};
