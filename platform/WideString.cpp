#include "platform/WideString.h"

#include <cstdlib>
#include <cstring>

namespace {

// Room for `length` characters and a terminating zero. Without memory for a
// window's text the program cannot go on.
wchar_t* Allocate(size_t length)
{
    auto* text = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (text == nullptr)
        std::abort();
    return text;
}

}  // namespace

CWideString::CWideString(const wchar_t* text, size_t length)
{
    Append(text, length);
}

CWideString::CWideString(const CWideString& other)
{
    Append(other.m_text, other.m_length);
}

CWideString::CWideString(CWideString&& other) noexcept : m_text(other.m_text), m_length(other.m_length)
{
    other.m_text = nullptr;
    other.m_length = 0;
}

CWideString& CWideString::operator=(const CWideString& other)
{
    if (this != &other) {
        Free();
        Append(other.m_text, other.m_length);
    }
    return *this;
}

CWideString& CWideString::operator=(CWideString&& other) noexcept
{
    if (this != &other) {
        Free();
        m_text = other.m_text;
        m_length = other.m_length;
        other.m_text = nullptr;
        other.m_length = 0;
    }
    return *this;
}

CWideString::~CWideString()
{
    Free();
}

void CWideString::Free()
{
    std::free(m_text);
    m_text = nullptr;
    m_length = 0;
}

wchar_t* CWideString::GetBuffer(size_t length)
{
    Free();
    m_text = Allocate(length);
    m_text[length] = L'\0';
    m_length = length;
    return m_text;
}

void CWideString::Truncate(size_t length)
{
    if (length >= m_length)
        return;
    if (length == 0) {
        Free();
        return;
    }
    m_text[length] = L'\0';
    m_length = length;
}

void CWideString::Append(const wchar_t* text, size_t length)
{
    if (length == 0)
        return;
    // A new buffer rather than realloc: `text` may lie in this one.
    const size_t total = m_length + length;
    wchar_t* joined = Allocate(total);
    if (m_length != 0)
        std::memcpy(joined, m_text, m_length * sizeof(wchar_t));
    std::memcpy(joined + m_length, text, length * sizeof(wchar_t));
    joined[total] = L'\0';
    std::free(m_text);
    m_text = joined;
    m_length = total;
}

bool operator==(const CWideString& a, const CWideString& b)
{
    return a.m_length == b.m_length &&
           (a.m_length == 0 || std::memcmp(a.m_text, b.m_text, a.m_length * sizeof(wchar_t)) == 0);
}
