#include "actions/CString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Room for `length` bytes and a terminating zero. There is nothing sensible
// to do without memory for a few dozen bytes, so that ends the program.
char* Allocate(size_t length)
{
    auto* bytes = static_cast<char*>(std::malloc(length + 1));
    if (bytes == nullptr)
        std::abort();
    return bytes;
}

// The length of the formatted text, and the formatting itself. On Windows
// these are the system C runtime's (msvcrt.dll): the standard names would
// link a second printf of the compiler's own into the program.
CSTRING_PRINTF(1, 0) int FormattedLength(const char* format, va_list args)
{
#ifdef _WIN32
    return _vscprintf(format, args);
#else
    return std::vsnprintf(nullptr, 0, format, args);
#endif
}

CSTRING_PRINTF(3, 0) void FormatInto(char* buffer, size_t size, const char* format, va_list args)
{
#ifdef _WIN32
    _vsnprintf(buffer, size, format, args);
#else
    std::vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

CString::CString(const char* text)
{
    if (text != nullptr)
        Assign(text, std::strlen(text));
}

CString::CString(const char* bytes, size_t length)
{
    Assign(bytes, length);
}

CString::CString(const CString& other)
{
    Assign(other.m_bytes, other.m_length);
}

CString::CString(CString&& other) noexcept : m_bytes(other.m_bytes), m_length(other.m_length)
{
    other.m_bytes = nullptr;
    other.m_length = 0;
}

CString& CString::operator=(const CString& other)
{
    if (this != &other)
        Assign(other.m_bytes, other.m_length);
    return *this;
}

CString& CString::operator=(CString&& other) noexcept
{
    if (this != &other) {
        std::free(m_bytes);
        m_bytes = other.m_bytes;
        m_length = other.m_length;
        other.m_bytes = nullptr;
        other.m_length = 0;
    }
    return *this;
}

CString::~CString()
{
    std::free(m_bytes);
}

void CString::Empty()
{
    std::free(m_bytes);
    m_bytes = nullptr;
    m_length = 0;
}

unsigned char CString::GetAt(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_length)
        return 0;
    return static_cast<unsigned char>(m_bytes[index]);
}

void CString::Assign(const char* bytes, size_t length)
{
    if (length == 0) {
        Empty();
        return;
    }
    // The new buffer is filled before the old one goes: `bytes` may point into it.
    char* copy = Allocate(length);
    std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    std::free(m_bytes);
    m_bytes = copy;
    m_length = length;
}

CString& CString::operator+=(const CString& other)
{
    if (other.m_length == 0)
        return *this;
    // A new buffer rather than realloc: `other` may be this very string.
    const size_t length = m_length + other.m_length;
    char* joined = Allocate(length);
    if (m_length != 0)
        std::memcpy(joined, m_bytes, m_length);
    std::memcpy(joined + m_length, other.m_bytes, other.m_length);
    joined[length] = '\0';
    std::free(m_bytes);
    m_bytes = joined;
    m_length = length;
    return *this;
}

bool operator==(const CString& a, const CString& b)
{
    return a.m_length == b.m_length && (a.m_length == 0 || std::memcmp(a.m_bytes, b.m_bytes, a.m_length) == 0);
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = FormattedLength(format, args);
    va_end(args);
    if (needed <= 0) {
        va_end(again);
        Empty();
        return;
    }
    const size_t size = static_cast<size_t>(needed) + 1;
    char* buffer = Allocate(static_cast<size_t>(needed));
    FormatInto(buffer, size, format, again);
    va_end(again);
    buffer[needed] = '\0';
    Assign(buffer, strnlen(buffer, size));
    std::free(buffer);
}
